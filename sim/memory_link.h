// The in-memory counterpart of the line server: the same LinePeers, the same rules for held-back answers,
// drops, closes and the unsolicited stream, but no sockets and no threads. Everything happens on a
// virtual clock (whole milliseconds) that the client's side owns: events are carried out, in time order
// across every connection, when the client looks at the connection and the clock has reached them.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/line_server.h"
#include "sim/sim.h"

struct MemoryClient {
  LinePeer* peer = nullptr;
  std::string in;             // received bytes not yet ended by a line end
  int carry = 0;              // the peer's framing state
  bool eof = false;           // the client has closed its side
  bool close_after = false;   // the peer asked to close once its answer has gone
  bool dead = false;          // the connection is over for the server
  bool waiting = false;       // an answer is held back until due
  long long due = 0;
  std::string later;
  long long next_stream = 0;  // the earliest time of the next unsolicited line
  int stream_count = 0;
  struct Arrival {
    long long at_ms;
    std::string bytes;
  };
  std::deque<Arrival> arrivals;  // what the client has to read, in order
  long long closed_at = -1;      // when the server closed the connection; -1 not yet
};

class MemoryHub {
 public:
  explicit MemoryHub(long long* clock) : clock_(clock) {}

  // A new connection to peer, or null when the peer refuses connections (or the hub has stopped).
  std::shared_ptr<MemoryClient> connect(LinePeer* peer);
  // The client sends bytes at the clock's present time.
  void send(MemoryClient& client, const std::string& bytes);
  // The client closes its side.
  void close(MemoryClient& client);
  // Carries out every event up to the clock, in time order.
  void advance();
  // The time of the next event that has not come yet; -1 when none is pending.
  long long next_event() const;
  // The server is gone: every connection is closed now and no peer is asked anything again.
  void stop();

  long long& clock() { return *clock_; }
  // The time of the event being carried out, or the clock's outside events: the peers' present time.
  long long now_ms() const { return now_ms_; }

 private:
  long long event_time(const MemoryClient& c) const;  // -1: none
  void emit(MemoryClient& c, const std::string& text, long long at_ms);
  void process_input(MemoryClient& c, long long at_ms);
  void end(MemoryClient& c, long long at_ms);

  long long* clock_;
  long long now_ms_ = 0;
  bool stopped_ = false;
  std::vector<std::shared_ptr<MemoryClient>> clients_;
};

// What a client's end of a connection holds: the hub keeps the clock and the server's side.
struct SimStream::State {
  std::shared_ptr<MemoryHub> hub;
  std::shared_ptr<MemoryClient> client;
};
