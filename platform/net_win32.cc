// Blocking IPv4 TCP client sockets on Windows (Winsock 1.1 calls).
// gethostbyname and inet_addr are kept on purpose: Visual C++ would otherwise warn that they are old.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>

#include <chrono>
#include <cstring>

#include "platform/net.h"
#include "platform/sleep.h"

namespace {

SOCKET handle_of(net_socket s) { return static_cast<SOCKET>(s); }

// Waits until a non-blocking connect has finished or timeout_ms (real time; negative: no limit) has
// passed. 1 when the connection is up.
int finish_connect(SOCKET h, int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(h, &writable);
    FD_SET(h, &failed);
    timeval tv;
    timeval* wait = nullptr;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
      if (left < 0) left = 0;
      tv.tv_sec = static_cast<long>(left / 1000);
      tv.tv_usec = static_cast<long>((left % 1000) * 1000);
      wait = &tv;
    }
    int r = select(0, nullptr, &writable, &failed, wait);
    if (r == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
    if (r <= 0) return 0;  // timed out or select failed
    if (FD_ISSET(h, &failed)) return 0;
    return FD_ISSET(h, &writable) ? 1 : 0;
  }
}

NetError error_kind(int code) {
  if (code == WSAEWOULDBLOCK) return NET_WOULD_BLOCK;
  if (code == WSAETIMEDOUT) return NET_TIMED_OUT;
  return NET_OTHER;
}

}  // namespace

int net_startup() {
  WSADATA data;
  return WSAStartup(0x0101, &data) == 0 ? 1 : 0;
}

int net_lookup_ipv4(const char* name, std::uint32_t* address) {
  if (name == nullptr || address == nullptr || !net_lookup_allowed(name)) return 0;
  hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list == nullptr ||
      host->h_addr_list[0] == nullptr || host->h_length < 4)
    return 0;
  std::memcpy(address, host->h_addr_list[0], 4);
  return 1;
}

std::uint32_t net_parse_dotted(const char* text) {
  if (text == nullptr) return INADDR_NONE;
  return static_cast<std::uint32_t>(inet_addr(text));
}

net_socket net_tcp_socket() {
  SOCKET h = socket(AF_INET, SOCK_STREAM, 0);
  if (h == INVALID_SOCKET) return NET_INVALID_SOCKET;
  return static_cast<net_socket>(h);
}

int net_connect(net_socket s, std::uint32_t address, int port, int timeout_ms) {
  if (!net_connect_allowed(s, address, port)) return 0;
  SOCKET h = handle_of(s);
  sockaddr_in remote;
  std::memset(&remote, 0, sizeof remote);
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<u_short>(port));
  remote.sin_addr.s_addr = address;

  u_long non_blocking = 1;
  if (ioctlsocket(h, FIONBIO, &non_blocking) != 0) return 0;
  int ok;
  if (connect(h, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
    ok = 1;
  } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
    ok = finish_connect(h, timeout_ms > 0 ? scaled_ms(timeout_ms) : -1);
  } else {
    ok = 0;
  }
  u_long blocking = 0;
  if (ioctlsocket(h, FIONBIO, &blocking) != 0) ok = 0;
  return ok;
}

int net_set_send_timeout(net_socket s, int timeout_ms) {
  if (s == NET_INVALID_SOCKET) return 0;
  DWORD ms = static_cast<DWORD>(timeout_ms < 0 ? 0 : timeout_ms);
  const char* value = reinterpret_cast<const char*>(&ms);
  return setsockopt(handle_of(s), SOL_SOCKET, SO_SNDTIMEO, value, sizeof ms) == 0 ? 1 : 0;
}

int net_send(net_socket s, const char* data, int length, NetError* error) {
  NetError ignored;
  if (error == nullptr) error = &ignored;
  if (!net_io_allowed(s, data, length, error)) return -1;
  int r = send(handle_of(s), data, length, 0);
  if (r != SOCKET_ERROR) return r;
  *error = error_kind(WSAGetLastError());
  return -1;
}

// A timed receive waits with select() until input (or a close) is there, then takes it with recv(),
// which no longer blocks.
int net_recv(net_socket s, char* buffer, int size, int timeout_ms, NetError* error) {
  NetError ignored;
  if (error == nullptr) error = &ignored;
  if (!net_io_allowed(s, buffer, size, error)) return -1;
  SOCKET h = handle_of(s);
  if (timeout_ms > 0) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      auto left_us = std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock::now()).count();
      if (left_us < 0) left_us = 0;
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(h, &readable);
      timeval tv;
      tv.tv_sec = static_cast<long>(left_us / 1000000);
      tv.tv_usec = static_cast<long>(left_us % 1000000);
      int ready = select(0, &readable, nullptr, nullptr, &tv);
      if (ready == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
      if (ready == SOCKET_ERROR) {
        *error = NET_OTHER;
        return -1;
      }
      if (ready > 0) break;  // readable, closed or failed: recv tells which
      if (left_us == 0) {
        *error = NET_TIMED_OUT;
        return -1;
      }
    }
  }
  int r = recv(h, buffer, size, 0);
  if (r != SOCKET_ERROR) return r;
  *error = error_kind(WSAGetLastError());
  return -1;
}

int net_peer_closed(net_socket s) {
  if (s == NET_INVALID_SOCKET) return 1;
  SOCKET h = handle_of(s);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(h, &readable);
  timeval none{0, 0};
  int r = select(0, &readable, nullptr, nullptr, &none);
  if (r == SOCKET_ERROR) return 1;
  if (r == 0) return 0;  // nothing to read: still open
  char byte;
  int n = recv(h, &byte, 1, MSG_PEEK);
  if (n > 0) return 0;   // input is waiting: still open
  if (n == 0) return 1;  // orderly close by the peer
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : 1;
}

void net_shutdown(net_socket s) {
  if (s != NET_INVALID_SOCKET) shutdown(handle_of(s), 2);
}

void net_close(net_socket s) {
  if (s != NET_INVALID_SOCKET) closesocket(handle_of(s));
}
