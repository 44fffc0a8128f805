// The full voltage calibration end to end against the simulated bench: a normal run on the supply's
// model with its summary, and a run whose step 2 aborts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "calibration/point_tables.h"
#include "calibration/voltage_assessment.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

namespace {

const std::string EQUALS = "=========================================================\n";
const std::string SUMMARY_HEAD = EQUALS + "Summary of performance from Factory to Full Calibration\n\n";

std::string figures(double ss, double rms) {
  return text_of(" SS Error: %8.5lf mV^2\nRMS Error: %8.5lf mV\n", ss, rms);
}

// The summary as it must read, up to its key wait.
std::string summary_text(const std::string& factory, const std::string& achieved) {
  return SUMMARY_HEAD + "FACTORY CALIBRATION:\n" + factory + "\nACHIEVED CALIBRATION:\n" + achieved + EQUALS +
         "\n\aPress any key to continue...\n";
}

// The figures that an assessment printed at the end of its sweep, after position from.
bool sweep_figures(const std::string& text, std::size_t from, double* ss, double* rms) {
  std::size_t at = text.find(" SS Error: ", from);
  return at != std::string::npos &&
         std::sscanf(text.c_str() + at, " SS Error: %lf mV^2\nRMS Error: %lf mV", ss, rms) == 2;
}

// The values of every "<marker>%lf" on the console between two positions, in order.
std::vector<double> values_after(const std::string& text, const std::string& marker, std::size_t from,
                                 std::size_t to) {
  std::vector<double> values;
  for (std::size_t at = text.find(marker, from); at != std::string::npos && at < to; at = text.find(marker, at + 1))
    values.push_back(std::atof(text.c_str() + at + marker.size()));
  return values;
}

}  // namespace

class FullVoltageTest : public ProgramTest {
 protected:
  ConsoleObserver shown{console};
};

TEST_F(FullVoltageTest, NormalRunReportsFactoryAndAchievedFigures) {
  connect_both();
  keys("k");

  full_voltage_calibration(*instruments, CH1, shown);

  ASSERT_TRUE(out.starts_with(BANNER + "1\nCH1 output ON...\n"));
  std::size_t step2 = out.find("STEP 2: BUILD AND APPLY CORRECTIONS TABLE - Channel 1\nCH1 output ON...\n");
  std::size_t step3 = out.find("STEP 3: REVIEW FINAL CALIBRATION STATUS - Channel 1\nCH1 output ON...\n");
  std::size_t summary = out.find(SUMMARY_HEAD);
  ASSERT_NE(step2, std::string::npos);
  ASSERT_NE(step3, std::string::npos);
  ASSERT_NE(summary, std::string::npos);
  ASSERT_LT(step2, step3);
  ASSERT_LT(step3, summary);

  // The summary repeats the figures of step 2's and step 3's sweeps, in its exact form.
  double factory_ss = NAN, factory_rms = NAN, achieved_ss = NAN, achieved_rms = NAN;
  ASSERT_TRUE(sweep_figures(out, step2, &factory_ss, &factory_rms));
  ASSERT_TRUE(sweep_figures(out, step3, &achieved_ss, &achieved_rms));
  EXPECT_EQ(out.substr(summary), summary_text(figures(factory_ss, factory_rms), figures(achieved_ss, achieved_rms)));
  ASSERT_EQ(key_waits.size(), 1u);
  EXPECT_EQ(key_waits[0], out.size() - 1);

  // Step 2 recalibrated with its own errors: one CORRECTION per V-DAC point, each the error that the
  // sweep printed for that point (shown there to three decimals).
  std::vector<double> errors = values_after(out, ", Error: ", step2, out.find("### Begin V-DAC", step2));
  std::vector<double> corrections = values_after(out, "CORRECTION: ", step2, step3);
  ASSERT_EQ(errors.size(), 36u);
  ASSERT_EQ(corrections.size(), 36u);
  for (std::size_t i = 0; i < 36; i++) EXPECT_NEAR(corrections[i], errors[i], 0.00051) << i;
  EXPECT_EQ(occurrences(out, "CORRECTION: "), 36);
  EXPECT_EQ(std::ranges::count(psu_lines(), std::string("CAL:START 27384,CH1")), 2);

  // Where the supply's model puts the figures: the factory calibration leaves about a millivolt of
  // error, the corrections take out about half of it, and the last sweep measures what the model holds.
  PsuModel factory = predicted_voltage_calibration(psu_model_make(options.seed), 1, nullptr);
  std::vector<double> factory_errors = model_errors(factory, 1);
  PsuModel corrected = predicted_voltage_calibration(factory, 1, factory_errors.data());
  std::vector<double> now;
  for (double point : VDAC_POINTS_12) now.push_back(bench->voltage_error(1, point));
  EXPECT_NEAR(factory_rms, rms_mv(factory_errors), 0.1);
  EXPECT_NEAR(achieved_rms, rms_mv(model_errors(corrected, 1)), 0.1);
  EXPECT_NEAR(achieved_rms, rms_mv(now), 0.1);
  EXPECT_LE(achieved_rms, factory_rms);
  EXPECT_NEAR(factory_ss, 36.0 * factory_rms * factory_rms, 0.01);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_DOUBLE_EQ(bench->set_voltage(1), 32.0);
  EXPECT_FALSE(bench->in_calibration());
}

// Step 2 meets a point 1.0001 V off after two good ones: its own key wait, then this procedure's,
// then step 3 and a summary that shows no factory figures (the partial sum of squares included).
TEST_F(FullVoltageTest, Step2AbortCostsTwoKeysAndShowsNoFactoryFigures) {
  connect_both();
  std::vector<double> script = {5.0, 5.0};  // step 1's path check and its calibration's
  script.insert(script.end(), std::begin(VDAC_POINTS_12), std::end(VDAC_POINTS_12));
  script.insert(script.end(), std::begin(VMETER_POINTS_12), std::end(VMETER_POINTS_12));
  script.insert(script.end(), {5.0, 0.201, 0.501, 2.2001});
  bench->script_readings(script);
  keys("abc");

  full_voltage_calibration(*instruments, CH2, shown);

  std::string first_wait = "PROCEDURE ABORTED....PRESS ANY KEY...";
  std::string second_wait = "\n\aPROCEDURE ABORTED...Press any key to continue.";
  std::size_t step3 = out.find("STEP 3: REVIEW FINAL CALIBRATION STATUS - Channel 2\n");
  ASSERT_NE(step3, std::string::npos);
  ASSERT_EQ(key_waits.size(), 3u);
  EXPECT_EQ(out.substr(key_waits[0] - first_wait.size(), first_wait.size() + 1), first_wait + "\n");
  EXPECT_EQ(out.substr(key_waits[1] - second_wait.size(), second_wait.size() + 2), second_wait + "\nS");
  EXPECT_EQ(key_waits[1] + 1, step3);
  EXPECT_TRUE(key_queue.empty());
  EXPECT_THAT(out, ::testing::HasSubstr("Correction: Setpoint  1.2000 V, Error: 1000.100 mV\n"
                                        "\a\nERROR: DMM is not reading correctly.\n"));
  // No recalibration ran; step 3 measured the channel as step 1 left it.
  EXPECT_EQ(std::ranges::count(psu_lines(), std::string("CAL:START 27384,CH2")), 1);

  std::size_t summary = out.find(SUMMARY_HEAD);
  ASSERT_NE(summary, std::string::npos);
  double ss = 0.0, rms = 0.0;
  ASSERT_TRUE(sweep_figures(out, step3, &ss, &rms));
  EXPECT_EQ(out.substr(summary), summary_text(" SS Error:      n/a mV^2\nRMS Error:      n/a mV\n", figures(ss, rms)));
  EXPECT_FALSE(bench->output_on(2));
}
