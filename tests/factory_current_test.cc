// The factory current calibration against the simulated bench: the DP832's command stream and the
// console text for CH1 and CH3, and a failed path check.
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

// Readings a little off each point, with six decimals, distinct from one another.
template <std::size_t N>
std::vector<double> near_readings(const double (&points)[N], double offset) {
  std::vector<double> readings;
  for (std::size_t i = 0; i < N; i++) readings.push_back(points[i] + offset * static_cast<double>(i + 1));
  return readings;
}

std::vector<double> joined(double first, const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> all = {first};
  all.insert(all.end(), a.begin(), a.end());
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

}  // namespace

class FactoryCurrentTest : public ProgramTest {};

TEST_F(FactoryCurrentTest, Ch1RunReportsEveryPointWithTheDmmReading) {
  connect_both();
  std::vector<double> idac = near_readings(IDAC_POINTS_12, 0.000137);
  std::vector<double> imeter = near_readings(IMETER_POINTS_12, -0.000021);
  bench->script_readings(joined(0.5, idac, imeter));  // exactly the path check's threshold: passes
  std::string date = today();

  factory_current_calibration("CH1");

  ExpectedCalibration expected("CH1", 'C', 3);
  expected.phase("I-DAC", 1, IDAC_POINTS_12, std::size(IDAC_POINTS_12), idac);
  expected.phase("Ammeter", 0, IMETER_POINTS_12, std::size(IMETER_POINTS_12), imeter);
  expected.end(date_of_run(psu_lines(), date));
  std::vector<std::string> lines = psu_lines();
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);

  // 44 calibration commands between the output commands; numbering restarts with the ammeter phase.
  auto on = std::find(lines.begin() + 3, lines.end(), "OUTPUT CH1,ON");
  auto off = std::find(on, lines.end(), "OUTPUT CH1,OFF");
  EXPECT_EQ(off - on - 1, 44);
  EXPECT_NE(out.find("[14] CAL:SET CH1,C,14,3.20,1\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 0] CAL:SET CH1,C,0,0.00,0\r\n"), std::string::npos);
  EXPECT_NE(out.find("[ 9] CAL:SET CH1,C,9,2.15,1\r\n"), std::string::npos);

  // The DMM was reset into current mode before the check, and read once per point after it.
  std::vector<std::string> dmm = dmm_lines();
  ASSERT_GE(dmm.size(), 2u);
  EXPECT_EQ(dmm[0], "*RST");
  EXPECT_EQ(dmm[1], "CONF:CURR:DC AUTO");
  EXPECT_EQ(std::count(dmm.begin(), dmm.end(), "READ?"), 1 + 15 + 7);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_FALSE(bench->in_calibration());
}

TEST_F(FactoryCurrentTest, Ch3RunUsesItsOwnTables) {
  connect_both();
  std::vector<double> idac = near_readings(IDAC_POINTS_3, 0.000211);
  std::vector<double> imeter = near_readings(IMETER_POINTS_3, 0.000009);
  bench->script_readings(joined(2.95, idac, imeter));
  std::string date = today();

  factory_current_calibration_ch3();

  ExpectedCalibration expected("CH3", 'C', 3);
  expected.phase("I-DAC", 1, IDAC_POINTS_3, std::size(IDAC_POINTS_3), idac);
  expected.phase("Ammeter", 0, IMETER_POINTS_3, std::size(IMETER_POINTS_3), imeter);
  expected.end(date_of_run(psu_lines(), date));
  std::vector<std::string> lines = psu_lines();
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);

  auto on = std::find(lines.begin() + 3, lines.end(), "OUTPUT CH3,ON");
  auto off = std::find(on, lines.end(), "OUTPUT CH3,OFF");
  EXPECT_EQ(off - on - 1, 36);
  ASSERT_NE(on, lines.end());
  EXPECT_EQ(*(on + 1), "CAL:SET CH3,C,0,0.10,1");
  EXPECT_NE(out.find("[ 5] CAL:SET CH3,C,5,3.20,0\r\n"), std::string::npos);
}

TEST_F(FactoryCurrentTest, FailedPathCheckSendsNoCalibrationCommand) {
  connect_both();
  bench->script_readings({0.4999});

  factory_current_calibration("CH2");

  EXPECT_EQ(out, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
  EXPECT_EQ(psu_lines(), (std::vector<std::string>{"OUTPUT CH2,ON", ":APPL CH2,3,2", "OUTPUT CH2,OFF"}));
  EXPECT_FALSE(bench->output_on(2));
  EXPECT_FALSE(bench->in_calibration());
}
