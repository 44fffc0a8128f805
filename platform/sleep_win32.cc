// Sleeping on Windows, in short slices so that a stop request (stop_request.h) ends the wait soon.
#include <windows.h>

#include "platform/sleep.h"
#include "platform/stop_request.h"

namespace {
constexpr int SLICE_MS = 20;
}  // namespace

void sleep_ms(int ms) {
  int real_ms = scaled_ms(ms);
  while (real_ms > 0 && !stop_cuts_waits()) {
    int slice = real_ms < SLICE_MS ? real_ms : SLICE_MS;
    Sleep(static_cast<DWORD>(slice));
    real_ms -= slice;
  }
}
