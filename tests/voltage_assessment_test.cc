// The voltage accuracy assessment against the simulated bench: figures of complete sweeps, the
// plausibility limit, the failure paths with the errors they found, and the corrections that a sweep
// hands to the factory calibration.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "calibration/run_recording.h"
#include "calibration/step_figures.h"
#include "calibration/voltage_assessment.h"
#include "records/record.h"
#include "records/record_codec.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

using ::testing::HasSubstr;

namespace {

// A value as the DMM reports it (six decimals), so that the test's arithmetic meets the program's.
double six_decimals(double value) { return std::atof(text_of("%.6f", value).c_str()); }

const std::vector<double> CH12_POINTS(std::begin(VDAC_POINTS_12), std::end(VDAC_POINTS_12));

std::vector<double> ch3_points() {
  std::vector<double> points;
  for (int k = 0; k < 22; k++) points.push_back(k * 0.25);
  return points;
}

// Readings offset from the first count points.
std::vector<double> offset_readings(const std::vector<double>& points, double offset, std::size_t count = 99) {
  std::vector<double> readings;
  for (std::size_t i = 0; i < std::min(count, points.size()); i++) readings.push_back(six_decimals(points[i] + offset));
  return readings;
}

// What a sweep sends and prints, for readings of the first points (all of them for a complete sweep).
struct ExpectedSweep {
  std::vector<std::string> commands;
  std::string console;
  double sum_of_squares = 0.0;

  ExpectedSweep(const std::string& name, const std::vector<double>& points, const std::vector<double>& readings) {
    commands = path_check(name);
    commands.insert(commands.end(), {"OUTPUT " + name + ",ON", CONFIRM_QUERY});
    console = name + " output ON...\n";
    for (std::size_t i = 0; i < readings.size(); i++) {
      commands.insert(commands.end(), {text_of(":APPL %s,%.4lf,2", name.c_str(), points[i]), CONFIRM_QUERY,
                                       ":MEAS:VOLT? " + name});
      double error = readings[i] - points[i];
      console += text_of("Correction: Setpoint %7.4lf V, Error: %7.3lf mV\n", points[i], error * 1000.0);
      if (std::fabs(error) <= 1.0) sum_of_squares += (error * 1000.0) * (error * 1000.0);
    }
  }

  // The end of a complete sweep.
  void complete(const std::string& name, std::size_t points) {
    commands.insert(commands.end(), {"OUTPUT " + name + ",OFF", CONFIRM_QUERY, SUPPLY_ERROR_QUERY});
    console += name + " output OFF...\n" + text_of(" SS Error: %8.5lf mV^2\n", sum_of_squares) +
               text_of("RMS Error: %8.5lf mV\n", std::sqrt(sum_of_squares / static_cast<double>(points))) +
               "Readback: \n\n";
  }
};

// The console with the figures of its Readback: line left out: they follow the simulated supply's own
// voltmeter, not the scripted readings (ReadbackOffBy15mV checks them).
std::string without_readback_figures(std::string text) {
  const std::size_t at = text.find("Readback: ");
  if (at != std::string::npos) text.erase(at + 10, text.find('\n', at) - at - 10);
  return text;
}

}  // namespace

class VoltageAssessmentTest : public ProgramTest {
 protected:
  ConsoleObserver shown{console};
  SweepResult result;

  // Runs one assessment with readings scripted after a passing path check.
  bool assess(Channel channel, const std::vector<double>& readings) {
    bench->clear_received();
    out.clear();
    std::vector<double> script = {5.0};
    script.insert(script.end(), readings.begin(), readings.end());
    bench->script_readings(script);
    result = assess_voltage_accuracy(*instruments, channel, shown);
    return result.completed;
  }

  // Runs a sweep over all points that must complete, and compares its stream and console.
  void expect_complete(Channel channel, const std::vector<double>& points, const std::vector<double>& readings) {
    ASSERT_TRUE(assess(channel, readings));
    ExpectedSweep expected(channel.name(), points, readings);
    expected.complete(channel.name(), points.size());
    EXPECT_EQ(psu_lines(), expected.commands);
    EXPECT_EQ(without_readback_figures(out), expected.console);
  }
};

TEST_F(VoltageAssessmentTest, FiguresOfCompleteSweeps) {
  connect_both();

  // No error anywhere on CH1.
  expect_complete(CH1, CH12_POINTS, CH12_POINTS);
  EXPECT_THAT(out, HasSubstr("Correction: Setpoint  0.2000 V, Error:   0.000 mV\n"));
  EXPECT_THAT(out, HasSubstr(" SS Error:  0.00000 mV^2\nRMS Error:  0.00000 mV\nReadback: "));
  EXPECT_EQ(psu_lines()[8], ":APPL CH1,0.2000,2");
  EXPECT_EQ(result.sum_of_squares, 0.0);
  EXPECT_EQ(result.rms_error, 0.0);
  EXPECT_EQ(result.errors, std::vector<double>(36, 0.0));
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_DOUBLE_EQ(bench->set_voltage(1), 32.0);

  // 1 mV everywhere on CH2.
  expect_complete(CH2, CH12_POINTS, offset_readings(CH12_POINTS, 0.001));
  EXPECT_THAT(out, HasSubstr("Correction: Setpoint 32.0000 V, Error:   1.000 mV\n"));
  EXPECT_THAT(out, HasSubstr(" SS Error: 36.00000 mV^2\nRMS Error:  1.00000 mV\nReadback: "));
  EXPECT_NEAR(result.rms_error, 1.0, 1e-6);
  ASSERT_EQ(result.errors.size(), 36U);
  for (std::size_t i = 0; i < 36; i++) EXPECT_NEAR(result.errors[i], 0.001, 1e-9) << i;

  // 1 mV everywhere on CH3: 22 points from 0 V, and no calibration.
  expect_complete(CH3, ch3_points(), offset_readings(ch3_points(), 0.001));
  EXPECT_EQ(psu_lines()[8], ":APPL CH3,0.0000,2");
  EXPECT_EQ(psu_lines()[71], ":APPL CH3,5.2500,2");
  EXPECT_THAT(out, HasSubstr(" SS Error: 22.00000 mV^2\nRMS Error:  1.00000 mV\nReadback: "));
  EXPECT_EQ(result.errors.size(), 22U);
  EXPECT_FALSE(bench->in_calibration());
}

// Five readings a point: five READ? each, the supply's traffic and the console as with one reading of
// their mean, and the readings kept for the point's repeatability (deviations 0, ±0.1, ±0.2 mV:
// s = 158.11 µV, s/√5 = 70.71 µV).
TEST_F(VoltageAssessmentTest, FiveReadingsPerPointTakeTheirMean) {
  connect_both();
  instruments->readings_per_point = 5;
  std::vector<double> script;
  for (double point : ch3_points())
    for (double deviation : {0.0011, 0.0009, 0.001, 0.0012, 0.0008}) script.push_back(six_decimals(point + deviation));
  RunRecorder recorder(Procedure::assessment, CH3);
  ObserverPair both(shown, recorder);
  bench->clear_received();
  out.clear();
  script.insert(script.begin(), 5.0);
  bench->script_readings(script);
  ASSERT_TRUE(assess_voltage_accuracy(*instruments, CH3, both).completed);
  EXPECT_EQ(reads(), 1 + 22 * 5);
  ExpectedSweep expected(CH3.name(), ch3_points(), offset_readings(ch3_points(), 0.001));
  expected.complete(CH3.name(), 22);
  EXPECT_EQ(psu_lines(), expected.commands);
  EXPECT_EQ(without_readback_figures(out), expected.console);

  const PointResult& point = recorder.run().steps.at(0).phases.at(0).points.at(4);
  EXPECT_EQ(point.readings.size(), 5U);
  EXPECT_NEAR(*point.reading, 1.001, 1e-9);
  const UncertaintyBudget budget = judge_figure(FigureKind::programming, Quantity::voltage, point,
                                                supply_tolerance_for("DP832"), reference_accuracy_for("34401A"))
                                       .budget;
  ASSERT_EQ(budget.components.size(), 4U);
  EXPECT_EQ(budget.components[3].type, EvaluationType::a);
  EXPECT_NEAR(budget.components[3].standard_deviation, 158.114e-6, 1e-9);
  EXPECT_NEAR(budget.components[3].standard_uncertainty, 70.711e-6, 1e-9);
}

TEST_F(VoltageAssessmentTest, AnErrorOfOneVoltPassesAndMoreAborts) {
  connect_both();

  // +1.0 V at point 3 (2.0 V reads 3.0) and -1.0 V at point 35 (32.0 V reads 31.0): both accepted.
  std::vector<double> readings = CH12_POINTS;
  readings[3] = 3.0;
  readings[35] = 31.0;
  ASSERT_TRUE(assess(CH1, readings));
  EXPECT_EQ(result.sum_of_squares, 2000000.0);
  EXPECT_THAT(out, HasSubstr(" SS Error: 2000000.00000 mV^2\nRMS Error: 235.70226 mV\nReadback: "));
  EXPECT_EQ(result.errors[3], 1.0);
  EXPECT_EQ(result.errors[35], -1.0);

  // 1.0001 V at point 5 of CH2: errors of points 0 to 5 only; output off, one key.
  readings = offset_readings(CH12_POINTS, 0.002, 6);
  readings[5] = six_decimals(VDAC_POINTS_12[5] + 1.0001);
  keys("k");
  EXPECT_FALSE(assess(CH2, readings));
  ExpectedSweep aborted("CH2", CH12_POINTS, readings);
  aborted.commands.insert(aborted.commands.end(), {"OUTPUT CH2,OFF", CONFIRM_QUERY, SUPPLY_ERROR_QUERY});
  aborted.console +=
      "\a\nERROR: DMM is not reading correctly.\nIs it connected to the proper supply output?\n"
      "PROCEDURE ABORTED....PRESS ANY KEY...\n";
  EXPECT_EQ(psu_lines(), aborted.commands);
  EXPECT_EQ(out, aborted.console);
  EXPECT_THAT(out, HasSubstr("Correction: Setpoint  4.1000 V, Error: 1000.100 mV\n"));
  EXPECT_TRUE(key_queue.empty());
  EXPECT_FALSE(bench->output_on(2));
  EXPECT_NEAR(result.sum_of_squares, 5 * 4.0, 1e-6);  // the five points before the implausible one
  EXPECT_TRUE(std::isnan(result.rms_error));
  ASSERT_EQ(result.errors.size(), 6U);
  for (std::size_t i = 0; i < 5; i++) EXPECT_NEAR(result.errors[i], 0.002, 1e-9) << i;
  EXPECT_NEAR(result.errors[5], 1.0001, 1e-9);
}

TEST_F(VoltageAssessmentTest, FailuresKeepTheErrorsFoundSoFar) {
  connect_both();

  // A wrong reading at the first point while the console is closed: the key wait passes at once.
  EXPECT_FALSE(assess(CH2, {VDAC_POINTS_12[0] - 1.5}));
  EXPECT_TRUE(out.ends_with("PROCEDURE ABORTED....PRESS ANY KEY...\n"));
  EXPECT_EQ(psu_lines().end()[-3], "OUTPUT CH2,OFF");
  EXPECT_EQ(psu_lines().back(), SUPPLY_ERROR_QUERY);
  EXPECT_EQ(result.errors, std::vector<double>{VDAC_POINTS_12[0] - 1.5 - VDAC_POINTS_12[0]});

  // The DMM falls silent at point 4: the errors of points 0 to 3, the output switched off.
  std::vector<double> readings = offset_readings(CH12_POINTS, 0.003, 4);
  SimDmmFaults faults;
  faults.silent_from_reading = 1 + 4 + 1;
  bench->set_dmm_faults(faults);
  EXPECT_FALSE(assess(CH1, readings));
  ExpectedSweep failed("CH1", CH12_POINTS, readings);
  failed.commands.insert(failed.commands.end(), {":APPL CH1,3.2000,2", CONFIRM_QUERY, "OUTPUT CH1,OFF", CONFIRM_QUERY, SUPPLY_ERROR_QUERY});
  EXPECT_EQ(psu_lines(), failed.commands);
  EXPECT_EQ(out, failed.console + "\aERROR: FAILED TO READ FROM DMM. EXITING ROUTINE.\nDMM FAULT: the DMM gave no answer.\n\n");
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_NEAR(result.sum_of_squares, 4 * 9.0, 1e-6);
  EXPECT_TRUE(std::isnan(result.rms_error));
  ASSERT_EQ(result.errors.size(), 4U);
  for (std::size_t i = 0; i < 4; i++) EXPECT_NEAR(result.errors[i], 0.003, 1e-9) << i;
  EXPECT_FALSE(bench->in_calibration());
}

// A DMM that stops answering mid-sweep ends the sweep with the channel's output off, after the last set
// point: a channel must never be left live at a voltage the operator was not told of.
TEST(VoltageAssessmentOnFakes, ReadingFailureSwitchesTheOutputOff) {
  TestEnvironment env;
  env.virtual_clock = true;
  Bench bench(env, TELNET_DMM);
  install_dmm(bench, fake_dmm({"+5.0", text_of("%f", VDAC_POINTS_12[0]), DMM_SILENT}));
  const FakeTransport& psu = install_psu(bench, fake_psu());
  ProcedureObserver quiet;
  const SweepResult result = assess_voltage_accuracy(bench, CH2, quiet);

  EXPECT_FALSE(result.completed);
  EXPECT_EQ(result.errors.size(), 1U);
  const std::size_t last_set = psu.sent.rfind(":APPL CH2,");
  ASSERT_EQ(last_set, psu.sent.find(text_of(":APPL CH2,%.4f,2", VDAC_POINTS_12[1]))) << psu.sent;
  EXPECT_NE(psu.sent.find("OUTPUT CH2,OFF\r\n", last_set), std::string::npos) << psu.sent;
}

// A supply whose own voltmeter reads 15 mV high at every point, against a DMM that reads each set value
// exactly: the programming passes at every point, the readback fails at every point.
TEST(VoltageAssessmentOnFakes, ReadbackOffBy15mV) {
  TestEnvironment env;
  env.virtual_clock = true;
  Bench bench(env, TELNET_DMM);
  std::vector<std::string> readings = {"+5.0"};  // the path check
  for (double set : ch3_points()) readings.push_back(text_of("%f", set));
  install_dmm(bench, fake_dmm(readings));
  auto psu = fake_psu();
  double set = 0.0;
  psu->respond('\n', [&set](FakeTransport& link, const std::string& line) {
    std::sscanf(line.c_str(), ":APPL CH3,%lf", &set);
    if (line == ":MEAS:VOLT? CH3\r\n") link.arrive_after(1, text_of("%.4f\n", set + 0.015));
    if (line == "*OPC?\r\n") link.arrive_after(1, "1\n");
    if (line == "SYST:ERR?\r\n") link.arrive_after(1, "0,\"No error\"\n");
  });
  const FakeTransport& sent = install_psu(bench, std::move(psu));
  ConsoleObserver shown(env.console());
  RunRecorder recorder(Procedure::assessment, CH3);
  ObserverPair both(shown, recorder);
  ASSERT_TRUE(assess_voltage_accuracy(bench, CH3, both).completed);

  EXPECT_EQ(occurrences(sent.sent, ":MEAS:VOLT? CH3\r\n"), 22);
  EXPECT_THAT(env.text(), HasSubstr("RMS Error:  0.00000 mV\nReadback: FAIL, largest error 15.00000 mV\n\n"));
  RecordContext context;
  context.supply.identity.model = "DP832";
  const Record record = build_record(recorder.run(), context);
  ASSERT_EQ(record.steps.size(), 1U);
  const RecordStep& step = record.steps[0];
  ASSERT_EQ(step.points.size(), 22U);
  for (const AssessedPoint& p : step.points) {
    EXPECT_EQ(p.verdict, Verdict::pass) << p.set;
    ASSERT_TRUE(p.readback) << p.set;
    EXPECT_NEAR(p.readback->error_mV.value_or(0), 15.0, 1e-6) << p.set;
    EXPECT_EQ(p.readback->verdict, Verdict::fail) << p.set;
    // The readback's own budget: the supply's readback resolution where the programming has its setting's.
    ASSERT_EQ(p.readback->uncertainty_budget.size(), 3U) << p.set;
    EXPECT_EQ(p.readback->uncertainty_budget[2].name, "supply readback resolution");
    EXPECT_EQ(p.uncertainty_budget[2].name, "supply setting resolution");
    EXPECT_TRUE(p.false_accept_risk && p.readback->false_reject_risk && !p.readback->false_accept_risk) << p.set;
  }
  EXPECT_EQ(step.summary.verdict, Verdict::pass);
  ASSERT_TRUE(step.summary.readback);
  EXPECT_EQ(step.summary.readback->counts[1], 22);
  EXPECT_EQ(step.summary.readback->verdict, Verdict::fail);
  EXPECT_TRUE(step.summary.max_false_accept_risk && !step.summary.readback->max_false_accept_risk);
  // Written and read back, the readback's budget and risks stay.
  const Result<Record> again = parse_record(record_json_text(record));
  ASSERT_TRUE(again.ok()) << again.reason();
  const AssessedReadback& first = *again->steps[0].points[0].readback;
  EXPECT_EQ(first.uncertainty_budget.size(), 3U);
  EXPECT_EQ(first.false_reject_risk, step.points[0].readback->false_reject_risk);
  EXPECT_EQ(first.uncertainty_mV, step.points[0].readback->uncertainty_mV);
}

// A sweep of CH1 whose errors go to the factory calibration that follows: it reports each V-DAC reading
// raised by its point's error, the voltmeter readings as read.
TEST_F(VoltageAssessmentTest, CalibrationWithTheSweepsErrorsReportsReadingsPlusCorrections) {
  connect_both();
  std::vector<double> sweep;
  for (std::size_t i = 0; i < CH12_POINTS.size(); i++)
    sweep.push_back(six_decimals(CH12_POINTS[i] - 0.00012 + 0.00037 * static_cast<double>(i % 5)));
  std::vector<double> vdac = offset_readings(CH12_POINTS, -0.00021);
  vdac[0] = 0.199880;
  std::vector<double> vmeter = offset_readings({std::begin(VMETER_POINTS_12), std::end(VMETER_POINTS_12)}, 0.000043);
  std::vector<double> script = sweep;
  std::vector<double> calibration = calibration_script(3.0, vdac, vmeter);  // a path check at its band's edge
  script.insert(script.end(), calibration.begin(), calibration.end());
  std::string began = today(env);

  ASSERT_TRUE(assess(CH1, script));
  std::vector<double> errors;
  for (std::size_t i = 0; i < CH12_POINTS.size(); i++) errors.push_back(sweep[i] - CH12_POINTS[i]);
  EXPECT_EQ(result.errors, errors);
  factory_voltage_calibration(*instruments, CH1, shown, result.errors);

  std::vector<std::string> lines = psu_lines();
  ExpectedSweep expected("CH1", CH12_POINTS, sweep);
  expected.complete("CH1", 36);
  ExpectedCalibration then("CH1", 'V', VDAC_POINTS_12, vdac, VMETER_POINTS_12, vmeter, date_of_run(env, lines, began),
                           errors.data());
  expected.commands.insert(expected.commands.end(), then.commands.begin(), then.commands.end());
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(without_readback_figures(out), expected.console + then.console);
  EXPECT_THAT(out, HasSubstr("[ 0] CAL:SET CH1,V,0,0.2,1\r\n"
                             "CORRECTION: -0.1200 mV[ 0] CAL:MEAS CH1,V,0,0.199760,1\r\n"));
  EXPECT_EQ(occurrences(out, "CORRECTION: "), 36);
  EXPECT_EQ(out.find("CORRECTION", out.find("### Begin Voltmeter")), std::string::npos);
  EXPECT_FALSE(bench->output_on(1));
}
