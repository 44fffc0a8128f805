// The DMM checked before it is trusted, on the simulated bench in memory: the function it takes (with
// the portable form after a refusal), each way its readings fail named on the console and in the
// record, and the reading window that DMM_Timeout_ms sets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "calibration/factory_calibration.h"
#include "calibration/run_recording.h"
#include "calibration/voltage_assessment.h"
#include "tests/program_fixture.h"

using ::testing::HasSubstr;

namespace {

// Sets the DMM's faults once the path check has passed: every point's reading meets them.
struct FaultsAfterPathCheck final : ProcedureObserver {
  FaultsAfterPathCheck(SimBench& bench, const SimDmmFaults& faults) : bench(bench), faults(faults) {}
  void step_begun(StepKind, int, const char*, Quantity, bool) override { bench.set_dmm_faults(faults); }
  SimBench& bench;
  SimDmmFaults faults;
};

struct DmmCase {
  const char* name;
  SimDmmFaults faults;  // refusals from the start, other faults once the path check has passed
  const char* fault;   // the DMM FAULT line's words and part of the record's reason; empty: none
  bool starts;         // CAL:START is sent
};

class DmmCheckTest : public ProgramTest, public ::testing::WithParamInterface<DmmCase> {};

}  // namespace

// C on CH3: a DMM that refuses the function with AUTO but takes it plain calibrates; one that refuses
// both leaves the supply untouched; every reading failure has its own line after the fixed one and its
// own words in the record.
TEST_P(DmmCheckTest, CurrentCalibrationOfCh3) {
  const DmmCase& c = GetParam();
  options.state_file = "psu.cal";
  connect_both();
  const std::string cal_before = read_file("psu.cal");
  const double error_before = bench->current_error(3, 1.0);
  if (!c.faults.refuse_commands.empty()) bench->set_dmm_faults(c.faults);
  ConsoleObserver shown(console);
  RunRecorder recorder(Procedure::current_calibration, CH3);
  FaultsAfterPathCheck hook(*bench, c.faults);
  ObserverPair record_and_hook(recorder, hook);
  ObserverPair all(shown, record_and_hook);

  const CalibrationOutcome outcome = factory_current_calibration(*instruments, CH3, all);

  const std::vector<std::string> sent = psu_lines();
  const bool started =
      std::any_of(sent.begin(), sent.end(), [](const std::string& line) { return line.starts_with("CAL:START"); });
  EXPECT_EQ(started, c.starts);
  EXPECT_EQ(outcome.completed, std::string(c.fault).empty()) << out;
  if (std::string(c.fault).empty()) {
    EXPECT_EQ(recorder.run().incomplete_reason, "");
    EXPECT_THAT(dmm_lines(), ::testing::Contains("CONF:CURR:DC"));
    EXPECT_NE(read_file("psu.cal"), cal_before);  // the calibration memory is where a change shows
    return;
  }
  EXPECT_THAT(out, HasSubstr((c.starts ? "\aWARNING: DMM communication error."
                                       : "\aERROR: THE DMM'S FUNCTION COULD NOT BE SET. NOTHING WAS SENT TO THE SUPPLY.") +
                             std::string("\nDMM FAULT: ") + c.fault + ".\n"));
  EXPECT_THAT(recorder.run().incomplete_reason, HasSubstr(c.fault));
  if (c.starts) return;
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(read_file("psu.cal"), cal_before);
  EXPECT_EQ(bench->current_error(3, 1.0), error_before);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DmmCheckTest,
    ::testing::Values(
        DmmCase{"RefusesAutoTakesPlain", {.refuse_commands = {"CONF:CURR:DC AUTO"}}, "", true},
        DmmCase{"RefusesBoth", {.refuse_commands = {"CONF:CURR:DC AUTO", "CONF:CURR:DC"}},
                "the DMM refused CONF:CURR:DC: -224,\"Illegal parameter value\"", false},
        DmmCase{"Overload", {.overload = true}, "the DMM reports an overload (+9.9E37)", true},
        DmmCase{"TooLate", {.answer_delay_ms = 3600}, "the DMM's answer came too late (window 3000 ms)", true},
        DmmCase{"NoAnswer", {.silent_from_reading = 1}, "the DMM gave no answer", true},
        DmmCase{"Lost", {.drop_at_reading = 1}, "the connection to the DMM was lost", true},
        DmmCase{"Garbage", {.garbage_from_reading = 1}, "the DMM's answer holds no number: \"ERR:NO_DATA\"", true}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

struct WindowCase {
  const char* line;  // added to the settings file
  int window_ms;     // the reading window taken
  bool warned;
};

class DmmWindowTest : public ProgramTest, public ::testing::WithParamInterface<WindowCase> {};

}  // namespace

// DMM_Timeout_ms sets the reading window within 500 to 60000 ms; any other value is refused with a
// warning and the default taken. A DMM that answers in 3.5 s gets through the whole assessment of CH3
// with a 5 s window, and not with the default one.
TEST_P(DmmWindowTest, SettingSetsTheReadingWindow) {
  const WindowCase& c = GetParam();
  write_file(SETTINGS_FILE_NAME, std::string("DMM_IP    127.0.0.1\nDP832_IP    127.0.0.1\n") + c.line);
  settings.load(console);
  EXPECT_EQ(settings.dmm_timeout_ms, c.window_ms);
  EXPECT_EQ(out.find("WARNING: DMM_Timeout_ms") != std::string::npos, c.warned) << out;
  if (c.warned || (c.window_ms != 5000 && c.window_ms != 3000)) return;

  instruments = open_bench(env, settings, false);
  connect_both();
  bench->set_dmm_faults({.answer_delay_ms = 3500});
  RunRecorder recorder(Procedure::assessment, CH3);
  const SweepResult sweep = assess_voltage_accuracy(*instruments, CH3, recorder);
  EXPECT_EQ(sweep.completed, c.window_ms == 5000) << recorder.run().incomplete_reason;
}

INSTANTIATE_TEST_SUITE_P(Values, DmmWindowTest,
                         ::testing::Values(WindowCase{"DMM_Timeout_ms    5000\n", 5000, false}, WindowCase{"", 3000, false},
                                           WindowCase{"DMM_Timeout_ms 500\n", 500, false},
                                           WindowCase{"DMM_Timeout_ms 60000\n", 60000, false},
                                           WindowCase{"DMM_Timeout_ms 499\n", 3000, true},
                                           WindowCase{"DMM_Timeout_ms 60001\n", 3000, true},
                                           WindowCase{"DMM_Timeout_ms slow\n", 3000, true}));
