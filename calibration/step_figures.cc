// The figures of an assessment step by the decision rule and the tolerance table.
#include "calibration/step_figures.h"

#include <algorithm>
#include <cmath>
#include <vector>

double SweepErrors::rms_mV() const { return std::sqrt(sum_of_squares_ / count_); }

double SweepErrors::rms_over_mV(std::size_t points) const {
  return std::sqrt(sum_of_squares_ * (1.0 / static_cast<double>(points)));
}

namespace {

std::optional<double> finite(std::optional<double> value) {
  if (!value.has_value() || !std::isfinite(*value)) return std::nullopt;
  return value;
}

// The budget of one figure of a point from the DMM's readings at it; none when the reading failed, and
// the DMM's figures are then taken at the set value, where the reading was expected.
UncertaintyBudget figure_budget(const PointResult& point, Quantity quantity, FigureKind kind,
                                const SupplyToleranceChoice& supply, const ReferenceAccuracyChoice& reference) {
  std::vector<double> readings = point.readings;
  if (readings.empty() && finite(point.reading)) readings.push_back(*point.reading);
  if (!finite(point.reading)) readings.clear();
  return uncertainty_budget(reference, supply, quantity, kind, readings, point.set);
}

void note_risk(std::optional<double>& largest, const FigureJudgement& judgement) {
  if (judgement.false_accept_risk) largest = std::max(largest.value_or(0.0), *judgement.false_accept_risk);
}

}  // namespace

FigureJudgement judge_figure(FigureKind kind, Quantity quantity, const PointResult& point,
                             const SupplyToleranceChoice& supply, const ReferenceAccuracyChoice& reference,
                             DecisionRuleKind rule) {
  FigureJudgement j;
  const std::optional<double> reading = finite(point.reading);
  // Programming compares the DMM's reading with the set value; readback, the supply's own reading with
  // the DMM's.
  const std::optional<double> measured = kind == FigureKind::programming ? reading : finite(point.readback);
  const std::optional<double> against = kind == FigureKind::programming ? std::optional<double>(point.set) : reading;
  std::optional<double> error;
  if (measured && against) {
    error = *measured - *against;
    j.error_mV = *error * 1000.0;
  }
  // Without a reading, T is taken at the set value, where the reading was expected.
  const double at = reading ? *reading : point.set;
  const double t = supply_tolerance(supply, quantity, kind, kind == FigureKind::programming ? point.set : at);
  j.budget = figure_budget(point, quantity, kind, supply, reference);
  const Uncertainty& u = j.budget.reference;
  const double expanded = j.budget.expanded;
  j.tolerance_mV = t * 1000.0;
  j.uncertainty_mV = expanded * 1000.0;
  j.combined_uncertainty_mV = j.budget.combined * 1000.0;
  j.acceptance_limit_mV = (rule == DecisionRuleKind::simple ? t : t - expanded) * 1000.0;
  j.tur = test_uncertainty_ratio(t, expanded);
  j.tur_below_4 = tur_flagged(j.tur);
  j.verdict = point_verdict(error, t, expanded, rule);
  if (error) {
    const double outside = outside_tolerance_probability(*error, t, j.budget.combined);
    if (j.verdict == Verdict::pass) j.false_accept_risk = outside;
    if (j.verdict == Verdict::fail) j.false_reject_risk = 1.0 - outside;
  }
  j.uncertainty_range = u.range_used;
  j.uncertainty_assumed = u.assumed;
  j.figures = u.figures;
  return j;
}

StepFigures assessment_figures(const StepResult& step, bool run_completed, const SupplyToleranceChoice& supply,
                               const ReferenceAccuracyChoice& reference, DecisionRuleKind rule) {
  StepFigures figures;
  std::vector<Verdict> verdicts;
  std::vector<Verdict> readback_verdicts;
  if (step.readback) figures.readback.emplace();
  for (const PhaseResult& phase : step.phases) {
    for (const PointResult& point : phase.points) {
      PointFigures p;
      static_cast<FigureJudgement&>(p) =
          judge_figure(FigureKind::programming, step.quantity, point, supply, reference, rule);
      p.set = point.set;
      p.reading = finite(point.reading);
      note_risk(figures.max_false_accept_risk, p);
      verdicts.push_back(p.verdict);
      figures.counts[static_cast<std::size_t>(p.verdict)]++;
      if (p.error_mV) figures.errors.add(*p.reading - point.set);
      if (figures.readback) {
        p.readback = finite(point.readback);
        p.readback_figures = judge_figure(FigureKind::readback, step.quantity, point, supply, reference, rule);
        note_risk(figures.readback->max_false_accept_risk, *p.readback_figures);
        readback_verdicts.push_back(p.readback_figures->verdict);
        figures.readback->counts[static_cast<std::size_t>(p.readback_figures->verdict)]++;
        if (p.readback_figures->error_mV) figures.readback->errors.add(*p.readback - *p.reading);
      }
      figures.points.push_back(p);
    }
  }
  figures.verdict = overall_verdict(verdicts, step.completed && run_completed);
  if (figures.readback) figures.readback->verdict = overall_verdict(readback_verdicts, step.completed && run_completed);
  return figures;
}
