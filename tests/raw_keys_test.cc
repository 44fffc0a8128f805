// raw_key_read in a child process reading a pseudo-terminal or a pipe (the child is this test binary
// started again; it reads keys before main and reports each code as "<code>" on its standard output).
// The decoding of the bytes into codes has its own table in terminal_keys_test.cc; here the terminal's
// part: raw mode, reads, the Esc wait, closed input, the terminal put back.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/raw_keys.h"
#include "tests/program_fixture.h"
#include "tests/pty_program.h"

namespace {

const char* const CHILD_VARIABLE = "TRIMORA_RAW_KEYS_CHILD";

// The child: reports every key; Q ends it with exit(0), so that atexit work runs; closed input ends
// it with 0 when the next read is closed too (a key read after the terminal has gone cannot be
// reported and ends it with 3).
int run_as_key_child() {
  if (std::getenv(CHILD_VARIABLE) == nullptr) return 0;
  for (;;) {
    const int code = raw_key_read();
    const std::string report = "<" + std::to_string(code) + ">";
    const bool reported = write(STDOUT_FILENO, report.data(), report.size()) == static_cast<ssize_t>(report.size());
    if (code == RAW_KEY_CLOSED) _exit(raw_key_read() == RAW_KEY_CLOSED ? 0 : 4);
    if (!reported) _exit(3);
    if (code == 'Q') std::exit(0);
  }
}

const int key_child = run_as_key_child();

bool can_start_children() { return access("/proc/self/exe", X_OK) == 0; }

// A child on a pseudo-terminal, started and in raw mode.
class RawKeysTerminal : public ::testing::Test {
 protected:
  PtyProgram child;
  int reports = 0;  // codes reported so far

  void SetUp() override {
    if (!can_start_children()) GTEST_SKIP() << "no /proc/self/exe";
    setenv(CHILD_VARIABLE, "1", 1);
    const bool started = child.start("/proc/self/exe");
    unsetenv(CHILD_VARIABLE);
    ASSERT_TRUE(started);
    ASSERT_TRUE(child.wait_raw_mode());
  }

  // Types the bytes; the child reports exactly these codes next.
  void expect_codes(const std::string& typed, const std::vector<int>& codes) {
    std::string expected;
    for (int code : codes) expected += "<" + std::to_string(code) + ">";
    const std::size_t before = child.shown().size();
    child.type(typed);
    reports += static_cast<int>(codes.size());
    EXPECT_TRUE(child.wait_for(">", reports));
    EXPECT_EQ(child.shown().substr(before), expected) << typed.size() << " bytes typed, starting " << int(typed[0]);
  }

  // The terminal is back in its cooked settings.
  void expect_terminal_restored() {
    termios after;
    ASSERT_TRUE(child.settings(&after));
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
  }
};

TEST_F(RawKeysTerminal, KeysArriveOneCodePerCallAndTheTerminalIsRestoredAtExit) {
  termios raw;
  ASSERT_TRUE(child.settings(&raw));
  EXPECT_FALSE(raw.c_lflag & ECHO);
  EXPECT_TRUE(raw.c_lflag & ISIG);  // Ctrl-C still stops the program
  expect_codes("a", {'a'});
  expect_codes("\r", {13});   // not turned into a line feed by the terminal
  expect_codes("\x7f", {8});  // nor taken as an erase
  expect_codes("\033[A", {224, 72});
  expect_codes("\033[Zb", {'b'});
  expect_codes("\033", {27});  // alone: decided after the short wait
  expect_codes("\033\033", {27, 27});
  expect_codes("xy\033[B", {'x', 'y', 224, 80});
  expect_codes("Q", {'Q'});
  EXPECT_EQ(child.wait_exit(), 0);
  expect_terminal_restored();
}

TEST_F(RawKeysTerminal, CtrlCRestoresTheTerminalAndStopsTheProgram) {
  expect_codes("a", {'a'});
  child.type("\003");
  EXPECT_EQ(child.wait_exit(), -SIGINT);
  expect_terminal_restored();
}

TEST_F(RawKeysTerminal, TerminalGoneClosesInputForGood) {
  expect_codes("a", {'a'});
  child.hang_up();  // the program must see closed input, twice, and not be killed or spin
  EXPECT_EQ(child.wait_exit(), 0);
}

// After Ctrl-Z and fg the shell has left its own settings; the program takes raw mode back.
TEST_F(RawKeysTerminal, RawModeComesBackAfterAStop) {
  termios cooked;
  ASSERT_TRUE(child.settings(&cooked));
  cooked.c_lflag |= ICANON | ECHO;
  ASSERT_TRUE(child.set_settings(cooked));
  child.signal(SIGSTOP);
  child.signal(SIGCONT);
  ASSERT_TRUE(child.wait_raw_mode());
  termios raw;
  ASSERT_TRUE(child.settings(&raw));
  EXPECT_FALSE(raw.c_lflag & ECHO);
  expect_codes("k", {'k'});
}

TEST(RawKeysPipe, BytesAsTheyComeWithLineFeedAsEnterThenClosed) {
  if (!can_start_children()) GTEST_SKIP() << "no /proc/self/exe";
  WorkingFolder work;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = "printf 'ab\\n\\033[A\\177\\r' | " + std::string(CHILD_VARIABLE) + "=1 '" + self;
  ASSERT_EQ(std::system((command + "' > keys").c_str()), 0) << "closed stays closed";
  EXPECT_EQ(read_file("keys"), "<97><98><13><27><91><65><127><13><-1>");
}

}  // namespace

#endif  // _WIN32
