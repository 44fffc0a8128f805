// The in-memory line server and the program's end of its connections.
#include "sim/memory_link.h"

#include <algorithm>

#include "platform/sleep.h"
#include "sim/sim.h"

namespace {
constexpr std::size_t LINE_LIMIT = 65536;  // as the line server: a longer line without an end is thrown away
}  // namespace

std::shared_ptr<MemoryClient> MemoryHub::connect(LinePeer* peer) {
  advance();
  if (stopped_ || peer->refusing()) return nullptr;
  auto c = std::make_shared<MemoryClient>();
  c->peer = peer;
  c->next_stream = *clock_;
  now_ms_ = *clock_;
  emit(*c, peer->on_connect(), *clock_);
  clients_.push_back(c);
  return c;
}

void MemoryHub::emit(MemoryClient& c, const std::string& text, long long at_ms) {
  if (text.empty() || c.closed_at >= 0) return;
  c.arrivals.push_back({at_ms, text});
}

void MemoryHub::end(MemoryClient& c, long long at_ms) {
  c.dead = true;
  if (c.closed_at < 0) c.closed_at = at_ms;
}

void MemoryHub::process_input(MemoryClient& c, long long at_ms) {
  std::string line;
  now_ms_ = at_ms;
  while (!c.dead && !c.waiting && !c.close_after && c.peer->next_line(c.in, c.carry, &line)) {
    LineReply reply = c.peer->on_line(line);
    if (reply.drop) {
      end(c, at_ms);
      return;
    }
    emit(c, reply.now, at_ms);
    c.close_after = reply.close_after;
    if (!reply.later.empty()) {
      c.waiting = true;
      c.later = reply.later;
      c.due = at_ms + scaled_ms(reply.delay_ms);
    }
  }
  if (c.in.size() > LINE_LIMIT) c.in.clear();
  if (c.close_after || (c.eof && !c.waiting)) end(c, at_ms);
}

void MemoryHub::send(MemoryClient& client, const std::string& bytes) {
  advance();
  if (stopped_ || client.dead) return;
  client.in += bytes;
  process_input(client, *clock_);
  now_ms_ = *clock_;
}

void MemoryHub::close(MemoryClient& client) {
  advance();
  client.eof = true;
  if (!client.waiting) end(client, *clock_);
  client.arrivals.clear();
}

long long MemoryHub::event_time(const MemoryClient& c) const {
  if (c.dead || stopped_) return -1;
  long long at = c.waiting ? c.due : -1;
  if (c.peer->stream_interval_ms() > 0) {
    const long long stream = std::max(c.next_stream, now_ms_);
    if (at < 0 || stream < at) at = stream;
  }
  return at;
}

long long MemoryHub::next_event() const {
  long long next = -1;
  for (const auto& c : clients_) {
    const long long at = event_time(*c);
    if (at >= 0 && (next < 0 || at < next)) next = at;
  }
  return next;
}

void MemoryHub::advance() {
  for (;;) {
    MemoryClient* first = nullptr;
    long long at = -1;
    for (const auto& c : clients_) {
      const long long t = event_time(*c);
      if (t >= 0 && t <= *clock_ && (at < 0 || t < at)) {
        at = t;
        first = c.get();
      }
    }
    if (first == nullptr) break;
    MemoryClient& c = *first;
    now_ms_ = at;
    if (c.waiting && c.due <= at) {
      c.waiting = false;
      emit(c, c.later, at);
      c.later.clear();
      process_input(c, at);
    }
    const int interval = c.dead ? 0 : c.peer->stream_interval_ms();
    if (interval > 0 && std::max(c.next_stream, at) <= at) {
      emit(c, c.peer->stream_text(++c.stream_count), at);
      c.next_stream = at + interval;
    }
  }
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                [](const std::shared_ptr<MemoryClient>& c) { return c->dead; }),
                 clients_.end());
  now_ms_ = *clock_;
}

void MemoryHub::stop() {
  for (const auto& c : clients_) end(*c, *clock_);
  clients_.clear();
  stopped_ = true;
}

// ---- The program's end.

SimStream::SimStream(std::unique_ptr<State> state) : state_(std::move(state)) {}

SimStream::~SimStream() { close(); }

void SimStream::send(const std::string& bytes) { state_->hub->send(*state_->client, bytes); }

std::string SimStream::take(std::size_t most) {
  state_->hub->advance();
  std::string taken;
  auto& arrivals = state_->client->arrivals;
  while (taken.size() < most && !arrivals.empty()) {
    std::string& bytes = arrivals.front().bytes;
    const std::size_t n = std::min(most - taken.size(), bytes.size());
    taken.append(bytes, 0, n);
    bytes.erase(0, n);
    if (bytes.empty()) arrivals.pop_front();
  }
  return taken;
}

bool SimStream::input_ready() {
  state_->hub->advance();
  return !state_->client->arrivals.empty();
}

bool SimStream::closed_by_peer() {
  state_->hub->advance();
  return state_->client->closed_at >= 0;
}

long long SimStream::next_event_ms() {
  state_->hub->advance();
  return state_->hub->next_event();
}

long long& SimStream::clock() { return state_->hub->clock(); }

void SimStream::close() {
  if (state_ == nullptr || state_->client->eof) return;
  state_->hub->close(*state_->client);
}
