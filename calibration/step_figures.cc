// The figures of an assessment step by the decision rule and the tolerance table.
#include "calibration/step_figures.h"

#include <cmath>

double SweepErrors::rms_mV() const { return std::sqrt(sum_of_squares_ / count_); }

double SweepErrors::rms_over_mV(std::size_t points) const {
  return std::sqrt(sum_of_squares_ * (1.0 / static_cast<double>(points)));
}

StepFigures assessment_figures(const StepResult& step, bool run_completed, const SupplyToleranceChoice& supply,
                               const ReferenceAccuracyChoice& reference) {
  StepFigures figures;
  std::vector<Verdict> verdicts;
  for (const PhaseResult& phase : step.phases) {
    for (const PointResult& point : phase.points) {
      PointFigures p;
      p.set = point.set;
      std::optional<double> error;
      if (point.reading.has_value() && std::isfinite(*point.reading)) {
        p.reading = point.reading;
        error = *point.reading - point.set;
        p.error_mV = *error * 1000.0;
      }
      const double t = supply_tolerance(supply, step.quantity, point.set);
      // Without a reading, U is taken at the set value, where the reading was expected.
      const Uncertainty u = reference_uncertainty(reference, step.quantity, error ? *point.reading : point.set);
      p.tolerance_mV = t * 1000.0;
      p.uncertainty_mV = u.value * 1000.0;
      p.acceptance_limit_mV = (t - u.value) * 1000.0;
      p.tur = test_uncertainty_ratio(t, u.value);
      p.tur_below_4 = tur_flagged(p.tur);
      p.verdict = point_verdict(error, t, u.value);
      p.uncertainty_range = u.range_used;
      p.uncertainty_assumed = u.assumed;
      p.figures = u.figures;
      verdicts.push_back(p.verdict);
      figures.counts[static_cast<std::size_t>(p.verdict)]++;
      if (error) figures.errors.add(*error);
      figures.points.push_back(p);
    }
  }
  figures.verdict = overall_verdict(verdicts, step.completed && run_completed);
  return figures;
}
