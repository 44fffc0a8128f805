// DMM faults (silent, dropped, garbage, slow, echo-less) during the whole program's run: the factory
// calibrations (V, C), the assessment (A), the full calibration (F) and the menu's check. Each run checks
// what the operator saw, that every CAL:MEAS carries the DMM's own answer for that point (never a made-up,
// failed or late value), where the run ended, that the menu still worked, and the run's time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "calibration/point_tables.h"
#include "tests/fault_fixture.h"

namespace {

// Each READ? has its own value: number k (counted from the first command key) answers value(k); numbers 1
// and 2 are the menu's check and the path check, then the points in order.
struct Procedure {
  const char* keys;           // the menu keys that start it on CH3
  char unit;                  // V or C in the calibration commands
  std::vector<double> dac;    // the points of the first phase (last field 1), then of the second
  std::vector<double> meter;
  double check_value;         // passes the menu's check and the path check

  int points() const { return static_cast<int>(dac.size() + meter.size()); }
  // A point's reading is its set value + 0.001 * k, near enough to be plausible.
  double value(int k) const {
    if (k <= 2) return check_value;
    const std::size_t i = static_cast<std::size_t>(k - 3);
    return (i < dac.size() ? dac[i] : meter.at(i - dac.size())) + 0.001 * k;
  }
  std::vector<double> script() const {
    std::vector<double> values;
    for (int k = 1; k <= points() + 2; ++k) values.push_back(value(k));
    return values;
  }
};

const Procedure VOLTAGE_CH3 = {"V3\r", 'V', {std::begin(VDAC_POINTS_3), std::end(VDAC_POINTS_3)},
                               {std::begin(VMETER_POINTS_3), std::end(VMETER_POINTS_3)}, 5.0};
const Procedure CURRENT_CH3 = {"C3\r", 'C', {std::begin(IDAC_POINTS_3), std::end(IDAC_POINTS_3)},
                               {std::begin(IMETER_POINTS_3), std::end(IMETER_POINTS_3)}, 2.0};

int read_number(const Procedure& proc, int flag, int index) {
  return 3 + (flag == 1 ? index : static_cast<int>(proc.dac.size()) + index);
}

// Sweep set points of the CH3 assessment, and readings with a small error that grows with k.
double sweep_point(int i) { return 0.25 * i; }
std::vector<double> sweep_script() {
  std::vector<double> values = {5.0, 5.0};
  for (int i = 0; i < 22; ++i) values.push_back(sweep_point(i) + 0.001 * (i + 3));
  return values;
}

class DmmFaultTest : public FaultTest {
 protected:
  // Shorter than the usual test scale: the runs are long, and every wait keeps a floor of 10 ms.
  DmmFaultTest() { scale = 0.05; }
  void SetUp() override {
    FaultTest::SetUp();
    start_bench();
    }

  // Sets the faults when the first command key is read, and scripts the readings from there.
  void at_first_key(const SimDmmFaults& faults, const std::vector<double>& script) {
    before_key[0] = [this, faults, script]() {
      if (faults.no_echo) bench->set_measurement_time_ms(0);
      bench->set_dmm_faults(faults);
      bench->script_readings(script);
    };
  }
  // The same once `reads_before` readings are answered; without its echo the DMM answers at once.
  void after_readings(int reads_before, const SimDmmFaults& faults, const std::vector<double>& script) {
    before_key[0] = [this, reads_before, faults, script]() {
      bench->script_readings(script);
      faults_after_reading(reads_before, faults, faults.no_echo ? 0 : -1);
    };
  }
  void clear_faults_at_key(int index) {
    before_key[index] = [this]() { bench->set_dmm_faults(SimDmmFaults()); };
  }

  // A factory calibration run of CH3 under a fault; every reading from READ? number first_failing on must
  // fail (0: any may). Checks every CAL:MEAS against its own READ?, the warnings, the end and the summary.
  void check_calibration(const Procedure& proc, int first_failing, std::vector<int>* measured_points = nullptr) {
    const std::vector<std::string> lines = psu_lines();
    int sets = 0;
    int measured = 0;
    bool started = false;
    for (const std::string& line : lines) {
      started = started || line == "CAL:START 27384,CH3";
      if (line.rfind("CAL:SET CH3,", 0) == 0) ++sets;
      if (line.rfind("CAL:MEAS CH3,", 0) != 0) continue;
      ++measured;
      char unit = 0, value[64] = "";
      int index = -1, flag = -1;
      if (std::sscanf(line.c_str(), "CAL:MEAS CH3,%c,%d,%63[^,],%d", &unit, &index, value, &flag) != 4) {
        ADD_FAILURE() << "malformed: " << line;
        continue;
      }
      EXPECT_EQ(unit, proc.unit) << line;
      const int k = read_number(proc, flag, index);
      if (measured_points != nullptr) measured_points->push_back(k - 3);
      EXPECT_EQ(value, lf(proc.value(k))) << "point " << index << " got another reading's value: " << line;
      if (first_failing > 0) {
        EXPECT_LT(k, first_failing) << "a failed reading was reported: " << line;
      }
    }
    EXPECT_TRUE(started);
    EXPECT_EQ(sets, proc.points()) << "every point is visited";
    const int missed = proc.points() - measured;
    EXPECT_EQ(occurrences(out, DMM_COMM_WARNING), missed);
    if (first_failing > 0) {
      EXPECT_GE(missed, proc.points() + 3 - first_failing);
      EXPECT_GE(measured, 1) << "the points before the fault are measured";
    }
    // The run ends as always: output off, calibration closed, the error queue read.
    EXPECT_GE(lines.size(), 4u);
    if (lines.size() >= 4) {
      EXPECT_EQ(lines[lines.size() - 4], "OUTPUT CH3,OFF");
      EXPECT_EQ(lines[lines.size() - 3], "*OPC?");
      const std::string& end = lines[lines.size() - 2];
      EXPECT_EQ(end.rfind("CAL:END ", 0), 0u);
      EXPECT_EQ(end.substr(end.size() - 4), ",CH3");
      EXPECT_EQ(lines.back(), "SYST:ERR?");
    }
    if (missed > 0) {
      char summary[128];
      std::snprintf(summary, sizeof summary, "\aWARNING: %d OF %d POINTS HAD NO DMM MEASUREMENT", missed,
                    proc.points());
      EXPECT_NE(out.find(summary), std::string::npos);
    }
  }

  void expect_within_timeouts(int steps) { EXPECT_LT(elapsed_ms, bound_ms(steps)); }
};

// The factory calibrations of voltage and current on CH3, each under the same faults.
class DmmCalibrationFault : public DmmFaultTest, public ::testing::WithParamInterface<const Procedure*> {};

// A fault that ends what it meets; when the DMM dropped the link, M reconnects it.
struct FaultCase {
  const char* name;
  SimDmmFaults faults;
  bool reconnect = false;
};
// The three such faults from READ? number k on.
std::vector<FaultCase> ending_faults(int k) {
  return {{"silent", {.silent_from_reading = k}}, {"drop", {.drop_at_reading = k}, true},
          {"garbage", {.garbage_from_reading = k}}};
}
// A fault in the assessment from sweep index `from` on: counted by the DMM itself from the first key
// (by_count), else switched on once the readings before that point are answered.
struct AssessCase {
  const char* name;
  SimDmmFaults faults;
  bool reconnect;
  int from;
  bool by_count;
  bool completes;
};
// A fault in the full calibration's steps, from the first key on when it counts readings itself, else
// after reading 2; with the readings scripted.
struct StepCase {
  const char* name;
  SimDmmFaults faults;
  bool by_count;
  std::vector<double> script;
};
template <class Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}
template <class Case>
class DmmFault : public DmmFaultTest, public ::testing::WithParamInterface<Case> {};
class DmmAssessmentFault : public DmmFault<AssessCase> {};
class DmmFullCalibrationFault : public DmmFault<FaultCase> {};
class DmmFullCalibrationStepFault : public DmmFault<StepCase> {};
class DmmCheckFault : public DmmFault<FaultCase> {};

}  // namespace

// --- Factory calibrations (V and C on CH3): the run goes on, failed points are warned and not reported

INSTANTIATE_TEST_SUITE_P(VoltageAndCurrent, DmmCalibrationFault, ::testing::Values(&VOLTAGE_CH3, &CURRENT_CH3),
                         [](const ::testing::TestParamInfo<const Procedure*>& info) {
                           return std::string(info.param->unit == 'V' ? "Voltage" : "Current");
                         });

TEST_P(DmmCalibrationFault, SilentFromPointK) {
  const Procedure* proc = GetParam();
  // Silent from the second-last point on; cleared again before the next command.
  const int first_failing = proc->points() + 1;
  const SimDmmFaults silent{.silent_from_reading = first_failing};
  at_first_key(silent, proc->script());
  clear_faults_at_key(3);
  int code = run(std::string(proc->keys) + "ZX");
  check_calibration(*proc, first_failing);
  expect_last_check_passed(code);
  expect_within_timeouts(proc->points() + 3);
}

// Garbage from point k1, then the connection dropped at point k2: every point from k1 on goes without
// a measurement; afterwards the check finds the DMM gone and M reconnects it.
TEST_P(DmmCalibrationFault, GarbageThenDroppedConnectionMidRunThenMReconnects) {
  const Procedure* proc = GetParam();
  const SimDmmFaults faults{.garbage_from_reading = 3 + proc->points() / 3, .drop_at_reading = 3 + proc->points() / 2};
  at_first_key(faults, proc->script());
  clear_faults_at_key(3);
  int code = run(std::string(proc->keys) + "ZM\r\rYZX");
  check_calibration(*proc, faults.garbage_from_reading);
  EXPECT_NE(after("output OFF...").find("Z\n" + DMM_LOST), std::string::npos);
  EXPECT_NE(after("Configure DMM IP Address").find("Checking DMM read data......OK!"), std::string::npos);
  EXPECT_EQ(bench->dmm_connections(), 2);
  expect_last_check_passed(code);
  expect_within_timeouts(proc->points() + 6);
}

// Near the end the DMM turns slow but timely (read), then echo-less (its quick answer is taken for the
// discarded first line: no reading), then too slow (no reading, and its late answer never stands in for a
// later point's). Answers up to about 510 + 2500 ms after READ? are read: 1500 is well inside, 4500 well
// outside and arrives while the next point waits (the edges themselves: at the menu, below).
TEST_P(DmmCalibrationFault, SlowEchoLessAndLateAnswers) {
  const Procedure* proc = GetParam();
  const int p = proc->points();
  const SimDmmFaults slow{.answer_delay_ms = 1500};
  const SimDmmFaults no_echo{.no_echo = true};
  const SimDmmFaults too_slow{.answer_delay_ms = 4500};
  // READ? number k belongs to point k - 3: slow from point p - 6, echo-less from p - 4, too slow from p - 2.
  before_key[0] = [this, proc, p, slow, no_echo, too_slow]() {
    bench->script_readings(proc->script());
    fault_schedule({{p - 4, slow}, {p - 2, no_echo, 0}, {p, too_slow, 50}});
  };
  clear_faults_at_key(3);
  int code = run(std::string(proc->keys) + "ZZZX");
  std::vector<int> measured;
  check_calibration(*proc, 0, &measured);
  for (int point : {p - 6, p - 5})
    EXPECT_NE(std::find(measured.begin(), measured.end(), point), measured.end()) << "slow point " << point;
  for (int point : {p - 2, p - 1})
    EXPECT_EQ(std::find(measured.begin(), measured.end(), point), measured.end()) << "too slow point " << point;
  EXPECT_EQ(code, 0);
  EXPECT_NE(after("CAL:END").find("Command >Z\n" + UNKNOWN_COMMAND + "="), std::string::npos)
      << "the DMM answers again at the menu once it is well again";
  expect_within_timeouts(p + 5);
}


// --- Assessment (A on CH3): the first failed reading ends it, with the output switched off at that point;
// every error line shown is its own point's reading.

std::vector<AssessCase> assess_cases() {
  std::vector<AssessCase> cases;
  for (const FaultCase& f : ending_faults(3 + 2)) cases.push_back({f.name, f.faults, f.reconnect, 2, true, false});
  cases.push_back({"slow", {.answer_delay_ms = 1500}, false, 19, false, true});
  cases.push_back({"too slow", {.answer_delay_ms = 3600}, false, 2, false, false});
  cases.push_back({"no echo", {.no_echo = true}, false, 2, false, false});
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Faults, DmmAssessmentFault, ::testing::ValuesIn(assess_cases()), case_name<AssessCase>);

TEST_P(DmmAssessmentFault, EndsAtItsPointAndEveryErrorLineIsItsOwnPointsReading) {
  const AssessCase& c = GetParam();
  if (c.by_count)
    at_first_key(c.faults, sweep_script());
  else
    after_readings(2 + c.from, c.faults, sweep_script());
  clear_faults_at_key(2);
  int code = run(std::string("A3Z") + (c.reconnect ? "M\r\rY" : "") + "ZX");
  // The error of each point's own reading: 1 mV per read number.
  int own_lines = 0;
  for (int i = 0; i < 22; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "Correction: Setpoint %7.4lf V, Error: %7.3lf mV\n", sweep_point(i),
                  (0.001 * (i + 3)) * 1000.0);
    const bool shown = out.find(line) != std::string::npos;
    own_lines += shown ? 1 : 0;
    if (i < c.from) {
      EXPECT_TRUE(shown) << line;
    }
  }
  EXPECT_EQ(occurrences(out, "Correction: Setpoint"), own_lines) << "no line shows another point's reading";
  if (c.completes) {
    EXPECT_NE(out.find("CH3 output OFF..."), std::string::npos);
    EXPECT_NE(out.find(" SS Error:"), std::string::npos);
  } else {
    EXPECT_EQ(own_lines, c.from);
    const std::vector<std::string> lines = psu_lines();
    std::vector<std::string> applied;
    std::size_t after_last = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind(":APPL CH3,", 0) == 0 && lines[i] != ":APPL CH3,5,2") {
        applied.push_back(lines[i]);
        after_last = i + 1;
      }
    ASSERT_EQ(applied.size(), static_cast<std::size_t>(c.from + 1));
    EXPECT_EQ(applied.back(), ":APPL CH3,0.5000,2");
    ASSERT_LT(after_last, lines.size());
    EXPECT_EQ(lines[after_last], "*OPC?");
    ASSERT_LT(after_last + 1, lines.size());
    EXPECT_EQ(lines[after_last + 1], "OUTPUT CH3,OFF") << "the sweep switches the output off at the failed point";
    EXPECT_NE(out.find("\aERROR: FAILED TO READ FROM DMM. EXITING ROUTINE.\nDMM FAULT: "), std::string::npos);
    EXPECT_EQ(out.find(" SS Error:"), std::string::npos);
    EXPECT_FALSE(bench->output_on(3));
  }
  expect_last_check_passed(code);
  expect_within_timeouts(c.by_count ? 26 : 28);
}

// --- Full calibration (F on CH1): a DMM fault at its start or in its first calibration

INSTANTIATE_TEST_SUITE_P(Faults, DmmFullCalibrationFault, ::testing::ValuesIn(ending_faults(2)), case_name<FaultCase>);

TEST_P(DmmFullCalibrationFault, EndsItWithoutCalibrating) {
  const FaultCase& c = GetParam();
  at_first_key(c.faults, {5.0});
  clear_faults_at_key(3);
  int code = run(std::string("F1YZ") + (c.reconnect ? "M\r\rY" : "") + "ZX");
  // Step 1's path check fails: nothing more is done, no calibration is started, no key is awaited.
  // Then the run's record is named and the menu follows.
  const std::string stopped = "STEP 1: INITIAL CALIBRATION PER FACTORY SPEC - Channel 1\n" + NOT_READING_LINE + "DMM FAULT: ";
  const std::size_t at = out.find(stopped);
  ASSERT_NE(at, std::string::npos);
  const std::size_t after_fault = out.find('\n', at + stopped.size()) + 1;
  EXPECT_EQ(out.compare(after_fault, 17, "\nRecord: records/"), 0) << out.substr(at);
  EXPECT_EQ(out.compare(out.find('\n', after_fault + 1) + 1, 1, "="), 0);
  EXPECT_EQ(out.find("STEP 2"), std::string::npos);
  for (const std::string& line : psu_lines()) EXPECT_EQ(line.rfind("CAL:", 0), std::string::npos) << line;
  EXPECT_FALSE(bench->output_on(1));
  expect_last_check_passed(code);
  expect_within_timeouts(6);
}

// Slow but in time from the first key on: every reading is taken, and the DMM's own zeros then fail the
// later path checks.
INSTANTIATE_TEST_SUITE_P(Faults, DmmFullCalibrationStepFault,
                         ::testing::Values(StepCase{"silent", {.silent_from_reading = 3}, true, {5.0, 5.0}},
                                           StepCase{"too slow", {.answer_delay_ms = 3600}, false, {5.0, 5.0}},
                                           StepCase{"no echo", {.no_echo = true}, false, {5.0, 5.0}},
                                           StepCase{"slow", {.answer_delay_ms = 1500}, true,
                                                    {5.0, 5.0, 0.0, 0.0, 0.0}}),
                         case_name<StepCase>);

TEST_P(DmmFullCalibrationStepFault, GivesTheSummaryWithoutFigures) {
  const StepCase& c = GetParam();
  if (c.by_count)
    at_first_key(c.faults, c.script);
  else
    after_readings(2, c.faults, c.script);
  // Keys: F, 1, Y, the step-2 abort's key, the closing key, then the menu.
  clear_faults_at_key(5);
  int code = run("F1Y  ZZX");
  // Step 1's own check passed; the factory calibration's check failed, so did both assessments': on
  // the path, or already on the DMM's function.
  EXPECT_EQ(occurrences(out, NOT_READING_LINE) + occurrences(out, "\aERROR: THE DMM'S FUNCTION COULD NOT BE SET."), 3);
  EXPECT_NE(out.find("\n\aPROCEDURE ABORTED...Press any key to continue."), std::string::npos);
  EXPECT_NE(out.find("FACTORY CALIBRATION:\n SS Error:      n/a mV^2\nRMS Error:      n/a mV\n\n"
                     "ACHIEVED CALIBRATION:\n SS Error:      n/a mV^2\nRMS Error:      n/a mV\n"),
            std::string::npos);
  for (const std::string& line : psu_lines()) EXPECT_EQ(line.rfind("CAL:", 0), std::string::npos) << line;
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_EQ(code, 0);
  EXPECT_NE(out.rfind("Command >Z\n" + UNKNOWN_COMMAND), std::string::npos);
  expect_within_timeouts(10);
}

// --- The menu's connection check

std::vector<FaultCase> check_faults() {
  std::vector<FaultCase> cases = ending_faults(1);
  cases.push_back({"no echo", {.no_echo = true}});
  cases.push_back({"too slow", {.answer_delay_ms = 4000}});
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Faults, DmmCheckFault, ::testing::ValuesIn(check_faults()), case_name<FaultCase>);

TEST_P(DmmCheckFault, ReportsTheFaultAndRecovers) {
  const FaultCase& c = GetParam();
  at_first_key(c.faults, {});
  clear_faults_at_key(1);
  // The check fails on the fault; once the DMM is well again (or reconnected with M) it passes.
  int code = run(std::string("Z") + (c.reconnect ? "M\r\rY" : "") + "ZZX");
  // The lost DMM, one line that names its fault, and the menu again.
  const std::string lost = "Command >Z\n" + DMM_LOST + "DMM FAULT: ";
  const std::size_t at = out.find(lost);
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(out.compare(out.find('\n', at + lost.size()) - 1, 3, ".\n="), 0) << out.substr(at);
  EXPECT_EQ(out.find("\a\nNo active"), std::string::npos);
  expect_last_check_passed(code);
  expect_within_timeouts(2);
}

// The answer wait itself, at a time scale where its edges are clear: an answer that comes a little
// under 2.5 s into the wait is read, one a little over is not, and the late one is not taken later.
TEST_F(DmmFaultTest, AnswerJustUnderAndJustOverTheAnswerTimeout) {
  set_time_scale(0.4);
  // 510 ms of drain, first line and pause come before the wait; the meter's own time is 50 ms.
  const SimDmmFaults under{.answer_delay_ms = 510 + 2200 - 50};
  const SimDmmFaults over{.answer_delay_ms = 510 + 2800 - 50};
  before_key[0] = [&]() { bench->set_dmm_faults(under); };
  before_key[1] = [&]() { bench->set_dmm_faults(over); };
  clear_faults_at_key(2);
  int code = run("ZZZZX");
  // The first check passes, the second fails; the third may still meet the late answer owed to the
  // second and refuse it; the fourth passes.
  const std::size_t first = out.find("Command >Z\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(out.find("Command >Z\n" + UNKNOWN_COMMAND), first);
  const std::size_t second = out.find("Command >Z\n", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(out.find("Command >Z\n" + DMM_LOST, first + 1), second);
  expect_last_check_passed(code);
  expect_within_timeouts(4);
}
