// The factory voltage calibration against the simulated bench: the command stream and console text
// of CH1 (on the supply's model) and CH3 (scripted readings, in real time with its settle waits),
// a DMM that falls silent mid-run; and failed path checks of both factory calibrations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

namespace {

// Settle waits after a set-point command, in milliseconds: CH1/CH2 V-DAC, every other voltage phase.
constexpr int VDAC_SETTLE_MS = 500;
constexpr int CH3_SETTLE_MS = 200;

}  // namespace

class FactoryVoltageTest : public ProgramTest {};

TEST_F(FactoryVoltageTest, Ch1RunOnTheModelCalibratesTheChannel) {
  connect_both();
  std::vector<double> uncalibrated = model_errors(psu_model_make(options.seed), 1);
  std::string began = today();

  factory_voltage_calibration(CH1, false);

  // The stream, with the values the DMM actually gave: each near its point on the uncalibrated channel.
  std::vector<std::string> lines = psu_lines();
  std::vector<double> vdac = reported_values(lines, "CH1", 'V', 1, std::size(VDAC_POINTS_12));
  std::vector<double> vmeter = reported_values(lines, "CH1", 'V', 0, std::size(VMETER_POINTS_12));
  for (std::size_t i = 0; i < vdac.size(); i++) EXPECT_NEAR(vdac[i], VDAC_POINTS_12[i], 0.2) << i;
  for (std::size_t i = 0; i < vmeter.size(); i++) EXPECT_NEAR(vmeter[i], VMETER_POINTS_12[i], 0.2) << i;
  ExpectedCalibration expected("CH1", 'V', 5);
  expected.phase("V-DAC", 1, VDAC_POINTS_12, vdac);
  expected.phase("Voltmeter", 0, VMETER_POINTS_12, vmeter);
  expected.end(date_of_run(lines, began));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);

  auto on = std::find(lines.begin() + 3, lines.end(), "OUTPUT CH1,ON");
  auto off = std::find(on, lines.end(), "OUTPUT CH1,OFF");
  EXPECT_EQ(off - on - 1, 94);
  EXPECT_NE(out.find("[ 7] CAL:SET CH1,V,7,6.9,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 1] CAL:SET CH1,V,1,0.1,0\r\n[ 1] CAL:MEAS CH1,V,1,"), std::string::npos);
  EXPECT_EQ(out.find("CORRECTION"), std::string::npos);

  // The settle waits at this test's time scale (0.1), with half of the two drains before each READ?.
  Settles vdac_settles = settles_of(*bench, "CAL:SET CH1,V,", ",1");
  Settles vmeter_settles = settles_of(*bench, "CAL:SET CH1,V,", ",0");
  EXPECT_EQ(vdac_settles.count, 36u);
  EXPECT_EQ(vmeter_settles.count, 11u);
  EXPECT_GE(vdac_settles.shortest, 0.0001 * VDAC_SETTLE_MS + 0.01);
  EXPECT_GE(vmeter_settles.shortest, 0.0001 * CH3_SETTLE_MS + 0.01);

  // The channel's error falls from tens of millivolts to what the model leaves after such a run.
  std::vector<double> calibrated;
  for (double point : VDAC_POINTS_12) calibrated.push_back(bench->voltage_error(1, point));
  PsuModel model = predicted_voltage_calibration(psu_model_make(options.seed), 1, nullptr);
  double predicted = rms_mv(model_errors(model, 1));
  EXPECT_GT(rms_mv(uncalibrated), 10.0);
  EXPECT_LT(rms_mv(calibrated), rms_mv(uncalibrated) / 10.0);
  EXPECT_NEAR(rms_mv(calibrated), predicted, 0.1);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_TRUE(bench->voltage_calibrated(1));
}

// Real time: the supply must be left to settle for the full wait after each set point before the DMM
// is read. The time from a CAL:SET reaching the supply to the next READ? reaching the DMM holds the
// set point's drain (100 ms), the settle wait (200 ms on CH3) and the DMM drain (10 ms).
TEST_F(FactoryVoltageTest, Ch3RealTimeRunHonoursEverySettleWait) {
  set_time_scale(1.0);
  connect_both();
  std::vector<double> vdac = near_readings(VDAC_POINTS_3, 0.000113);
  std::vector<double> vmeter = near_readings(VMETER_POINTS_3, -0.000017);
  bench->script_readings(calibration_script(1.5, vdac, vmeter));  // the path check's threshold: passes
  std::string began = today();

  factory_voltage_calibration(CH3, false);

  std::vector<std::string> lines = psu_lines();
  ExpectedCalibration expected("CH3", 'V', 5);
  expected.phase("V-DAC", 1, VDAC_POINTS_3, vdac);
  expected.phase("Voltmeter", 0, VMETER_POINTS_3, vmeter);
  expected.end(date_of_run(lines, began));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);
  // The rounding cases of the CH3 tables.
  EXPECT_NE(out.find("[ 3] CAL:SET CH3,V,3,0.8,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 6] CAL:SET CH3,V,6,2.5,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 3] CAL:SET CH3,V,3,0.0,0\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 4] CAL:SET CH3,V,4,0.1,0\r\n"), std::string::npos);

  // At least the settle wait plus part of the drain: a missing or shortened wait shows, while a late
  // timestamp on a busy machine has 80 ms of room.
  Settles settles = settles_of(*bench, "CAL:SET CH3,V,", "");
  EXPECT_EQ(settles.count, 24u);
  EXPECT_GE(settles.shortest, 0.001 * CH3_SETTLE_MS + 0.03);
  EXPECT_LT(settles.longest, 5.0);
}

TEST_F(FactoryVoltageTest, DmmSilentFromAPointLeavesTheRestUnreported) {
  connect_both();
  std::vector<double> vdac = near_readings(VDAC_POINTS_3, 0.000091);
  std::vector<double> vmeter = near_readings(VMETER_POINTS_3, 0.000013);
  // Path check and the first 20 points answer; the DMM says nothing from the 21st point's reading on.
  bench->script_readings(calibration_script(4.9987, vdac, {vmeter.begin(), vmeter.begin() + 7}));
  SimDmmFaults faults;
  faults.silent_from_reading = 1 + 20 + 1;
  bench->set_dmm_faults(faults);
  std::string began = today();

  factory_voltage_calibration(CH3, false);

  for (std::size_t j = 7; j < vmeter.size(); j++) vmeter[j] = NO_READING;
  std::vector<std::string> lines = psu_lines();
  ExpectedCalibration expected("CH3", 'V', 5);
  expected.phase("V-DAC", 1, VDAC_POINTS_3, vdac);
  expected.phase("Voltmeter", 0, VMETER_POINTS_3, vmeter);
  expected.end(date_of_run(lines, began));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);
  EXPECT_EQ(occurrences(out, "\aWARNING: DMM communication error.\n"), 4);
  EXPECT_EQ(lines.back(), SUPPLY_ERROR_QUERY);
  EXPECT_EQ(lines[lines.size() - 2].rfind("CAL:END ", 0), 0u);
  EXPECT_NE(out.find("CAL:END " + date_of_run(lines, began) + ",CH3\r\n"
                     "\aWARNING: 4 OF 24 POINTS HAD NO DMM MEASUREMENT AND WERE NOT REPORTED TO THE "
                     "SUPPLY.\n"
                     "THE CALIBRATION OF CH3 IS INCOMPLETE: REPEAT IT.\n"),
            std::string::npos);
  EXPECT_FALSE(bench->output_on(3));
}

namespace {

struct FailedPathCheck {
  Channel channel;
  bool voltage;
  double reading;  // NO_READING: the DMM says nothing
};

std::string case_name(const FailedPathCheck& c) {
  return std::string(c.voltage ? "Voltage" : "Current") + c.channel.name();
}

void PrintTo(const FailedPathCheck& c, std::ostream* os) { *os << case_name(c) << " reading " << c.reading; }

}  // namespace

class FactoryPathCheckTest : public ProgramTest, public ::testing::WithParamInterface<FailedPathCheck> {};

TEST_P(FactoryPathCheckTest, FailedPathCheckSendsNoCalibrationCommand) {
  const FailedPathCheck& c = GetParam();
  const std::string n = c.channel.name();
  connect_both();
  if (std::isnan(c.reading)) {
    SimDmmFaults faults;
    faults.silent_from_reading = 1;
    bench->set_dmm_faults(faults);
  } else {
    bench->script_readings({c.reading});
  }

  if (c.voltage)
    factory_voltage_calibration(c.channel, false);
  else
    factory_current_calibration(c.channel);

  EXPECT_EQ(out, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
  const std::string source = c.voltage ? ",5,2" : ",3,2";
  EXPECT_EQ(psu_lines(),
            (std::vector<std::string>{"OUTPUT " + n + ",ON", ":APPL " + n + source, "OUTPUT " + n + ",OFF",
                                      SUPPLY_ERROR_QUERY}));
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_FALSE(bench->output_on(static_cast<int>(c.channel.index()) + 1));
}

// Just below each check's threshold, a reversed lead, and a DMM that does not answer.
INSTANTIATE_TEST_SUITE_P(Cases, FactoryPathCheckTest,
                         ::testing::Values(FailedPathCheck{CH1, true, 1.4999}, FailedPathCheck{CH2, true, -5.0},
                                           FailedPathCheck{CH3, true, NO_READING},
                                           FailedPathCheck{CH2, false, 0.4999}),
                         [](const auto& info) { return case_name(info.param); });
