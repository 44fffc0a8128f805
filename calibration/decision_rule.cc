// The decision rules: a guard band of the expanded uncertainty on both sides of the limit, or simple
// acceptance at the limit.
#include "calibration/decision_rule.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

// What the two rules share: the error, U and how the assessment is judged from its points.
#define RULE_COMMON                                                                                         \
  "Each point's error is the DMM reading minus the set value (the mean when several readings are taken). " \
  "T is the supply's tolerance at the set value. U is the expanded uncertainty of the measurement, "        \
  "U = k u_c with k = 2 (about 95 % coverage), rounded up to two significant digits; u_c is the root sum "  \
  "of squares of the point's budget: the reference DMM's accuracy at the reading and range and its "         \
  "resolution on that range (rectangular), the supply's setting or readback resolution (rectangular) and, " \
  "with several readings per point, their repeatability s/sqrt(n) (Type A). "
#define RULE_TAIL                                                                                              \
  " A point without a reading is NO READING, and an assessment with such a point cannot PASS. The test "     \
  "uncertainty ratio T / U is recorded for every point; points with a ratio below 4 are flagged. The risk "  \
  "of a wrong verdict is the probability that the true error lies outside +-T, taken as normal around the "  \
  "measured error with standard deviation u_c: for a PASS the risk of a false accept, for a FAIL 1 minus " \
  "it, the risk of a false reject. The assessment FAILS when any point fails; otherwise it is INCOMPLETE "   \
  "when the sweep did not finish, INDETERMINATE when any point is, NO READING when any point has no "        \
  "reading, and PASSES only when every point passes."

const DecisionRule RULES[] = {
    {DecisionRuleKind::guard_band, "guard-band", "ILAC-G8:09/2019 section 4.2.2 (guard band w = U)",
     RULE_COMMON "A point PASSES when |error| <= T - U, FAILS when |error| > T + U, and is INDETERMINATE in "
                 "between (a guard band of U on both sides of the tolerance limit)." RULE_TAIL},
    {DecisionRuleKind::simple, "simple",
     "ILAC-G8:09/2019 section 4.2.1 (simple acceptance, w = 0, as agreed with the customer)",
     RULE_COMMON "A point PASSES when |error| <= T and FAILS otherwise (simple acceptance: no guard band; the "
                 "risk of a false accept can reach 50 % at the limit)." RULE_TAIL},
};

#undef RULE_COMMON
#undef RULE_TAIL

}  // namespace

const DecisionRule& decision_rule(DecisionRuleKind kind) {
  return kind == DecisionRuleKind::simple ? RULES[1] : RULES[0];
}

std::optional<DecisionRuleKind> decision_rule_named(std::string_view name) {
  const auto found =
      std::find_if(std::begin(RULES), std::end(RULES), [&](const DecisionRule& rule) { return name == rule.name; });
  if (found == std::end(RULES)) return std::nullopt;
  return found->kind;
}

Verdict point_verdict(std::optional<double> error, double tolerance, double uncertainty, DecisionRuleKind rule) {
  if (!error.has_value() || !std::isfinite(*error)) return Verdict::no_reading;
  double magnitude = std::fabs(*error);
  if (rule == DecisionRuleKind::simple) return magnitude <= tolerance ? Verdict::pass : Verdict::fail;
  if (magnitude <= tolerance - uncertainty) return Verdict::pass;
  if (magnitude > tolerance + uncertainty) return Verdict::fail;
  return Verdict::indeterminate;
}

double outside_tolerance_probability(double error, double tolerance, double combined_uncertainty) {
  if (!(combined_uncertainty > 0.0)) return std::fabs(error) > tolerance ? 1.0 : 0.0;
  const double scale = combined_uncertainty * std::sqrt(2.0);
  // P(x > T) + P(x < -T) for x ~ N(error, u_c).
  return 0.5 * std::erfc((tolerance - error) / scale) + 0.5 * std::erfc((tolerance + error) / scale);
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
