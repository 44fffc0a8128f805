// The procedures as the run mode calls them, recorded as the menu records them.
#include "app/recorded_run.h"

#include <utility>

#include "app/run_records.h"
#include "calibration/factory_calibration.h"
#include "calibration/run_recording.h"
#include "calibration/voltage_assessment.h"

namespace {

// Ends the recorded procedure: its record written as from the menu, and kept for the caller.
RecordedRun finish() {
  SavedRecord saved = end_recorded_procedure();
  RecordedRun run;
  run.json_path = saved.json_path;
  std::string reason;
  for (const std::string& problem : saved.problems) reason += (reason.empty() ? "" : "; ") + problem;
  if (saved.json_path.empty() || !saved.problems.empty()) run.written = Status::failure(reason);
  if (!saved.json_path.empty()) run.record = std::move(saved.record);
  return run;
}

}  // namespace

RecordedRun record_unfinished_run(Procedure procedure, Channel channel, const std::string& reason) {
  begin_recorded_procedure(procedure, channel);
  note_incomplete(reason);
  return finish();
}

RecordedRun run_recorded(Procedure procedure, Channel channel) {
  begin_recorded_procedure(procedure, channel);
  double sum_of_squares = 0.0;
  double rms_error = 0.0;
  switch (procedure) {
    case Procedure::assessment:
      assess_voltage_accuracy(channel, sum_of_squares, rms_error, AssessMode::REPORT_ONLY);
      break;
    case Procedure::voltage_calibration: factory_voltage_calibration(channel, false); break;
    case Procedure::current_calibration: factory_current_calibration(channel); break;
    case Procedure::full_voltage_calibration: full_voltage_calibration(channel); break;
  }
  return finish();
}
