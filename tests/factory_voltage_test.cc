// The factory voltage calibration against the simulated bench: the command stream and console text
// of CH1 (on the supply's model) and CH3 (scripted readings, in real time with its settle waits),
// a DMM that falls silent mid-run, and failed path checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

namespace {

// Readings near each point of a table, six decimals, distinct from one another.
template <std::size_t N>
std::vector<double> near_readings(const double (&points)[N], double offset) {
  std::vector<double> readings;
  for (std::size_t i = 0; i < N; i++) readings.push_back(points[i] + offset * static_cast<double>(i + 1));
  return readings;
}

}  // namespace

class FactoryVoltageTest : public ProgramTest {};

TEST_F(FactoryVoltageTest, Ch1RunOnTheModelCalibratesTheChannel) {
  connect_both();
  std::vector<double> uncalibrated = model_errors(psu_model_make(options.seed), 1);
  std::string began = today();

  factory_voltage_calibration("CH1", 0);

  // The stream, with the values the DMM actually gave: each near its point on the uncalibrated channel.
  std::vector<std::string> lines = psu_lines();
  std::vector<double> vdac = reported_values(lines, "CH1", 'V', 1, std::size(VDAC_POINTS_12));
  std::vector<double> vmeter = reported_values(lines, "CH1", 'V', 0, std::size(VMETER_POINTS_12));
  for (std::size_t i = 0; i < vdac.size(); i++) EXPECT_NEAR(vdac[i], VDAC_POINTS_12[i], 0.2) << i;
  for (std::size_t i = 0; i < vmeter.size(); i++) EXPECT_NEAR(vmeter[i], VMETER_POINTS_12[i], 0.2) << i;
  ExpectedCalibration expected("CH1", 'V', 5);
  expected.phase("V-DAC", 1, VDAC_POINTS_12, std::size(VDAC_POINTS_12), vdac);
  expected.phase("Voltmeter", 0, VMETER_POINTS_12, std::size(VMETER_POINTS_12), vmeter);
  expected.end(date_of_run(lines, began));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);

  auto on = std::find(lines.begin() + 3, lines.end(), "OUTPUT CH1,ON");
  auto off = std::find(on, lines.end(), "OUTPUT CH1,OFF");
  EXPECT_EQ(off - on - 1, 94);
  EXPECT_NE(out.find("[ 7] CAL:SET CH1,V,7,6.9,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 1] CAL:SET CH1,V,1,0.1,0\r\n[ 1] CAL:MEAS CH1,V,1,"), std::string::npos);
  EXPECT_EQ(out.find("CORRECTION"), std::string::npos);

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
  std::vector<double> script = {1.5};  // exactly the path check's threshold: passes
  script.insert(script.end(), vdac.begin(), vdac.end());
  script.insert(script.end(), vmeter.begin(), vmeter.end());
  bench->script_readings(script);
  std::string began = today();

  factory_voltage_calibration_ch3();

  std::vector<std::string> lines = psu_lines();
  ExpectedCalibration expected("CH3", 'V', 5);
  expected.phase("V-DAC", 1, VDAC_POINTS_3, std::size(VDAC_POINTS_3), vdac);
  expected.phase("Voltmeter", 0, VMETER_POINTS_3, std::size(VMETER_POINTS_3), vmeter);
  expected.end(date_of_run(lines, began));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);
  // The rounding cases of the CH3 tables.
  EXPECT_NE(out.find("[ 3] CAL:SET CH3,V,3,0.8,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 6] CAL:SET CH3,V,6,2.5,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 3] CAL:SET CH3,V,3,0.0,0\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 4] CAL:SET CH3,V,4,0.1,0\r\n"), std::string::npos);

  std::vector<SimReceived> psu = bench->psu_received();
  std::vector<SimReceived> dmm = bench->dmm_received();
  int settles = 0;
  for (const SimReceived& set : psu) {
    if (set.line.rfind("CAL:SET CH3,V,", 0) != 0) continue;
    auto read = std::find_if(dmm.begin(), dmm.end(), [&](const SimReceived& r) {
      return r.line == "READ?" && r.time_s > set.time_s;
    });
    ASSERT_NE(read, dmm.end()) << set.line;
    double waited = read->time_s - set.time_s;
    // At least the settle wait plus part of the drain: a missing or shortened wait shows, while a
    // late timestamp on a busy machine has 80 ms of room.
    EXPECT_GE(waited, 0.001 * VDAC_SETTLE_CH3_MS + 0.03) << set.line;
    EXPECT_LT(waited, 5.0) << set.line;
    settles++;
  }
  EXPECT_EQ(settles, 24);
}

TEST_F(FactoryVoltageTest, DmmSilentFromAPointLeavesTheRestUnreported) {
  connect_both();
  std::vector<double> vdac = near_readings(VDAC_POINTS_3, 0.000091);
  std::vector<double> vmeter = near_readings(VMETER_POINTS_3, 0.000013);
  // Path check and the first 20 points answer; the DMM says nothing from the 21st point's reading on.
  std::vector<double> script = {4.9987};
  script.insert(script.end(), vdac.begin(), vdac.end());
  script.insert(script.end(), vmeter.begin(), vmeter.begin() + 7);
  bench->script_readings(script);
  SimDmmFaults faults;
  faults.silent_from_reading = 1 + 20 + 1;
  bench->set_dmm_faults(faults);
  std::string began = today();

  factory_voltage_calibration_ch3();

  for (std::size_t j = 7; j < vmeter.size(); j++) vmeter[j] = NO_READING;
  std::vector<std::string> lines = psu_lines();
  ExpectedCalibration expected("CH3", 'V', 5);
  expected.phase("V-DAC", 1, VDAC_POINTS_3, std::size(VDAC_POINTS_3), vdac);
  expected.phase("Voltmeter", 0, VMETER_POINTS_3, std::size(VMETER_POINTS_3), vmeter);
  expected.end(date_of_run(lines, began));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);
  EXPECT_EQ(count_of(out, "\aWARNING: DMM communication error.\n"), 4);
  EXPECT_EQ(lines.back().rfind("CAL:END ", 0), 0u);
  EXPECT_NE(out.find("CAL:END " + date_of_run(lines, began) + ",CH3\r\n"
                     "\aWARNING: 4 OF 24 POINTS HAD NO DMM MEASUREMENT AND WERE NOT REPORTED TO THE "
                     "SUPPLY.\n"
                     "THE CALIBRATION OF CH3 IS INCOMPLETE: REPEAT IT.\n"),
            std::string::npos);
  EXPECT_FALSE(bench->output_on(3));
}

TEST_F(FactoryVoltageTest, FailedPathCheckSendsNoCalibrationCommand) {
  connect_both();
  struct Case {
    double reading;
    const char* name;
  };
  for (const Case& c : {Case{1.4999, "CH1"}, Case{-5.0, "CH2"}}) {
    bench->script_readings({c.reading});
    factory_voltage_calibration(c.name, 0);
    std::string n = c.name;
    EXPECT_EQ(out, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n") << n;
    EXPECT_EQ(psu_lines(), (std::vector<std::string>{"OUTPUT " + n + ",ON", ":APPL " + n + ",5,2",
                                                     "OUTPUT " + n + ",OFF"}));
    bench->clear_received();
    out.clear();
  }

  // A path check whose reading fails.
  SimDmmFaults faults;
  faults.silent_from_reading = 1;
  bench->set_dmm_faults(faults);
  factory_voltage_calibration_ch3();
  EXPECT_EQ(out, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
  EXPECT_EQ(psu_lines(), (std::vector<std::string>{"OUTPUT CH3,ON", ":APPL CH3,5,2", "OUTPUT CH3,OFF"}));
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_FALSE(bench->output_on(3));
}
