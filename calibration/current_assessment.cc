// The current accuracy assessment.
#include "calibration/current_assessment.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "calibration/channel_groups.h"
#include "calibration/output_guard.h"
#include "calibration/point_reading.h"
#include "calibration/path_checks.h"
#include "calibration/step_figures.h"
#include "calibration/supply_errors.h"
#include "calibration/supply_readback.h"
#include "platform/stop_request.h"

namespace {

constexpr const char* TITLE = "Current assessment";

// "Current assessment: <what happened> at the point set to 0.9000 A", for the record's reason.
std::string stop_reason(const char* what, double set_point) {
  char text[160];
  std::snprintf(text, sizeof text, "%s: %s at the point set to %.4f A", TITLE, what, set_point);
  return text;
}

}  // namespace

bool assess_current_accuracy(Bench& bench, Channel channel, ProcedureObserver& observer) {
  const char* name = channel.name();
  const int settle_ms = channel_group(channel).idac.settle_ms;

  const Status function = bench.dmm.set_current_mode();
  const PathCheck path = function ? check_small_current_path(bench, channel) : PathCheck{function, true, true};
  if (stop_requested()) {  // the path check has switched the output off
    observer.incomplete(std::string(TITLE) + ": aborted by the operator");
    return false;
  }
  if (!path) {
    report_path_failure(bench, channel, path, observer);
    observer.incomplete(std::string(TITLE) + ": " +
                        (path.function_failed ? path_failure_reason(channel, path)
                                              : std::string("the DMM sees no current from ") + name +
                                                    " (path check failed: " + path.status.reason() + ")"));
    return false;
  }
  observer.step_begun(StepKind::assessment, 1, TITLE, Quantity::current, false);

  OutputGuard output(bench.psu, channel);
  observer.output_switched_on(channel);
  char output_on[32];
  std::snprintf(output_on, sizeof output_on, "OUTPUT %s,ON\r\n", name);
  // Until the first set point is confirmed: the output's switching on too.
  bool on_confirmed = output.on();
  // The points as measured, for the verdicts at the end of the sweep.
  StepResult measured;
  measured.quantity = Quantity::current;
  measured.readback = true;
  measured.phases.emplace_back();

  // Every way out before the end of the sweep: the output goes off and the error queue is read, even
  // through a second Ctrl+C.
  auto stop_sweep = [&](double set_point) {
    observer.incomplete(stop_reason("aborted by the operator", set_point));
    StopCleanup cleanup;
    observer.sweep_stopped(channel);
    output.off();
    (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
  };

  char command[128];
  for (const double set_point : CURRENT_SWEEP_POINTS) {
    if (stop_requested()) {
      stop_sweep(set_point);
      return false;
    }
    std::snprintf(command, sizeof command, ":APPL %s,%d,%.4lf\r\n", name, CURRENT_ASSESS_VOLTS, set_point);
    const bool confirmed = bench.psu.command_confirmed(command) && on_confirmed;
    if (!bench.psu.connected()) {
      observer.sweep_supply_lost();
      StopCleanup cleanup;
      const std::string recovery = recover_lost_supply(bench, channel, output, nullptr, observer);
      observer.incomplete(stop_reason("the connection to the DP832 was lost", set_point) + "; " + recovery);
      return false;
    }
    if (!confirmed) {
      // The supply may not have acted on the set point yet: the DMM would read the point before it.
      observer.sweep_point_unconfirmed(on_confirmed ? command : output_on);
      observer.point_taken({set_point, std::nullopt, std::nullopt, false, std::nullopt});
      observer.incomplete(stop_reason("the DP832 did not confirm the set point", set_point));
      output.off();
      (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
      return false;
    }
    on_confirmed = true;
    bench.env.sleep_ms(settle_ms);

    // One reading, or the mean of readings_per_point readings, as the voltage assessment takes them.
    const PointReading taken = read_point(bench);
    const Result<double>& reading = taken.value;
    if (stop_requested()) {
      stop_sweep(set_point);
      return false;
    }
    if (!reading) {
      observer.sweep_reading_failed(reading.reason());
      observer.point_taken({set_point, std::nullopt, std::nullopt, false, std::nullopt});
      observer.incomplete(stop_reason("the DMM reading failed", set_point) + ": " + reading.reason());
      output.off();
      (void)report_supply_errors(bench, channel, ErrorContext::assessment, observer);
      return false;
    }
    // The supply's own ammeter at the same moment, with no wait of its own.
    const double readback = supply_readback(bench.psu, channel, Quantity::current);
    const PointResult point{set_point, *reading, std::nullopt, false, readback, taken.readings};
    measured.phases.back().points.push_back(point);
    observer.current_sweep_point(set_point, *reading - set_point, readback - *reading);
    observer.point_taken(point);
  }

  observer.output_switched_off(channel);
  output.off();

  measured.completed = true;
  const StepFigures figures =
      assessment_figures(measured, true, supply_tolerance_for(bench.psu.identified().identity.model),
                         reference_accuracy_for(bench.dmm.identified().identity.model));
  constexpr double NONE = std::numeric_limits<double>::quiet_NaN();
  const FigureSummary& readback = *figures.readback;
  observer.current_sweep_figures(figures.errors.count() > 0 ? figures.errors.rms_mV() : NONE, figures.verdict,
                                 readback.errors.count() > 0 ? readback.errors.rms_mV() : NONE, readback.verdict);
  observer.step_completed();
  const Result<std::vector<std::string>> errors = report_supply_errors(bench, channel, ErrorContext::assessment, observer);
  return !errors || errors->empty();
}
