// TCP link to one instrument, and the reply discipline on it.
#pragma once

#include <cstdint>

#include "platform/net.h"

// Results of the receive side: >0 bytes, 0 nothing, LINK_FAILED link gone, LINK_TIMED_OUT timeout.
constexpr int LINK_FAILED = -1;
constexpr int LINK_TIMED_OUT = -2;

// A connect that has not completed within this time counts as failed.
constexpr int CONNECT_TIMEOUT_MS = 5000;

// A drain gives up after this much continuous input and the program goes on as if a gap had come.
constexpr int DRAIN_LIMIT_MS = 2000;

// The IPv4 socket address used for the connect.
struct RemoteAddress {
  int family;                // AF_INET, 2
  std::uint16_t port;        // network byte order
  std::uint32_t address;     // network byte order
};

class TcpLink {
 public:
  TcpLink(const char* host, int port);
  virtual ~TcpLink();

  // 1 while connected. Also looks at the socket (taking nothing from it): a connection that the
  // instrument has closed is closed here too and gives 0.
  int is_connected();
  void close();
  int send_text(const char* text);
  // awaiting_reply marks the time as a window for an expected answer (read_reply), which the test
  // time scale shortens less than a drain's quiet interval.
  void set_timeout(int milliseconds, int awaiting_reply = 0);
  int receive(char* buffer, int size);
  int read_line(char* buffer, int count, int terminator);

  int timeout;           // ms, last value given to set_timeout
  int connected;         // 1 while the socket is connected
  net_socket socket;
  int port;              // host byte order
  std::uint32_t address; // network byte order
  RemoteAddress remote;
  // 1 while a reply that timed out may still arrive (kept by the DMM reading); 0 on a new link.
  int reply_overdue;
};

// Reads one reply line up to terminator within timeout_ms per byte. Bytes read (terminator included),
// 0 when nothing came in time (buffer empty), -1 for a null or failed link.
int read_reply(char* buffer, int count, TcpLink* link, int timeout_ms, int terminator);

// Throws away pending input until the instrument has been quiet for interval_ms (at most
// DRAIN_LIMIT_MS of continuous input). Returns the last receive result.
int drain_input(TcpLink* link, int interval_ms);
