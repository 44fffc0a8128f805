// The common course of both factory calibrations.
#include "calibration/calibration_run.h"

#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "calibration/output_guard.h"
#include "calibration/path_checks.h"
#include "calibration/run_recording.h"
#include "calibration/supply_errors.h"
#include "console/stamps.h"
#include "platform/stop_request.h"

namespace {

// How a phase ended: lost when the supply's link is gone (the phase ends there); stopped when a stop
// (Ctrl+C, SIGTERM) is requested (the phase ends there too, its points from there on counted as
// without measurement).
struct PhaseEnd {
  int missed = 0;
  bool lost = false;
  bool stopped = false;
};

// Runs one phase, adding the corrections (one per point) to its readings when they are given.
// unconfirmed: a command before the phase that the supply did not confirm (its text), which leaves the
// first point unmeasured too; null when there is none.
PhaseEnd run_phase(Bench& bench, Channel channel, const CalibrationPhase& phase, std::span<const double> corrections,
                   const char* unconfirmed, ProcedureObserver& observer) {
  const char* name = channel.name();
  char command[128];
  PhaseEnd end;
  observer.phase_begun(*phase.texts, channel);
  for (std::size_t i = 0; i < phase.points.size(); i++) {
    int point = static_cast<int>(i);
    if (stop_requested()) {
      end.stopped = true;
      end.missed += static_cast<int>(phase.points.size() - i);
      return end;
    }
    if (!bench.psu.connected()) {
      end.lost = true;
      return end;
    }
    std::snprintf(command, sizeof command, phase.texts->set_format, name, point, phase.points[i]);
    const bool confirmed = bench.psu.command_confirmed(command);
    observer.calibration_command(point, command);
    const double set = value_sent(command);
    if ((!confirmed || unconfirmed != nullptr) && bench.psu.connected()) {
      // The supply may not have acted on the point yet: the DMM would read the one before it.
      end.missed++;
      observer.calibration_point_unconfirmed(confirmed ? unconfirmed : command);
      observer.point_taken({set, std::nullopt, std::nullopt, false, std::nullopt});
      unconfirmed = nullptr;
      continue;
    }
    bench.env.sleep_ms(phase.settle_ms);

    const Result<double> read = bench.dmm.read();
    const std::optional<double> reading = read ? std::optional<double>(*read) : std::nullopt;
    if (!bench.psu.connected()) {
      observer.point_taken({set, reading, std::nullopt, false, std::nullopt});
      end.lost = true;
      return end;
    }
    if (reading && stop_requested()) {
      // Read, but the stop came meanwhile: the point is left, like the rest.
      end.stopped = true;
      end.missed += static_cast<int>(phase.points.size() - i);
      return end;
    }
    if (reading && !reading_plausible(*phase.bound, phase.points[i], *reading)) {
      // A wrong unit, another channel, an output switched off: calibrating the supply to it would
      // ruin the channel, so the point is left without a measurement.
      end.missed++;
      observer.calibration_reading_implausible(*reading, phase.points[i]);
      observer.point_taken({set, reading, std::nullopt, false, std::nullopt});
    } else if (reading) {
      double value = *reading;
      if (!corrections.empty()) {
        value += corrections[i];
        observer.calibration_correction(corrections[i]);
      }
      std::snprintf(command, sizeof command, phase.texts->measure_format, name, point, value);
      bench.psu.command(command);
      observer.calibration_command(point, command);
      observer.point_taken({set, reading, value_sent(command), bench.psu.connected(), std::nullopt});
    } else {
      // No reading: reporting a made-up value would calibrate the supply to it, so the point is
      // left without a measurement.
      end.missed++;
      observer.calibration_reading_failed();
      observer.point_taken({set, std::nullopt, std::nullopt, false, std::nullopt});
    }
  }
  return end;
}

}  // namespace

CalibrationOutcome run_factory_calibration(Bench& bench, const CalibrationRun& run, ProcedureObserver& observer) {
  CalibrationOutcome outcome;
  char command[128];
  const Channel channel = run.channel;
  const char* name = channel.name();

  (bench.dmm.*run.set_dmm_mode)();
  const bool path_ok = run.check_path(bench, channel);
  if (stop_requested()) {  // the path check has switched the output off; no session is open
    observer.incomplete(std::string(run.record_title) + ": aborted by the operator");
    return outcome;
  }
  if (!path_ok) {
    report_path_failure(bench, channel, observer);
    observer.incomplete(std::string(run.record_title) + ": the DMM is not reading from " + name +
                        " (path check failed)");
    return outcome;
  }
  observer.step_begun(StepKind::calibration, run.record_step, run.record_title, run.quantity,
                      !run.dac_corrections.empty());
  if (!run.dac_corrections.empty()) observer.corrections_used(run.phases[0].points, run.dac_corrections);

  std::snprintf(command, sizeof command, "CAL:START 27384,%s\r\n", name);
  bench.psu.command(command);
  std::snprintf(command, sizeof command, run.clear_command, name);
  bench.psu.command(command);
  bench.psu.command("*RST\r\n");
  OutputGuard output(bench.psu, channel);
  observer.output_switched_on(channel);
  char output_on[32];
  std::snprintf(output_on, sizeof output_on, "OUTPUT %s,ON\r\n", name);
  const char* unconfirmed = output.on() ? nullptr : output_on;

  bool lost = false;
  bool stopped = false;
  for (std::size_t p = 0; p < std::size(run.phases); p++) {
    const CalibrationPhase& phase = run.phases[p];
    const std::span<const double> corrections = p == 0 ? run.dac_corrections : std::span<const double>();
    if (stopped) {
      outcome.missed += static_cast<int>(phase.points.size());
    } else if (!lost) {
      const PhaseEnd end = run_phase(bench, channel, phase, corrections, p == 0 ? unconfirmed : nullptr, observer);
      outcome.missed += end.missed;
      lost = end.lost;
      stopped = end.stopped;
    }
    outcome.total += static_cast<int>(phase.points.size());
  }
  // From here to the end the output goes off and the session is closed whatever else comes, even a
  // second Ctrl+C.
  StopCleanup cleanup;
  char date[32];
  date_stamp(bench.env.local_time().local, date);
  std::snprintf(command, sizeof command, "CAL:END %s,%s\r\n", date, name);
  if (lost) {
    observer.calibration_supply_lost(channel);
    const std::string recovery = recover_lost_supply(bench, channel, output, command, observer);
    observer.incomplete(std::string(run.record_title) + ": the connection to the DP832 was lost; " + recovery);
    return outcome;
  }

  observer.output_switched_off(channel);
  output.off();

  bench.psu.command(command);
  observer.calibration_ended(command);

  if (stopped) {
    observer.calibration_stopped(channel, outcome.missed, outcome.total);
    observer.incomplete(std::string(run.record_title) + ": aborted by the operator; " +
                        std::to_string(outcome.missed) + " of " + std::to_string(outcome.total) +
                        " points were not reported to the supply");
  } else if (outcome.missed > 0) {
    observer.calibration_points_missed(channel, outcome.missed, outcome.total);
    observer.incomplete(std::string(run.record_title) + ": " + std::to_string(outcome.missed) + " of " +
                        std::to_string(outcome.total) +
                        " points had no DMM measurement and were not reported to the supply");
  } else {
    observer.step_completed();
    outcome.completed = true;
  }
  if (!report_supply_errors(bench, channel, ErrorContext::calibration, observer)) {
    // No answer after CAL:END: the supply may have refused the calibration as well as taken it.
    observer.incomplete(std::string(run.record_title) + ": the supply did not confirm the calibration");
    outcome.completed = false;
  }
  return outcome;
}
