// Loopback stand-ins for an instrument in the socket tests, all on 127.0.0.1 at an ephemeral port: a
// scripted peer that keeps every byte it receives, a port that refuses, and a port that never answers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP socket bound to 127.0.0.1 at an ephemeral port (written to *port); -1 on failure.
inline int bind_loopback(int* port, sockaddr_in* address) {
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *address;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr*>(address), sizeof *address) != 0 ||
                  getsockname(fd, reinterpret_cast<sockaddr*>(address), &length) != 0)) {
    ::close(fd);
    fd = -1;
  }
  *port = ntohs(address->sin_port);
  return fd;
}

// Accepts one connection and runs the script on it in its own thread, then closes it. The script calls
// receive_until, send and close; every wait ends early once the peer is being destroyed.
class LoopbackPeer {
 public:
  using Script = std::function<void(LoopbackPeer&)>;

  explicit LoopbackPeer(Script script) {
    sockaddr_in address;
    listener_ = bind_loopback(&port_, &address);
    if (listener_ >= 0 && listen(listener_, 4) == 0) thread_ = std::thread([this, script] { run(script); });
  }
  ~LoopbackPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int port() const { return port_; }

  // Script: receives until the bytes received so far hold text (true), or the client closes, or the time
  // is up. With an empty text it waits for the client to close.
  bool receive_until(const std::string& text, int timeout_ms = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!stop_ && fd_ >= 0 && std::chrono::steady_clock::now() < deadline && !holds(text)) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char chunk[4096];
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      received_.append(chunk, static_cast<std::size_t>(n));
      changed_.notify_all();
    }
    return holds(text);
  }
  bool send(const std::string& bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Test: waits until the received bytes hold text, or until the script has ended.
  bool wait_received(const std::string& text, int timeout_ms = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return received_.find(text) != std::string::npos; });
  }
  bool wait_done(int timeout_ms = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return done_; });
  }

 private:
  bool holds(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !text.empty() && received_.find(text) != std::string::npos;
  }
  void run(const Script& script) {
    while (!stop_ && fd_ < 0) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) fd_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (fd_ >= 0) script(*this);
    close();
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    changed_.notify_all();
  }

  int listener_ = -1;
  int port_ = 0;
  int fd_ = -1;  // the accepted connection, used by the script's thread alone
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
  bool done_ = false;
  std::thread thread_;
};

// A port that refuses connections: bound, never listening, for as long as the object lives.
class RefusingPort {
 public:
  RefusingPort() {
    sockaddr_in address;
    fd_ = bind_loopback(&port_, &address);
  }
  ~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port whose listener never accepts and whose queue is full, so that a further connect is never
// answered and stalls until the connecting side gives up.
class StalledPort {
 public:
  StalledPort() {
    sockaddr_in address;
    fds_.push_back(bind_loopback(&port_, &address));
    if (fds_[0] < 0 || listen(fds_[0], 0) != 0) return;
    // Fill the queue until a connect is no longer completed by the kernel.
    for (int i = 0; i < 16 && !ready_; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) return;
      fds_.push_back(fd);
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
      if (errno != EINPROGRESS) return;
      pollfd p{fd, POLLOUT, 0};
      ready_ = poll(&p, 1, 200) == 0;
    }
  }
  ~StalledPort() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  StalledPort(const StalledPort&) = delete;
  StalledPort& operator=(const StalledPort&) = delete;
  int port() const { return port_; }
  bool ready() const { return ready_; }  // the queue is full

 private:
  int port_ = 0;
  bool ready_ = false;
  std::vector<int> fds_;  // the listener, then the connects that fill its queue
};
