// The run being recorded: an observer that collects a procedure's steps and points into the run's
// result, which the program hands to the records when the procedure ends. It knows nothing of files.
#pragma once

#include <string>

#include "calibration/procedure_observer.h"
#include "calibration/run_result.h"
#include "link/channel.h"

class RunRecorder final : public ProcedureObserver {
 public:
  // Starts recording a run of procedure on channel: no steps yet, completed until a stop says otherwise.
  RunRecorder(Procedure procedure, Channel channel);

  const RunResult& run() const { return run_; }

  // The run lost points or stopped early: not completed, and the reason is added to any given before.
  void incomplete(const std::string& reason) override;
  void step_begun(StepKind kind, int number, const char* title, Quantity quantity, bool uses_corrections) override;
  void phase_begun(const PhaseTexts& texts, Channel channel) override;
  void point_taken(const PointResult& point) override;
  // The last step ran to its end.
  void step_completed() override;
  // The supply's error answers read at the end of a step; a refused calibration is not a completed one.
  void supply_errors(Channel channel, ErrorContext context, const std::vector<std::string>& errors) override;
  void corrections_used(std::span<const double> set_points, std::span<const double> corrections) override;

 private:
  RunResult run_;
};

// The value a calibration command carries after its third comma ("CAL:SET CH3,V,3,0.8,1" gives 0.8):
// what the supply was actually sent, as the console shows it.
double value_sent(const char* command);
