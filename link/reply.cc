// The reply discipline: read one reply line, or throw pending input away until the instrument is quiet.
#include <chrono>

#include "link/tcp_link.h"
#include "platform/sleep.h"

int read_reply(char* buffer, int count, TcpLink* link, int timeout_ms, int terminator) {
  if (link == nullptr) return LINK_FAILED;
  link->set_timeout(timeout_ms, 1);
  int r = link->read_line(buffer, count, terminator);
  if (r == 0 || r == LINK_TIMED_OUT) {
    if (buffer != nullptr && count > 0) buffer[0] = 0;
    return 0;
  }
  return r;
}

int drain_input(TcpLink* link, int interval_ms) {
  if (link == nullptr) return 0;
  using clock = std::chrono::steady_clock;
  const auto limit = std::chrono::milliseconds(scaled_ms(DRAIN_LIMIT_MS));
  const auto start = clock::now();
  char scratch[2048];
  link->set_timeout(interval_ms);
  int r = link->receive(scratch, 2046);
  while (r > 0) {
    // An instrument that never pauses must not hold the program: after the limit, carry on as if
    // the gap had come.
    if (clock::now() - start >= limit) return LINK_TIMED_OUT;
    sleep_ms(interval_ms);
    r = link->receive(scratch, 2046);
  }
  return r;
}
