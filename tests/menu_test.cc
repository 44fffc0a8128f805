// The whole program in-process: start-up, the menu, its connection check and dispatch, and shutdown,
// against the simulated bench with scripted keys and the console text captured.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/trimora.h"
#include "settings/lab_file.h"
#include "tests/loopback_peer.h"
#include "tests/program_fixture.h"

namespace {

const std::string EQUALS = "====================================================\n";
const std::string WEB_LINE = "        https://trimora.example.org\n";
const std::string EXITING = "\n\nExiting...\n\n";
const char* const DMM_IDN = "Maker,DMM-1,SN42,1.0";
const char* const PSU_IDN = "Maker,DP832,SN77,00.01";

std::string banner(const std::string& last_run) {
  return "Trimora\nCurrent Time and Date: <stamp>\nLast run: " + last_run + "\nVersion 1.0 (Trimora)\n" +
         WEB_LINE + "\n I N S T R U M E N T    S E T U P\n\n";
}

// Texts with <dmm> and <psu> standing for the instruments' ports (MenuTest::ported fills them in).
const std::string DMM_OK = "Connecting to DMM on IP 127.0.0.1, Port <dmm>...OK!\nChecking DMM read data......OK!\n\n",
                  PSU_OK = "Connecting to DP832 on IP 127.0.0.1, Port <psu>...OK!\n\n";
const std::string DMM_REFUSED = "Connecting to DMM on IP 127.0.0.1, Port <dmm>...\n\n\aERROR - Failed to connect to "
                                "DMM!\n\n";
const std::string PSU_REFUSED = "Connecting to DP832 on IP 127.0.0.1, Port <psu>...\n\aWARNING: DP832 FAILED TO "
                                "CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n";
const std::string DMM_DESCRIPTION = "Maker DMM-1 (S/N SN42 ) at 127.0.0.1:<dmm>";
const std::string PSU_DESCRIPTION = "Maker DP832 (S/N SN77 ) at 127.0.0.1:<psu>";

std::string menu(const std::string& dmm, const std::string& psu) {
  return EQUALS + "Trimora\nVersion 1.1 (Trimora)\n" + WEB_LINE + EQUALS + "Instruments Detected: ( <stamp> )\n" + dmm +
         "\n" + psu + "\n" + EQUALS + "\n" +
         "A. Assess Channel Voltage Accuracy\n"
         "I. Assess Channel Current Accuracy\n"
         "C. Factory Current Calibration\n"
         "V. Factory Voltage Calibration\n"
         "F. Do FULL Voltage Calibration with Corrections\n\n"
         "D. Set DP832 IP Address and Port\n"
         "M. Set DMM IP Address and Port\n"
         "S. Set Session Details\n\n"
         "X. Exit\n\nCommand >";
}

const std::string DMM_DIALOG = "M\nConfigure DMM IP Address and Port. The current settings are:\n\nIP address or "
                               "hostname: 127.0.0.1\nService Port: <dmm>\n\nNew IP Address ([ESC] to quit): >127.0.0.1";

const std::string ASSESS_PROMPT = "What channel (1, 2, or 3) to do voltage accuracy assessment on?";
const std::string CURRENT_PROMPT = "What channel (1, 2 or 3) to perform regular factory current calibration on?";
const std::string VOLTAGE_PROMPT = "What channel (1, 2 or 3) to perform regular factory voltage calibration on?";
const std::string FULL_PROMPT = "What channel (1 or 2) to do voltage calibration with corrections on?";

std::string ready_current(char ch) {
  return std::string("\a\nREADY TO CALIBRATE CURRENT ON CH") + ch + ". MAKE SURE DMM IS\nCONNECTED TO CHANNEL " + ch +
         " OUTPUT TERMINALS, THEN PRESS ENTER:";
}

std::string ready_voltage(char ch) {
  return std::string("\n\aREADY TO CALIBRATE VOLTAGES ON CH") + ch + ". MAKE SURE DMM IS\nCONNECTED TO CHANNEL " + ch +
         " OUTPUT TERMINALS, THEN PRESS ENTER:";
}

std::string confirm_full(char ch) { return std::string("\nPress Y to confirm calibration on channel ") + ch + ":"; }

class MenuTest : public ProgramTest {
 protected:
  MenuTest() {
    scale = RELIABLE_TIME_SCALE;
    options.dmm_idn = DMM_IDN;
    options.psu_idn = PSU_IDN;
  }

  // One run of the program, with the settings file as it stands.
  int run() {
    keys_read = 0;
    return trimora_main(env, settings);
  }

  // The text with the ports filled in: the bench's unless others are given.
  std::string ported(std::string text, int dmm = 0, int psu = 0) const {
    const std::string d = std::to_string(dmm != 0 ? dmm : bench->dmm_port());
    const std::string p = std::to_string(psu != 0 ? psu : bench->psu_port());
    for (std::size_t at; (at = text.find("<dmm>")) != std::string::npos;) text.replace(at, 5, d);
    for (std::size_t at; (at = text.find("<psu>")) != std::string::npos;) text.replace(at, 5, p);
    return text;
  }
  std::string both_present_start() const { return ported(banner("NONE") + DMM_OK + PSU_OK); }
  std::string both_menu() const { return ported(menu(DMM_DESCRIPTION, PSU_DESCRIPTION)); }
};

TEST_F(MenuTest, StartsBothInstrumentsShowsTheMenuAndXSavesTheSettings) {
  start_bench();
  keys("x");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(mask_stamps(out), both_present_start() + both_menu() + "X\n" + EXITING);
  // X asks the instruments nothing: the three readings are those of the identification.
  EXPECT_EQ(reads(), 3);
  // The settings with a fresh last run time.
  std::string expected = "DMM_IP    127.0.0.1\nDMM_Port    " + std::to_string(bench->dmm_port()) +
                         "\nDMM_Connect_Method    TCP.SCPI\nLast_Run_Time    \"<stamp>\"\nDP832_IP    127.0.0.1\n"
                         "DP832_Port    " + std::to_string(bench->psu_port()) + "\nDP832_Connect_Method    TCP.SCPI\n";
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), expected);

  // The next start shows that time bare, without the quotes of the file.
  out.clear();
  keys("X");
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(mask_stamps(out).rfind(banner("<stamp>"), 0), 0u) << out;

  // A longer one is cut to its thirty-two byte text.
  std::string file = read_file(SETTINGS_FILE_NAME);
  const std::size_t at = file.find("Last_Run_Time    \"") + 18;
  write_file(SETTINGS_FILE_NAME, file.replace(at, file.find('"', at) - at, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
  out.clear();
  keys("x");
  ASSERT_EQ(run(), 0);
  EXPECT_NE(out.find("\nLast run: ABCDEFGHIJKLMNOPQRSTUVWXYZ01234\nVersion 1.0"), std::string::npos) << out;
}

TEST_F(MenuTest, AbsentDmmIsReportedBeforeEveryCommandButMAndD) {
  start_bench();
  RefusingPort refusing;
  write_loopback_settings(refusing.port(), bench->psu_port());
  keys("aq");
  key_queue.push_back(224);  // Up arrow: one key, which does nothing at the menu
  keys("Hm\033x");
  EXPECT_EQ(run(), 0);
  std::string no_dmm = "\a\nNo active DMM connection.\n";
  std::string m = menu("No DMM detected.", PSU_DESCRIPTION);
  EXPECT_EQ(mask_stamps(out), ported(banner("NONE") + DMM_REFUSED + PSU_OK + m + "A\n" + no_dmm + m + "Q\n" + no_dmm +
                                         m + DMM_DIALOG + m + "X\n" + EXITING, refusing.port()));
}

// S needs no instrument; Enter takes a field, Esc keeps what was there, a bad date or figure is refused
// and the field kept: the second S shows what the first left.
TEST_F(MenuTest, SessionDetailsNeedNoInstrumentAndEscKeepsAField) {
  start_bench();
  RefusingPort refusing;
  write_loopback_settings(refusing.port(), bench->psu_port());
  keys("sAnn\r\033ACME\r\033\033\b\b\b\b\b\b\b\b\b\b2026-13-01\rabc\r50\r" "s\033\033\033\033\033\033\033\033x");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out.find("No active DMM connection"), std::string::npos) << out;
  EXPECT_EQ(occurrences(out, "KEPT AS IT WAS."), 2) << out;
  const std::string second = out.substr(out.rfind("Session details"));
  for (const char* kept : {"Operator (responsible person): >Ann\n", "Operator's role: >\n", "Customer: >ACME\n",
                           "Ambient temperature (deg C): >\n", "Relative humidity (%): >50\n"})
    EXPECT_NE(second.find(kept), std::string::npos) << kept << "\n" << second;
  EXPECT_TRUE(is_iso_date(second.substr(second.find("(YYYY-MM-DD): >") + 15, 10))) << "today kept";
}

TEST_F(MenuTest, AbsentDp832IsReported) {
  start_bench();
  RefusingPort refusing;
  write_loopback_settings(bench->dmm_port(), refusing.port());
  keys("vfx");
  EXPECT_EQ(run(), 0);
  std::string m = menu(DMM_DESCRIPTION, "No DP832 detected.");
  std::string no_psu = "\a\nNo active DP832 connection.\n";
  EXPECT_EQ(mask_stamps(out), ported(banner("NONE") + DMM_OK + PSU_REFUSED + m + "V\n" + no_psu + m + "F\n" + no_psu +
                                         m + "X\n" + EXITING, 0, refusing.port()));
  // Saved even with an instrument absent.
  EXPECT_NE(mask_stamps(read_file(SETTINGS_FILE_NAME)).find("Last_Run_Time    \"<stamp>\"\n"), std::string::npos);
}

TEST_F(MenuTest, UnknownKeyIsCheckedThenRefused) {
  start_bench();
  keys("q7 x");
  EXPECT_EQ(run(), 0);
  const std::string unknown = "\n\a?Unknown command.\n\n", m = both_menu();
  EXPECT_EQ(mask_stamps(out), both_present_start() + m + "Q\n" + unknown + m + "7\n" + unknown + m + " \n" + unknown +
                                  m + "X\n" + EXITING);
  // Each unknown key cost one connection-check reading.
  EXPECT_EQ(reads(), 3 + 3);
}

TEST_F(MenuTest, LowerCaseCommandKeysWork) {
  start_bench();
  keys("a9m\033d\033x");
  EXPECT_EQ(run(), 0);
  std::string m = both_menu();
  std::string text = mask_stamps(out);
  EXPECT_NE(text.find(m + "A\n" + ASSESS_PROMPT + "9" + m), std::string::npos);
  EXPECT_NE(text.find(m + "M\nConfigure DMM IP Address and Port."), std::string::npos);
  EXPECT_NE(text.find(m + "D\nConfigure DP832 IP Address and Port."), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - m.size() - 2 - EXITING.size()), m + "X\n" + EXITING);
  // M and D skip the connection check: one reading for A only.
  EXPECT_EQ(reads(), 3 + 1);
}

TEST_F(MenuTest, ChannelAndConfirmationPromptsRefuseOtherKeysSilently) {
  start_bench();
  keys("a4" "ax" "c0" "c1q" "c2\033" "v9" "v3 " "f3" "fx" "f1n" "f2\r" "x");
  EXPECT_EQ(run(), 0);
  std::string m = both_menu();
  const std::string a = "A\n" + ASSESS_PROMPT;
  const std::string c = "C\n" + CURRENT_PROMPT;
  const std::string v = "V\n" + VOLTAGE_PROMPT;
  const std::string f = "F\n" + FULL_PROMPT;
  auto confirm = confirm_full;
  std::string expected = both_present_start() + m + a + "4" + m + a + "x" + m + c + "0" + m + c + "1" +
                         ready_current('1') + m + c + "2" + ready_current('2') + m + v + "9" + m + v + "3" +
                         ready_voltage('3') + m + f + "3" + m + f + "x" + m + f + "1" + confirm('1') + "n" + m + f +
                         "2" + confirm('2') + "\r" + m + "X\n" + EXITING;
  EXPECT_EQ(mask_stamps(out), expected);
  // No procedure ran: the supply heard only the identification.
  EXPECT_EQ(psu_lines(), (std::vector<std::string>{"*RST", "*IDN?"}));
}

TEST_F(MenuTest, CommandsReachTheirProcedureWithTheChannelTyped) {
  options.wire = 0;  // the DMM's leads on no channel: every procedure stops at its path check
  start_bench();
  keys("a3" "c2\r" "v1\r" "f2Y" "x");
  EXPECT_EQ(run(), 0);
  std::string text = mask_stamps(out);
  EXPECT_EQ(occurrences(text, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n"), 4) << text;
  EXPECT_NE(text.find("3\n\n\aERROR: DMM NOT READING"), std::string::npos) << text;
  EXPECT_NE(text.find("THEN PRESS ENTER:\n\n\aERROR: DMM NOT READING"), std::string::npos) << text;
  EXPECT_NE(text.find("STEP 1: INITIAL CALIBRATION PER FACTORY SPEC - Channel 2\n"), std::string::npos) << text;
  // The channels in the supply's commands, in the order of the commands.
  std::string channels;
  for (const std::string& line : psu_lines()) {
    std::size_t at = line.find("CH");
    if (at != std::string::npos && at + 2 < line.size() && (channels.empty() || channels.back() != line[at + 2]))
      channels += line[at + 2];
  }
  EXPECT_EQ(channels, "3212");
}

TEST_F(MenuTest, LostInstrumentIsReportedAtTheNextCommand) {
  for (const std::string lost : {"DMM", "DP832"}) {
    SCOPED_TRACE(lost);
    out.clear();
    if (lost == "DMM") {
      before_key[0] = [this]() {  // the DMM falls silent while the menu waits for the first key
        SimDmmFaults silent;
        silent.silent_from_reading = 1;
        bench->set_dmm_faults(silent);
      };
    } else {
      before_key.clear();
      options.psu_faults.drop_after_commands = 2;  // closes the connection right after answering *IDN?
    }
    start_bench();
    keys(lost == "DMM" ? "cx" : "ax");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(mask_stamps(out), both_present_start() + both_menu() + (lost == "DMM" ? "C\n" : "A\n") +
                                    "\a\nThe connection to the " + lost +
                                    " has been lost. Check connections/settings and retry.\n" +
                                    (lost == "DMM" ? "DMM FAULT: the DMM gave no answer.\n" : "") + both_menu() + "X\n" +
                                    EXITING);
  }
}

TEST_F(MenuTest, WithNeitherInstrumentTheDmmIsReportedFirstAndXStillSaves) {
  RefusingPort dmm_refusing, psu_refusing;
  write_loopback_settings(dmm_refusing.port(), psu_refusing.port());
  keys("ax");
  EXPECT_EQ(run(), 0);
  const std::string m = menu("No DMM detected.", "No DP832 detected."), no_dmm = "\a\nNo active DMM connection.\n";
  EXPECT_EQ(mask_stamps(out), ported(banner("NONE") + DMM_REFUSED + PSU_REFUSED + m + "A\n" + no_dmm + m + "X\n" +
                                         EXITING, dmm_refusing.port(), psu_refusing.port()));
  EXPECT_NE(mask_stamps(read_file(SETTINGS_FILE_NAME)).find("Last_Run_Time    \"<stamp>\"\n"), std::string::npos);
}

// The console closing anywhere ends the program as X does, without waiting or spinning: whatever
// was being asked is left as if declined, and the menu then ends the run. Each case: the keys typed
// before the console closes, and what they showed between the two menus.
struct ClosedCase {
  const char* name;
  std::string keys;
  std::string shown;  // with <dmm> and <psu> for the instruments' ports
};

class ClosedConsoleTest : public MenuTest, public ::testing::WithParamInterface<ClosedCase> {};

INSTANTIATE_TEST_SUITE_P(
    Anywhere, ClosedConsoleTest,
    ::testing::Values(
        ClosedCase{"BeforeTheFirstKey", "", ""}, ClosedCase{"AtTheAssessmentsChannel", "a", "A\n" + ASSESS_PROMPT},
        ClosedCase{"AtTheCurrentCalibrationsEnter", "c1", "C\n" + CURRENT_PROMPT + "1" + ready_current('1')},
        ClosedCase{"AtTheVoltageCalibrationsEnter", "v3", "V\n" + VOLTAGE_PROMPT + "3" + ready_voltage('3')},
        ClosedCase{"AtTheFullCalibrationsConfirmation", "f1", "F\n" + FULL_PROMPT + "1" + confirm_full('1')},
        ClosedCase{"AtTheDmmDialogsHost", "m", DMM_DIALOG},
        ClosedCase{"AtTheDmmDialogsPort", "m\r", DMM_DIALOG + "\r\nNew Service Port ([ESC] to quit): ><dmm>"},
        ClosedCase{"AtTheDp832DialogsConfirmation", "d\r\r",
                   "D\nConfigure DP832 IP Address and Port. The current settings are:\n\nIP address or hostname: "
                   "127.0.0.1\nService Port: <psu>\n\nNew IP Address ([ESC] to quit): >127.0.0.1\r\nNew Service Port "
                   "([ESC] to quit): ><psu>\r\n\n\nProposed new values:\n\nIP Address or Hostname: 127.0.0.1\n"
                   "Service Port: <psu>\n\nAre these correct?\n\n"}),
    [](const ::testing::TestParamInfo<ClosedCase>& info) { return std::string(info.param.name); });

TEST_P(ClosedConsoleTest, EndsTheRunAsX) {
  const ClosedCase& c = GetParam();
  start_bench();
  keys(c.keys);
  testing::internal::CaptureStderr();
  int code = run();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "trimora: console input closed; exiting as with X.\n");
  EXPECT_EQ(code, 0);
  const std::string shown = ported(c.shown);
  const std::string menu_again = shown.empty() ? "" : both_menu();
  EXPECT_EQ(mask_stamps(out), both_present_start() + both_menu() + shown + menu_again + EXITING);
  EXPECT_NE(mask_stamps(read_file(SETTINGS_FILE_NAME)).find("Last_Run_Time    \"<stamp>\"\n"), std::string::npos);
}

}  // namespace
