// The voltage accuracy assessment: sweeps a channel's set points, reads the true output on the DMM and
// reports each point's error and the sweep's sum of squares and RMS error. CH1/CH2 sweeps fill
// voltage_corrections and, in the recalibrate mode, run the factory calibration with them.
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "calibration/run_recording.h"
#include "calibration/voltage_assessment.h"
#include "calibration/voltage_corrections.h"
#include "console/console.h"
#include "console/keys.h"
#include "link/primitives.h"
#include "platform/sleep.h"

namespace {

static_assert(CH12_GROUP.sweep.size() == std::size(voltage_corrections));

// The DMM reads far from the set point: switch off and wait for the operator.
void abort_on_wrong_reading(const char* name) {
  char command[128];
  console_print("\a\nERROR: DMM is not reading correctly.\nIs it connected to the proper supply output?\n");
  console_print("PROCEDURE ABORTED....PRESS ANY KEY...");
  std::snprintf(command, sizeof command, "OUTPUT %s,OFF\r\n", name);
  psu_command(command);
  read_key();  // any key, or a closed console: either way the procedure ends here
  console_print("\n");
}

// The assessment's step in the run's record: A's only step, or F's step 2 (before the recalibration)
// or step 3 (final).
struct AssessmentStep {
  int number;
  const char* title;
};

AssessmentStep assessment_step(AssessMode mode) {
  if (current_run.procedure != Procedure::full_voltage_calibration) return {1, "Assessment"};
  return mode == AssessMode::RECALIBRATE ? AssessmentStep{2, "After factory calibration"}
                                         : AssessmentStep{3, "Final"};
}

// "<title>: <what happened> at the point set to 2.7500 V", for the record's reason.
std::string stop_reason(AssessMode mode, const char* what, double set_point) {
  char text[160];
  std::snprintf(text, sizeof text, "%s: %s at the point set to %.4f V", assessment_step(mode).title, what,
                set_point);
  return text;
}

}  // namespace

int assess_voltage_accuracy(Channel channel, double& sum_of_squares, double& rms_error, AssessMode mode) {
  const char* name = channel.name();
  const ChannelGroup& group = channel_group(channel);
  char command[128];

  dmm_set_voltage_mode();
  if (check_voltage_path(channel) == 0) {
    console_print("\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
    note_incomplete(std::string(assessment_step(mode).title) + ": the DMM is not reading from " + name +
                    " (path check failed)");
    return 0;
  }
  const AssessmentStep step = assessment_step(mode);
  record_step(StepKind::assessment, step.number, step.title, Quantity::voltage, false);

  console_print("%s output ON...\n", name);
  std::snprintf(command, sizeof command, "OUTPUT %s,ON\r\n", name);
  psu_command(command);
  sleep_ms(ASSESS_OUTPUT_ON_WAIT_MS);
  sum_of_squares = 0.0;

  for (std::size_t i = 0; i < group.sweep.size(); i++) {
    double set_point = group.sweep[i];
    std::snprintf(command, sizeof command, ":APPL %s,%.4lf,2\r\n", name, set_point);
    psu_command(command);
    if (!psu_connected()) {
      // The set point never reached the supply: a reading now would measure something else.
      console_print("\a\nERROR: THE CONNECTION TO THE DP832 HAS BEEN LOST. EXITING ROUTINE.\n\n");
      note_incomplete(stop_reason(mode, "the connection to the DP832 was lost", set_point));
      return 0;
    }
    sleep_ms(ASSESS_SETTLE_MS);

    int ok = 0;
    double reading = dmm_read(ok);
    if (ok == 0) {
      console_print("\aERROR: FAILED TO READ FROM DMM. EXITING ROUTINE.\n\n");
      record_assessed_point(set_point, std::nullopt);
      note_incomplete(stop_reason(mode, "the DMM reading failed", set_point));
      return 0;
    }
    double error = reading - set_point;
    if (group.corrections) voltage_corrections[i] = error;
    console_print("Correction: Setpoint %7.4lf V, Error: %7.3lf mV\n", set_point, error * 1000.0);
    record_assessed_point(set_point, reading);
    if (std::fabs(error) > ASSESS_ERROR_LIMIT_V) {
      note_incomplete(stop_reason(mode, "the DMM read more than 1 V off (wrong connection?), aborted", set_point));
      abort_on_wrong_reading(name);
      return 0;
    }
    sum_of_squares += (error * 1000.0) * (error * 1000.0);
  }

  console_print("%s output OFF...\n", name);
  std::snprintf(command, sizeof command, "OUTPUT %s,OFF\r\n", name);
  psu_command(command);

  rms_error = std::sqrt(sum_of_squares * (1.0 / static_cast<double>(group.sweep.size())));
  console_print(" SS Error: %8.5lf mV^2\n", sum_of_squares);
  console_print("RMS Error: %8.5lf mV\n\n", rms_error);
  record_step_completed();

  if (group.corrections && mode == AssessMode::RECALIBRATE) factory_voltage_calibration(channel, true);
  return 1;
}
