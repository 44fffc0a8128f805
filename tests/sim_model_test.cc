// The simulated supply's error model and calibration: calibrations are driven through the DP832
// command core exactly as the program's procedures send them, with the channel's true terminal
// values standing in for the DMM, and the results are checked against what the model predicts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "calibration/point_tables.h"
#include "sim/dmm_core.h"
#include "sim/psu_core.h"
#include "sim/sim.h"
#include "tests/program_fixture.h"

namespace {

using Points = std::span<const double>;

class SimModel : public ::testing::Test {
 protected:
  PsuState st = psu_make_state(psu_model_make(1), "Maker,DP832,SN,1");
  std::vector<double> errors;  // of the last assessment

  void send(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    EXPECT_EQ(psu_handle_line(st, text), "") << text;
  }

  // What a DMM on the channel reads: the terminal voltage, or the current through its shunt.
  double dmm(int channel, bool amps) {
    for (double& load : st.load_ohms) load = LOAD_OPEN;
    if (amps) st.load_ohms[channel - 1] = 0.1;
    PsuTerminal t = psu_terminal(st, channel);
    return amps ? t.amps : t.volts;
  }

  // The factory voltage (or current) calibration's command sequence; corrections, when given, are
  // added to the readings of the DAC phase.
  void factory(int channel, char quantity, Points dac, Points meter, const std::vector<double>& corrections = {}) {
    const char* value_format = quantity == 'V' ? "CAL:SET CH%d,%c,%d,%.1f,%d" : "CAL:SET CH%d,%c,%d,%.2f,%d";
    send("CAL:START 27384,CH%d", channel);
    send("CAL:CLEAR CH%d,%c", channel, quantity);
    send("*RST");
    send("OUTPUT CH%d,ON", channel);
    for (int phase = 1; phase >= 0; --phase) {
      Points points = phase == 1 ? dac : meter;
      for (int i = 0; i < static_cast<int>(points.size()); ++i) {
        send(value_format, channel, quantity, i, points[i], phase);
        double reading = dmm(channel, quantity == 'C');
        if (phase == 1 && !corrections.empty()) reading += corrections[i];
        send("CAL:MEAS CH%d,%c,%d,%f,%d", channel, quantity, i, reading, phase);
      }
    }
    send("OUTPUT CH%d,OFF", channel);
    send("CAL:END 12/07/2024,CH%d", channel);
    EXPECT_EQ(psu_handle_line(st, "SYST:ERR?"), "0,\"No error\"\n");
    for (double& load : st.load_ohms) load = LOAD_OPEN;
  }

  // The assessment's sweep: the errors (true minus set) at each point, and their RMS in mV.
  double assess(int channel, Points points) {
    send("OUTPUT CH%d,ON", channel);
    double sum = 0.0;
    errors.clear();
    for (double p : points) {
      send(":APPL CH%d,%.4f,2", channel, p);
      errors.push_back(dmm(channel, false) - p);
      sum += errors.back() * errors.back() * 1e6;
    }
    send("OUTPUT CH%d,OFF", channel);
    return std::sqrt(sum / static_cast<double>(points.size()));
  }

  double step(int channel) const { return st.model.hw[channel - 1].v_step; }
};

TEST_F(SimModel, UncalibratedErrorIsTensOfMillivolts) {
  EXPECT_GT(assess(1, VDAC_POINTS_12), 10.0);
  EXPECT_GT(assess(2, VDAC_POINTS_12), 10.0);
  EXPECT_GT(assess(3, SWEEP_POINTS_3), 3.0);
  // And plain to see on every seed's CH1 and CH2, though never near the assessment's 1 V limit.
  for (std::uint64_t seed = 1; seed <= 30; ++seed) {
    PsuModel m = psu_model_make(seed);
    for (int channel = 1; channel <= 2; ++channel) {
      double sum = 0.0;
      for (double p : VDAC_POINTS_12) sum += std::pow((psu_output_voltage(m, channel, p) - p) * 1e3, 2);
      double rms = std::sqrt(sum / 36.0);
      EXPECT_GT(rms, 5.0) << "seed " << seed << " CH" << channel;
      EXPECT_LT(rms, 150.0) << "seed " << seed << " CH" << channel;
    }
  }
  // Seeds make different supplies and the same seed the same one; channels differ too.
  PsuModel a = psu_model_make(5), b = psu_model_make(5), c = psu_model_make(6);
  EXPECT_EQ(psu_output_voltage(a, 1, 12.0), psu_output_voltage(b, 1, 12.0));
  EXPECT_NE(psu_output_voltage(a, 1, 12.0), psu_output_voltage(c, 1, 12.0));
  EXPECT_NE(psu_output_voltage(a, 1, 12.0), psu_output_voltage(a, 2, 12.0));
}

TEST_F(SimModel, FactoryVoltageCalibrationLeavesHalfTheVoltmeterResidual) {
  double uncalibrated = assess(1, VDAC_POINTS_12);
  factory(1, 'V', VDAC_POINTS_12, VMETER_POINTS_12);
  EXPECT_EQ(st.model.cal[0][Q_VDAC].size(), 36u);
  EXPECT_EQ(st.model.cal[0][Q_VMETER].size(), 10u) << "points 1 and 2 both drive 0.1 V and merge";
  EXPECT_TRUE(st.model.cal[1][Q_VDAC].empty()) << "other channels are untouched";

  double factory_rms = assess(1, VDAC_POINTS_12);
  EXPECT_LT(factory_rms, 3.0);
  EXPECT_LT(factory_rms, uncalibrated / 5.0);
  EXPECT_GT(factory_rms, 0.1) << "a systematic residual remains";
  // The trim moves the output by half the voltmeter's residual there, give or take a DAC step.
  for (int i = 0; i < 36; ++i) {
    double p = VDAC_POINTS_12[i];
    EXPECT_NEAR(errors[i], -TRIM_FRACTION * (psu_voltmeter(st.model, 1, p) - p), 1.5 * step(1)) << "point " << i;
  }
}

TEST_F(SimModel, CalibrationWithCorrectionsLowersTheResidual) {
  for (int channel = 1; channel <= 2; ++channel) {
    factory(channel, 'V', VDAC_POINTS_12, VMETER_POINTS_12);
    double factory_rms = assess(channel, VDAC_POINTS_12);
    std::vector<double> corrections = errors, meter_residual;
    for (double p : VDAC_POINTS_12) meter_residual.push_back(psu_voltmeter(st.model, channel, p) - p);
    factory(channel, 'V', VDAC_POINTS_12, VMETER_POINTS_12, corrections);
    EXPECT_LT(assess(channel, VDAC_POINTS_12), 0.75 * factory_rms) << "CH" << channel;
    // A quarter of the voltmeter's residual (the trim's half, halved again).
    for (int i = 0; i < 36; ++i)
      EXPECT_NEAR(errors[i], -TRIM_FRACTION * TRIM_FRACTION * meter_residual[i], 2.5 * step(channel))
          << "CH" << channel << " point " << i;
  }
}

TEST_F(SimModel, Channel3CalibratesOverItsOwnTables) {
  double before = assess(3, SWEEP_POINTS_3);
  factory(3, 'V', VDAC_POINTS_3, VMETER_POINTS_3);
  EXPECT_EQ(st.model.cal[2][Q_VMETER].size(), 7u) << "the four points sent as 0.0 merge, and the two sent as 0.1";
  double after = assess(3, SWEEP_POINTS_3);
  EXPECT_LT(after, 1.0);
  EXPECT_LT(after, before / 3.0);
}

TEST_F(SimModel, FactoryCurrentCalibration) {
  double before = 0.0, meter_before = 0.0;
  for (double p : IDAC_POINTS_12) {
    before = std::max(before, std::fabs(psu_output_current(st.model, 2, p) - p));
    meter_before = std::max(meter_before, std::fabs(psu_ammeter(st.model, 2, p) - p));
  }
  EXPECT_GT(before, 0.004);
  EXPECT_GT(meter_before, 0.001);
  factory(2, 'C', IDAC_POINTS_12, IMETER_POINTS_12);
  EXPECT_EQ(st.model.cal[1][Q_IDAC].size(), 15u);
  EXPECT_EQ(st.model.cal[1][Q_IMETER].size(), 7u);
  EXPECT_TRUE(st.model.cal[1][Q_VDAC].empty()) << "a current calibration leaves voltage alone";
  for (double p : IDAC_POINTS_12) EXPECT_NEAR(psu_output_current(st.model, 2, p), p, 1.5 * st.model.hw[1].i_step);
  // The ammeter now reads the current it carries at its calibration points.
  for (double p : {0.1, 1.0, 2.0, 3.0}) EXPECT_NEAR(psu_ammeter(st.model, 2, p), p, 1e-4) << p;
  factory(3, 'C', IDAC_POINTS_3, IMETER_POINTS_3);  // CH3 with its own tables
  for (double p : IDAC_POINTS_3) EXPECT_NEAR(psu_output_current(st.model, 3, p), p, 1.5 * st.model.hw[2].i_step);
}

// The supply's own meters through :MEAS: off by as much as its output when uncalibrated, close after
// the meter phases of the factory calibrations; a readback offset shows at every point.
TEST_F(SimModel, ReadbackFollowsTheMetersAndTheirCalibration) {
  // The readback error (reported minus true) of CH2 at a point, and the worst over the points.
  auto error = [&](bool amps, double p) {
    send("OUTPUT CH2,ON");
    send(amps ? ":APPL CH2,1,%.2f" : ":APPL CH2,%.2f,2", p);
    double truth = dmm(2, amps);
    return std::atof(psu_handle_line(st, amps ? "MEAS:CURR? CH2" : ":MEAS:VOLT? CH2").c_str()) - truth;
  };
  auto worst = [&](bool amps, Points points) {
    double most = 0.0;
    for (double p : points) most = std::max(most, std::fabs(error(amps, p)));
    return most;
  };
  const double uncalibrated_v = worst(false, VDAC_POINTS_12), uncalibrated_a = worst(true, IDAC_POINTS_12);
  EXPECT_GT(uncalibrated_v, 0.010);
  EXPECT_GT(uncalibrated_a, 0.002);
  factory(2, 'V', VDAC_POINTS_12, VMETER_POINTS_12);
  factory(2, 'C', IDAC_POINTS_12, IMETER_POINTS_12);
  // Between the voltmeter's points its interpolation residual stays (a few mV where they lie 10 V apart).
  EXPECT_LT(worst(false, VDAC_POINTS_12), uncalibrated_v / 3);
  EXPECT_LT(worst(false, Points(VMETER_POINTS_12).subspan(4)), 0.0005);
  EXPECT_LT(worst(true, IDAC_POINTS_12), uncalibrated_a / 4);
  double before = error(false, 12.0);
  st.readback_offset_v = 0.015;
  EXPECT_NEAR(error(false, 12.0) - before, 0.015, 1.0001e-4);  // a count of the meter at most
  send("OUTPUT CH2,OFF");
  EXPECT_LE(std::atof(psu_handle_line(st, ":MEAS:VOLT? CH2").c_str()), 0.0002) << "an output that is off reads none";
}

// The DMM on its current function, its shunt across CH1 at a low voltage limit: the channel runs in
// constant current, and the meter reads its current limit with the model's error.
TEST_F(SimModel, DmmReadsTheCurrentLimitThroughItsShunt) {
  DmmState meter = dmm_make_state(1, "x", 0, SimDmmStyle::raw);
  auto read = [&](const char* line) {
    return std::atof(dmm_handle_line(meter, line, [&](bool amps) { return psu_dmm_sees(st, 1, amps); }).now.c_str());
  };
  read("CONF:CURR:DC AUTO");
  send(":APPL CH1,1,0;OUTPUT CH1,ON");
  double largest_error = 0.0;
  for (int step = 0; step <= 12; ++step) {
    double amps = 0.25 * step;
    send(":APPL CH1,1,%.2f", amps);
    double reading = read("READ?");
    EXPECT_NEAR(reading, psu_output_current(st.model, 1, amps), 5e-6) << amps;
    EXPECT_EQ(psu_terminal(st, 1).mode, MODE_CC) << amps;
    largest_error = std::max(largest_error, std::fabs(reading - amps));
  }
  EXPECT_GT(largest_error, 0.002) << "uncalibrated";
}

// A wrong access code changes nothing; CAL:CLEAR returns to uncalibrated at once, and CAL:END keeps it.
TEST_F(SimModel, WrongAccessCodeChangesNothingAndClearReturnsToUncalibrated) {
  double raw = psu_output_voltage(st.model, 1, 20.0);
  factory(1, 'V', VDAC_POINTS_12, VMETER_POINTS_12);
  EXPECT_NE(psu_output_voltage(st.model, 1, 20.0), raw);
  CalTable kept = st.model.cal[0][Q_VDAC];
  st.calibration_changed = false;
  send("CAL:START 27385,CH1");
  send("CAL:CLEAR CH1,V");
  send("CAL:SET CH1,V,0,0.2,1");
  send("CAL:MEAS CH1,V,0,0.5,1");
  send("CAL:END 12/08/2024,CH1");
  ASSERT_EQ(st.model.cal[0][Q_VDAC].size(), kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(st.model.cal[0][Q_VDAC][i].x, kept[i].x);
    EXPECT_EQ(st.model.cal[0][Q_VDAC][i].y, kept[i].y);
  }
  EXPECT_FALSE(st.calibration_changed);

  send("CAL:START 27384,CH1");
  send("CAL:CLEAR CH1,V");
  EXPECT_EQ(psu_output_voltage(st.model, 1, 20.0), raw);
  send("CAL:END 12/08/2024,CH1");
  EXPECT_EQ(psu_output_voltage(st.model, 1, 20.0), raw);
}

TEST_F(SimModel, InterpolationAndItsEdges) {
  CalTable t;
  ASSERT_TRUE(cal_build({{2.0, 20.0}, {1.0, 10.0}, {3.0, 40.0}}, &t));
  EXPECT_DOUBLE_EQ(cal_lookup(t, 1.5), 15.0);
  EXPECT_DOUBLE_EQ(cal_lookup(t, 2.5), 30.0);
  EXPECT_DOUBLE_EQ(cal_lookup(t, 0.0), 0.0) << "the end segment carries on below";
  EXPECT_DOUBLE_EQ(cal_lookup(t, 4.0), 60.0) << "and above";
  EXPECT_DOUBLE_EQ(cal_lookup(CalTable(), 7.0), 7.0);
  ASSERT_TRUE(cal_build({{1.0, 1.5}}, &t));
  EXPECT_DOUBLE_EQ(cal_lookup(t, 3.0), 3.5) << "one point shifts";
  // Points at the same x merge; a falling y is refused and leaves the table alone.
  ASSERT_TRUE(cal_build({{1.0, 1.0}, {1.0, 1.2}, {2.0, 2.0}}, &t));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_DOUBLE_EQ(t[0].y, 1.1);
  EXPECT_FALSE(cal_build({{1.0, 2.0}, {2.0, 1.0}}, &t));
  EXPECT_EQ(t.size(), 2u);
  EXPECT_FALSE(cal_build({}, &t));
}

TEST_F(SimModel, CalibrationMemoryRoundTripAndRefusals) {
  WorkingFolder folder;
  factory(2, 'V', VDAC_POINTS_12, VMETER_POINTS_12);
  factory(3, 'C', IDAC_POINTS_3, IMETER_POINTS_3);
  std::string message;
  ASSERT_TRUE(psu_model_save(st.model, "state", &message)) << message;

  PsuModel fresh = psu_model_make(1);
  ASSERT_TRUE(psu_model_load(&fresh, "state", &message)) << message;
  for (double p : VDAC_POINTS_12) EXPECT_EQ(psu_output_voltage(fresh, 2, p), psu_output_voltage(st.model, 2, p));
  for (double p : IDAC_POINTS_3) EXPECT_EQ(psu_output_current(fresh, 3, p), psu_output_current(st.model, 3, p));
  EXPECT_EQ(fresh.cal_date[1], "12/07/2024");
  EXPECT_TRUE(fresh.cal[0][Q_VDAC].empty());

  // Another seed is another supply: its calibration does not fit and is not loaded.
  PsuModel other = psu_model_make(2);
  double untouched = psu_output_voltage(other, 2, 10.0);
  EXPECT_FALSE(psu_model_load(&other, "state", &message));
  EXPECT_NE(message.find("seed"), std::string::npos) << message;
  EXPECT_EQ(psu_output_voltage(other, 2, 10.0), untouched);

  // Damaged files are refused whole: cut in the middle of a table, not one at all, missing.
  fresh = psu_model_make(1);
  factory(1, 'V', VDAC_POINTS_12, VMETER_POINTS_12);
  ASSERT_TRUE(psu_model_save(st.model, "state", &message));
  std::string text = read_file("state");
  write_file("state", text.substr(0, text.size() / 2));
  double before = psu_output_voltage(fresh, 1, 10.0);
  EXPECT_FALSE(psu_model_load(&fresh, "state", &message));
  EXPECT_EQ(psu_output_voltage(fresh, 1, 10.0), before);
  write_file("state", "not a calibration file\n");
  EXPECT_FALSE(psu_model_load(&fresh, "state", &message));
  EXPECT_FALSE(psu_model_load(&fresh, "state.missing", &message));
}

// The one settings writer: the program's format, and the DMM's connection method by style.
TEST(SimSettingsWriter, WritesTheLoopbackSettings) {
  WorkingFolder folder;
  for (SimDmmStyle style : {SimDmmStyle::telnet, SimDmmStyle::raw}) {
    ASSERT_TRUE(sim_write_settings("x.cfg", 5024, 5555, style));
    EXPECT_EQ(read_file("x.cfg"), std::string("DMM_IP    127.0.0.1\nDMM_Port    5024\nDMM_Connect_Method    ") +
                                      (style == SimDmmStyle::raw ? "TCP.RAW" : "TCP.SCPI") +
                                      "\nLast_Run_Time    \"NONE\"\nDP832_IP    127.0.0.1\nDP832_Port    5555\n"
                                      "DP832_Connect_Method    TCP.SCPI\n");
  }
  std::string why;
  EXPECT_FALSE(sim_write_settings("/nonexistent-folder/x.cfg", 1, 2, SimDmmStyle::telnet, &why));
  EXPECT_NE(why.find("/nonexistent-folder/x.cfg"), std::string::npos) << why;
}

}  // namespace
