// A TCP line server that knows nothing of the instruments it serves: one thread serves every listener
// and client with poll(). Each listener has a LinePeer, a core that owns its framing and its answers;
// the server only moves bytes, holds back answers that are not yet due, and opens or closes listeners.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct LineReply {
  std::string now;           // sent at once
  std::string later;         // sent delay_ms (program time, scaled) after now; the next line waits
  int delay_ms = 0;
  bool drop = false;         // close the connection at once instead, unanswered
  bool close_after = false;  // close once now has gone out
};

// One instrument as the server sees it. Called on the serving thread only.
class LinePeer {
 public:
  virtual ~LinePeer() = default;
  // A client connected: what to send it first.
  virtual std::string on_connect() = 0;
  // The next complete line of a connection's received bytes (carry: its framing state, 0 at connect).
  virtual bool next_line(std::string& in, int& carry, std::string* line) = 0;
  virtual LineReply on_line(const std::string& line) = 0;
  virtual bool refusing() = 0;
  // Unsolicited text for a connected client every stream_interval_ms (real time); 0: none.
  virtual int stream_interval_ms() { return 0; }
  virtual std::string stream_text(int count) { return std::to_string(count); }
};

class LineServer {
 public:
  // Listens on address (dotted or a name) at each port (0 picks a free one), one per peer. The peers
  // must outlive the server.
  LineServer(const std::string& address, const std::vector<int>& ports, const std::vector<LinePeer*>& peers);
  ~LineServer();  // stops serving and closes every connection
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  bool ok() const;           // every listener is up and the thread runs
  int port(int index) const;
  // Asks every peer again whether it refuses connections, and opens or closes its listener to match;
  // returns once the serving thread has done so.
  void refresh();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
