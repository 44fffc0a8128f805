// Console output and capture, single-key input with a scripted source, and the date and time stamps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "console/console.h"
#include "console/stamps.h"
#include "tests/program_fixture.h"

namespace {

// A captured console whose keys come from a queue that the test may refill.
struct ScriptedConsole {
  std::deque<int> keys;
  int keys_read = 0;
  CapturedConsole console{[this] {
    ++keys_read;
    if (keys.empty()) return KEY_CLOSED;
    int key = keys.front();
    keys.pop_front();
    return key;
  }};
};

TEST(ConsoleTest, CaptureCollectsPrintsAndCharactersInOrder) {
  CapturedConsole console;
  console.print("Command >");
  console.put_char('x');
  console.put_char(13);
  console.print("%s=%d %.2lf\n", "port", 5024, 1.5);
  console.put_char(7);
  console.put_char(224);
  EXPECT_EQ(console.text, std::string("Command >x\rport=5024 1.50\n\a\xe0"));

  // Longer than any fixed formatting buffer: kept whole.
  console.text.clear();
  std::string long_text(1000, 'v');
  console.print("<%s>", long_text.c_str());
  EXPECT_EQ(console.text, "<" + long_text + ">");
}

// A prompt without a line end must reach standard output before the program waits for a key,
// also when standard output is a pipe (fully buffered by default).
TEST(ConsoleTest, TerminalOutputReachesStandardOutputAtOnce) {
  TerminalConsole console;
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  int sink[2];
  ASSERT_EQ(pipe(sink), 0);
  ASSERT_EQ(dup2(sink[1], STDOUT_FILENO), STDOUT_FILENO);
  console.print("Command >");
  console.put_char('?');
  // Read what already reached the pipe before giving standard output back.
  fcntl(sink[0], F_SETFL, O_NONBLOCK);
  char got[64] = {0};
  ssize_t n = read(sink[0], got, sizeof got - 1);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(sink[0]);
  close(sink[1]);
  ASSERT_GT(n, 0);
  EXPECT_STREQ(got, "Command >?");
}

TEST(ConsoleTest, ReadKeyTakesScriptedKeysAndStaysClosed) {
  ScriptedConsole s;
  s.keys = {'a', 13, 224, 72};
  EXPECT_EQ(s.console.read_key(), 'a');
  EXPECT_EQ(s.console.read_key(), 13);
  EXPECT_EQ(s.console.read_key(), KEY_SPECIAL + 72);  // lead code and own code: one key
  EXPECT_EQ(s.console.read_key(), KEY_CLOSED);
  // Closed for good, even if the source had something again: no caller loops on stale input.
  s.keys = {'z'};
  EXPECT_EQ(s.console.read_key(), KEY_CLOSED);
  EXPECT_EQ(s.console.read_key(), KEY_CLOSED);
  EXPECT_EQ(s.keys_read, 5);
  EXPECT_EQ(s.console.text, "");

  // A lead code at the end of input: no key, input closed.
  ScriptedConsole lead;
  lead.keys = {0};
  EXPECT_EQ(lead.console.read_key(), KEY_CLOSED);
  lead.keys = {'q'};
  EXPECT_EQ(lead.console.read_key(), KEY_CLOSED);
}

TEST(ConsoleTest, ReadKeyEchoShowsTheKeyButNothingWhenClosedOrSpecial) {
  ScriptedConsole s;
  s.keys = {'7', '\r', 224, 72};
  EXPECT_EQ(s.console.read_key_echo(), '7');
  EXPECT_EQ(s.console.read_key_echo(), 13);
  EXPECT_EQ(s.console.read_key_echo(), KEY_SPECIAL + 72);
  EXPECT_EQ(s.console.read_key_echo(), KEY_CLOSED);
  EXPECT_EQ(s.console.text, "7\r");
}

TEST(ConsoleTest, StampsFormatTheTimeAndReturnTheirText) {
  const LocalTime time{2024, 3, 7, 9, 5, 2};
  char text[32];
  EXPECT_EQ(date_stamp(time, text), text);
  EXPECT_STREQ(text, "03/07/2024");
  EXPECT_EQ(time_stamp(time, text), text);
  EXPECT_STREQ(text, "09:05:02");
  EXPECT_EQ(date_time_stamp(time, text), text);
  EXPECT_STREQ(text, "03/07/2024 09:05:02");

  // 19 characters and the zero, nothing past them.
  std::memset(text, 'x', sizeof text);
  EXPECT_STREQ(date_time_stamp(LocalTime{2023, 12, 31, 23, 59, 59}, text), "12/31/2023 23:59:59");
  EXPECT_EQ(text[20], 'x');
}

TEST(ConsoleTest, StampsFromTheSystemClockHaveTheirForm) {
  const LocalTime now = local_time_now();
  char date[32], both[32], time[32];
  date_stamp(now, date);
  date_time_stamp(now, both);
  time_stamp(now, time);
  EXPECT_EQ(mask_stamps(both), "<stamp>");
  EXPECT_EQ(std::string(date) + " " + time, both);
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  ASSERT_EQ(std::sscanf(both, "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute, &second), 6);
  EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 2020) << both;
  EXPECT_TRUE(hour <= 23 && minute <= 59 && second <= 59) << both;
}

}  // namespace
