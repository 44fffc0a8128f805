// Safe stops and honest results: Ctrl+C, Ctrl+Z, SIGTERM, SIGQUIT and SIGHUP during a procedure (the
// real binary on a pseudo-terminal against the simulated bench) leave every output off and no
// calibration open; a supply that refuses commands, an output switched off by another client and a DMM
// in millivolts are warned about, and no implausible value reaches the supply; the error queue is read
// within bounds.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/console_observer.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "link/primitives.h"
#include "records/record_codec.h"
#include "tests/fake_transport.h"
#include "tests/program_fixture.h"
#include "tests/pty_program.h"

namespace {

using ::testing::HasSubstr;

// A stop of V or A on CH1 well under way, or at the menu (M): SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGINT
// twice (0: the second once the clean-up has begun), Ctrl+Z typed (SIGTSTP), or Ctrl+C as the byte
// itself with the terminal's signals off (-1). At the menu, Ctrl+C ends the program as X does and
// Ctrl+Z leaves it at the menu. (The program's process group here has no shell that could continue
// it, so the system never carries out the stop itself: what is seen is the clean stop before it.)
using StopCase = std::tuple<char, int>;

// The records the run left in the working folder.
std::vector<Result<Record>> records_written() {
  std::vector<Result<Record>> records;
  std::error_code missing;  // no folder: no record
  for (const auto& file : std::filesystem::directory_iterator("records", missing))
    if (file.path().extension() == ".json") records.push_back(read_record(file.path().string()));
  return records;
}

class StopTest : public ProgramTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTest, OutputsOffNoCalibrationOpenSettingsSaved) {
  const auto [what, stop] = GetParam();
  const int signal_number = stop <= 0 ? SIGINT : stop;
  const bool to_menu = stop == SIGTSTP || (what != 'M' && signal_number == SIGINT);
  start_bench();
  PtyProgram program;
  ASSERT_TRUE(program.start(TRIMORA_BINARY));
  ASSERT_TRUE(program.wait_for("Command >")) << program.shown();
  ASSERT_TRUE(program.wait_raw_mode());
  if (what != 'M') {
    // Enter goes in only once its question is shown: keys typed ahead of a question never answer it.
    program.type(what == 'V' ? "V1" : "A1");
    if (what == 'V') {
      ASSERT_TRUE(program.wait_for("THEN PRESS ENTER:")) << program.shown();
      program.type("\r");
    }
    ASSERT_TRUE(program.wait_for(what == 'V' ? "[ 3] CAL:MEAS" : "Setpoint  2.0000 V")) << program.shown();
    ASSERT_TRUE(bench->output_on(1));
  }
  const auto signalled = std::chrono::steady_clock::now();
  if (stop < 0) {
    ASSERT_TRUE(program.set_signals(false));
    program.type("\003");
  } else if (stop == SIGTSTP) {
    program.type("\032");
  } else {
    program.signal(signal_number);
  }
  if (stop == 0) {
    ASSERT_TRUE(program.wait_for("CH1 output OFF...")) << program.shown();
    program.signal(SIGINT);
  }
  if (to_menu && what != 'M') {
    ASSERT_TRUE(program.wait_for("ABORTED BY THE OPERATOR (Ctrl+C).\n")) << program.shown();
    ASSERT_TRUE(program.wait_for("Command >", 2)) << program.shown();
    EXPECT_FALSE(bench->output_on(1));
    EXPECT_FALSE(bench->in_calibration());
  }
  if (to_menu) program.type("x");
  EXPECT_EQ(program.wait_exit(), 0) << program.shown();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(to_menu ? 15 : 5));
  for (int channel = 1; channel <= 3; ++channel) EXPECT_FALSE(bench->output_on(channel)) << channel;
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_THAT(program.shown(), HasSubstr(what != 'M' ? "Exiting..."
                                        : to_menu     ? "Command >X\n\n\nExiting...\n\n"
                                                      : "Command >\n\nExiting...\n\n"));
  EXPECT_THAT(mask_stamps(read_file(SETTINGS_FILE_NAME)), HasSubstr("Last_Run_Time    \"<stamp>\""));
  // The procedure that was cut short says so, with a bell; the output went off after the last point was
  // set, and the record says the run is incomplete.
  if (what != 'M') {
    const std::vector<std::string> lines = psu_lines();
    const auto last_set = std::find_if(lines.rbegin(), lines.rend(), [](const std::string& line) {
      return line.starts_with(":APPL") || line.starts_with("CAL:SET");
    });
    EXPECT_NE(std::find(last_set.base(), lines.end(), "OUTPUT CH1,OFF"), lines.end());
    const std::vector<Result<Record>> records = records_written();
    ASSERT_EQ(records.size(), 1u);
    ASSERT_TRUE(records[0]) << records[0].reason();
    EXPECT_FALSE(records[0]->completed);
    EXPECT_THAT(program.shown(), HasSubstr(what == 'V' ? "\aWARNING: THE CALIBRATION WAS ABORTED"
                                                       : "\a\nASSESSMENT ABORTED.\nCH1 output OFF...\n"));
  }
}

std::string stop_name(const ::testing::TestParamInfo<StopCase>& info) {
  const auto [what, stop] = info.param;
  std::string how = stop < 0            ? "byte"
                    : stop == SIGTERM   ? "SIGTERM"
                    : stop == SIGHUP    ? "SIGHUP"
                    : stop == SIGQUIT   ? "SIGQUIT"
                    : stop == SIGTSTP   ? "CtrlZ"
                                        : "SIGINT";
  return std::string(1, what) + "_" + how + (stop == 0 ? "_twice" : "");
}

INSTANTIATE_TEST_SUITE_P(VAndAOnCh1, StopTest,
                         ::testing::Combine(::testing::Values('V', 'A'),
                                            ::testing::Values(SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGTSTP, 0)),
                         stop_name);
INSTANTIATE_TEST_SUITE_P(AtTheMenu, StopTest, ::testing::Combine(::testing::Values('M'), ::testing::Values(SIGINT, SIGTSTP, -1)),
                         stop_name);

// `trimora run assess 3` on a terminal, stopped by a single key (no Enter), Ctrl+Z or Ctrl+\ typed
// during the assessment: the output off, the exit code of a stopped run, the terminal as it was.
class RunStopTest : public ProgramTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RunStopTest, OutputOffExitCodeFourTerminalBack) {
  start_bench();
  PtyProgram program;
  ASSERT_TRUE(program.start(TRIMORA_BINARY, {"run", "assess", "3"}));
  ASSERT_TRUE(program.wait_for("Setpoint  2.0000 V")) << program.shown();
  ASSERT_TRUE(bench->output_on(3));
  program.type(GetParam());
  EXPECT_EQ(program.wait_exit(), 4) << program.shown();
  EXPECT_FALSE(bench->output_on(3));
  termios after;
  ASSERT_TRUE(program.settings(&after));
  EXPECT_TRUE(after.c_lflag & ICANON);
  EXPECT_TRUE(after.c_lflag & ECHO);
}

INSTANTIATE_TEST_SUITE_P(Typed, RunStopTest, ::testing::Values("q", "\032", "\034"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.index == 0   ? "Key"
                                              : info.index == 1 ? "CtrlZ"
                                                                : "CtrlBackslash");
                         });

// ---- Supplies and DMMs that would have the program report wrong values.

// Sends text to the simulated DP832 over a connection of its own, as a second client would.
void second_client_sends(int port, const std::string& text) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  usleep(50000);
  close(fd);
}

struct FaultCase {
  const char* name;
  std::function<void(SimOptions&)> configure;
  // Starts while the calibration runs (null: nothing); gets the bench.
  std::function<void(SimBench&)> meanwhile;
  std::vector<std::string> warnings;
};

class ImplausibleTest : public ProgramTest, public ::testing::WithParamInterface<FaultCase> {};

// Every CAL:MEAS that reached the supply lies within its point's bound.
void expect_only_plausible_reports(const std::vector<std::string>& lines) {
  double set = NAN;  // the point last set
  for (const std::string& line : lines) {
    char q = 0;
    int n = 0, field = 0;
    double value = 0.0;
    if (std::sscanf(line.c_str(), "CAL:SET CH3,%c,%d,%lf,%d", &q, &n, &value, &field) == 4) set = value;
    if (std::sscanf(line.c_str(), "CAL:MEAS CH3,%c,%d,%lf,%d", &q, &n, &value, &field) == 4) {
      EXPECT_TRUE(reading_plausible(q == 'V' ? VOLTAGE_BOUND : CURRENT_BOUND, set, value)) << line;
    }
  }
}

TEST_P(ImplausibleTest, WarnedAndNeverReported) {
  const FaultCase& c = GetParam();
  c.configure(options);
  connect_both_served();  // a second client and a helper thread: over loopback
  std::atomic<bool> done{false};
  std::thread helper;
  if (c.meanwhile) helper = std::thread([&] {
      while (!done && bench->psu_received().size() < 14) usleep(10000);
      if (!done) c.meanwhile(*bench);
    });
  ConsoleObserver shown(console);
  factory_voltage_calibration(*instruments, CH3, shown);
  done = true;
  if (helper.joinable()) helper.join();
  for (const std::string& warning : c.warnings) EXPECT_THAT(out, HasSubstr(warning));
  EXPECT_THAT(out, ::testing::Not(HasSubstr("DMM NOT READING")));  // the supply is named, not the DMM
  expect_only_plausible_reports(psu_lines());
  EXPECT_FALSE(bench->output_on(3));
  EXPECT_FALSE(bench->in_calibration());
}

const std::vector<std::string> FAR = {"IS FAR FROM THE SET VALUE"};

INSTANTIATE_TEST_SUITE_P(
    Faults, ImplausibleTest,
    ::testing::Values(
        FaultCase{"RefusesCal", [](SimOptions& o) { o.psu_faults.refuse_calibration = true; }, nullptr,
                  {"THE DP832 DID NOT ACCEPT THE CALIBRATION OF CH3: REPEAT THE CALIBRATION.\n\n"}},
        FaultCase{"RefusesEverything", [](SimOptions& o) { o.psu_faults.refuse_all = true; }, nullptr,
                  {"ERROR: THE DP832 REPORTED: -203", "THE DP832 REFUSED THE COMMANDS THAT SWITCH CH3 ON"}},
        FaultCase{"SwitchedOffByAnother", [](SimOptions&) {},
                  [](SimBench& b) { second_client_sends(b.psu_port(), "OUTP CH3,OFF\n"); }, FAR},
        FaultCase{"DmmInMillivolts", [](SimOptions&) {},
                  [](SimBench& b) {
                    b.script_readings(std::vector<double>(30, 1000.0 * b.true_output_voltage(3, 3.0)));
                  },
                  FAR}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// ---- The error queue, read within bounds.

struct QueueCase {
  const char* name;
  std::vector<std::string> answers;  // in order; the last repeats; "" answers nothing
  std::vector<std::string> errors;
  bool answered = true;  // false: no answer at all, so the queue is unknown
};

class ErrorQueueTest : public ::testing::TestWithParam<QueueCase> {};

TEST_P(ErrorQueueTest, ReadUntilEmptyWithinBounds) {
  const QueueCase& c = GetParam();
  auto fake = std::make_unique<FakeTransport>();
  auto next = std::make_shared<std::size_t>(0);
  fake->respond('\n', [c, next](FakeTransport& link, const std::string& line) {
    if (line != "SYST:ERR?\r\n") return;
    const std::string& answer = c.answers[std::min(*next, c.answers.size() - 1)];
    ++*next;
    if (!answer.empty()) link.arrive_after(1, answer + "\n");
  });
  const FakeTransport& link = *fake;
  Psu psu;
  psu.attach(std::move(fake));
  const Result<std::vector<std::string>> errors = psu.read_errors();
  EXPECT_EQ(errors.ok(), c.answered);
  if (errors) {
    EXPECT_EQ(*errors, c.errors);
  }
  EXPECT_LE(link.clock_ms, SUPPLY_ERRORS_TIME_MS + SUPPLY_ERROR_ANSWER_MS);
}

const std::string E203 = "-203,\"Command protected\"";

INSTANTIATE_TEST_SUITE_P(
    Answers, ErrorQueueTest,
    ::testing::Values(QueueCase{"Empty", {"0,\"No error\""}, {}},
                      QueueCase{"TwoThenEmpty", {E203, "-230,\"Data stale\"", "0,\"No error\""},
                                {E203, "-230,\"Data stale\""}},
                      QueueCase{"EndlessIsCut", {E203}, std::vector<std::string>(SUPPLY_ERRORS_MAX, E203)},
                      QueueCase{"Silent", {""}, {}, false},
                      QueueCase{"NotAnErrorNumber", {"STREAM,1"}, {}}),
    [](const ::testing::TestParamInfo<QueueCase>& info) { return std::string(info.param.name); });

}  // namespace
