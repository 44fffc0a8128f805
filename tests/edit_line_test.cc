// The line editor with scripted keys and captured output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "console/console.h"
#include "console/edit_line.h"
#include "console/keys.h"

namespace {

const char* const ENTER_ESC = "\r\033";

class EditLineTest : public ::testing::Test {
 protected:
  std::string out;
  std::deque<int> script;
  int keys_read = 0;
  char buffer[128];

  void SetUp() override {
    std::memset(buffer, 0, sizeof buffer);
    console_capture(&out);
    set_key_source([this]() {
      ++keys_read;
      if (script.empty()) return KEY_CLOSED;
      int key = script.front();
      script.pop_front();
      return key;
    });
  }
  void TearDown() override {
    set_key_source({});
    console_capture(nullptr);
  }

  void type(const std::string& keys) {
    for (unsigned char c : keys) script.push_back(c);
  }
  void type_codes(std::initializer_list<int> codes) {
    for (int c : codes) script.push_back(c);
  }
  // Loads the buffer with text for a preloaded edit.
  void load(const char* text) { std::snprintf(buffer, sizeof buffer, "%s", text); }
};

TEST_F(EditLineTest, NullBufferOrNoRoomReturnsAtOnceWithoutReadingKeys) {
  type("abc\r");
  EXPECT_EQ(edit_line(nullptr, 1, 10, ENTER_ESC, 0), 0);
  EXPECT_EQ(edit_line(buffer, 1, 0, ENTER_ESC, 0), 0);
  EXPECT_EQ(edit_line(buffer, 1, -5, nullptr, 0), 0);
  EXPECT_EQ(keys_read, 0);
  EXPECT_EQ(out, "");
}

TEST_F(EditLineTest, AcceptKeyEndsTheLine) {
  type("127.0.1.7\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 9);
  EXPECT_STREQ(buffer, "127.0.1.7");
  EXPECT_EQ(out, "127.0.1.7\r\n");

  // Null terminators: Enter alone accepts; Esc is then a control code and ignored.
  out.clear();
  type("ab\033c\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, nullptr, 0), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(out, "abc\r\n");

  // Enter on an empty line.
  out.clear();
  type("\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "\r\n");
}

TEST_F(EditLineTest, CancelKeyReturnsItsNegativeCodeWithoutLineBreak) {
  type("50\033");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), -27);
  EXPECT_STREQ(buffer, "50");
  EXPECT_EQ(out, "50");

  out.clear();
  type("\033");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), -27);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "");

  // A cancel key from 128 up gives the negative of its code taken as a signed byte.
  type("a\xe9");
  EXPECT_EQ(edit_line(buffer, 1, 63, "\r\xe9", 0), 23);
  EXPECT_STREQ(buffer, "a");
}

TEST_F(EditLineTest, TerminatorSetWithoutEnter) {
  // Enter is then an ignored control code; printable terminators end the edit instead of being typed.
  type("ab\rq");
  EXPECT_EQ(edit_line(buffer, 1, 63, "qz", 0), 2);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(out, "ab\r\n");

  out.clear();
  type("x\rz");
  EXPECT_EQ(edit_line(buffer, 1, 63, "qz", 0), -'z');
  EXPECT_STREQ(buffer, "x");
  EXPECT_EQ(out, "x");
}

TEST_F(EditLineTest, BackspaceErasesOrRingsOnAnEmptyLine) {
  type("\bab\b\bc\b\b\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "\aab\b \b\b \bc\b \b\a\r\n");

  out.clear();
  type("ab\bc\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 2);
  EXPECT_STREQ(buffer, "ac");
  EXPECT_EQ(out, "ab\b \bc\r\n");
}

TEST_F(EditLineTest, FullLineRingsAndDropsUntilBackspaceMakesRoom) {
  std::memset(buffer, '#', sizeof buffer);
  type("abcd\be\r");
  EXPECT_EQ(edit_line(buffer, 1, 3, ENTER_ESC, 0), 3);
  EXPECT_STREQ(buffer, "abe");
  EXPECT_EQ(out, "abc\a\b \be\r\n");
  EXPECT_EQ(buffer[4], '#');  // nothing beyond max_length + 1 bytes
}

TEST_F(EditLineTest, ControlCodesAreDroppedSilentlyAndDelIsTyped) {
  type_codes({'\t', 'a', 1, 0x1f, 10, 'b', 0x7f, 0x80, 0xe9, 0xff, '\r'});
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 3);
  EXPECT_STREQ(buffer, "ab\x7f");
  EXPECT_EQ(out, "ab\x7f\r\n");
}

TEST_F(EditLineTest, TwoCodeKeysAreRefusedWithTheBellAndTypeNothing) {
  // Up arrow (224, 72), F1 (0, 59), Left arrow (224, 75), Del (0, 83), Esc's code behind a lead:
  // each one key, never its second code as a letter, never a terminator.
  type_codes({'a', 224, 72, 0, 59, 224, 75, 0, 83, 224, 27, 0, 13, 'b', '\r'});
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 2);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(out, "a\a\a\a\a\a\ab\r\n");
}

TEST_F(EditLineTest, EchoModeZeroShowsOnlyBackspacesAndThePreload) {
  type("pass\bX\r");
  EXPECT_EQ(edit_line(buffer, 0, 63, ENTER_ESC, 0), 4);
  EXPECT_STREQ(buffer, "pasX");
  EXPECT_EQ(out, "\b \b");

  out.clear();
  load("old");
  type("\b\bnew\r");
  EXPECT_EQ(edit_line(buffer, 0, 63, ENTER_ESC, 1), 4);
  EXPECT_STREQ(buffer, "onew");
  EXPECT_EQ(out, "old\b \b\b \b");
}

TEST_F(EditLineTest, MaskShowsItsCharacterForEachTypedOne) {
  type("ab\bc\r");
  EXPECT_EQ(edit_line(buffer, '*', 63, ENTER_ESC, 0), 2);
  EXPECT_STREQ(buffer, "ac");
  EXPECT_EQ(out, "**\b \b*\r\n");

  // The preload is shown as it is, not masked.
  out.clear();
  load("ab");
  type("c\033");
  EXPECT_EQ(edit_line(buffer, '#', 63, ENTER_ESC, 1), -27);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(out, "ab#");
}

TEST_F(EditLineTest, PreloadIsShownAndContinued) {
  load("127.0.0.5");
  type("\b7\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 1), 9);
  EXPECT_STREQ(buffer, "127.0.0.7");
  EXPECT_EQ(out, "127.0.0.5\b \b7\r\n");

  // Cut at its first carriage return before it is shown.
  out.clear();
  load("5024\rjunk\r");
  type("\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 1), 4);
  EXPECT_STREQ(buffer, "5024");
  EXPECT_EQ(out, "5024\r\n");

  // Without preload the old content is ignored.
  out.clear();
  load("stale");
  type("\r");
  EXPECT_EQ(edit_line(buffer, 1, 63, ENTER_ESC, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(out, "\r\n");
}

TEST_F(EditLineTest, PreloadLongerThanTheLimitIsKeptButNeverGrows) {
  std::memset(buffer, '#', sizeof buffer);
  std::memcpy(buffer, "abcdefgh", 9);
  type("x\by\r");
  EXPECT_EQ(edit_line(buffer, 1, 4, ENTER_ESC, 1), 7);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(out, "abcdefgh\a\b \b\a\r\n");
  EXPECT_EQ(buffer[9], '#');
}

TEST_F(EditLineTest, ClosedInputEndsTheEdit) {
  type("ab");
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
