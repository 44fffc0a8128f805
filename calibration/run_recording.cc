// The run being recorded.
#include "calibration/run_recording.h"

#include <cstdlib>
#include <cstring>

RunResult current_run;

void begin_run(Procedure procedure, Channel channel) {
  current_run = RunResult{};
  current_run.procedure = procedure;
  current_run.channel = static_cast<int>(channel.index()) + 1;
  current_run.completed = true;
}

void note_incomplete(const std::string& reason) {
  std::string reasons = current_run.incomplete_reason;
  if (!reasons.empty()) reasons += "; ";
  mark_incomplete(current_run, reasons + reason);
}

void record_step(StepKind kind, int number, const char* title, Quantity quantity, bool uses_corrections) {
  begin_step(current_run, kind, title, quantity, uses_corrections).number = number;
}

void record_phase(const char* name) {
  if (current_run.steps.empty()) return;
  begin_phase(current_run.steps.back(), name);
}

void record_assessed_point(double set, std::optional<double> reading) {
  if (current_run.steps.empty()) return;
  add_assessed_point(current_run.steps.back(), set, reading);
}

void record_calibration_point(double set, std::optional<double> reading, std::optional<double> reported,
                              bool reported_to_supply) {
  if (current_run.steps.empty()) return;
  add_calibration_point(current_run.steps.back(), set, reading, reported, reported_to_supply);
}

void record_step_completed() {
  if (!current_run.steps.empty()) current_run.steps.back().completed = true;
}

void record_corrections(std::span<const double> set_points, const double* corrections) {
  std::vector<CorrectionEntry> table;
  for (std::size_t i = 0; i < set_points.size(); i++) table.push_back({set_points[i], corrections[i]});
  current_run.corrections = std::move(table);
}

double value_sent(const char* command) {
  const char* at = command;
  for (int commas = 0; commas < 3 && at != nullptr; commas++) {
    at = std::strchr(at, ',');
    if (at != nullptr) at++;
  }
  return at != nullptr ? std::strtod(at, nullptr) : 0.0;
}
