// A program on the slave side of a pseudo-terminal, for end-to-end tests: what it shows, keys typed,
// the terminal's settings, signals, its exit.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/program_fixture.h"

inline constexpr int WAIT_MS = 30000;  // generous: only a broken program runs into it

// The program on its own new terminal; killed if a test ends while it still runs.
class PtyProgram {
 public:
  ~PtyProgram() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  // The child starts with the usual stop signals, whatever the test runner ignores or blocks.
  bool start(const char* path, std::initializer_list<const char*> arguments = {}) {
    std::vector<char*> argv = {const_cast<char*>(path)};
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    argv.push_back(nullptr);
    struct winsize size = {};
    size.ws_row = 40;
    size.ws_col = 120;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) ::signal(s, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execv(path, argv.data());
      _exit(127);
    }
    if (master_ >= 0) fcntl(master_, F_SETFD, FD_CLOEXEC);  // no later child keeps the terminal open
    return pid_ > 0;
  }

  // Everything shown so far, without the carriage returns that the terminal adds to line ends.
  std::string shown() const {
    std::string text;
    for (char c : raw_)
      if (c != '\r') text += c;
    return text;
  }

  // Reads until text has been shown count times in all.
  bool wait_for(const std::string& text, int count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    while (occurrences(shown(), text) < count)
      if (std::chrono::steady_clock::now() > deadline || !read_some(100)) return false;
    return true;
  }

  // Waits until the program has put its terminal into raw mode, which it does when it first reads a
  // key: from then on keys reach it one by one and a hang-up ends it as closed input does.
  bool wait_raw_mode() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    for (termios now; std::chrono::steady_clock::now() < deadline; read_some(10))
      if (settings(&now) && (now.c_lflag & ICANON) == 0) return true;
    return false;
  }

  bool settings(termios* now) const { return tcgetattr(master_, now) == 0; }
  bool set_settings(const termios& wanted) { return tcsetattr(master_, TCSANOW, &wanted) == 0; }

  void type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Waits for the program to end, reading what it shows meanwhile; its exit code, minus the signal's
  // number when a signal ended it, or -1000 when it did not end.
  int wait_exit() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        while (read_some(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
      }
      if (!read_some(50)) usleep(20000);
    }
    return -1000;
  }

  void signal(int signal_number) { kill(pid_, signal_number); }

  // Turns the terminal's signal keys on or off (Ctrl+C then arrives as byte 3).
  bool set_signals(bool on) {
    termios now = {};
    if (!settings(&now)) return false;
    now.c_lflag = on ? now.c_lflag | ISIG : now.c_lflag & ~static_cast<tcflag_t>(ISIG);
    return set_settings(now);
  }

  // The terminal goes away, as when its window is closed.
  void hang_up() {
    close(master_);
    master_ = -1;
  }

 private:
  bool read_some(int timeout_ms) {
    if (master_ < 0) return false;
    pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return timeout_ms > 0 && p.revents == 0;
    char buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;  // the slave side has closed
    raw_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  bool exited_ = false;
  std::string raw_;
};
