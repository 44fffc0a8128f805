// Blocking IPv4 TCP client sockets with per-operation timeouts.
// POSIX implementation in net_posix.cc, Windows (Winsock 1.1) in net_win32.cc; the loopback guard and
// the argument checks both share in net_common.cc.
#pragma once

#include <cstdint>

typedef std::intptr_t net_socket;
constexpr net_socket NET_INVALID_SOCKET = -1;

// What went wrong with a failed receive or send.
enum NetError {
  NET_NO_ERROR = 0,
  NET_WOULD_BLOCK = 1,  // nothing there and the socket would have blocked
  NET_TIMED_OUT = 2,    // the operation's timeout ran out
  NET_OTHER = 3         // anything else: the connection is broken
};

// Starts socket services once per process (WSAStartup 1.1 on Windows). 1 on success, 0 on failure.
int net_startup();

// Resolves a host name to its first IPv4 address (network byte order). 1 on success, 0 on failure.
int net_lookup_ipv4(const char* name, std::uint32_t* address);

// Converts a dotted IPv4 text with inet_addr semantics; 0xffffffff (INADDR_NONE) when it is not one.
std::uint32_t net_parse_dotted(const char* text);

// A new TCP socket, or NET_INVALID_SOCKET.
net_socket net_tcp_socket();

// Connects to address (network byte order) and port (host byte order); gives up after timeout_ms
// (before the time scale). 1 on success, 0 on failure. Refuses any address outside 127.0.0.0/8 while
// the loopback guard is on.
int net_connect(net_socket s, std::uint32_t address, int port, int timeout_ms);

// Sets the send timeout to timeout_ms real milliseconds (0: none). 1 on success.
int net_set_send_timeout(net_socket s, int timeout_ms);

// One send of length bytes; never raises SIGPIPE. Bytes sent, or -1 with *error set.
int net_send(net_socket s, const char* data, int length, NetError* error);

// One receive of at most size bytes, waiting at most timeout_ms real milliseconds for the first (0: no
// limit). Bytes received (0 when the peer has closed), or -1 with *error set (NET_TIMED_OUT when
// nothing came in time).
int net_recv(net_socket s, char* buffer, int size, int timeout_ms, NetError* error);

// 1 when the peer has closed the connection or the socket has failed; 0 while it is open.
// Looks without waiting and takes nothing out of the socket.
int net_peer_closed(net_socket s);

void net_shutdown(net_socket s);  // both directions
void net_close(net_socket s);

// Safety guard for tests and demos: while on, net_connect refuses every address outside 127.0.0.0/8.
void net_set_loopback_only(int on);

// Shared by both implementations (net_common.cc).
// 1 when a connect to address (network byte order) and port (host byte order) may be tried: a valid
// socket, a port from 1 to 65535, and a loopback address while the guard is on.
int net_connect_allowed(net_socket s, std::uint32_t address, int port);
// 1 when name may be looked up: no control byte (0 to 31, 127), which no host name holds; such a text
// (a damaged settings file) is never sent to a name service.
int net_lookup_allowed(const char* name);
// The checks a send or receive begins with. *error (when given) becomes NET_NO_ERROR, or NET_OTHER
// with a 0 result when the socket, the buffer or the length cannot be used.
int net_io_allowed(net_socket s, const void* data, int length, NetError* error);
