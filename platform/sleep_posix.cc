// Sleeping on POSIX: nanosleep, resumed after a signal for the time that was left, unless the signal
// asked the program to stop (stop_request.h).
#include <cerrno>
#include <ctime>

#include "platform/sleep.h"
#include "platform/stop_request.h"

void sleep_ms(int ms) {
  int real_ms = scaled_ms(ms);
  if (real_ms <= 0 || stop_cuts_waits()) return;
  timespec left;
  left.tv_sec = real_ms / 1000;
  left.tv_nsec = static_cast<long>(real_ms % 1000) * 1000000L;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    if (stop_cuts_waits()) return;
  }
}
