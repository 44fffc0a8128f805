// A tiny scripted TCP server on 127.0.0.1 (ephemeral port) that stands in for an instrument in tests.
// It accepts one connection and runs a script on it in its own thread; every byte it receives is kept
// so that a test can check exactly what the program sent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackPeer;

// The peer's side of the one connection, as the script sees it. Every wait ends early when the peer
// is being stopped.
class PeerSession {
 public:
  // Reads up to and including terminator. true with the line; false on timeout, close or stop.
  bool read_line(char terminator, std::string* line, int timeout_ms = 10000);
  // Sends all of bytes. false when the client has gone or the peer is stopping.
  bool send(const std::string& bytes);
  // Closes the connection at once.
  void close();
  // Waits until the client closes its side (reading and keeping whatever still comes).
  bool wait_closed(int timeout_ms = 10000);
  // Sleeps ms real milliseconds, or less when the peer is stopping. false when stopping.
  bool pause(int ms);
  bool stopping() const;
  bool client_closed() const { return closed_; }

 private:
  friend class LoopbackPeer;
  PeerSession(LoopbackPeer* owner, int fd) : owner_(owner), fd_(fd) {}
  // Receives what is there within timeout_ms into pending_. false on timeout, close or stop.
  bool fill(int timeout_ms);

  LoopbackPeer* owner_;
  int fd_;
  bool closed_ = false;
  std::string pending_;
};

class LoopbackPeer {
 public:
  using Script = std::function<void(PeerSession&)>;
  using Answer = std::function<std::string(const std::string& line)>;

  explicit LoopbackPeer(Script script);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return port_; }
  bool listening() const { return listener_ >= 0; }

  // Every byte received so far.
  std::string received() const;
  // Waits until the received bytes contain text.
  bool wait_received(const std::string& text, int timeout_ms = 10000) const;
  // Waits until the script has ended.
  bool wait_done(int timeout_ms = 10000) const;

  // A script that answers each line ending in terminator with answer(line) (nothing when empty),
  // until the client closes.
  static Script responder(char terminator, Answer answer);

 private:
  friend class PeerSession;
  void run(Script script);
  void record(const char* data, std::size_t length);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string received_;
  bool done_ = false;
  std::thread thread_;
};

// A loopback port that refuses connections: bound, never listening, for as long as the object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A loopback port whose listener never accepts and whose queue is full, so that a further connect is
// never answered: it stalls until the connecting side gives up.
class StalledPort {
 public:
  StalledPort();
  ~StalledPort();
  StalledPort(const StalledPort&) = delete;
  StalledPort& operator=(const StalledPort&) = delete;
  int port() const { return port_; }
  bool ready() const { return ready_; }  // the queue is full

 private:
  int listener_ = -1;
  int port_ = 0;
  bool ready_ = false;
  std::vector<int> fillers_;
};
