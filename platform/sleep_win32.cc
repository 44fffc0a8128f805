// Sleeping on Windows.
#include <windows.h>

#include "platform/sleep.h"

void sleep_ms(int ms) {
  int real_ms = scaled_ms(ms);
  if (real_ms <= 0) return;
  Sleep(static_cast<DWORD>(real_ms));
}
