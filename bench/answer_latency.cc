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
#include <cmath>
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

// Sends one query and waits for its whole answer. The time it was sent, or -1 when it was not answered;
// *round_trip_ms gets the time until the whole answer was back.
double send_query(int fd, const char* query, const char* answer_end, double* round_trip_ms) {
  std::string got;
  double sent = now_s();
  if (send(fd, query, std::strlen(query), MSG_NOSIGNAL) != static_cast<ssize_t>(std::strlen(query))) return -1;
  if (!read_until(fd, answer_end, got)) return -1;
  *round_trip_ms = (now_s() - sent) * 1000.0;
  return sent;
}

double percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0.0;
  std::size_t at = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(sorted.size() - 1)));
  return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace

AnswerLatency measure_answer_latency(int queries) {
  AnswerLatency result;
  SimOptions options;
  options.measurement_time_ms = 0;
  options.wire = -1;
  // The simulator's clock starts as it is made: its log times are seconds after this moment.
  const double sim_started = now_s();
  SimBench sim(options);
  if (!sim.ok()) return result;

  int dmm = connect_loopback(sim.dmm_port());
  int psu = connect_loopback(sim.psu_port());
  std::string welcome;
  bool ready = dmm >= 0 && psu >= 0 && read_until(dmm, "DMM> ", welcome);

  // The DMM answers READ? with the echo, the reading and its prompt; the DP832 *IDN? with one line.
  std::vector<double> dmm_sent, psu_sent, round_trips;
  bool all_answered = ready;
  for (int i = 0; ready && i < queries; ++i) {
    double round_trip = 0.0;
    bool to_dmm = i % 2 == 0;
    double sent = to_dmm ? send_query(dmm, "READ?\r", "DMM> ", &round_trip)
                         : send_query(psu, "*IDN?\r\n", "\n", &round_trip);
    if (sent < 0) {
      all_answered = false;
      break;
    }
    (to_dmm ? dmm_sent : psu_sent).push_back(sent);
    round_trips.push_back(round_trip);
  }
  if (dmm >= 0) close(dmm);
  if (psu >= 0) close(psu);

  // Each instrument logs the queries in the order they came, one entry each.
  std::vector<SimReceived> dmm_log = sim.dmm_received();
  std::vector<SimReceived> psu_log = sim.psu_received();
  std::vector<double> times;
  bool logged = dmm_log.size() == dmm_sent.size() && psu_log.size() == psu_sent.size();
  for (std::size_t i = 0; logged && i < dmm_sent.size(); ++i)
    times.push_back((sim_started + dmm_log[i].time_s - dmm_sent[i]) * 1000.0);
  for (std::size_t i = 0; logged && i < psu_sent.size(); ++i)
    times.push_back((sim_started + psu_log[i].time_s - psu_sent[i]) * 1000.0);
  // The simulator's clock may start a moment after sim_started; a small negative time is zero.
  for (double& t : times) t = std::max(t, 0.0);

  std::sort(times.begin(), times.end());
  std::sort(round_trips.begin(), round_trips.end());
  result.queries = static_cast<int>(times.size());
  result.p50_ms = percentile(times, 0.50);
  result.p99_ms = percentile(times, 0.99);
  result.max_ms = times.empty() ? 0.0 : times.back();
  result.round_trip_p99_ms = percentile(round_trips, 0.99);
  result.ok = all_answered && logged && !times.empty();
  return result;
}
