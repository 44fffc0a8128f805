// Blocking IPv4 TCP client sockets on POSIX (Linux, macOS).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/net.h"
#include "platform/sleep.h"

namespace {

int fd_of(net_socket s) { return static_cast<int>(s); }

#if defined(MSG_NOSIGNAL)
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

// Waits until a non-blocking connect has finished or timeout_ms (real time; negative: no limit) has
// passed. 1 when the connection is up.
int finish_connect(int fd, int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    long long left = -1;
    if (timeout_ms >= 0) {
      left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
      if (left < 0) left = 0;
    }
    pollfd p{fd, POLLOUT, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;  // timed out or poll failed
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return 0;
    return error == 0 ? 1 : 0;
  }
}

}  // namespace

int net_startup() { return 1; }

int net_lookup_ipv4(const char* name, std::uint32_t* address) {
  if (name == nullptr || address == nullptr || !net_lookup_allowed(name)) return 0;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
  int ok = 0;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr && a->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in;
      std::memcpy(&in, a->ai_addr, sizeof in);
      *address = in.sin_addr.s_addr;
      ok = 1;
      break;
    }
  }
  freeaddrinfo(found);
  return ok;
}

std::uint32_t net_parse_dotted(const char* text) {
  if (text == nullptr) return INADDR_NONE;
  return static_cast<std::uint32_t>(inet_addr(text));
}

net_socket net_tcp_socket() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return NET_INVALID_SOCKET;
  // Child processes never inherit an instrument connection.
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
#if !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  return fd;
}

int net_connect(net_socket s, std::uint32_t address, int port, int timeout_ms) {
  if (!net_connect_allowed(s, address, port)) return 0;
  int fd = fd_of(s);
  sockaddr_in remote;
  std::memset(&remote, 0, sizeof remote);
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<std::uint16_t>(port));
  remote.sin_addr.s_addr = address;

  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return 0;
  int ok;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
    ok = 1;
  } else if (errno == EINPROGRESS || errno == EINTR) {
    ok = finish_connect(fd, timeout_ms > 0 ? scaled_ms(timeout_ms) : -1);
  } else {
    ok = 0;
  }
  if (fcntl(fd, F_SETFL, flags) < 0) ok = 0;
  return ok;
}

int net_set_send_timeout(net_socket s, int timeout_ms) {
  if (s == NET_INVALID_SOCKET) return 0;
  const int ms = timeout_ms < 0 ? 0 : timeout_ms;
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  return setsockopt(fd_of(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 ? 1 : 0;
}

int net_send(net_socket s, const char* data, int length, NetError* error) {
  NetError ignored;
  if (error == nullptr) error = &ignored;
  if (!net_io_allowed(s, data, length, error)) return -1;
  for (;;) {
    ssize_t r = send(fd_of(s), data, static_cast<size_t>(length), SEND_FLAGS);
    if (r >= 0) return static_cast<int>(r);
    if (errno == EINTR) continue;
    // On a blocking socket with a send timeout, "would block" means the timeout ran out.
    *error = (errno == EAGAIN || errno == EWOULDBLOCK) ? NET_TIMED_OUT : NET_OTHER;
    return -1;
  }
}

// A timed receive waits with poll(), on a high-resolution timer: the kernel's own SO_RCVTIMEO runs on
// the coarse timer wheel and overshoots by several milliseconds (a 10 ms timeout lasts 12 to 16 ms),
// which would stretch every drain of the program.
int net_recv(net_socket s, char* buffer, int size, int timeout_ms, NetError* error) {
  NetError ignored;
  if (error == nullptr) error = &ignored;
  if (!net_io_allowed(s, buffer, size, error)) return -1;
  const int fd = fd_of(s);
  if (timeout_ms > 0) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      ssize_t r = recv(fd, buffer, static_cast<size_t>(size), MSG_DONTWAIT);
      if (r >= 0) return static_cast<int>(r);
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        *error = NET_OTHER;
        return -1;
      }
      auto left_us = std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock::now()).count();
      if (left_us <= 0) {
        *error = NET_TIMED_OUT;
        return -1;
      }
      pollfd p{fd, POLLIN, 0};
      int ready = poll(&p, 1, static_cast<int>((left_us + 999) / 1000));
      if (ready < 0 && errno != EINTR) {
        *error = NET_OTHER;
        return -1;
      }
      // Readable, hung up or failed (the next recv tells which), interrupted, or the time is up.
    }
  }
  for (;;) {
    ssize_t r = recv(fd, buffer, static_cast<size_t>(size), 0);
    if (r >= 0) return static_cast<int>(r);
    if (errno == EINTR) continue;
    // On a blocking socket, "would block" can only mean that some timeout ran out.
    *error = (errno == EAGAIN || errno == EWOULDBLOCK) ? NET_TIMED_OUT : NET_OTHER;
    return -1;
  }
}

int net_peer_closed(net_socket s) {
  if (s == NET_INVALID_SOCKET) return 1;
  for (;;) {
    char byte;
    ssize_t r = recv(fd_of(s), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) return 0;   // input is waiting: still open
    if (r == 0) return 1;  // orderly close by the peer
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return 1;  // reset or otherwise failed
  }
}

void net_shutdown(net_socket s) {
  if (s != NET_INVALID_SOCKET) shutdown(fd_of(s), SHUT_RDWR);
}

void net_close(net_socket s) {
  if (s != NET_INVALID_SOCKET) close(fd_of(s));
}
