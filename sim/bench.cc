// The simulated bench's TCP side: one thread serves both instruments' listeners and every client with
// poll(). Lines go to the protocol cores under one lock; replies go out in one write each; a DMM answer
// that waits for its measurement time is held back without holding up anyone else.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/sleep.h"
#include "sim/dmm_core.h"
#include "sim/psu_core.h"
#include "sim/sim.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double SHUNT_OHMS = 0.1;            // the DMM's current shunt with its leads
constexpr std::size_t LINE_LIMIT = 65536;     // a longer line without an end is thrown away
constexpr std::size_t OUTPUT_LIMIT = 1 << 20; // a client that reads nothing is dropped beyond this
constexpr int STREAM_INTERVAL_MS = 5;         // real ms between lines of the unsolicited stream

// Sockets are set up the portable way (no accept4, SOCK_CLOEXEC or pipe2), so the bench builds on
// macOS too; a peer that has gone must not raise SIGPIPE.
#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL | MSG_DONTWAIT;
#else
constexpr int SEND_FLAGS = MSG_DONTWAIT;
#endif

bool make_nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
#ifdef SO_NOSIGPIPE
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  return true;
}

struct Client {
  int fd = -1;
  bool dmm = false;
  std::string in;            // received bytes not yet ended by a line end
  int carry = 0;             // the instrument's framing state between received pieces
  bool eof = false;          // the peer sends no more: carry out what came, answer, then close
  std::string out;           // bytes the socket has not taken yet
  bool waiting = false;      // an answer is held back until due
  Clock::time_point due;
  std::string later;
  Clock::time_point next_stream;
  int stream_count = 0;
  bool dead = false;
};

int open_listener(std::uint32_t address, int port, int* bound_port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (!make_nonblocking(fd)) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  socklen_t length = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    close(fd);
    return -1;
  }
  *bound_port = ntohs(sa.sin_port);
  return fd;
}

bool resolve_bind_address(const std::string& text, std::uint32_t* address) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) == 1) {
    *address = a.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
}

}  // namespace

struct SimBench::Impl {
  SimOptions options;
  Clock::time_point start = Clock::now();

  // Everything below the lock is shared between the serving thread and the API.
  mutable std::mutex lock;
  std::condition_variable applied_changed;
  DmmState dmm;
  PsuState psu;
  int wire = 0;
  SimPsuFaults psu_faults;
  int psu_commands = 0;
  std::vector<SimReceived> dmm_log;
  std::vector<SimReceived> psu_log;
  std::uint64_t requested = 0;  // listener changes asked for, and applied by the thread
  std::uint64_t applied = 0;
  int dmm_accepted = 0;
  int psu_accepted = 0;
  std::string state_message;

  // Owned by the serving thread once it runs.
  std::uint32_t address = 0;
  int dmm_listener = -1;
  int psu_listener = -1;
  int dmm_port = 0;
  int psu_port = 0;
  bool listening = false;
  int wake[2] = {-1, -1};
  std::atomic<bool> stopping{false};
  std::thread thread;
  std::vector<Client> clients;

  double now_s() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

  // Under the lock: the channel the leads are on, and the loads that the DMM puts on the supply.
  int wired() const {
    int w = wire < 0 ? psu.last_switched_on : wire;
    return (w >= 1 && w <= PSU_CHANNELS) ? w : 0;
  }
  void update_loads() {
    int w = wired();
    for (int c = 1; c <= PSU_CHANNELS; ++c)
      psu.load_ohms[c - 1] = (c == w && dmm.amps) ? SHUNT_OHMS : LOAD_OPEN;
  }
  double measure(bool amps) {
    update_loads();
    int w = wired();
    if (w == 0) return 0.0;
    PsuTerminal t = psu_terminal(psu, w);
    return amps ? t.amps : t.volts;
  }

  void save_state() {
    if (options.state_file.empty()) return;
    std::string message;
    if (!psu_model_save(psu.model, options.state_file, &message))
      std::fprintf(stderr, "trimora-sim: calibration not saved: %s\n", message.c_str());
  }

  // Opens or closes the listeners as the refusal faults ask. Under the lock.
  void apply_listeners() {
    if (!listening) return;
    bool refuse_dmm = dmm.faults.refuse_connections;
    bool refuse_psu = psu_faults.refuse_connections;
    if (refuse_dmm && dmm_listener >= 0) {
      close(dmm_listener);
      dmm_listener = -1;
    } else if (!refuse_dmm && dmm_listener < 0) {
      int port = 0;
      dmm_listener = open_listener(address, dmm_port, &port);
    }
    if (refuse_psu && psu_listener >= 0) {
      close(psu_listener);
      psu_listener = -1;
    } else if (!refuse_psu && psu_listener < 0) {
      int port = 0;
      psu_listener = open_listener(address, psu_port, &port);
    }
  }

  void wake_up() {
    char byte = 1;
    if (wake[1] >= 0) {
      ssize_t ignored = write(wake[1], &byte, 1);
      (void)ignored;
    }
  }

  // Called with the lock held by the API: has the thread apply a listener change, and waits for it.
  void request_apply(std::unique_lock<std::mutex>& held) {
    if (!thread.joinable()) {
      apply_listeners();
      return;
    }
    std::uint64_t mine = ++requested;
    wake_up();
    applied_changed.wait(held, [&] { return applied >= mine || stopping; });
  }

  void send_text(Client& c, const std::string& text) {
    if (text.empty() || c.dead) return;
    if (c.out.empty()) {
      ssize_t n = send(c.fd, text.data(), text.size(), SEND_FLAGS);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          c.dead = true;
          return;
        }
        n = 0;
      }
      if (static_cast<std::size_t>(n) < text.size()) c.out.append(text, static_cast<std::size_t>(n), std::string::npos);
    } else {
      c.out += text;
    }
    if (c.out.size() > OUTPUT_LIMIT) c.dead = true;
  }

  void flush(Client& c) {
    while (!c.out.empty() && !c.dead) {
      ssize_t n = send(c.fd, c.out.data(), c.out.size(), SEND_FLAGS);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) c.dead = true;
        return;
      }
      c.out.erase(0, static_cast<std::size_t>(n));
    }
  }

  // The next complete line of a client's input, without its line end. false when none is complete.
  bool next_line(Client& c, std::string* line) {
    if (c.dmm) return dmm_next_line(dmm, c.in, c.carry, line);
    std::size_t end = c.in.find('\n');
    if (end == std::string::npos) return false;
    *line = c.in.substr(0, end);
    c.in.erase(0, end + 1);
    while (!line->empty() && (line->back() == '\r' || line->back() == ' ' || line->back() == '\t'))
      line->pop_back();
    return true;
  }

  void handle_dmm_line(Client& c, const std::string& line) {
    DmmReply reply;
    {
      std::lock_guard<std::mutex> held(lock);
      if (!line.empty()) dmm_log.push_back({line, now_s()});
      update_loads();
      reply = dmm_handle_line(dmm, line, [this](bool amps) { return measure(amps); });
      update_loads();
    }
    if (reply.close) {
      c.dead = true;
      return;
    }
    send_text(c, reply.now);
    if (!reply.later.empty()) {
      c.waiting = true;
      c.later = reply.later;
      c.due = Clock::now() + std::chrono::milliseconds(scaled_ms(reply.delay_ms));
    }
  }

  void handle_psu_line(Client& c, const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    std::string reply;
    bool drop = false;
    {
      std::lock_guard<std::mutex> held(lock);
      psu_log.push_back({line, now_s()});
      update_loads();
      psu.silent_to_idn = psu_faults.silent_to_idn;
      reply = psu_handle_line(psu, line);
      if (psu.calibration_changed) {
        psu.calibration_changed = false;
        save_state();
      }
      ++psu_commands;
      drop = psu_faults.drop_after_commands > 0 && psu_commands == psu_faults.drop_after_commands;
    }
    send_text(c, reply);
    if (drop) {
      flush(c);
      c.dead = true;
    }
  }

  void process_input(Client& c) {
    std::string line;
    while (!c.dead && !c.waiting && next_line(c, &line)) {
      if (c.dmm) handle_dmm_line(c, line);
      else handle_psu_line(c, line);
    }
    if (c.in.size() > LINE_LIMIT) c.in.clear();
  }

  void accept_client(int listener, bool is_dmm) {
    for (;;) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      if (!make_nonblocking(fd)) {
        close(fd);
        continue;
      }
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Client c;
      c.fd = fd;
      c.dmm = is_dmm;
      c.next_stream = Clock::now();
      std::string welcome;
      {
        std::lock_guard<std::mutex> held(lock);
        if (is_dmm) {
          ++dmm_accepted;
          welcome = dmm_welcome(dmm);
        } else {
          ++psu_accepted;
        }
      }
      send_text(c, welcome);
      clients.push_back(c);
    }
  }

  void receive(Client& c) {
    char buffer[4096];
    for (;;) {
      ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        c.in.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      // An orderly end of the peer's sending is no reason to drop what it sent before, nor the
      // answers to it: the connection closes once those are out.
      if (n == 0) c.eof = true;
      else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.dead = true;
      return;
    }
  }

  void run() {
    while (!stopping) {
      std::vector<pollfd> fds;
      fds.push_back({wake[0], POLLIN, 0});
      int dmm_at = -1;
      int psu_at = -1;
      if (dmm_listener >= 0) {
        dmm_at = static_cast<int>(fds.size());
        fds.push_back({dmm_listener, POLLIN, 0});
      }
      if (psu_listener >= 0) {
        psu_at = static_cast<int>(fds.size());
        fds.push_back({psu_listener, POLLIN, 0});
      }
      std::size_t first_client = fds.size();
      bool streaming = false;
      {
        std::lock_guard<std::mutex> held(lock);
        streaming = psu_faults.unsolicited_stream;
      }
      Clock::time_point now = Clock::now();
      long long wait_ms = -1;
      auto consider = [&](Clock::time_point when) {
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count() + 1;
        if (ms < 0) ms = 0;
        if (wait_ms < 0 || ms < wait_ms) wait_ms = ms;
      };
      for (const Client& c : clients) {
        short events = c.eof ? 0 : POLLIN;
        if (!c.out.empty()) events |= POLLOUT;
        fds.push_back({c.fd, events, 0});
        if (c.waiting) consider(c.due);
        if (streaming && !c.dmm) consider(c.next_stream);
      }
      int timeout = wait_ms < 0 ? -1 : static_cast<int>(std::min<long long>(wait_ms, 1000));
      if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
      if (stopping) break;

      if (fds[0].revents & POLLIN) {
        char scratch[64];
        while (read(wake[0], scratch, sizeof scratch) > 0) {
        }
      }
      {
        std::lock_guard<std::mutex> held(lock);
        apply_listeners();
        applied = requested;
      }
      applied_changed.notify_all();

      // Clients first: the accepts below may move the vector.
      for (std::size_t i = 0; i < clients.size() && first_client + i < fds.size(); ++i) {
        Client& c = clients[i];
        short re = fds[first_client + i].revents;
        if (re & (POLLIN | POLLHUP | POLLERR)) {
          if (c.eof) c.dead = true;  // gone for good: nothing more can be delivered
          else receive(c);
        }
        if (re & POLLOUT) flush(c);
      }
      now = Clock::now();
      {
        // Read again after the changes above, so that no stream line follows a cleared fault.
        std::lock_guard<std::mutex> held(lock);
        streaming = psu_faults.unsolicited_stream;
      }
      for (Client& c : clients) {
        if (c.dead) continue;
        if (c.waiting && now >= c.due) {
          c.waiting = false;
          send_text(c, c.later);
          c.later.clear();
        }
        process_input(c);
        flush(c);
        if (c.eof && !c.waiting && c.out.empty()) c.dead = true;
        if (streaming && !c.dmm && now >= c.next_stream) {
          if (c.out.empty()) send_text(c, "STREAM," + std::to_string(++c.stream_count) + "\n");
          c.next_stream = now + std::chrono::milliseconds(STREAM_INTERVAL_MS);
        }
      }
      for (std::size_t i = 0; i < clients.size();) {
        if (clients[i].dead) {
          close(clients[i].fd);
          clients.erase(clients.begin() + static_cast<long>(i));
        } else {
          ++i;
        }
      }
      if (dmm_at >= 0 && dmm_listener >= 0 && (fds[dmm_at].revents & POLLIN) && fds[dmm_at].fd == dmm_listener)
        accept_client(dmm_listener, true);
      if (psu_at >= 0 && psu_listener >= 0 && (fds[psu_at].revents & POLLIN) && fds[psu_at].fd == psu_listener)
        accept_client(psu_listener, false);
    }
    for (Client& c : clients) close(c.fd);
    clients.clear();
  }
};

SimBench::SimBench(const SimOptions& options) : impl(std::make_unique<Impl>()) {
  Impl& b = *impl;
  b.options = options;
  PsuModel model = psu_model_make(options.seed);
  if (!options.state_file.empty()) {
    std::string message;
    FILE* probe = std::fopen(options.state_file.c_str(), "r");
    if (probe != nullptr) {
      std::fclose(probe);
      if (!psu_model_load(&model, options.state_file, &message)) b.state_message = message;
    }
  }
  b.psu = psu_make_state(model, options.psu_idn);
  b.dmm = dmm_make_state(options.seed, options.dmm_idn, options.measurement_time_ms, options.dmm_style);
  dmm_set_faults(b.dmm, options.dmm_faults);
  b.psu_faults = options.psu_faults;
  b.wire = options.wire;

  if (!resolve_bind_address(options.bind_address, &b.address)) return;
  b.dmm_listener = open_listener(b.address, options.dmm_port, &b.dmm_port);
  b.psu_listener = open_listener(b.address, options.psu_port, &b.psu_port);
  bool woken = pipe(b.wake) == 0 && make_nonblocking(b.wake[0]) && make_nonblocking(b.wake[1]);
  if (b.dmm_listener < 0 || b.psu_listener < 0 || !woken) {
    if (b.dmm_listener >= 0) close(b.dmm_listener);
    if (b.psu_listener >= 0) close(b.psu_listener);
    b.dmm_listener = b.psu_listener = -1;
    return;
  }
  b.listening = true;
  b.apply_listeners();
  b.thread = std::thread([&b] { b.run(); });
}

SimBench::~SimBench() {
  Impl& b = *impl;
  if (b.thread.joinable()) {
    {
      std::lock_guard<std::mutex> held(b.lock);
      b.stopping = true;
    }
    b.wake_up();
    b.applied_changed.notify_all();
    b.thread.join();
  }
  if (b.dmm_listener >= 0) close(b.dmm_listener);
  if (b.psu_listener >= 0) close(b.psu_listener);
  for (int fd : b.wake)
    if (fd >= 0) close(fd);
}

bool SimBench::ok() const { return impl->listening; }
int SimBench::dmm_port() const { return impl->dmm_port; }
int SimBench::psu_port() const { return impl->psu_port; }

std::vector<SimReceived> SimBench::psu_received() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu_log;
}

std::vector<SimReceived> SimBench::dmm_received() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->dmm_log;
}

void SimBench::clear_received() {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->dmm_log.clear();
  impl->psu_log.clear();
}

void SimBench::set_wire(int wire) {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->wire = wire;
}

void SimBench::set_dmm_faults(const SimDmmFaults& faults) {
  std::unique_lock<std::mutex> held(impl->lock);
  dmm_set_faults(impl->dmm, faults);
  impl->request_apply(held);
}

void SimBench::set_psu_faults(const SimPsuFaults& faults) {
  std::unique_lock<std::mutex> held(impl->lock);
  impl->psu_faults = faults;
  impl->psu_commands = 0;
  impl->request_apply(held);
}

void SimBench::script_readings(const std::vector<double>& values) {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->dmm.scripted.insert(impl->dmm.scripted.end(), values.begin(), values.end());
}

void SimBench::set_measurement_time_ms(int ms) {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->dmm.measurement_time_ms = ms;
}

namespace {
bool valid_channel(int channel) { return channel >= 1 && channel <= PSU_CHANNELS; }
}  // namespace

double SimBench::true_output_voltage(int channel, double set_volts) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  return psu_output_voltage(impl->psu.model, channel, set_volts);
}

double SimBench::voltage_error(int channel, double set_volts) const {
  return true_output_voltage(channel, set_volts) - set_volts;
}

double SimBench::true_output_current(int channel, double set_amps) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  return psu_output_current(impl->psu.model, channel, set_amps);
}

double SimBench::current_error(int channel, double set_amps) const {
  return true_output_current(channel, set_amps) - set_amps;
}

bool SimBench::output_on(int channel) const {
  if (!valid_channel(channel)) return false;
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu.ch[channel - 1].on;
}

double SimBench::set_voltage(int channel) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu.ch[channel - 1].volts;
}

double SimBench::set_current(int channel) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu.ch[channel - 1].amps;
}

bool SimBench::in_calibration() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu.cal_channel != 0;
}

bool SimBench::voltage_calibrated(int channel) const {
  if (!valid_channel(channel)) return false;
  std::lock_guard<std::mutex> held(impl->lock);
  return !impl->psu.model.cal[channel - 1][Q_VDAC].empty();
}

bool SimBench::current_calibrated(int channel) const {
  if (!valid_channel(channel)) return false;
  std::lock_guard<std::mutex> held(impl->lock);
  return !impl->psu.model.cal[channel - 1][Q_IDAC].empty();
}

int SimBench::wired_channel() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->wired();
}

int SimBench::dmm_connections() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->dmm_accepted;
}

int SimBench::psu_connections() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu_accepted;
}

std::string SimBench::state_message() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->state_message;
}
