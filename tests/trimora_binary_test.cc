// The real trimora binary, end to end against the simulated bench: on a pseudo-terminal with keys
// typed into the DMM dialog (the raw-key path), with its input piped, and with its terminal gone.
// Every run is in a fresh folder whose settings file points both instruments at loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/program_fixture.h"
#include "tests/pty_program.h"

namespace {

// Runs a shell command line in the working folder; its exit code.
int run_shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

class TrimoraBinaryTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    options.dmm_idn = "Maker,DMM-1,SN42,1.0";
    options.psu_idn = "Maker,DP832,SN77,00.01";
  }

  // The settings file must point at loopback before trimora may start.
  void expect_loopback_settings() {
    std::string file = read_file(SETTINGS_FILE_NAME);
    ASSERT_NE(file.find("DMM_IP    127.0.0.1\n"), std::string::npos);
    ASSERT_NE(file.find("DP832_IP    127.0.0.1\n"), std::string::npos);
  }

  std::string expected_settings(int dmm_port_number) const {
    return "DMM_IP    127.0.0.1\nDMM_Port    " + std::to_string(dmm_port_number) +
           "\nDMM_Connect_Method    TCP.SCPI\nLast_Run_Time    \"<stamp>\"\nDP832_IP    127.0.0.1\nDP832_Port    " +
           std::to_string(bench->psu_port()) + "\nDP832_Connect_Method    TCP.SCPI\n";
  }
};

const std::string EXITING = "\n\nExiting...\n\n";

TEST_F(TrimoraBinaryTest, TypingIntoTheDmmDialogOnATerminalMovesTheDmm) {
  start_bench();
  SimOptions other_options = options;
  SimBench other(other_options);  // the DMM's new address
  ASSERT_TRUE(other.ok());
  expect_loopback_settings();
  std::string p = std::to_string(bench->dmm_port());
  std::string q = std::to_string(other.dmm_port());

  PtyProgram program;
  ASSERT_TRUE(program.start(TRIMORA_BINARY));
  ASSERT_TRUE(program.wait_for("Command >")) << program.shown();
  ASSERT_TRUE(program.wait_raw_mode());
  program.type("m");
  ASSERT_TRUE(program.wait_for("New IP Address ([ESC] to quit): >127.0.0.1")) << program.shown();
  program.type("\r");
  ASSERT_TRUE(program.wait_for("New Service Port ([ESC] to quit): >" + p)) << program.shown();
  program.type(std::string(p.size(), '\x7f') + q + "\r");  // the terminal's Backspace is 127
  ASSERT_TRUE(program.wait_for("Are these correct?")) << program.shown();
  program.type("y");
  ASSERT_TRUE(program.wait_for("Command >", 2)) << program.shown();
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), expected_settings(other.dmm_port()));

  // Esc alone leaves the next dialog without a change.
  program.type("M");
  ASSERT_TRUE(program.wait_for("New IP Address ([ESC] to quit): >127.0.0.1", 2)) << program.shown();
  program.type("\033");
  ASSERT_TRUE(program.wait_for("Command >", 3)) << program.shown();
  program.type("x");
  EXPECT_EQ(program.wait_exit(), 0) << program.shown();

  std::string erased;
  for (std::size_t i = 0; i < p.size(); ++i) erased += "\b \b";
  std::string shown = mask_stamps(program.shown());
  std::string dialog = "M\nConfigure DMM IP Address and Port. The current settings are:\n\nIP address or hostname: "
                       "127.0.0.1\nService Port: " + p + "\n\nNew IP Address ([ESC] to quit): >127.0.0.1\n"
                       "New Service Port ([ESC] to quit): >" + p + erased + q + "\n\n\nProposed new values:\n\n"
                       "IP Address or Hostname: 127.0.0.1\nService Port: " + q + "\n\nAre these correct?y\n\n"
                       "Connecting to DMM on IP 127.0.0.1, Port " + q + "...OK!\nChecking DMM read data......OK!\n\n"
                       "====";
  EXPECT_NE(shown.find(dialog), std::string::npos) << shown;
  EXPECT_NE(shown.find("( <stamp> )\nMaker DMM-1 (S/N SN42 ) at 127.0.0.1:" + q + "\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("New IP Address ([ESC] to quit): >127.0.0.1====="), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("Command >X\n" + EXITING)) << shown;
  EXPECT_EQ(other.dmm_connections(), 1);
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), expected_settings(other.dmm_port()));
}

// Keys typed before a question is shown never answer it on a terminal: those typed during start-up
// do not reach the menu, and those typed at the menu do not answer the confirmation that follows. The
// terminal then goes away, which ends the run with its settings saved. From a pipe, the same keys are a
// script and are obeyed.
TEST_F(TrimoraBinaryTest, KeysTypedAheadOnATerminalAreDiscardedButAPipeIsObeyed) {
  start_bench();
  expect_loopback_settings();
  struct Case {
    const char* early;     // typed at once, while the program starts
    const char* at_menu;   // typed in one go at the first menu
    const char* question;  // the confirmation they run into
  };
  for (const Case& c : {Case{"m", "d\r\ry", "Are these correct?"}, Case{"", "v1\r", "THEN PRESS ENTER:"}}) {
    SCOPED_TRACE(c.at_menu);
    PtyProgram program;
    ASSERT_TRUE(program.start(TRIMORA_BINARY));
    program.type(c.early);
    ASSERT_TRUE(program.wait_for("Command >")) << program.shown();
    program.type(c.at_menu);
    ASSERT_TRUE(program.wait_for(c.question)) << program.shown();
    usleep(300000);  // a program that took the stale key has acted on it by now
    program.hang_up();
    EXPECT_EQ(program.wait_exit(), 0);
    const std::string shown = program.shown();
    EXPECT_EQ(shown.find("Configure DMM"), std::string::npos) << shown;
    EXPECT_TRUE(shown.ends_with(c.question)) << shown;  // still waiting for its answer
    EXPECT_EQ(shown.find("Connecting to DP832", shown.find("Command >")), std::string::npos) << shown;
  }
  for (const SimReceived& r : bench->psu_received()) EXPECT_EQ(r.line.find("CAL"), std::string::npos) << r.line;
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), expected_settings(bench->dmm_port()));

  ASSERT_EQ(run_shell("printf 'm\\033d\\r\\ry' | '" + std::string(TRIMORA_BINARY) + "' > out.txt 2> err.txt"), 0);
  const std::string piped = read_file("out.txt");
  EXPECT_NE(piped.find("Command >M\nConfigure DMM"), std::string::npos) << piped;
  EXPECT_NE(piped.find("Are these correct?y\n\nConnecting to DP832"), std::string::npos) << piped;
}

// The terminal closing ends the run as X does, with the settings saved: while the menu waits, and while
// the program is still connecting (a DP832 that takes its full identification window), where it must not
// be killed before it can save.
TEST_F(TrimoraBinaryTest, TerminalGoneEndsTheRunAndSavesTheSettings) {
  for (bool during_start_up : {false, true}) {
    SCOPED_TRACE(during_start_up ? "during start-up" : "at the menu");
    options.psu_faults.silent_to_idn = during_start_up;
    bench.reset();
    start_bench();
    expect_loopback_settings();
    PtyProgram program;
    ASSERT_TRUE(program.start(TRIMORA_BINARY));
    ASSERT_TRUE(program.wait_for(during_start_up ? "Connecting to DP832" : "Command >")) << program.shown();
    if (!during_start_up) {
      ASSERT_TRUE(program.wait_raw_mode());
    }
    program.hang_up();
    EXPECT_EQ(program.wait_exit(), 0);
    EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), expected_settings(bench->dmm_port()));
  }
}

TEST_F(TrimoraBinaryTest, PipedInputWorksAndItsEndEndsTheRun) {
  start_bench();
  expect_loopback_settings();
  const std::string binary = TRIMORA_BINARY;

  // printf 'x' | trimora
  ASSERT_EQ(run_shell("printf 'x' | '" + binary + "' > out.txt 2> err.txt"), 0);
  std::string shown = mask_stamps(read_file("out.txt"));
  EXPECT_EQ(shown.rfind("Trimora\nCurrent Time and Date: <stamp>\nLast run: NONE\n", 0), 0u) << shown;
  EXPECT_NE(shown.find("Instruments Detected: ( <stamp> )\nMaker DMM-1 (S/N SN42 ) at 127.0.0.1:"), std::string::npos);
  EXPECT_TRUE(shown.ends_with("Command >X\n" + EXITING)) << shown;
  EXPECT_EQ(read_file("err.txt"), "");
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), expected_settings(bench->dmm_port()));

  // An unknown command, a line end read as Enter, then the input ends without X.
  ASSERT_EQ(run_shell("printf 'q\\n' | '" + binary + "' > out.txt 2> err.txt"), 0);
  shown = read_file("out.txt");
  EXPECT_NE(shown.find("Command >Q\n\n\a?Unknown command.\n\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Command >\r\n\n\a?Unknown command.\n\n"), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("Command >" + EXITING)) << shown;
  EXPECT_EQ(read_file("err.txt"), "trimora: console input closed; exiting as with X.\n");
  EXPECT_NE(mask_stamps(read_file(SETTINGS_FILE_NAME)).find("Last_Run_Time    \"<stamp>\"\n"), std::string::npos);
}

}  // namespace
