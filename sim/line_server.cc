// The line server: portable POSIX sockets (no accept4, SOCK_CLOEXEC, pipe2 or epoll), so that it builds
// on macOS too. A client that ends its sending has every complete line it sent carried out and
// answered before its connection closes.
#include "sim/line_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sleep.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t LINE_LIMIT = 65536;     // a longer line without an end is thrown away
constexpr std::size_t OUTPUT_LIMIT = 1 << 20; // a client that reads nothing is dropped beyond this

// A peer that has gone must not raise SIGPIPE.
#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL | MSG_DONTWAIT;
#else
constexpr int SEND_FLAGS = MSG_DONTWAIT;
#endif

// Waits for fds at most us microseconds (-1: no limit). Linux's ppoll sends a delayed answer within
// microseconds of its time; plain poll counts whole milliseconds and so rounds up to the next one.
int wait_for(std::vector<pollfd>& fds, long long us) {
#ifdef __linux__
  timespec limit{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  return ppoll(fds.data(), fds.size(), us < 0 ? nullptr : &limit, nullptr);
#else
  return poll(fds.data(), fds.size(), us < 0 ? -1 : static_cast<int>((us + 999) / 1000));
#endif
}

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

int open_listener(std::uint32_t address, int port, int* bound_port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = address;
  socklen_t length = sizeof sa;
  if (!make_nonblocking(fd) || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    close(fd);
    return -1;
  }
  *bound_port = ntohs(sa.sin_port);
  return fd;
}

bool resolve_address(const std::string& text, std::uint32_t* address) {
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

struct Client {
  int fd = -1;
  LinePeer* peer = nullptr;
  std::string in;            // received bytes not yet ended by a line end
  int carry = 0;             // the peer's framing state between received pieces
  bool eof = false;          // the client sends no more: carry out what came, answer, then close
  bool close_after = false;  // close once out has gone
  std::string out;           // bytes the socket has not taken yet
  bool waiting = false;      // an answer is held back until due
  Clock::time_point due;
  std::string later;
  Clock::time_point next_stream;
  int stream_count = 0;
  bool dead = false;
};

struct Listener {
  LinePeer* peer = nullptr;
  int port = 0;
  int fd = -1;
};

}  // namespace

struct LineServer::Impl {
  std::uint32_t address = 0;
  std::vector<Listener> listeners;
  bool listening = false;
  int wake[2] = {-1, -1};
  std::thread thread;
  std::vector<Client> clients;

  std::mutex lock;  // guards the two counters and stopping's wake-up
  std::condition_variable applied_changed;
  std::uint64_t requested = 0;  // listener refreshes asked for, and done by the thread
  std::uint64_t applied = 0;
  std::atomic<bool> stopping{false};

  // Opens or closes the listeners as their peers ask.
  void apply_listeners() {
    for (Listener& l : listeners) {
      bool refuse = l.peer->refusing();
      if (refuse && l.fd >= 0) {
        close(l.fd);
        l.fd = -1;
      } else if (!refuse && l.fd < 0) {
        int port = 0;
        l.fd = open_listener(address, l.port, &port);
      }
    }
  }

  void wake_up() {
    char byte = 1;
    if (wake[1] >= 0) {
      ssize_t ignored = write(wake[1], &byte, 1);
      (void)ignored;
    }
  }

  static void flush(Client& c) {
    while (!c.out.empty() && !c.dead) {
      ssize_t n = send(c.fd, c.out.data(), c.out.size(), SEND_FLAGS);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) c.dead = true;
        return;
      }
      c.out.erase(0, static_cast<std::size_t>(n));
    }
  }

  static void send_text(Client& c, const std::string& text) {
    if (text.empty() || c.dead) return;
    c.out += text;
    flush(c);
    if (c.out.size() > OUTPUT_LIMIT) c.dead = true;
  }

  static void process_input(Client& c) {
    std::string line;
    while (!c.dead && !c.waiting && !c.close_after && c.peer->next_line(c.in, c.carry, &line)) {
      LineReply reply = c.peer->on_line(line);
      if (reply.drop) {
        c.dead = true;
        return;
      }
      send_text(c, reply.now);
      c.close_after = reply.close_after;
      if (!reply.later.empty()) {
        c.waiting = true;
        c.later = reply.later;
        c.due = Clock::now() + std::chrono::milliseconds(scaled_ms(reply.delay_ms));
      }
    }
    if (c.in.size() > LINE_LIMIT) c.in.clear();
  }

  void accept_clients(Listener& l) {
    for (;;) {
      int fd = accept(l.fd, nullptr, nullptr);
      if (fd < 0) return;
      if (!make_nonblocking(fd)) {
        close(fd);
        continue;
      }
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Client c;
      c.fd = fd;
      c.peer = l.peer;
      c.next_stream = Clock::now();
      send_text(c, l.peer->on_connect());
      clients.push_back(c);
    }
  }

  static void receive(Client& c) {
    char buffer[4096];
    for (;;) {
      ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        c.in.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      // An orderly end of the client's sending is no reason to drop what it sent before, nor the
      // answers to it: the connection closes once those are out.
      if (n == 0) c.eof = true;
      else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.dead = true;
      return;
    }
  }

  // One client after poll: due answers, its lines, its stream; whether it is finished.
  static void serve(Client& c, Clock::time_point now) {
    if (c.dead) return;
    if (c.waiting && now >= c.due) {
      c.waiting = false;
      send_text(c, c.later);
      c.later.clear();
    }
    process_input(c);
    int interval = c.peer->stream_interval_ms();
    if (interval > 0 && now >= c.next_stream) {
      if (c.out.empty()) send_text(c, c.peer->stream_text(++c.stream_count));
      c.next_stream = now + std::chrono::milliseconds(interval);
    }
    flush(c);
    if ((c.eof && !c.waiting) || c.close_after) {
      if (c.out.empty()) c.dead = true;
    }
  }

  void run() {
    while (!stopping) {
      std::vector<pollfd> fds;
      fds.push_back({wake[0], POLLIN, 0});
      std::vector<int> listener_fds;
      for (const Listener& l : listeners) {
        listener_fds.push_back(l.fd);
        if (l.fd >= 0) fds.push_back({l.fd, POLLIN, 0});
      }
      std::size_t first_client = fds.size();
      Clock::time_point now = Clock::now();
      long long wait_us = -1;  // until the next due answer or stream line; -1: none is due
      auto consider = [&](Clock::time_point when) {
        long long us = std::chrono::duration_cast<std::chrono::microseconds>(when - now).count() + 1;
        if (wait_us < 0 || us < wait_us) wait_us = std::max(us, 0LL);
      };
      for (const Client& c : clients) {
        short events = c.eof ? 0 : POLLIN;
        if (!c.out.empty()) events |= POLLOUT;
        fds.push_back({c.fd, events, 0});
        if (c.waiting) consider(c.due);
        if (c.peer->stream_interval_ms() > 0) consider(c.next_stream);
      }
      if (wait_for(fds, wait_us < 0 ? -1 : std::min<long long>(wait_us, 1000000)) < 0 && errno != EINTR) break;
      if (stopping) break;

      if (fds[0].revents & POLLIN) {
        char scratch[64];
        while (read(wake[0], scratch, sizeof scratch) > 0) {
        }
      }
      {
        std::lock_guard<std::mutex> held(lock);
        std::uint64_t asked = requested;
        apply_listeners();
        applied = asked;
      }
      applied_changed.notify_all();

      // Clients first: the accepts below may move the vector.
      for (std::size_t i = 0; i < clients.size(); ++i) {
        Client& c = clients[i];
        short re = fds[first_client + i].revents;
        if (re & (POLLIN | POLLHUP | POLLERR)) {
          if (c.eof) c.dead = true;  // gone for good: nothing more can be delivered
          else receive(c);
        }
        if (re & POLLOUT) flush(c);
      }
      now = Clock::now();
      for (Client& c : clients) serve(c, now);
      for (std::size_t i = 0; i < clients.size();) {
        if (clients[i].dead) {
          close(clients[i].fd);
          clients.erase(clients.begin() + static_cast<long>(i));
        } else {
          ++i;
        }
      }
      std::size_t at = 1;
      for (std::size_t i = 0; i < listeners.size(); ++i) {
        if (listener_fds[i] < 0) continue;
        bool ready = (fds[at++].revents & POLLIN) != 0;
        if (ready && listeners[i].fd == listener_fds[i]) accept_clients(listeners[i]);
      }
    }
    for (Client& c : clients) close(c.fd);
    clients.clear();
  }
};

LineServer::LineServer(const std::string& address, const std::vector<int>& ports,
                       const std::vector<LinePeer*>& peers)
    : impl(std::make_unique<Impl>()) {
  Impl& s = *impl;
  if (ports.size() != peers.size() || !resolve_address(address, &s.address)) return;
  bool all = true;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    Listener l;
    l.peer = peers[i];
    l.fd = open_listener(s.address, ports[i], &l.port);
    all = all && l.fd >= 0;
    s.listeners.push_back(l);
  }
  bool woken = pipe(s.wake) == 0 && make_nonblocking(s.wake[0]) && make_nonblocking(s.wake[1]);
  if (!all || !woken) return;
  s.listening = true;
  s.apply_listeners();
  s.thread = std::thread([&s] { s.run(); });
}

LineServer::~LineServer() {
  Impl& s = *impl;
  if (s.thread.joinable()) {
    {
      std::lock_guard<std::mutex> held(s.lock);
      s.stopping = true;
    }
    s.wake_up();
    s.applied_changed.notify_all();
    s.thread.join();
  }
  for (Listener& l : s.listeners)
    if (l.fd >= 0) close(l.fd);
  for (int fd : s.wake)
    if (fd >= 0) close(fd);
}

bool LineServer::ok() const { return impl->listening; }

int LineServer::port(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < impl->listeners.size() ? impl->listeners[index].port : 0;
}

void LineServer::refresh() {
  Impl& s = *impl;
  std::unique_lock<std::mutex> held(s.lock);
  if (!s.thread.joinable()) return;
  std::uint64_t mine = ++s.requested;
  s.wake_up();
  s.applied_changed.wait(held, [&] { return s.applied >= mine || s.stopping; });
}
