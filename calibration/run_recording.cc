// The run being recorded.
#include "calibration/run_recording.h"

#include <cstdlib>
#include <cstring>

RunRecorder::RunRecorder(Procedure procedure, Channel channel) {
  run_.procedure = procedure;
  run_.channel = static_cast<int>(channel.index()) + 1;
  run_.completed = true;
}

void RunRecorder::incomplete(const std::string& reason) {
  std::string reasons = run_.incomplete_reason;
  if (!reasons.empty()) reasons += "; ";
  mark_incomplete(run_, reasons + reason);
}

void RunRecorder::supply_errors(Channel /*channel*/, ErrorContext /*context*/, const std::vector<std::string>& errors) {
  if (errors.empty()) return;
  run_.supply_errors.insert(run_.supply_errors.end(), errors.begin(), errors.end());
  incomplete("the DP832 reported " + std::to_string(errors.size()) + (errors.size() == 1 ? " error" : " errors") +
             ": its results were not accepted");
}

void RunRecorder::step_begun(StepKind kind, int number, const char* title, Quantity quantity, bool uses_corrections) {
  begin_step(run_, kind, title, quantity, uses_corrections).number = number;
}

void RunRecorder::phase_begun(const PhaseTexts& texts, Channel /*channel*/) {
  if (run_.steps.empty()) return;
  begin_phase(run_.steps.back(), texts.record_name);
}

void RunRecorder::point_taken(const PointResult& point) {
  if (run_.steps.empty()) return;
  StepResult& step = run_.steps.back();
  if (step.phases.empty()) step.phases.emplace_back();
  step.phases.back().points.push_back(point);
  if (point.readback) step.readback = true;
}

void RunRecorder::step_completed() {
  if (!run_.steps.empty()) run_.steps.back().completed = true;
}

void RunRecorder::corrections_used(std::span<const double> set_points, std::span<const double> corrections) {
  std::vector<CorrectionEntry> table;
  for (std::size_t i = 0; i < set_points.size() && i < corrections.size(); i++)
    table.push_back({set_points[i], corrections[i]});
  run_.corrections = std::move(table);
}

double value_sent(const char* command) {
  const char* at = command;
  for (int commas = 0; commas < 3 && at != nullptr; commas++) {
    at = std::strchr(at, ',');
    if (at != nullptr) at++;
  }
  return at != nullptr ? std::strtod(at, nullptr) : 0.0;
}
