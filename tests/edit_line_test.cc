// The line editor with scripted keys and captured output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "console/edit_line.h"
#include "tests/program_fixture.h"

namespace {

using namespace std::string_literals;

const char* const ENTER_ESC = "\r\033";

// One edit: the buffer's content before, whether it is preloaded, the keys, the arguments, and what
// comes back, is left in the buffer and is shown.
struct EditCase {
  const char* before;
  int preload;
  std::string typed;
  int echo;
  int max_length;
  const char* terminators;
  int result;
  const char* after;
  std::string shown;
  const char* prompt = nullptr;
};

const std::string ASCII_ONLY = "\a\nONLY ASCII LETTERS, DIGITS AND SIGNS ARE TAKEN HERE.\n";

const EditCase EDITS[] = {
    // Accepting: Enter (also with null terminators, where Esc is an ignored control code), on an empty line.
    {"", 0, "127.0.1.7\r", 1, 63, ENTER_ESC, 9, "127.0.1.7", "127.0.1.7\r\n"},
    {"", 0, "ab\033c\r", 1, 63, nullptr, 3, "abc", "abc\r\n"},
    {"", 0, "\r", 1, 63, ENTER_ESC, 0, "", "\r\n"},
    // Cancelling: the negative code, no line break; from 128 up the code is taken as a signed byte.
    {"", 0, "50\033", 1, 63, ENTER_ESC, -27, "50", "50"},
    {"", 0, "\033", 1, 63, ENTER_ESC, -27, "", ""},
    {"", 0, "a\xe9", 1, 63, "\r\xe9", 23, "a", "a"},
    // Terminators without Enter: Enter is ignored, printable terminators end the edit.
    {"", 0, "ab\rq", 1, 63, "qz", 2, "ab", "ab\r\n"},
    {"", 0, "x\rz", 1, 63, "qz", -'z', "x", "x"},
    // Backspace erases, or rings on an empty line.
    {"", 0, "\bab\b\bc\b\b\r", 1, 63, ENTER_ESC, 0, "", "\aab\b \b\b \bc\b \b\a\r\n"},
    {"", 0, "ab\bc\r", 1, 63, ENTER_ESC, 2, "ac", "ab\b \bc\r\n"},
    // A full line rings and drops until Backspace makes room.
    {"", 0, "abcd\be\r", 1, 3, ENTER_ESC, 3, "abe", "abc\a\b \be\r\n"},
    // Control codes are dropped silently; DEL is typed. A byte from 128 up rings the bell; the first one
    // of the edit also says that only ASCII is taken and shows the prompt and the line again.
    {"", 0, "\ta\x01\x1f\nb\x7f\x80\xe9\xff\r", 1, 63, ENTER_ESC, 3, "ab\x7f", "ab\x7f" + ASCII_ONLY + "ab\\x7F\a\a\r\n"},
    {"127.0.", 1, "\b\bpr\xc3\xbc" "f\r", 1, 63, ENTER_ESC, 7, "127.prf",
     "127.0.\b \b\b \bpr" + ASCII_ONLY + "IP: >127.pr\af\r\n", "IP: >"},
    {"ab", 1, "c\xfc\xfc" "d\033", '*', 63, ENTER_ESC, -27, "abcd", "ab*" + ASCII_ONLY + ">ab*\a*", ">"},
    {"ab", 1, "c\xfc\r", 0, 63, ENTER_ESC, 3, "abc", "ab" + ASCII_ONLY + "ab"},
    // Up, F1, Left, Del and Esc's code behind a lead code: each one key refused with the bell, never a
    // letter or a terminator.
    {"", 0, "a\xe0H\0;\xe0K\0S\xe0\x1b\0\rb\r"s, 1, 63, ENTER_ESC, 2, "ab", "a\a\a\a\a\a\ab\r\n"},
    // Echo mode 0 shows only Backspaces and the preload; a mask shows its character, the preload as it is.
    {"", 0, "pass\bX\r", 0, 63, ENTER_ESC, 4, "pasX", "\b \b"},
    {"old", 1, "\b\bnew\r", 0, 63, ENTER_ESC, 4, "onew", "old\b \b\b \b"},
    {"", 0, "ab\bc\r", '*', 63, ENTER_ESC, 2, "ac", "**\b \b*\r\n"},
    {"ab", 1, "c\033", '#', 63, ENTER_ESC, -27, "abc", "ab#"},
    // The preload is shown and continued, cut at its first carriage return; without preload it is ignored.
    {"127.0.0.5", 1, "\b7\r", 1, 63, ENTER_ESC, 9, "127.0.0.7", "127.0.0.5\b \b7\r\n"},
    {"5024\rjunk\r", 1, "\r", 1, 63, ENTER_ESC, 4, "5024", "5024\r\n"},
    {"stale", 0, "\r", 1, 63, ENTER_ESC, 0, "", "\r\n"},
    // A preload longer than the limit is kept but never grows.
    {"abcdefgh", 1, "x\by\r", 1, 4, ENTER_ESC, 7, "abcdefg", "abcdefgh\a\b \b\a\r\n"},
    // Closed input ends the edit; a preload is still shown and kept.
    {"", 0, "ab", 1, 63, ENTER_ESC, EDIT_CLOSED, "ab", "ab"},
    {"127.0.0.1", 1, "", 1, 63, ENTER_ESC, EDIT_CLOSED, "127.0.0.1", "127.0.0.1"},
};

class EditLineTest : public ProgramTest {};

TEST_F(EditLineTest, KeysGiveTheirLineResultAndScreen) {
  for (const EditCase& c : EDITS) {
    SCOPED_TRACE(testing::PrintToString(c.typed));
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    std::strcpy(buffer, c.before);
    key_queue.clear();
    keys(c.typed);
    CapturedConsole fresh([this] { return next_key(); });  // input closed in an earlier case opens again
    EXPECT_EQ(edit_line(fresh, buffer, c.echo, c.max_length, c.terminators, c.preload, c.prompt), c.result);
    EXPECT_STREQ(buffer, c.after);
    EXPECT_EQ(fresh.text, c.shown);
    // Nothing written beyond the room of max_length + 1 bytes (or the preload's own bytes).
    const std::size_t room = std::max<std::size_t>(c.max_length + 1, std::strlen(c.before) + 1);
    EXPECT_EQ(std::string(buffer + room, sizeof buffer - room), std::string(sizeof buffer - room, '#'));
  }
}

TEST_F(EditLineTest, NullBufferOrNoRoomReturnsAtOnceWithoutReadingKeys) {
  char buffer[8] = {};
  keys("abc\r");
  EXPECT_EQ(edit_line(console, nullptr, 1, 10, ENTER_ESC, 0), 0);
  EXPECT_EQ(edit_line(console, buffer, 1, 0, ENTER_ESC, 0), 0);
  EXPECT_EQ(edit_line(console, buffer, 1, -5, nullptr, 0), 0);
  EXPECT_EQ(keys_read, 0);
  EXPECT_EQ(out, "");
}

}  // namespace
