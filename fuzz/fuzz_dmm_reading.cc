// The reading path from the DMM's raw bytes to a reading or a failure: the bytes arrive on a link,
// the first line is read and thrown away, the answer line is read, and dmm_reading_from_reply turns it
// into the reading, exactly as Dmm::read does after sending READ?. The peer's side is closed after the
// bytes, so nothing waits for a timeout.
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/primitives.h"
#include "link/tcp_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 16384) return 0;  // well inside the socket's buffer, so one write takes it all
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
  if (size > 0 && write(pair[1], data, size) != static_cast<ssize_t>(size)) std::abort();
  close(pair[1]);

  // A link that never connected anywhere, given the pair's end as its socket.
  TcpLink link("", 0);
  link.socket = pair[0];
  link.connected = 1;

  char buffer[128];
  std::memset(buffer, 'x', sizeof buffer);
  read_reply(buffer, 127, &link, DMM_FIRST_LINE_MS, 13);
  int r = read_reply(buffer, 127, &link, DMM_ANSWER_FIRST_MS, DMM_ANSWER_TIMEOUT_MS, 13);
  if (r > 126) std::abort();
  if (r >= 0 && strnlen(buffer, sizeof buffer) > 126) std::abort();
  const Result<double> reading = dmm_reading_from_reply(buffer, r);
  if (!reading) {
    // A failure always says why.
    if (reading.reason().empty()) std::abort();
    return 0;
  }
  if (r <= 0) std::abort();
  if (!std::isfinite(*reading) || std::fabs(*reading) >= 9.9e37) std::abort();
  // A reading never comes from an answer without a digit.
  if (std::strpbrk(buffer, "0123456789") == nullptr) std::abort();
  return 0;  // the link closes pair[0]
}
