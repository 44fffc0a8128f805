// The decision rule with a guard band of the measurement uncertainty on both sides of the limit.
#include "calibration/decision_rule.h"

#include <cmath>
#include <limits>

Verdict point_verdict(std::optional<double> error, double tolerance, double uncertainty) {
  if (!error.has_value() || !std::isfinite(*error)) return Verdict::no_reading;
  double magnitude = std::fabs(*error);
  if (magnitude <= tolerance - uncertainty) return Verdict::pass;
  if (magnitude > tolerance + uncertainty) return Verdict::fail;
  return Verdict::indeterminate;
}

double test_uncertainty_ratio(double tolerance, double uncertainty) {
  if (uncertainty <= 0.0) return std::numeric_limits<double>::infinity();
  return tolerance / uncertainty;
}

bool tur_flagged(double tur) { return tur < TUR_FLAG_BELOW; }

Verdict overall_verdict(const std::vector<Verdict>& points, bool completed) {
  bool indeterminate = false;
  bool no_reading = false;
  for (Verdict verdict : points) {
    if (verdict == Verdict::fail) return Verdict::fail;
    indeterminate = indeterminate || verdict == Verdict::indeterminate;
    no_reading = no_reading || verdict == Verdict::no_reading || verdict == Verdict::incomplete;
  }
  if (!completed) return Verdict::incomplete;
  if (indeterminate) return Verdict::indeterminate;
  if (no_reading || points.empty()) return Verdict::no_reading;
  return Verdict::pass;
}

const char* verdict_text(Verdict verdict) {
  switch (verdict) {
    case Verdict::pass: return "PASS";
    case Verdict::fail: return "FAIL";
    case Verdict::indeterminate: return "INDETERMINATE";
    case Verdict::no_reading: return "NO READING";
    case Verdict::incomplete: return "INCOMPLETE";
  }
  return "INCOMPLETE";
}

const char* decision_rule_text() {
  return "Each point's error is the DMM reading minus the set value. T is the supply's tolerance at the set "
         "value; U, the measurement uncertainty, is the reference DMM's 1-year accuracy limit at the "
         "reading. "
         "A point PASSES when |error| <= T - U, FAILS when |error| > T + U, and is INDETERMINATE in between "
         "(a guard band of U on both sides of the tolerance limit). A point without a reading is NO READING, "
         "and an assessment with such a point cannot PASS. The test uncertainty ratio T / U is recorded for "
         "every point; points with a ratio below 4 are flagged. The assessment FAILS when any point fails; "
         "otherwise it is INCOMPLETE when the sweep did not finish, INDETERMINATE when any point is, NO "
         "READING when any point has no reading, and PASSES only when every point passes.";
}
