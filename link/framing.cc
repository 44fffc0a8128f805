// The framing a settings value names.
#include "link/framing.h"

#include <cstring>

const DmmFraming* dmm_framing_for(const char* method) {
  if (method == nullptr) return nullptr;
  static const DmmFraming* const FRAMINGS[] = {&TELNET_DMM, &RAW_DMM};
  for (const DmmFraming* framing : FRAMINGS)
    if (std::strcmp(method, framing->method) == 0) return framing;
  return nullptr;
}
