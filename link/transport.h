// The byte stream to one instrument, and the link logic that every stream shares: the link's state,
// its receive window, the mapping of receive results and the line reader. The sockets implement the
// stream for the program (TcpLink); tests implement it in memory on a virtual clock.
#pragma once

#include <chrono>

#include "platform/net.h"

// Results of the receive side: >0 bytes, 0 nothing, LINK_FAILED link gone, LINK_TIMED_OUT timeout.
constexpr int LINK_FAILED = -1;
constexpr int LINK_TIMED_OUT = -2;

class Transport {
 public:
  using Clock = std::chrono::steady_clock;

  Transport() = default;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;
  virtual ~Transport() = default;

  // 1 while connected. Also looks at the stream (taking nothing from it): a connection that the
  // instrument has closed is closed here too and gives 0.
  int is_connected();
  void close();
  int send_text(const char* text);
  // Every later receive waits at most milliseconds of program time for its first byte (0: no limit).
  // awaiting_reply marks the time as a window for an expected answer (read_reply), which the test
  // time scale shortens less than a drain's quiet interval.
  void set_timeout(int milliseconds, int awaiting_reply = 0);
  int receive(char* buffer, int size);
  int read_line(char* buffer, int count, int terminator);

  // Waits ms milliseconds of program time, and the clock that such waits advance.
  virtual void pause(int ms) = 0;
  virtual Clock::time_point now() = 0;

  int timeout = 0;         // ms, last value given to set_timeout
  int receive_window = 0;  // real ms a receive waits (timeout under the time scale); 0: no limit
  int connected = 0;       // 1 while the stream is connected

 protected:
  // One send of length (>= 0) bytes. Bytes sent, or -1 with *error set.
  virtual int send_bytes(const char* data, int length, NetError* error) = 0;
  // One receive of at most size (> 0) bytes, waiting at most window_ms real ms (0: no limit). Bytes
  // received, 0 when the peer has closed, or -1 with *error set.
  virtual int receive_bytes(char* buffer, int size, int window_ms, NetError* error) = 0;
  // 1 when the peer has closed or the stream has failed; looks without waiting or taking anything.
  virtual int peer_closed() = 0;
  // Ends the stream (both directions).
  virtual void end_stream() = 0;
};

// Reads one reply line up to terminator within timeout_ms per byte. Bytes read (terminator included),
// 0 when nothing came in time (buffer empty), -1 for a null or failed link.
int read_reply(char* buffer, int count, Transport* link, int timeout_ms, int terminator);
// The same, with first_ms for the first byte and each_ms for every byte after it.
int read_reply(char* buffer, int count, Transport* link, int first_ms, int each_ms, int terminator);

// A drain gives up after this much continuous input and the program goes on as if a gap had come.
constexpr int DRAIN_LIMIT_MS = 2000;

// Throws away pending input until the instrument has been quiet for interval_ms (at most
// DRAIN_LIMIT_MS of continuous input). Returns the last receive result.
int drain_input(Transport* link, int interval_ms);
