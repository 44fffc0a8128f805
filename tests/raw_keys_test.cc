// raw_key_read in a child process reading a pseudo-terminal or a pipe (the child is this test binary
// started again; it reads keys before main and reports them). The decoding of the bytes into codes
// has its own table in terminal_keys_test.cc; here the terminal's part: raw mode, reads, the Esc wait.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/raw_keys.h"

namespace {

// ---- The child: reads keys from its standard input and writes each code to the report pipe. ----

const char* const CHILD_VARIABLE = "TRIMORA_RAW_KEYS_CHILD";
constexpr int CHILD_REPORT_FD = 3;
constexpr int CHILD_QUIT_KEY = 'Q';  // ends the child with exit(0), so that atexit work runs

void report_code(int code) {
  const char* p = reinterpret_cast<const char*>(&code);
  size_t left = sizeof code;
  while (left > 0) {
    ssize_t n = write(CHILD_REPORT_FD, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(3);
    p += n;
    left -= static_cast<size_t>(n);
  }
}

int run_as_key_child() {
  if (std::getenv(CHILD_VARIABLE) == nullptr) return 0;
  for (;;) {
    int code = raw_key_read();
    report_code(code);
    if (code == CHILD_QUIT_KEY) std::exit(0);
    if (code == RAW_KEY_CLOSED) {
      report_code(raw_key_read());  // closed stays closed
      _exit(0);
    }
  }
}

const int key_child = run_as_key_child();

// ---- The parent's side. ----

constexpr int WAIT_MS = 20000;  // generous: only a broken program ever waits this long

class KeyChild {
 public:
  // terminal: standard input is a new pseudo-terminal, the child's controlling terminal; otherwise
  // a pipe.
  explicit KeyChild(bool terminal) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return;
    int input_pipe[2] = {-1, -1};
    char slave_name[128] = {0};
    if (terminal) {
      input_ = posix_openpt(O_RDWR | O_NOCTTY);
      if (input_ < 0 || grantpt(input_) != 0 || unlockpt(input_) != 0 || ptsname(input_) == nullptr) return;
      std::snprintf(slave_name, sizeof slave_name, "%s", ptsname(input_));
      fcntl(input_, F_SETFD, FD_CLOEXEC);
    } else {
      if (pipe2(input_pipe, O_CLOEXEC) != 0) return;
      input_ = input_pipe[1];
    }
    char variable[64];
    std::snprintf(variable, sizeof variable, "%s=1", CHILD_VARIABLE);
    char* const environment[] = {variable, nullptr};
    char program[] = "trimora_tests";
    char no_tests[] = "--gtest_filter=-*";
    char* const arguments[] = {program, no_tests, nullptr};
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      int in = input_pipe[0];
      if (terminal) {
        in = open(slave_name, O_RDWR);
        if (in < 0) _exit(120);
        ioctl(in, TIOCSCTTY, 0);
      }
      int null = open("/dev/null", O_WRONLY);
      dup2(in, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      dup2(report[1], CHILD_REPORT_FD);
      struct sigaction usual;
      std::memset(&usual, 0, sizeof usual);
      usual.sa_handler = SIG_DFL;
      sigaction(SIGINT, &usual, nullptr);
      sigaction(SIGTERM, &usual, nullptr);
      sigaction(SIGHUP, &usual, nullptr);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execve("/proc/self/exe", arguments, environment);
      _exit(121);
    }
    close(report[1]);
    if (input_pipe[0] >= 0) close(input_pipe[0]);
    if (pid_ > 0) report_ = report[0];
  }

  ~KeyChild() {
    close_input();
    if (report_ >= 0) close(report_);
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0 && report_ >= 0 && input_ >= 0; }

  // Waits until the child has put its terminal into raw mode (no canonical input), as a person
  // would see the program waiting for a key.
  bool wait_for_raw_mode() {
    for (int waited = 0; waited < WAIT_MS; waited += 5) {
      termios now;
      if (tcgetattr(input_, &now) == 0 && !(now.c_lflag & ICANON)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  bool terminal_settings(termios* now) { return tcgetattr(input_, now) == 0; }

  bool set_terminal(const termios& settings) { return tcsetattr(input_, TCSANOW, &settings) == 0; }

  void signal(int signal_number) { kill(pid_, signal_number); }

  void type(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(input_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  // The next code the child reported; INT_MIN when none came.
  int next_code() {
    int code = 0;
    char* p = reinterpret_cast<char*>(&code);
    size_t got = 0;
    while (got < sizeof code) {
      pollfd watch{report_, POLLIN, 0};
      int ready = poll(&watch, 1, WAIT_MS);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return INT_MIN;
      ssize_t n = read(report_, p + got, sizeof code - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return INT_MIN;
      got += static_cast<size_t>(n);
    }
    return code;
  }

  std::vector<int> next_codes(size_t count) {
    std::vector<int> codes;
    while (codes.size() < count) codes.push_back(next_code());
    return codes;
  }

  void close_input() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

  // The child's end status (waitpid's), waiting as long as it takes.
  int wait_end() {
    if (status_ < 0 && pid_ > 0) {
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      status_ = status;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int report_ = -1;
  int status_ = -1;
};

bool can_start_children() { return access("/proc/self/exe", X_OK) == 0; }

using Codes = std::vector<int>;

// A child on a pseudo-terminal, started and in raw mode.
class RawKeysTerminal : public ::testing::Test {
 protected:
  std::optional<KeyChild> child;
  void SetUp() override {
    if (!can_start_children()) GTEST_SKIP() << "no /proc/self/exe";
    child.emplace(true);
    ASSERT_TRUE(child->started());
    ASSERT_TRUE(child->wait_for_raw_mode());
  }
  // The terminal is back in its cooked settings.
  void expect_terminal_restored() {
    termios after;
    ASSERT_TRUE(child->terminal_settings(&after));
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
  }
};

// The child ended by exit(0).
void expect_clean_exit(KeyChild& child) {
  int status = child.wait_end();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- raw_key_read on a real pseudo-terminal and on a pipe. ----

TEST_F(RawKeysTerminal, KeysArriveOneCodePerCallAndTheTerminalIsRestoredAtExit) {
  KeyChild& c = *child;
  termios raw;
  ASSERT_TRUE(c.terminal_settings(&raw));
  EXPECT_FALSE(raw.c_lflag & ECHO);
  EXPECT_TRUE(raw.c_lflag & ISIG);  // Ctrl-C still stops the program

  struct Case {
    const char* typed;
    Codes codes;
  };
  const Case cases[] = {
      {"a", {'a'}},
      {"\r", {13}},     // not turned into a line feed by the terminal
      {"\x7f", {8}},    // nor taken as an erase
      {"\033[A", {224, 72}},
      {"\033[Zb", {'b'}},
      {"\033", {27}},  // alone: decided after the short wait
      {"\033\033", {27, 27}},
      {"xy\033[B", {'x', 'y', 224, 80}},
  };
  for (const Case& k : cases) {
    c.type(k.typed);
    EXPECT_EQ(c.next_codes(k.codes.size()), k.codes)
        << "typed " << std::string(k.typed).size() << " bytes starting " << int(k.typed[0]);
  }
  c.type("Q");
  EXPECT_EQ(c.next_code(), 'Q');
  expect_clean_exit(c);
  expect_terminal_restored();
}

TEST_F(RawKeysTerminal, CtrlCRestoresTheTerminalAndStopsTheProgram) {
  KeyChild& c = *child;
  c.type("a");
  EXPECT_EQ(c.next_code(), 'a');
  c.type("\003");
  int status = c.wait_end();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  expect_terminal_restored();
}

TEST_F(RawKeysTerminal, TerminalGoneClosesInputForGood) {
  KeyChild& c = *child;
  c.type("a");
  EXPECT_EQ(c.next_code(), 'a');
  c.close_input();  // hang-up: the program must see closed input, not be killed or spin
  EXPECT_EQ(c.next_codes(2), Codes({RAW_KEY_CLOSED, RAW_KEY_CLOSED}));
  expect_clean_exit(c);
}

// After Ctrl-Z and fg the shell has left its own settings; the program takes raw mode back.
TEST_F(RawKeysTerminal, RawModeComesBackAfterAStop) {
  KeyChild& c = *child;
  termios cooked;
  ASSERT_TRUE(c.terminal_settings(&cooked));
  cooked.c_lflag |= ICANON | ECHO;
  ASSERT_TRUE(c.set_terminal(cooked));
  c.signal(SIGSTOP);
  c.signal(SIGCONT);
  ASSERT_TRUE(c.wait_for_raw_mode());
  termios raw;
  ASSERT_TRUE(c.terminal_settings(&raw));
  EXPECT_FALSE(raw.c_lflag & ECHO);
  c.type("k");
  EXPECT_EQ(c.next_code(), 'k');
}

TEST(RawKeysPipe, BytesAsTheyComeWithLineFeedAsEnterThenClosed) {
  if (!can_start_children()) GTEST_SKIP() << "no /proc/self/exe";
  KeyChild child(false);
  ASSERT_TRUE(child.started());
  child.type("ab\n\033[A\x7f\r");
  EXPECT_EQ(child.next_codes(8), Codes({'a', 'b', 13, 27, '[', 'A', 127, 13}));
  child.close_input();
  EXPECT_EQ(child.next_codes(2), Codes({RAW_KEY_CLOSED, RAW_KEY_CLOSED}));
  expect_clean_exit(child);
}

}  // namespace

#endif  // _WIN32
