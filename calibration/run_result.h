// What a procedure measured, handed over for the calibration record: every point in the order it was
// taken, grouped into steps and phases, with whether the run completed. Plain data, no I/O.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class Procedure {
  assessment,
  voltage_calibration,
  current_calibration,
  full_voltage_calibration,
  current_assessment
};

enum class StepKind { assessment, calibration };

enum class Quantity { voltage, current };

struct PointResult {
  double set = 0.0;                 // the set value sent to the supply, V or A
  std::optional<double> reading;    // the DMM's reading; none when the reading failed
  std::optional<double> reported;   // calibration: the value sent to the supply (reading + correction)
  bool reported_to_supply = false;  // calibration: whether the value reached the supply
  // Assessment: the supply's own reading (readback) taken after the DMM's, V or A; none when it was not
  // asked, NaN when the supply gave no usable answer.
  std::optional<double> readback;
  // Every reading taken at the point when there were several (their mean is reading); empty for one.
  std::vector<double> readings = {};
};

// One phase of a calibration step (V-DAC, V-meter, I-DAC, I-meter); an assessment step has one phase
// with an empty name.
struct PhaseResult {
  std::string name;
  std::vector<PointResult> points;
};

struct StepResult {
  int number = 0;  // the step as the console counts it (F: 1, 2, 2, 3); 0 numbers it by its position
  StepKind kind = StepKind::assessment;
  std::string title;  // "Assessment", "Final", "Factory voltage calibration", "With corrections", ...
  Quantity quantity = Quantity::voltage;
  bool uses_corrections = false;
  bool completed = false;
  std::vector<PhaseResult> phases;
  // An assessment that asked the supply's readback at its points: the readback is judged too.
  bool readback = false;
};

struct CorrectionEntry {
  double set = 0.0;
  double correction_v = 0.0;
};

struct RunResult {
  Procedure procedure = Procedure::assessment;
  int channel = 1;  // 1 to 3
  bool completed = false;
  std::string incomplete_reason;  // empty when completed
  std::vector<StepResult> steps;
  std::optional<std::vector<CorrectionEntry>> corrections;  // the full voltage calibration only
  std::vector<std::string> supply_errors;                   // the supply's error answers, as sent
};

// Filling a run, a line per point: begin a step, begin a phase (calibration), then add points.
inline StepResult& begin_step(RunResult& run, StepKind kind, const std::string& title,
                              Quantity quantity = Quantity::voltage, bool uses_corrections = false) {
  StepResult step;
  step.kind = kind;
  step.title = title;
  step.quantity = quantity;
  step.uses_corrections = uses_corrections;
  if (kind == StepKind::assessment) step.phases.emplace_back();
  run.steps.push_back(std::move(step));
  return run.steps.back();
}

inline PhaseResult& begin_phase(StepResult& step, const std::string& name) {
  step.phases.push_back(PhaseResult{name, {}});
  return step.phases.back();
}

// An assessment point: the set value and the reading, or none when the reading failed.
inline void add_assessed_point(StepResult& step, double set, std::optional<double> reading) {
  if (step.phases.empty()) step.phases.emplace_back();
  step.phases.back().points.push_back(PointResult{set, reading, std::nullopt, false, std::nullopt});
}

// A calibration point: the set value, the reading, and the value reported to the supply if it was.
inline void add_calibration_point(StepResult& step, double set, std::optional<double> reading,
                                  std::optional<double> reported, bool reported_to_supply) {
  if (step.phases.empty()) step.phases.emplace_back();
  step.phases.back().points.push_back(PointResult{set, reading, reported, reported_to_supply, std::nullopt});
}

// An assessment point with the supply's readback: the step then judges its readback as well.
inline void add_assessed_point(StepResult& step, double set, std::optional<double> reading,
                               std::optional<double> readback) {
  add_assessed_point(step, set, reading);
  step.phases.back().points.back().readback = readback;
  step.readback = true;
}

// Marks the run as stopped early, with the reason in words; the current step stays incomplete.
inline void mark_incomplete(RunResult& run, const std::string& reason) {
  run.completed = false;
  run.incomplete_reason = reason;
}
