// The full voltage calibration of CH1 or CH2: factory calibration, assessment with recalibration by
// the corrections it found, final assessment, and a summary of the errors before and after.
#include <cmath>
#include <limits>
#include <string>

#include "calibration/factory_calibration.h"
#include "calibration/run_recording.h"
#include "calibration/voltage_assessment.h"
#include "console/console.h"
#include "console/keys.h"
#include "link/primitives.h"

namespace {

// One pair of figures. An assessment that did not complete its sweep leaves its RMS unwritten and its
// sum of squares unwritten or partial, so both are shown as not measured then.
void print_figures(double sum_of_squares, double rms_error, bool last) {
  if (std::isnan(rms_error)) {
    console_print(" SS Error: %8s mV^2\n", "n/a");
    console_print(last ? "RMS Error: %8s mV\n" : "RMS Error: %8s mV\n\n", "n/a");
    return;
  }
  console_print(" SS Error: %8.5lf mV^2\n", sum_of_squares);
  if (last)
    console_print("RMS Error: %8.5lf mV\n", rms_error);
  else
    console_print("RMS Error: %8.5lf mV\n\n", rms_error);
}

}  // namespace

void full_voltage_calibration(Channel channel) {
  const char channel_key = channel.key();

  console_print("\n\n** Full Channel Voltage Calibration **\n\nSTEPS: (1) Factory Calibration (2) "
                "Assessment of Error and Fine Calibration (3) Final Assessment.\n\n");
  console_print("STEP 1: INITIAL CALIBRATION PER FACTORY SPEC - Channel %c\n", channel_key);
  dmm_set_voltage_mode();
  if (check_voltage_path(channel) == 0) {
    console_print("\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
    note_incomplete(std::string("the DMM is not reading from ") + channel.name() + " (path check failed)");
    return;
  }
  factory_voltage_calibration(channel, false);

  // Not produced until an assessment writes them.
  const double none = std::numeric_limits<double>::quiet_NaN();
  double factory_ss = none, factory_rms = none, achieved_ss = none, achieved_rms = none;

  console_print("STEP 2: BUILD AND APPLY CORRECTIONS TABLE - Channel %c\n", channel_key);
  if (assess_voltage_accuracy(channel, factory_ss, factory_rms, AssessMode::RECALIBRATE) == 0) {
    console_print("\n\aPROCEDURE ABORTED...Press any key to continue.");
    read_key();
    console_print("\n");
  }

  console_print("STEP 3: REVIEW FINAL CALIBRATION STATUS - Channel %c\n", channel_key);
  assess_voltage_accuracy(channel, achieved_ss, achieved_rms, AssessMode::REPORT_ONLY);

  console_print("=========================================================\n");
  console_print("Summary of performance from Factory to Full Calibration\n\n");
  console_print("FACTORY CALIBRATION:\n");
  print_figures(factory_ss, factory_rms, false);
  console_print("ACHIEVED CALIBRATION:\n");
  print_figures(achieved_ss, achieved_rms, true);
  console_print("=========================================================\n");

  console_print("\n\aPress any key to continue...");
  read_key();
  console_print("\n");
}
