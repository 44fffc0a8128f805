// The decision rule: a point's verdict from its error, the supply's tolerance T and the measurement
// uncertainty U (a guard band of U on both sides of the tolerance limit).
#pragma once

#include <array>
#include <optional>
#include <vector>

enum class Verdict { pass, fail, indeterminate, no_reading, incomplete };

inline constexpr double TUR_FLAG_BELOW = 4.0;

// PASS when |error| <= T - U, FAIL when |error| > T + U, INDETERMINATE between; NO READING without error.
Verdict point_verdict(std::optional<double> error, double tolerance, double uncertainty);

// T / U; flagged when below TUR_FLAG_BELOW.
double test_uncertainty_ratio(double tolerance, double uncertainty);
bool tur_flagged(double tur);

// An assessment's verdict: FAIL if any point fails; else INCOMPLETE if the sweep did not complete; else
// INDETERMINATE if any point is; else NO READING if any point has none; else PASS.
Verdict overall_verdict(const std::vector<Verdict>& points, bool completed);

const char* verdict_text(Verdict verdict);  // "PASS", "FAIL", "INDETERMINATE", "NO READING", "INCOMPLETE"

// The rule in words, for the record.
const char* decision_rule_text();
