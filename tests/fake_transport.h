// An in-memory byte stream on a virtual clock, for tests of the link logic: scripted arrivals,
// silence, a peer that closes, and a log of every byte sent. Nothing here waits in real time.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "calibration/bench.h"
#include "link/transport.h"
#include "platform/sleep.h"
#include "sim/sim.h"

class FakeTransport final : public Transport {
 public:
  // Called with each complete line the link sends (up to and including the terminator).
  using Responder = std::function<void(FakeTransport&, const std::string& line)>;
  static constexpr long long NEVER = -1;

  // What a fake saw, kept where a test can still read it once the link has dropped the fake.
  struct Seen {
    std::string sent;
    long long clock_ms = 0;
    int ended = 0;
  };

  FakeTransport() { connected = 1; }
  ~FakeTransport() override {
    close();
    if (leaves_seen_in != nullptr) *leaves_seen_in = Seen{sent, clock_ms, ended};
  }

  // bytes arrive at virtual time at_ms, or delay_ms from now.
  void arrive(long long at_ms, const std::string& bytes);
  void arrive_after(long long delay_ms, const std::string& bytes) { arrive(clock_ms + delay_ms, bytes); }
  // The peer closes at at_ms; what arrives later never comes.
  void close_at(long long at_ms) { peer_close_ms = at_ms; }
  void respond(char terminator, Responder responder);

  void pause(int ms) override;
  Clock::time_point now() override { return Clock::time_point(std::chrono::milliseconds(clock_ms)); }

  long long clock_ms = 0;            // the virtual clock
  long long peer_close_ms = NEVER;   // when the peer closes
  std::string sent;                  // every byte sent, in order
  std::vector<long long> sent_at;    // the virtual time of each send_text
  int ended = 0;                     // 1 once the link has ended the stream
  Seen* leaves_seen_in = nullptr;    // filled when the fake is destroyed

 protected:
  int send_bytes(const char* data, int length, NetError* error) override;
  int receive_bytes(char* buffer, int size, int window_ms, NetError* error) override;
  int peer_closed() override;
  void end_stream() override { ended = 1; }

 private:
  struct Arrival {
    long long at_ms;
    std::string bytes;
  };
  bool closed_by_now() const { return peer_close_ms != NEVER && peer_close_ms <= clock_ms; }
  bool input_ready() const { return !arrivals_.empty() && arrivals_.front().at_ms <= clock_ms; }

  std::deque<Arrival> arrivals_;  // sorted by time
  char terminator_ = '\n';
  Responder responder_;
  std::string partial_;  // sent bytes of a line not yet ended
};

// A DMM on a fake stream: commands end in a carriage return; *IDN? and READ? are answered by an echo
// line and then the answer, each ended by line_end, reply_ms after the command; SYST:ERR? is
// answered +0 (no error). Readings are the
// answers to successive READ? queries; once they run out, READ? gets nothing.
constexpr const char* DMM_SILENT = "<silent>";  // a READ? (or *IDN?) that gets nothing
constexpr const char* DMM_DROP = "<drop>";      // READ?: closes after "+4.99"; *IDN?: closes at once
std::unique_ptr<FakeTransport> fake_dmm(std::vector<std::string> readings,
                                        std::string identification = "ACME,DMM9,SN123,1.0",
                                        std::string line_end = "\r\n", long long reply_ms = 1);

// A DP832 on a fake stream: commands end in a line feed; only *IDN? (identification and a line feed,
// reply_ms later, unless identification is empty) and *OPC? (1) are answered.
std::unique_ptr<FakeTransport> fake_psu(std::string identification = "ACME,PSU3,SN9,2.0",
                                        long long reply_ms = 1);

// Puts a fake in place as the bench's DMM or DP832 link and gives access to it.
FakeTransport& install_dmm(Bench& bench, std::unique_ptr<FakeTransport> fake);
FakeTransport& install_psu(Bench& bench, std::unique_ptr<FakeTransport> fake);

// The link to an instrument of the simulated bench in memory (SimBench on a virtual clock): every byte
// goes to the simulator's cores, answers arrive at their time on the bench's clock, and every wait the
// link makes moves that clock on instead of passing real time.
class SimLink final : public Transport {
 public:
  explicit SimLink(std::unique_ptr<SimStream> stream) : stream_(std::move(stream)) { connected = 1; }
  ~SimLink() override { close(); }

  void pause(int ms) override { stream_->clock() += scaled_ms(ms); }
  Clock::time_point now() override { return Clock::time_point(std::chrono::milliseconds(stream_->clock())); }

 protected:
  int send_bytes(const char* data, int length, NetError* error) override;
  int receive_bytes(char* buffer, int size, int window_ms, NetError* error) override;
  int peer_closed() override { return !stream_->input_ready() && stream_->closed_by_peer() ? 1 : 0; }
  void end_stream() override { stream_->close(); }

 private:
  std::unique_ptr<SimStream> stream_;
};
