// The voltage accuracy assessment against the simulated bench: figures of complete sweeps, the
// plausibility limit, the failure paths with what they leave in voltage_corrections, and the
// recalibrate mode that hands the corrections to the factory calibration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "calibration/point_tables.h"
#include "calibration/voltage_assessment.h"
#include "calibration/voltage_corrections.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

namespace {

constexpr double UNTOUCHED = -7.0;  // a figure or table entry the assessment must not write

// A value as the DMM reports it (six decimals), so that the test's arithmetic meets the program's.
double six_decimals(double value) { return std::atof(text_of("%.6f", value).c_str()); }

std::vector<double> ch12_points() { return {std::begin(VDAC_POINTS_12), std::end(VDAC_POINTS_12)}; }

std::vector<double> ch3_points() {
  std::vector<double> points;
  for (int k = 0; k < 22; k++) points.push_back(k * 0.25);
  return points;
}

// What a sweep sends and prints, for readings of the first points (all of them for a complete sweep).
struct ExpectedSweep {
  std::vector<std::string> commands;
  std::string console;
  double sum_of_squares = 0.0;

  ExpectedSweep(const std::string& name, const std::vector<double>& points,
                const std::vector<double>& readings) {
    commands = {"OUTPUT " + name + ",ON", ":APPL " + name + ",5,2", "OUTPUT " + name + ",OFF",
                "OUTPUT " + name + ",ON"};
    console = name + " output ON...\n";
    for (std::size_t i = 0; i < readings.size(); i++) {
      commands.push_back(text_of(":APPL %s,%.4lf,2", name.c_str(), points[i]));
      double error = readings[i] - points[i];
      console += text_of("Correction: Setpoint %7.4lf V, Error: %7.3lf mV\n", points[i], error * 1000.0);
      if (std::fabs(error) <= 1.0) sum_of_squares += (error * 1000.0) * (error * 1000.0);
    }
  }

  // The end of a complete sweep.
  void complete(const std::string& name, std::size_t points) {
    commands.push_back("OUTPUT " + name + ",OFF");
    commands.push_back(SUPPLY_ERROR_QUERY);
    console += name + " output OFF...\n";
    console += text_of(" SS Error: %8.5lf mV^2\n", sum_of_squares);
    console += text_of("RMS Error: %8.5lf mV\n\n", std::sqrt(sum_of_squares / static_cast<double>(points)));
  }
};

std::vector<double> offset_readings(const std::vector<double>& points, double offset) {
  std::vector<double> readings;
  for (double p : points) readings.push_back(six_decimals(p + offset));
  return readings;
}

}  // namespace

class VoltageAssessmentTest : public ProgramTest {
 protected:
  double sum_of_squares = UNTOUCHED;
  double rms = UNTOUCHED;

  void SetUp() override {
    ProgramTest::SetUp();
    std::fill(std::begin(voltage_corrections), std::end(voltage_corrections), UNTOUCHED);
  }

  // Runs one assessment with readings scripted after a passing path check.
  int assess(Channel channel, const std::vector<double>& readings, AssessMode mode) {
    bench->clear_received();
    out.clear();
    sum_of_squares = UNTOUCHED;
    rms = UNTOUCHED;
    std::vector<double> script = {5.0};
    script.insert(script.end(), readings.begin(), readings.end());
    bench->script_readings(script);
    return assess_voltage_accuracy(channel, sum_of_squares, rms, mode);
  }
};

TEST_F(VoltageAssessmentTest, FiguresOfCompleteSweeps) {
  connect_both();

  // No error anywhere on CH1.
  ASSERT_EQ(assess(CH1, ch12_points(), AssessMode::REPORT_ONLY), 1);
  ExpectedSweep zero("CH1", ch12_points(), ch12_points());
  zero.complete("CH1", 36);
  EXPECT_EQ(psu_lines(), zero.commands);
  EXPECT_EQ(out, zero.console);
  EXPECT_NE(out.find("Correction: Setpoint  0.2000 V, Error:   0.000 mV\n"), std::string::npos);
  EXPECT_NE(out.find(" SS Error:  0.00000 mV^2\nRMS Error:  0.00000 mV\n\n"), std::string::npos);
  EXPECT_EQ(psu_lines()[4], ":APPL CH1,0.2000,2");
  EXPECT_EQ(sum_of_squares, 0.0);
  EXPECT_EQ(rms, 0.0);
  for (double entry : voltage_corrections) EXPECT_EQ(entry, 0.0);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_DOUBLE_EQ(bench->set_voltage(1), 32.0);

  // 1 mV everywhere on CH2: the CH2 sweep replaces the CH1 entries of the one table.
  std::vector<double> readings = offset_readings(ch12_points(), 0.001);
  ASSERT_EQ(assess(CH2, readings, AssessMode::REPORT_ONLY), 1);
  ExpectedSweep one("CH2", ch12_points(), readings);
  one.complete("CH2", 36);
  EXPECT_EQ(psu_lines(), one.commands);
  EXPECT_EQ(out, one.console);
  EXPECT_NE(out.find("Correction: Setpoint 32.0000 V, Error:   1.000 mV\n"), std::string::npos);
  EXPECT_NE(out.find(" SS Error: 36.00000 mV^2\nRMS Error:  1.00000 mV\n\n"), std::string::npos);
  EXPECT_NEAR(rms, 1.0, 1e-6);
  for (std::size_t i = 0; i < 36; i++) EXPECT_NEAR(voltage_corrections[i], 0.001, 1e-9) << i;
  std::vector<double> after_ch2(std::begin(voltage_corrections), std::end(voltage_corrections));

  // 1 mV everywhere on CH3, in the recalibrate mode: 22 points from 0 V, the table left as it was,
  // and no calibration.
  readings = offset_readings(ch3_points(), 0.001);
  ASSERT_EQ(assess(CH3, readings, AssessMode::RECALIBRATE), 1);
  ExpectedSweep ch3("CH3", ch3_points(), readings);
  ch3.complete("CH3", 22);
  EXPECT_EQ(psu_lines(), ch3.commands);
  EXPECT_EQ(out, ch3.console);
  EXPECT_EQ(psu_lines()[4], ":APPL CH3,0.0000,2");
  EXPECT_EQ(psu_lines()[25], ":APPL CH3,5.2500,2");
  EXPECT_NE(out.find(" SS Error: 22.00000 mV^2\nRMS Error:  1.00000 mV\n\n"), std::string::npos);
  EXPECT_EQ(std::vector<double>(std::begin(voltage_corrections), std::end(voltage_corrections)), after_ch2);
  EXPECT_FALSE(bench->in_calibration());
}

TEST_F(VoltageAssessmentTest, AnErrorOfOneVoltPassesAndMoreAborts) {
  connect_both();

  // +1.0 V at point 3 (2.0 V reads 3.0) and -1.0 V at point 35 (32.0 V reads 31.0): both accepted.
  std::vector<double> readings = ch12_points();
  readings[3] = 3.0;
  readings[35] = 31.0;
  ASSERT_EQ(assess(CH1, readings, AssessMode::REPORT_ONLY), 1);
  EXPECT_EQ(sum_of_squares, 2000000.0);
  EXPECT_NE(out.find(" SS Error: 2000000.00000 mV^2\nRMS Error: 235.70226 mV\n\n"), std::string::npos);
  EXPECT_EQ(voltage_corrections[3], 1.0);
  EXPECT_EQ(voltage_corrections[35], -1.0);

  // 1.0001 V at point 5 of CH2: entries 0 to 5 replaced, 6 to 35 as CH1 left them; output off, one key.
  std::vector<double> before(std::begin(voltage_corrections), std::end(voltage_corrections));
  readings = offset_readings(ch12_points(), 0.002);
  readings.resize(6);
  readings[5] = six_decimals(VDAC_POINTS_12[5] + 1.0001);
  keys("k");
  EXPECT_EQ(assess(CH2, readings, AssessMode::REPORT_ONLY), 0);
  ExpectedSweep aborted("CH2", ch12_points(), readings);
  aborted.commands.push_back("OUTPUT CH2,OFF");
  aborted.commands.push_back(SUPPLY_ERROR_QUERY);
  aborted.console +=
      "\a\nERROR: DMM is not reading correctly.\nIs it connected to the proper supply output?\n"
      "PROCEDURE ABORTED....PRESS ANY KEY...\n";
  EXPECT_EQ(psu_lines(), aborted.commands);
  EXPECT_EQ(out, aborted.console);
  EXPECT_NE(out.find("Correction: Setpoint  4.1000 V, Error: 1000.100 mV\n"), std::string::npos);
  EXPECT_TRUE(key_queue.empty());
  EXPECT_FALSE(bench->output_on(2));
  EXPECT_NEAR(sum_of_squares, 5 * 4.0, 1e-6);  // the five points before the implausible one
  EXPECT_EQ(rms, UNTOUCHED);
  for (std::size_t i = 0; i < 5; i++) EXPECT_NEAR(voltage_corrections[i], 0.002, 1e-9) << i;
  EXPECT_NEAR(voltage_corrections[5], 1.0001, 1e-9);
  for (std::size_t i = 6; i < 36; i++) EXPECT_EQ(voltage_corrections[i], before[i]) << i;
}

TEST_F(VoltageAssessmentTest, FailuresLeaveTheFiguresAndTheTableAsTheyStand) {
  connect_both();

  // The DMM does not see the channel.
  bench->script_readings({1.4999});
  EXPECT_EQ(assess_voltage_accuracy(CH1, sum_of_squares, rms, AssessMode::RECALIBRATE), 0);
  EXPECT_EQ(out, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
  EXPECT_EQ(psu_lines(),
            (std::vector<std::string>{"OUTPUT CH1,ON", ":APPL CH1,5,2", "OUTPUT CH1,OFF", SUPPLY_ERROR_QUERY}));
  EXPECT_EQ(sum_of_squares, UNTOUCHED);
  EXPECT_EQ(rms, UNTOUCHED);

  // A wrong reading at the first point while the console is closed: the key wait passes at once.
  EXPECT_EQ(assess(CH2, {VDAC_POINTS_12[0] - 1.5}, AssessMode::REPORT_ONLY), 0);
  std::string wait = "PROCEDURE ABORTED....PRESS ANY KEY...\n";
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), wait.size())), wait);
  EXPECT_EQ(psu_lines().end()[-2], "OUTPUT CH2,OFF");
  EXPECT_EQ(psu_lines().back(), SUPPLY_ERROR_QUERY);
  EXPECT_EQ(voltage_corrections[0], VDAC_POINTS_12[0] - 1.5 - VDAC_POINTS_12[0]);
  voltage_corrections[0] = UNTOUCHED;

  // The DMM falls silent at point 4: entries 0 to 3 replaced, the output left on at 3.2 V.
  std::vector<double> readings = offset_readings(ch12_points(), 0.003);
  readings.resize(4);
  SimDmmFaults faults;
  faults.silent_from_reading = 1 + 4 + 1;
  bench->set_dmm_faults(faults);
  EXPECT_EQ(assess(CH1, readings, AssessMode::RECALIBRATE), 0);
  ExpectedSweep failed("CH1", ch12_points(), readings);
  failed.commands.push_back(":APPL CH1,3.2000,2");
  failed.commands.push_back(SUPPLY_ERROR_QUERY);
  failed.console += "\aERROR: FAILED TO READ FROM DMM. EXITING ROUTINE.\n\n";
  EXPECT_EQ(psu_lines(), failed.commands);
  EXPECT_EQ(out, failed.console);
  EXPECT_TRUE(bench->output_on(1));
  EXPECT_DOUBLE_EQ(bench->set_voltage(1), 3.2);
  EXPECT_NEAR(sum_of_squares, 4 * 9.0, 1e-6);
  EXPECT_EQ(rms, UNTOUCHED);
  for (std::size_t i = 0; i < 4; i++) EXPECT_NEAR(voltage_corrections[i], 0.003, 1e-9) << i;
  for (std::size_t i = 4; i < 36; i++) EXPECT_EQ(voltage_corrections[i], UNTOUCHED) << i;
  EXPECT_FALSE(bench->in_calibration());
}

// The recalibrate mode on CH1: the sweep's errors become the table, and the factory calibration that
// follows reports each V-DAC reading raised by its point's entry, the voltmeter readings as read.
TEST_F(VoltageAssessmentTest, RecalibrateModeReportsReadingsPlusCorrections) {
  connect_both();
  std::vector<double> points = ch12_points();
  std::vector<double> sweep;
  for (std::size_t i = 0; i < points.size(); i++)
    sweep.push_back(six_decimals(points[i] - 0.00012 + 0.00037 * static_cast<double>(i % 5)));
  std::vector<double> vdac = offset_readings(points, -0.00021);
  vdac[0] = 0.199880;
  std::vector<double> vmeter;
  for (double p : VMETER_POINTS_12) vmeter.push_back(six_decimals(p + 0.000043));
  std::vector<double> script = sweep;
  script.push_back(1.5);  // the calibration's own path check, exactly at its threshold
  script.insert(script.end(), vdac.begin(), vdac.end());
  script.insert(script.end(), vmeter.begin(), vmeter.end());
  std::string began = today();

  ASSERT_EQ(assess(CH1, script, AssessMode::RECALIBRATE), 1);

  std::vector<double> table;
  for (std::size_t i = 0; i < points.size(); i++) table.push_back(sweep[i] - points[i]);
  for (std::size_t i = 0; i < points.size(); i++) EXPECT_EQ(voltage_corrections[i], table[i]) << i;

  std::vector<std::string> lines = psu_lines();
  ExpectedSweep expected_sweep("CH1", points, sweep);
  expected_sweep.complete("CH1", 36);
  ExpectedCalibration calibration("CH1", 'V', 5);
  calibration.phase("V-DAC", 1, VDAC_POINTS_12, vdac, table.data());
  calibration.phase("Voltmeter", 0, VMETER_POINTS_12, vmeter);
  calibration.end(date_of_run(lines, began));
  std::vector<std::string> commands = expected_sweep.commands;
  commands.insert(commands.end(), calibration.commands.begin(), calibration.commands.end());
  EXPECT_EQ(lines, commands);
  EXPECT_EQ(out, expected_sweep.console + calibration.console);

  EXPECT_NE(out.find("[ 0] CAL:SET CH1,V,0,0.2,1\r\n"
                     "CORRECTION: -0.1200 mV[ 0] CAL:MEAS CH1,V,0,0.199760,1\r\n"),
            std::string::npos);
  EXPECT_EQ(occurrences(out, "CORRECTION: "), 36);
  EXPECT_EQ(out.find("CORRECTION", out.find("### Begin Voltmeter")), std::string::npos);
  EXPECT_FALSE(bench->output_on(1));
}
