// Timing the simulated instruments' answers from a loopback client.
#include "bench/answer_latency.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "bench/program_run.h"
#include "sim/sim.h"

namespace {

constexpr int ANSWER_WAIT_MS = 2000;  // a query not answered by then counts as lost

int connect_loopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool ends_with(const std::string& text, const char* end) {
  std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

// Reads until what came ends with end; false when it does not within the wait.
bool read_until(int fd, const char* end, std::string& got) {
  double deadline = now_s() + ANSWER_WAIT_MS / 1000.0;
  while (!ends_with(got, end)) {
    int left = static_cast<int>((deadline - now_s()) * 1000.0);
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// One query and its whole answer, timed in milliseconds; -1 when it was not answered.
double time_query(int fd, const char* query, const char* answer_end) {
  std::string got;
  double start = now_s();
  if (send(fd, query, std::strlen(query), MSG_NOSIGNAL) != static_cast<ssize_t>(std::strlen(query))) return -1;
  if (!read_until(fd, answer_end, got)) return -1;
  return (now_s() - start) * 1000.0;
}

double percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0.0;
  std::size_t at = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace

AnswerLatency measure_answer_latency(int queries) {
  AnswerLatency result;
  SimOptions options;
  options.measurement_time_ms = 0;
  options.wire = -1;
  SimBench sim(options);
  if (!sim.ok()) return result;

  int dmm = connect_loopback(sim.dmm_port());
  int psu = connect_loopback(sim.psu_port());
  std::string welcome;
  bool ready = dmm >= 0 && psu >= 0 && read_until(dmm, "DMM> ", welcome);

  std::vector<double> times;
  bool all_answered = ready;
  for (int i = 0; ready && i < queries; ++i) {
    // The DMM answers READ? with the echo, the reading and its prompt; the DP832 *IDN? with one line.
    double ms = (i % 2 == 0) ? time_query(dmm, "READ?\r", "DMM> ") : time_query(psu, "*IDN?\r\n", "\n");
    if (ms < 0) {
      all_answered = false;
      break;
    }
    times.push_back(ms);
  }
  if (dmm >= 0) close(dmm);
  if (psu >= 0) close(psu);

  std::sort(times.begin(), times.end());
  result.queries = static_cast<int>(times.size());
  result.p50_ms = percentile(times, 0.50);
  result.p99_ms = percentile(times, 0.99);
  result.max_ms = times.empty() ? 0.0 : times.back();
  result.ok = all_answered && !times.empty();
  return result;
}
