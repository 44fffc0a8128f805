// Console output and capture, single-key input with a scripted source, and the date and time stamps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/keys.h"
#include "console/stamps.h"
#include "tests/program_fixture.h"

namespace {

// Restores the local clock whatever a test did; the fixture restores the console.
class ConsoleTest : public ProgramTest {
 protected:
  void TearDown() override {
    set_stamp_clock(nullptr);
    ProgramTest::TearDown();
  }
};

TEST_F(ConsoleTest, CaptureCollectsPrintsAndCharactersInOrder) {
  console_capture(&out);
  console_print("Command >");
  console_put_char('x');
  console_put_char(13);
  console_print("%s=%d %.2lf\n", "port", 5024, 1.5);
  console_put_char(7);
  console_put_char(224);
  EXPECT_EQ(out, std::string("Command >x\rport=5024 1.50\n\a\xe0"));

  // Longer than any fixed formatting buffer: kept whole.
  out.clear();
  std::string long_text(1000, 'v');
  console_print("<%s>", long_text.c_str());
  EXPECT_EQ(out, "<" + long_text + ">");
}

// A prompt without a line end must reach standard output before the program waits for a key,
// also when standard output is a pipe (fully buffered by default). A released capture lets it through.
TEST_F(ConsoleTest, OutputReachesStandardOutputAtOnce) {
  console_capture(&out);
  console_capture(nullptr);
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  int sink[2];
  ASSERT_EQ(pipe(sink), 0);
  ASSERT_EQ(dup2(sink[1], STDOUT_FILENO), STDOUT_FILENO);
  console_print("Command >");
  console_put_char('?');
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
  EXPECT_EQ(out, "");
}

TEST_F(ConsoleTest, ReadKeyTakesScriptedKeysAndStaysClosed) {
  key_codes({'a', 13, 224, 72});
  EXPECT_EQ(read_key(), 'a');
  EXPECT_EQ(read_key(), 13);
  EXPECT_EQ(read_key(), KEY_SPECIAL + 72);  // lead code and own code: one key
  EXPECT_EQ(read_key(), KEY_CLOSED);
  // Closed for good, even if the source had something again: no caller loops on stale input.
  keys("z");
  EXPECT_EQ(read_key(), KEY_CLOSED);
  EXPECT_EQ(read_key(), KEY_CLOSED);
  EXPECT_EQ(keys_read, 5);

  // A lead code at the end of input: no key, input closed.
  key_queue = {0};
  install_keys();
  EXPECT_EQ(read_key(), KEY_CLOSED);

  // A new source opens input again.
  set_key_source([]() { return 'q'; });
  EXPECT_EQ(read_key(), 'q');
}

TEST_F(ConsoleTest, ReadKeyEchoShowsTheKeyButNothingWhenClosed) {
  keys("7\r");
  EXPECT_EQ(read_key_echo(), '7');
  EXPECT_EQ(read_key_echo(), 13);
  EXPECT_EQ(read_key_echo(), KEY_CLOSED);
  EXPECT_EQ(out, "7\r");
}

// A clock that moves to the next day between two readings.
int clock_calls = 0;
LocalTime across_midnight() {
  return clock_calls++ == 0 ? LocalTime{2023, 12, 31, 23, 59, 59} : LocalTime{2024, 1, 1, 0, 0, 0};
}

TEST_F(ConsoleTest, StampsFormatTheClockAndReturnTheirText) {
  set_stamp_clock([] { return LocalTime{2024, 3, 7, 9, 5, 2}; });
  char text[32];
  EXPECT_EQ(date_stamp(text), text);
  EXPECT_STREQ(text, "03/07/2024");
  EXPECT_EQ(time_stamp(text), text);
  EXPECT_STREQ(text, "09:05:02");
  EXPECT_EQ(date_time_stamp(text), text);
  EXPECT_STREQ(text, "03/07/2024 09:05:02");

  // One reading of the clock for the date and the time; 19 characters and the zero, nothing past them.
  set_stamp_clock(across_midnight);
  std::memset(text, 'x', sizeof text);
  EXPECT_STREQ(date_time_stamp(text), "12/31/2023 23:59:59");
  EXPECT_EQ(clock_calls, 1);
  EXPECT_EQ(text[20], 'x');
}

TEST_F(ConsoleTest, StampsFromTheSystemClockHaveTheirForm) {
  char date[32], both[32], time[32];
  date_stamp(date);
  date_time_stamp(both);
  time_stamp(time);
  EXPECT_EQ(mask_stamps(both), "<stamp>");
  EXPECT_EQ(mask_stamps(std::string(date) + " " + time), "<stamp>");
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  ASSERT_EQ(std::sscanf(both, "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute, &second), 6);
  EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 2020) << both;
  EXPECT_TRUE(hour <= 23 && minute <= 59 && second <= 59) << both;
}

}  // namespace
