// The scripted loopback peer of the link tests.
#include "tests/loopback_peer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int SLICE_MS = 20;  // how often a wait looks at the stop flag

int bind_loopback(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left < SLICE_MS ? static_cast<int>(left) : SLICE_MS;
}

}  // namespace

// --- PeerSession

bool PeerSession::stopping() const { return owner_->stop_.load(); }

bool PeerSession::fill(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (fd_ >= 0 && !closed_ && !stopping()) {
    int slice = remaining_ms(deadline);
    pollfd p{fd_, POLLIN, 0};
    int r = poll(&p, 1, slice);
    if (r > 0) {
      char chunk[4096];
      ssize_t n = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        pending_.append(chunk, static_cast<std::size_t>(n));
        owner_->record(chunk, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        closed_ = true;
        return false;
      }
    }
    if (slice == 0) return false;
  }
  return false;
}

bool PeerSession::read_line(char terminator, std::string* line, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::size_t end = pending_.find(terminator);
    if (end != std::string::npos) {
      *line = pending_.substr(0, end + 1);
      pending_.erase(0, end + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !fill(static_cast<int>(left))) {
      if (closed_ || stopping() || Clock::now() >= deadline) return false;
    }
  }
}

bool PeerSession::send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (fd_ < 0 || stopping()) return false;
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, SLICE_MS) <= 0) continue;
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return false;
    }
  }
  return true;
}

void PeerSession::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool PeerSession::wait_closed(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!closed_ && !stopping() && fd_ >= 0 && Clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    fill(static_cast<int>(left));
  }
  return closed_;
}

bool PeerSession::pause(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!stopping()) {
    int slice = remaining_ms(deadline);
    if (slice == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(slice));
  }
  return false;
}

// --- LoopbackPeer

LoopbackPeer::LoopbackPeer(Script script) {
  listener_ = bind_loopback(&port_);
  if (listener_ >= 0 && listen(listener_, 4) != 0) {
    ::close(listener_);
    listener_ = -1;
  }
  if (listener_ < 0) {
    done_ = true;
    return;
  }
  thread_ = std::thread([this, script = std::move(script)]() { run(script); });
}

LoopbackPeer::~LoopbackPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

void LoopbackPeer::run(Script script) {
  int fd = -1;
  while (!stop_.load()) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, SLICE_MS) > 0) {
      fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) break;
    }
  }
  if (fd >= 0) {
    PeerSession session(this, fd);
    script(session);
    session.close();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

void LoopbackPeer::record(const char* data, std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.append(data, length);
  changed_.notify_all();
}

std::string LoopbackPeer::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool LoopbackPeer::wait_received(const std::string& text, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return received_.find(text) != std::string::npos; });
}

bool LoopbackPeer::wait_done(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return done_; });
}

LoopbackPeer::Script LoopbackPeer::responder(char terminator, Answer answer) {
  return [terminator, answer = std::move(answer)](PeerSession& session) {
    std::string line;
    while (!session.client_closed() && !session.stopping()) {
      if (!session.read_line(terminator, &line, 1000)) continue;
      std::string reply = answer(line);
      if (!reply.empty() && !session.send(reply)) return;
    }
  };
}

// --- RefusingPort

RefusingPort::RefusingPort() { fd_ = bind_loopback(&port_); }

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) ::close(fd_);
}

// --- StalledPort

StalledPort::StalledPort() {
  listener_ = bind_loopback(&port_);
  if (listener_ < 0 || listen(listener_, 0) != 0) return;
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  // Fill the queue until a connect is no longer completed by the kernel.
  for (int i = 0; i < 16 && !ready_; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    fillers_.push_back(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
    if (errno != EINPROGRESS) return;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) ready_ = true;
  }
}

StalledPort::~StalledPort() {
  for (int fd : fillers_) ::close(fd);
  if (listener_ >= 0) ::close(listener_);
}
