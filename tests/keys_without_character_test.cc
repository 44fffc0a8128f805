// Keys without a character (arrows, Home, End, Ins, Del, PgUp, PgDn, F1 to F12), each with either lead
// code, are one key: at the menu they do nothing, in the address dialogs' line editor they are
// refused with the bell, and at a confirmation they decline. Never is their second code a letter.
#include <gtest/gtest.h>

#include <string>

#include "app/trimora.h"
#include "tests/program_fixture.h"

namespace {

// Up, Down, Left, Right, Home, End, Ins, Del, PgUp, PgDn, F1 to F10, F11, F12.
const int OWN_CODES[] = {72, 80, 75, 77, 71, 79, 82, 83, 73, 81, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 133, 134};
constexpr int KEY_COUNT = sizeof OWN_CODES / sizeof OWN_CODES[0];

class SpecialKeysTest : public ProgramTest, public ::testing::WithParamInterface<int> {
 protected:
  void every_special_key() {
    for (int code : OWN_CODES) {
      key_queue.push_back(GetParam());
      key_queue.push_back(code);
    }
  }
};

}  // namespace

TEST_P(SpecialKeysTest, DoNothingAtTheMenu) {
  start_bench();
  every_special_key();
  keys("x");
  ASSERT_EQ(trimora_main(env, settings), 0);
  EXPECT_EQ(occurrences(out, "Command >"), 1) << out;
  EXPECT_NE(out.find("Command >X\n\n\nExiting...\n\n"), std::string::npos) << out;
  for (const std::string& line : psu_lines()) EXPECT_EQ(line.find("CAL"), std::string::npos) << line;
}

TEST_P(SpecialKeysTest, AreRefusedInBothDialogsAndDeclineTheirConfirmation) {
  start_bench();
  const std::string file_before = read_file(SETTINGS_FILE_NAME);
  for (char dialog : {'m', 'd'}) {
    key_queue.push_back(dialog);
    every_special_key();  // the host
    keys("\r");
    every_special_key();  // the port
    keys("\r");
    key_queue.push_back(GetParam());  // "Are these correct?": a key whose own code is Y's declines
    key_queue.push_back('Y');
  }
  keys("x");
  ASSERT_EQ(trimora_main(env, settings), 0);
  const std::string bells(KEY_COUNT, '\a');
  for (int port : {bench->dmm_port(), bench->psu_port()}) {
    const std::string p = std::to_string(port);
    EXPECT_NE(out.find("New IP Address ([ESC] to quit): >127.0.0.1" + bells +
                       "\r\nNew Service Port ([ESC] to quit): >" + p + bells +
                       "\r\n\n\nProposed new values:\n\nIP Address or Hostname: 127.0.0.1\nService Port: " + p +
                       "\n\nAre these correct?\n\n"), std::string::npos) << out;
  }
  EXPECT_EQ(occurrences(out, "Command >"), 3) << out;
  EXPECT_EQ(occurrences(out, "Unknown command"), 0) << out;
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)).substr(0, 60), mask_stamps(file_before).substr(0, 60));
}

INSTANTIATE_TEST_SUITE_P(BothLeadCodes, SpecialKeysTest, ::testing::Values(0, 224),
                         [](const ::testing::TestParamInfo<int>& info) { return "Lead" + std::to_string(info.param); });
