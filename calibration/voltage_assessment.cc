// The voltage accuracy assessment: sweeps a channel's set points, reads the true output on the DMM and
// reports each point's error and the sweep's sum of squares and RMS error.
#include "calibration/voltage_assessment.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "calibration/channel_groups.h"
#include "calibration/output_guard.h"
#include "calibration/path_checks.h"
#include "calibration/point_reading.h"
#include "calibration/step_figures.h"
#include "calibration/supply_errors.h"
#include "calibration/supply_readback.h"
#include "platform/stop_request.h"

namespace {

// "<title>: <what happened> at the point set to 2.7500 V", for the record's reason.
std::string stop_reason(AssessmentStep step, const char* what, double set_point) {
  char text[160];
  std::snprintf(text, sizeof text, "%s: %s at the point set to %.4f V", step.title, what, set_point);
  return text;
}

}  // namespace

SweepResult assess_voltage_accuracy(Bench& bench, Channel channel, ProcedureObserver& observer, AssessmentStep step) {
  const char* name = channel.name();
  const ChannelGroup& group = channel_group(channel);
  SweepResult result;
  result.sum_of_squares = std::numeric_limits<double>::quiet_NaN();
  result.rms_error = std::numeric_limits<double>::quiet_NaN();

  const PathCheck path = checked_path(bench, channel, Quantity::voltage);
  if (stop_requested()) {  // the path check has switched the output off
    observer.incomplete(std::string(step.title) + ": aborted by the operator");
    return result;
  }
  if (!path) {
    report_path_failure(bench, channel, path, observer);
    observer.incomplete(std::string(step.title) + ": " + path_failure_reason(channel, path));
    return result;
  }
  observer.step_begun(StepKind::assessment, step.number, step.title, Quantity::voltage, false);

  OutputGuard output(bench.psu, channel);
  observer.output_switched_on(channel);
  char output_on[32];
  std::snprintf(output_on, sizeof output_on, "OUTPUT %s,ON\r\n", name);
  // Until the first set point is confirmed: the output's switching on too.
  bool on_confirmed = output.on();
  bench.env.sleep_ms(ASSESS_OUTPUT_ON_WAIT_MS);
  SweepErrors sweep;
  result.sum_of_squares = 0.0;
  // The points as measured, for the readback's verdict at the end of the sweep.
  StepResult measured;
  measured.phases.emplace_back();

  // A stop (Ctrl+C, SIGTERM) during the sweep: the output goes off and the error queue is read, even
  // through a second Ctrl+C.
  auto stop_sweep = [&](double set_point) {
    observer.incomplete(stop_reason(step, "aborted by the operator", set_point));
    StopCleanup cleanup;
    observer.sweep_stopped(channel);
    output.off();
    (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
  };

  char command[128];
  for (const double set_point : group.sweep) {
    if (stop_requested()) {
      stop_sweep(set_point);
      return result;
    }
    std::snprintf(command, sizeof command, ":APPL %s,%.4lf,2\r\n", name, set_point);
    const bool confirmed = bench.psu.command_confirmed(command) && on_confirmed;
    if (!bench.psu.connected()) {
      // The set point never reached the supply: a reading now would measure something else.
      observer.sweep_supply_lost();
      StopCleanup cleanup;
      const std::string recovery = recover_lost_supply(bench, channel, output, nullptr, observer);
      observer.incomplete(stop_reason(step, "the connection to the DP832 was lost", set_point) + "; " + recovery);
      return result;
    }
    if (!confirmed) {
      // The supply may not have acted on the set point yet: the DMM would read the point before it.
      observer.sweep_point_unconfirmed(on_confirmed ? command : output_on);
      observer.point_taken({set_point, std::nullopt, std::nullopt, false, std::nullopt});
      observer.incomplete(stop_reason(step, "the DP832 did not confirm the set point", set_point));
      output.off();
      (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
      return result;
    }
    on_confirmed = true;
    bench.env.sleep_ms(ASSESS_SETTLE_MS);

    // One reading, or the mean of readings_per_point readings taken one after the other.
    PointReading taken = read_point(bench);
    const Result<double>& reading = taken.value;
    const std::vector<double>& readings = taken.readings;
    if (stop_requested()) {
      stop_sweep(set_point);
      return result;
    }
    if (!reading) {
      observer.sweep_reading_failed(reading.reason());
      observer.point_taken({set_point, std::nullopt, std::nullopt, false, std::nullopt});
      observer.incomplete(stop_reason(step, "the DMM reading failed", set_point) + ": " + reading.reason());
      // The sweep ends here: the channel is switched off before anything else.
      output.off();
      (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
      return result;
    }
    // The supply's own voltmeter at the same moment, with no wait of its own.
    const double readback = supply_readback(bench.psu, channel, Quantity::voltage);
    const double error = *reading - set_point;
    result.errors.push_back(error);
    observer.sweep_point(set_point, error);
    const PointResult point{set_point, *reading, std::nullopt, false, readback, readings};
    measured.phases.back().points.push_back(point);
    observer.point_taken(point);
    if (std::fabs(error) > ASSESS_ERROR_LIMIT_V) {
      observer.incomplete(stop_reason(step, "the DMM read more than 1 V off (wrong connection?), aborted", set_point));
      // The DMM reads far from the set point: switch off and wait for the operator.
      observer.sweep_reading_wrong();
      output.off();
      observer.sweep_reading_wrong_acknowledge();
      (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
      return result;
    }
    sweep.add(error);
    result.sum_of_squares = sweep.sum_of_squares_mV2();
  }

  observer.output_switched_off(channel);
  output.off();

  result.rms_error = sweep.rms_over_mV(group.sweep.size());
  measured.readback = true;
  measured.completed = true;
  const StepFigures figures =
      assessment_figures(measured, true, supply_tolerance_for(bench.psu.identified().identity.model),
                         reference_accuracy_for(bench.dmm.identified().identity.model), bench.decision_rule);
  observer.sweep_readback(figures.readback->verdict, figures.readback->errors.count() > 0
                                                         ? figures.readback->errors.max_abs_mV()
                                                         : std::numeric_limits<double>::quiet_NaN());
  observer.sweep_figures(result.sum_of_squares, result.rms_error);
  observer.step_completed();
  const Result<std::vector<std::string>> errors = report_supply_errors(bench, channel, ErrorContext::assessment, observer);
  result.completed = !errors || errors->empty();
  return result;
}
