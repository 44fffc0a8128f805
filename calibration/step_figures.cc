// The figures of an assessment step by the decision rule and the tolerance table.
#include "calibration/step_figures.h"

#include <algorithm>
#include <cmath>
#include <vector>

double SweepErrors::rms_mV() const { return std::sqrt(sum_of_squares_ / count_); }

double SweepErrors::rms_over_mV(std::size_t points) const {
  return std::sqrt(sum_of_squares_ * (1.0 / static_cast<double>(points)));
}

UncertaintyBudget figure_uncertainty(const PointResult& point, Quantity quantity, JudgedFigure figure,
                                     const SupplyToleranceChoice& supply, const ReferenceAccuracyChoice& reference) {
  std::vector<double> readings = point.readings;
  if (readings.empty() && point.reading.has_value() && std::isfinite(*point.reading))
    readings.push_back(*point.reading);
  if (!point.reading.has_value() || !std::isfinite(*point.reading)) readings.clear();
  return uncertainty_budget(reference, supply, quantity, figure, readings, point.set);
}

StepFigures assessment_figures(const StepResult& step, bool run_completed, const SupplyToleranceChoice& supply,
                               const ReferenceAccuracyChoice& reference, DecisionRuleKind rule) {
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
      p.budget = figure_uncertainty(point, step.quantity, JudgedFigure::programming, supply, reference);
      const Uncertainty& u = p.budget.reference;
      const double expanded = p.budget.expanded;
      p.tolerance_mV = t * 1000.0;
      p.uncertainty_mV = expanded * 1000.0;
      p.combined_uncertainty_mV = p.budget.combined * 1000.0;
      p.acceptance_limit_mV = (rule == DecisionRuleKind::simple ? t : t - expanded) * 1000.0;
      p.tur = test_uncertainty_ratio(t, expanded);
      p.tur_below_4 = tur_flagged(p.tur);
      p.verdict = point_verdict(error, t, expanded, rule);
      if (error) {
        const double outside = outside_tolerance_probability(*error, t, p.budget.combined);
        if (p.verdict == Verdict::pass) {
          p.false_accept_risk = outside;
          figures.max_false_accept_risk = std::max(figures.max_false_accept_risk.value_or(0.0), outside);
        } else if (p.verdict == Verdict::fail) {
          p.false_reject_risk = 1.0 - outside;
        }
      }
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
