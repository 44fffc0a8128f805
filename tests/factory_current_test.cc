// The factory current calibration against the simulated bench: the DP832's command stream and the
// console text on each channel group's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

namespace {

struct CurrentRun {
  Channel channel;
  std::span<const double> idac;
  std::span<const double> imeter;
  double path_reading;
  std::vector<std::string> echoes;  // console lines that must appear, spelled out
};

void PrintTo(const CurrentRun& c, std::ostream* os) { *os << c.channel.name(); }

}  // namespace

class FactoryCurrentTest : public ProgramTest, public ::testing::WithParamInterface<CurrentRun> {};

TEST_P(FactoryCurrentTest, RunReportsEveryPointWithTheDmmReading) {
  const CurrentRun& c = GetParam();
  const std::string name = c.channel.name();
  connect_both();
  std::vector<double> idac = near_readings(c.idac, 0.000137);
  std::vector<double> imeter = near_readings(c.imeter, -0.000021);
  bench->script_readings(calibration_script(c.path_reading, idac, imeter));
  std::string date = today();

  factory_current_calibration(c.channel);

  std::vector<std::string> lines = psu_lines();
  ExpectedCalibration expected(name, 'C', 3);
  expected.phase("I-DAC", 1, c.idac, idac);
  expected.phase("Ammeter", 0, c.imeter, imeter);
  expected.end(date_of_run(lines, date));
  EXPECT_EQ(lines, expected.commands);
  EXPECT_EQ(out, expected.console);

  // Every point's two commands between the output commands; numbering restarts with the ammeter phase.
  auto on = std::find(lines.begin() + 3, lines.end(), "OUTPUT " + name + ",ON");
  auto off = std::find(on, lines.end(), "OUTPUT " + name + ",OFF");
  EXPECT_EQ(off - on - 1, static_cast<long>(2 * (c.idac.size() + c.imeter.size())));
  for (const std::string& echo : c.echoes) EXPECT_NE(out.find(echo), std::string::npos) << echo;

  // The settle waits at this test's time scale (0.1): 500 ms after each I-DAC point, 200 ms after
  // each ammeter point, with half of the two drains before each READ?.
  Settles idac_settles = settles_of(*bench, "CAL:SET " + name + ",C,", ",1");
  Settles imeter_settles = settles_of(*bench, "CAL:SET " + name + ",C,", ",0");
  EXPECT_EQ(idac_settles.count, c.idac.size());
  EXPECT_EQ(imeter_settles.count, c.imeter.size());
  EXPECT_GE(idac_settles.shortest, 0.0001 * 500 + 0.01);
  EXPECT_GE(imeter_settles.shortest, 0.0001 * 200 + 0.01);

  // The DMM was reset into current mode before the check, and read once per point after it.
  std::vector<std::string> dmm = dmm_lines();
  ASSERT_GE(dmm.size(), 2u);
  EXPECT_EQ(dmm[0], "*RST");
  EXPECT_EQ(dmm[1], "CONF:CURR:DC AUTO");
  EXPECT_EQ(std::count(dmm.begin(), dmm.end(), "READ?"),
            static_cast<long>(1 + c.idac.size() + c.imeter.size()));
  EXPECT_FALSE(bench->output_on(static_cast<int>(c.channel.index()) + 1));
  EXPECT_FALSE(bench->in_calibration());
}

INSTANTIATE_TEST_SUITE_P(
    Channels, FactoryCurrentTest,
    ::testing::Values(
        // The path check's threshold exactly: passes.
        CurrentRun{CH1, IDAC_POINTS_12, IMETER_POINTS_12, 0.5,
                   {"[ 0] CAL:SET CH1,C,0,0.10,1\r\n", "[ 9] CAL:SET CH1,C,9,2.15,1\r\n",
                    "[14] CAL:SET CH1,C,14,3.20,1\r\n", "[ 0] CAL:SET CH1,C,0,0.00,0\r\n"}},
        CurrentRun{CH2, IDAC_POINTS_12, IMETER_POINTS_12, 3.0, {"[ 6] CAL:SET CH2,C,6,3.20,0\r\n"}},
        CurrentRun{CH3, IDAC_POINTS_3, IMETER_POINTS_3, 2.95,
                   {"[ 0] CAL:SET CH3,C,0,0.10,1\r\n", "[ 5] CAL:SET CH3,C,5,3.20,0\r\n"}}),
    [](const auto& info) { return std::string(info.param.channel.name()); });
