// The line editor with scripted keys and captured output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/edit_line.h"
#include "console/keys.h"
#include "tests/program_fixture.h"

namespace {

const char* const ENTER_ESC = "\r\033";

class EditLineTest : public ProgramTest {
 protected:
  char buffer[128] = {};

  // Loads the buffer with text for a preloaded edit.
  void load(const char* text) { std::snprintf(buffer, sizeof buffer, "%s", text); }
};

TEST_F(EditLineTest, NullBufferOrNoRoomReturnsAtOnceWithoutReadingKeys) {
  keys("abc\r");
  EXPECT_EQ(edit_line(nullptr, 1, 10, ENTER_ESC, 0), 0);
  EXPECT_EQ(edit_line(buffer, 1, 0, ENTER_ESC, 0), 0);
  EXPECT_EQ(edit_line(buffer, 1, -5, nullptr, 0), 0);
  EXPECT_EQ(keys_read, 0);
  EXPECT_EQ(out, "");
}

TEST_F(EditLineTest, AcceptKeyEndsTheLine) {
  keys("127.0.1.7\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 9);
  EXPECT_STREQ(buffer, "127.0.1.7");
  EXPECT_EQ(out, "127.0.1.7\r\n");

  // Null terminators: Enter alone accepts; Esc is then a control code and ignored.
  out.clear();
  keys("ab\033c\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, nullptr, 0), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(out, "abc\r\n");

  // Enter on an empty line.
  out.clear();
  keys("\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "\r\n");
}

TEST_F(EditLineTest, CancelKeyReturnsItsNegativeCodeWithoutLineBreak) {
  keys("50\033");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), -27);
  EXPECT_STREQ(buffer, "50");
  EXPECT_EQ(out, "50");

  out.clear();
  keys("\033");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), -27);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "");

  // A cancel key from 128 up gives the negative of its code taken as a signed byte.
  keys("a\xe9");
  EXPECT_EQ(edit_line(buffer, 1, 63, "\r\xe9", 0), 23);
  EXPECT_STREQ(buffer, "a");
}

TEST_F(EditLineTest, TerminatorSetWithoutEnter) {
  // Enter is then an ignored control code; printable terminators end the edit instead of being typed.
  keys("ab\rq");
  EXPECT_EQ(edit_line(buffer, 1, 63, "qz", 0), 2);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(out, "ab\r\n");

  out.clear();
  keys("x\rz");
  EXPECT_EQ(edit_line(buffer, 1, 63, "qz", 0), -'z');
  EXPECT_STREQ(buffer, "x");
  EXPECT_EQ(out, "x");
}

TEST_F(EditLineTest, BackspaceErasesOrRingsOnAnEmptyLine) {
  keys("\bab\b\bc\b\b\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "\aab\b \b\b \bc\b \b\a\r\n");

  out.clear();
  keys("ab\bc\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 2);
  EXPECT_STREQ(buffer, "ac");
  EXPECT_EQ(out, "ab\b \bc\r\n");
}

TEST_F(EditLineTest, FullLineRingsAndDropsUntilBackspaceMakesRoom) {
  std::memset(buffer, '#', sizeof buffer);
  keys("abcd\be\r");
  EXPECT_EQ(edit_line(buffer, 1, 3, ENTER_ESC, 0), 3);
  EXPECT_STREQ(buffer, "abe");
  EXPECT_EQ(out, "abc\a\b \be\r\n");
  EXPECT_EQ(buffer[4], '#');  // nothing beyond max_length + 1 bytes
}

TEST_F(EditLineTest, ControlCodesAreDroppedSilentlyAndDelIsTyped) {
  key_codes({'\t', 'a', 1, 0x1f, 10, 'b', 0x7f, 0x80, 0xe9, 0xff, '\r'});
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 3);
  EXPECT_STREQ(buffer, "ab\x7f");
  EXPECT_EQ(out, "ab\x7f\r\n");
}

TEST_F(EditLineTest, TwoCodeKeysAreRefusedWithTheBellAndTypeNothing) {
  // Up arrow (224, 72), F1 (0, 59), Left arrow (224, 75), Del (0, 83), Esc's code behind a lead:
  // each one key, never its second code as a letter, never a terminator.
  key_codes({'a', 224, 72, 0, 59, 224, 75, 0, 83, 224, 27, 0, 13, 'b', '\r'});
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 2);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(out, "a\a\a\a\a\a\ab\r\n");
}

TEST_F(EditLineTest, EchoModeZeroShowsOnlyBackspacesAndThePreload) {
  keys("pass\bX\r");
  EXPECT_EQ(edit_line(buffer, 0, 63, ENTER_ESC, 0), 4);
  EXPECT_STREQ(buffer, "pasX");
  EXPECT_EQ(out, "\b \b");

  out.clear();
  load("old");
  keys("\b\bnew\r");
  EXPECT_EQ(edit_line(buffer, 0, 63, ENTER_ESC, 1), 4);
  EXPECT_STREQ(buffer, "onew");
  EXPECT_EQ(out, "old\b \b\b \b");
}

TEST_F(EditLineTest, MaskShowsItsCharacterForEachTypedOne) {
  keys("ab\bc\r");
  EXPECT_EQ(edit_line(buffer, '*', 63, ENTER_ESC, 0), 2);
  EXPECT_STREQ(buffer, "ac");
  EXPECT_EQ(out, "**\b \b*\r\n");

  // The preload is shown as it is, not masked.
  out.clear();
  load("ab");
  keys("c\033");
  EXPECT_EQ(edit_line(buffer, '#', 63, ENTER_ESC, 1), -27);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(out, "ab#");
}

TEST_F(EditLineTest, PreloadIsShownAndContinued) {
  load("127.0.0.5");
  keys("\b7\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 1), 9);
  EXPECT_STREQ(buffer, "127.0.0.7");
  EXPECT_EQ(out, "127.0.0.5\b \b7\r\n");

  // Cut at its first carriage return before it is shown.
  out.clear();
  load("5024\rjunk\r");
  keys("\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 1), 4);
  EXPECT_STREQ(buffer, "5024");
  EXPECT_EQ(out, "5024\r\n");

  // Without preload the old content is ignored.
  out.clear();
  load("stale");
  keys("\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "\r\n");
}

TEST_F(EditLineTest, PreloadLongerThanTheLimitIsKeptButNeverGrows) {
  std::memset(buffer, '#', sizeof buffer);
  std::memcpy(buffer, "abcdefgh", 9);
  keys("x\by\r");
  EXPECT_EQ(edit_line(buffer, 1, 4, ENTER_ESC, 1), 7);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(out, "abcdefgh\a\b \b\a\r\n");
  EXPECT_EQ(buffer[9], '#');
}

TEST_F(EditLineTest, ClosedInputEndsTheEdit) {
  keys("ab");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), EDIT_CLOSED);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(out, "ab");

  // Still closed on the next edit; the preload is shown and kept.
  out.clear();
  load("127.0.0.1");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 1), EDIT_CLOSED);
  EXPECT_STREQ(buffer, "127.0.0.1");
  EXPECT_EQ(out, "127.0.0.1");
}

}  // namespace
