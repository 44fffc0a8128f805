// The full voltage calibration of CH1 or CH2: factory calibration, assessment, factory calibration with
// the corrections the assessment found, final assessment, and a summary of the errors before and after.
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "calibration/path_checks.h"
#include "calibration/voltage_assessment.h"
#include "platform/stop_request.h"

void full_voltage_calibration(Bench& bench, Channel channel, ProcedureObserver& observer) {
  observer.full_calibration_begun(channel);
  observer.full_calibration_step(1, channel);
  const PathCheck path = checked_path(bench, channel, Quantity::voltage);
  if (stop_requested()) {  // the path check has switched the output off
    observer.incomplete("aborted by the operator");
    return;
  }
  if (!path) {
    report_path_failure(bench, channel, path, observer);
    observer.incomplete(path_failure_reason(channel, path));
    return;
  }
  factory_voltage_calibration(bench, channel, observer);
  // A stop ends the whole run after the step that saw it has switched its output off.
  if (stop_requested()) return;

  observer.full_calibration_step(2, channel);
  const SweepResult factory = assess_voltage_accuracy(bench, channel, observer, BEFORE_RECALIBRATION_STEP);
  if (factory.completed && channel_group(channel).corrections)
    factory_voltage_calibration(bench, channel, observer, factory.errors);
  if (stop_requested()) return;
  if (!factory.completed) observer.full_calibration_step_failed();

  observer.full_calibration_step(3, channel);
  const SweepResult achieved = assess_voltage_accuracy(bench, channel, observer, FINAL_STEP);
  if (stop_requested()) return;

  observer.full_calibration_summary(
      {factory.sum_of_squares, factory.rms_error, achieved.sum_of_squares, achieved.rms_error});
}
