// The in-memory stream and its DMM and DP832 scripts.
#include "tests/fake_transport.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/sleep.h"

void FakeTransport::arrive(long long at_ms, const std::string& bytes) {
  auto place = std::upper_bound(arrivals_.begin(), arrivals_.end(), at_ms,
                                [](long long t, const Arrival& a) { return t < a.at_ms; });
  arrivals_.insert(place, Arrival{at_ms, bytes});
}

void FakeTransport::respond(char terminator, Responder responder) {
  terminator_ = terminator;
  responder_ = std::move(responder);
}

// Waits as sleep_ms does: program time under the time scale.
void FakeTransport::pause(int ms) { clock_ms += scaled_ms(ms); }

int FakeTransport::send_bytes(const char* data, int length, NetError* error) {
  if (closed_by_now()) {
    *error = NET_OTHER;  // the peer has reset the connection
    return -1;
  }
  const std::string text(data, static_cast<std::size_t>(length));
  sent += text;
  sent_at.push_back(clock_ms);
  for (char c : text) {
    partial_ += c;
    if (c != terminator_) continue;
    const std::string line = std::move(partial_);
    partial_.clear();
    if (responder_) responder_(*this, line);
  }
  return length;
}

int FakeTransport::receive_bytes(char* buffer, int size, int window_ms, NetError* error) {
  if (!input_ready()) {
    // The next event: input, the peer's close, or the end of the window, whichever comes first.
    long long next = arrivals_.empty() ? NEVER : arrivals_.front().at_ms;
    if (peer_close_ms != NEVER && (next == NEVER || peer_close_ms < next)) {
      if (window_ms > 0 && peer_close_ms > clock_ms + window_ms) {
        clock_ms += window_ms;
        *error = NET_TIMED_OUT;
        return -1;
      }
      clock_ms = std::max(clock_ms, peer_close_ms);
      arrivals_.clear();
      return 0;
    }
    if (next == NEVER || (window_ms > 0 && next > clock_ms + window_ms)) {
      // Silence. Without a limit a real socket would wait for ever; here it times out at once.
      if (window_ms > 0) clock_ms += window_ms;
      *error = NET_TIMED_OUT;
      return -1;
    }
    clock_ms = next;
  }
  // Input that has come, up to size bytes, possibly from several arrivals.
  int n = 0;
  while (n < size && input_ready()) {
    std::string& bytes = arrivals_.front().bytes;
    const int take = std::min(size - n, static_cast<int>(bytes.size()));
    std::memcpy(buffer + n, bytes.data(), static_cast<std::size_t>(take));
    n += take;
    bytes.erase(0, static_cast<std::size_t>(take));
    if (bytes.empty()) arrivals_.pop_front();
  }
  return n;
}

int FakeTransport::peer_closed() { return !input_ready() && closed_by_now() ? 1 : 0; }

std::unique_ptr<FakeTransport> fake_dmm(std::vector<std::string> readings, std::string identification,
                                        std::string line_end, long long reply_ms) {
  auto fake = std::make_unique<FakeTransport>();
  auto queue = std::make_shared<std::deque<std::string>>(readings.begin(), readings.end());
  fake->respond('\r', [=](FakeTransport& link, const std::string& line) {
    if (line == "*IDN?\r") {
      if (identification == DMM_SILENT) return;
      if (identification == DMM_DROP) {
        link.close_at(link.clock_ms);
        return;
      }
      link.arrive_after(reply_ms, "*IDN?" + line_end + identification + line_end);
    } else if (line == "SYST:ERR?\r") {
      link.arrive_after(reply_ms, "SYST:ERR?" + line_end + "+0,\"No error\"" + line_end);
    } else if (line == "READ?\r") {
      if (queue->empty()) return;
      const std::string answer = queue->front();
      queue->pop_front();
      if (answer == DMM_SILENT) return;
      if (answer == DMM_DROP) {
        link.arrive_after(reply_ms, "READ?" + line_end + "+4.99");
        link.close_at(link.clock_ms + reply_ms);
        return;
      }
      link.arrive_after(reply_ms, "READ?" + line_end + answer + line_end);
    }
  });
  return fake;
}

std::unique_ptr<FakeTransport> fake_psu(std::string identification, long long reply_ms) {
  auto fake = std::make_unique<FakeTransport>();
  fake->respond('\n', [=](FakeTransport& link, const std::string& line) {
    if (line == "*IDN?\r\n" && !identification.empty()) link.arrive_after(reply_ms, identification + "\n");
    if (line == "*OPC?\r\n") link.arrive_after(reply_ms, "1\n");
  });
  return fake;
}

FakeTransport& install_dmm(Bench& bench, std::unique_ptr<FakeTransport> fake) {
  FakeTransport& link = *fake;
  bench.dmm.attach(std::move(fake));
  return link;
}

FakeTransport& install_psu(Bench& bench, std::unique_ptr<FakeTransport> fake) {
  FakeTransport& link = *fake;
  bench.psu.attach(std::move(fake));
  return link;
}

int SimLink::send_bytes(const char* data, int length, NetError* error) {
  if (stream_->closed_by_peer()) {
    *error = NET_OTHER;  // the instrument has closed or reset the connection
    return -1;
  }
  stream_->send(std::string(data, static_cast<std::size_t>(length)));
  return length;
}

int SimLink::receive_bytes(char* buffer, int size, int window_ms, NetError* error) {
  long long& clock = stream_->clock();
  const long long deadline = clock + window_ms;
  // Waits from event to event of the bench until input comes, the instrument closes or the window ends.
  while (!stream_->input_ready()) {
    if (stream_->closed_by_peer()) return 0;
    const long long next = stream_->next_event_ms();
    if (next < 0 || (window_ms > 0 && next > deadline)) {
      // Silence. Without a limit a real socket would wait for ever; here it times out at once.
      if (window_ms > 0) clock = std::max(clock, deadline);
      *error = NET_TIMED_OUT;
      return -1;
    }
    clock = std::max(clock, next);
  }
  const std::string taken = stream_->take(static_cast<std::size_t>(size));
  std::memcpy(buffer, taken.data(), taken.size());
  return static_cast<int>(taken.size());
}
