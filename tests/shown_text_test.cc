// Text from outside the program reaches the console with its control bytes made visible: the
// instruments' identification fields, a supply's error text and hosts from the settings file. The
// program's own bells and line ends stay as they are.
#include <gtest/gtest.h>

#include <string>

#include "app/console_observer.h"
#include "app/trimora.h"
#include "tests/program_fixture.h"

namespace {

// A control byte that no outside text may bring to the console: ESC, DEL, NUL and the C1 range.
bool has_foreign_control(const std::string& text) {
  for (unsigned char byte : text) {
    if (byte == 0x1b || byte == 0x7f || byte == 0 || (byte >= 0x80 && byte < 0xa0)) return true;
  }
  return false;
}

class ShownTextTest : public ProgramTest {};

}  // namespace

TEST_F(ShownTextTest, ControlBytesBecomeVisibleAndTheProgramsOwnTextStays) {
  std::string every_byte;
  for (int byte = 1; byte < 256; ++byte) every_byte += static_cast<char>(byte);
  const std::string shown = console_visible_text(every_byte);
  for (unsigned char byte : shown) EXPECT_TRUE(byte >= 32 && byte != 127 && (byte < 128 || byte >= 160)) << +byte;
  EXPECT_NE(shown.find(" !\"#$%&'()*+,-./0123456789"), std::string::npos);
  EXPECT_NE(shown.find("xyz{|}~\\x7F\\x80"), std::string::npos);
  EXPECT_NE(shown.find("\\x9F\xa0\xa1"), std::string::npos);

  // A supply's error as it will be printed: the format's bell and line end are the program's own.
  console.print_untrusted("\a%s %d%c\n", std::string("-203,\"\x1b[2J\a\r\0\x7f\x9b\"", 14).c_str(), 7, '!');
  EXPECT_EQ(out, "\a-203,\"\\x1B[2J\\x07\\x0D 7!\n");  // a C text ends at its NUL
  out.clear();
  console.print_untrusted("%s|%s", std::string("a\0b", 3), "\x9b" "31m");
  EXPECT_EQ(out, "a\\x00b|\\x9B31m");

  // The supply's errors as a procedure shows them: no erased line, no forged verdict, no bell of its own.
  out.clear();
  ConsoleObserver(console).supply_errors(CH1, ErrorContext::calibration, {"-203,\"\x1b[2K\rPASS\a\x9b\""});
  EXPECT_EQ(out, "\aERROR: THE DP832 REPORTED: -203,\"\\x1B[2K\\x0DPASS\\x07\\x9B\"\n"
                 "THE DP832 DID NOT ACCEPT THE CALIBRATION OF CH1: REPEAT THE CALIBRATION.\n\n");
}

TEST_F(ShownTextTest, IdentificationFieldsShowNoControlByte) {
  options.dmm_idn = "Ma\x1b]0;pwned\x07ker,DMM\x7f-1,SN\x9b" "31m42,1.0";
  options.psu_idn = std::string("EVIL\x1b]0;pwned\x07\x1b[2J,DP832\r\x7f,SN\x1b[31mRED\x9b,1.0\0tail", 44);
  start_bench();
  keys("x");
  ASSERT_EQ(trimora_main(env, settings), 0);
  EXPECT_FALSE(has_foreign_control(out)) << out;
  EXPECT_NE(out.find("Ma\\x1B]0;pwned\\x07ker DMM\\x7F-1 (S/N SN\\x9B31m42 ) at 127.0.0.1:"), std::string::npos)
      << out;
  EXPECT_NE(out.find("EVIL\\x1B]0;pwned\\x07\\x1B[2J DP832\\x0D\\x7F (S/N SN\\x1B[31mRED\\x9B ) at 127.0.0.1:"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\n\nCommand >X\n\n\nExiting...\n\n"), std::string::npos);
}

// A quoted host in the settings file keeps every byte; the start-up, the dialog and its line editor
// show it cleaned, and erasing one made-visible byte takes its four characters off the screen.
TEST_F(ShownTextTest, SettingsFileHostIsShownCleanedAtStartAndInTheDialog) {
  start_bench();
  {
    std::ofstream file(SETTINGS_FILE_NAME, std::ios::binary);
    file << "DMM_IP \"127.0.0.1\x1b]0;t\x07\x1b[2J\x9b\"\nDMM_Port " << bench->dmm_port()
         << "\nLast_Run_Time \"\x1b[31mred\"\nDMM_Connect_Method \"\x1b[2Jx\"\nDP832_IP 127.0.0.1\nDP832_Port "
         << bench->psu_port() << "\n";
  }
  keys("m\b\033x");
  ASSERT_EQ(trimora_main(env, settings), 0);
  EXPECT_FALSE(has_foreign_control(out)) << out;
  const std::string host = "127.0.0.1\\x1B]0;t\\x07\\x1B[2J\\x9B";
  EXPECT_NE(out.find("Last run: \\x1B[31mred\n"), std::string::npos) << out;
  EXPECT_NE(out.find("WARNING: DMM_Connect_Method \\x1B[2Jx is not known"), std::string::npos) << out;
  EXPECT_NE(out.find("Connecting to DMM on IP " + host + ", Port"), std::string::npos) << out;
  EXPECT_NE(out.find("IP address or hostname: " + host + "\nService Port: "), std::string::npos) << out;
  EXPECT_NE(out.find("New IP Address ([ESC] to quit): >" + host + "\b \b\b \b\b \b\b \b="), std::string::npos)
      << out;
}
