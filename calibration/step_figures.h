// The figures of an assessment step, worked out once from its points: each point's error, tolerance T,
// uncertainty U, acceptance limit, test uncertainty ratio and verdict, and the sweep's sum of squares,
// RMS and largest error with the count of points by verdict and the step's verdict; the same for the
// supply's readback when the step asked it. The record copies them; the assessment's console line takes
// its sum of squares and RMS from SweepErrors. Figures named _mV are in mA on a current step.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

#include "calibration/decision_rule.h"
#include "calibration/run_result.h"
#include "calibration/tolerances.h"
#include "calibration/uncertainty_budget.h"

// The errors of a sweep in mV: each one (reading - set) * 1000, added in the order measured.
class SweepErrors {
 public:
  // A point's error in V (reading - set).
  void add(double error_v) {
    const double mv = error_v * 1000.0;
    sum_of_squares_ += mv * mv;
    largest_ = std::max(largest_, std::fabs(mv));
    count_++;
  }
  int count() const { return count_; }
  double sum_of_squares_mV2() const { return sum_of_squares_; }
  double max_abs_mV() const { return largest_; }
  // The RMS over the errors added: sqrt(sum of squares / count). The record's figure.
  double rms_mV() const;
  // The RMS over the points of the whole sweep: sqrt(sum of squares * (1 / points)). The figure the
  // assessment prints, and bit for bit the one it always printed.
  double rms_over_mV(std::size_t points) const;

 private:
  double sum_of_squares_ = 0.0;
  double largest_ = 0.0;
  int count_ = 0;
};

// One figure of one point judged. Programming: the DMM's reading against the set value, T at the set
// value. Readback: the supply's readback against the DMM's reading, T at the reading. U is the
// expanded uncertainty of the point's budget either way.
struct FigureJudgement {
  std::optional<double> error_mV;  // (measured - reference) * 1000; none without both
  double tolerance_mV = 0.0;       // T
  double uncertainty_mV = 0.0;     // U, taken at the set value when there is no reading
  double combined_uncertainty_mV = 0.0;  // u_c
  UncertaintyBudget budget;              // what U is made of, in V or A
  double acceptance_limit_mV = 0.0;  // T - U
  double tur = 0.0;                  // T / U; infinite when U is 0
  bool tur_below_4 = false;
  Verdict verdict = Verdict::no_reading;
  double uncertainty_range = 0.0;  // the DMM range whose figures gave U
  bool uncertainty_assumed = false;
  AccuracyRange figures{};  // the figures that gave U
  // The risk that the verdict is wrong: of a false accept for a PASS, of a false reject for a FAIL.
  std::optional<double> false_accept_risk;
  std::optional<double> false_reject_risk;
};

// A point's programming figure (the members it inherits) and, when asked, its readback figure.
struct PointFigures : FigureJudgement {
  double set = 0.0;
  std::optional<double> reading;   // none when the reading failed or is not a finite number
  std::optional<double> readback;  // the supply's readback; none when not asked or not a finite number
  std::optional<FigureJudgement> readback_figures;  // none when the step did not ask the readback
};

// The errors, counts by verdict, verdict and largest false-accept risk of one figure over a step.
struct FigureSummary {
  SweepErrors errors;           // over the points with an error
  std::array<int, 4> counts{};  // by verdict: pass, fail, indeterminate, no reading
  Verdict verdict = Verdict::incomplete;
  std::optional<double> max_false_accept_risk;  // the largest among the passes; none without a pass
};

struct StepFigures {
  std::vector<PointFigures> points;  // every point of the step in order
  SweepErrors errors;                // over the points with a reading
  std::array<int, 4> counts{};       // by verdict: pass, fail, indeterminate, no reading
  Verdict verdict = Verdict::incomplete;
  std::optional<double> max_false_accept_risk;  // the largest among the passes; none without a pass
  std::optional<FigureSummary> readback;        // when the step asked the readback
};

// Judges one figure of one point of a step of quantity by the rule: U from the point's budget (the
// readback's with the supply's readback resolution), the verdict, and the risk that it is wrong.
FigureJudgement judge_figure(FigureKind kind, Quantity quantity, const PointResult& point,
                             const SupplyToleranceChoice& supply, const ReferenceAccuracyChoice& reference,
                             DecisionRuleKind rule = DecisionRuleKind::guard_band);

// The figures of an assessment step. run_completed: the step's verdict is INCOMPLETE unless both the
// step and the run completed (and no point failed).
StepFigures assessment_figures(const StepResult& step, bool run_completed, const SupplyToleranceChoice& supply,
                               const ReferenceAccuracyChoice& reference,
                               DecisionRuleKind rule = DecisionRuleKind::guard_band);
