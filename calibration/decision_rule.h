// The decision rule: a point's verdict from its error, the supply's tolerance T and the expanded
// measurement uncertainty U, by the rule the lab has chosen, and the risk that the verdict is wrong.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

enum class Verdict { pass, fail, indeterminate, no_reading, incomplete };

inline constexpr double TUR_FLAG_BELOW = 4.0;
// A pass whose risk of a false accept is above this is named (the ANSI/NCSL Z540.3 limit).
inline constexpr double FALSE_ACCEPT_RISK_LIMIT = 0.02;

enum class DecisionRuleKind { guard_band, simple };

// The rule as the record states it.
struct DecisionRule {
  DecisionRuleKind kind;
  const char* name;       // as the settings file names it: "guard-band", "simple"
  const char* reference;  // the document the rule follows
  const char* text;       // the rule in words
};

const DecisionRule& decision_rule(DecisionRuleKind kind);
// The rule the settings name; none for a name that is no rule.
std::optional<DecisionRuleKind> decision_rule_named(std::string_view name);

// guard-band: PASS when |error| <= T - U, FAIL when |error| > T + U, INDETERMINATE between.
// simple: PASS when |error| <= T, FAIL otherwise. NO READING without error under either.
Verdict point_verdict(std::optional<double> error, double tolerance, double uncertainty,
                      DecisionRuleKind rule = DecisionRuleKind::guard_band);

// The probability that the true error lies outside ±T, the true error taken as normally distributed
// around the measured one with standard deviation u_c. For a PASS it is the risk of a false accept;
// for a FAIL, 1 minus it is the risk of a false reject.
double outside_tolerance_probability(double error, double tolerance, double combined_uncertainty);

// T / U; flagged when below TUR_FLAG_BELOW.
double test_uncertainty_ratio(double tolerance, double uncertainty);
bool tur_flagged(double tur);

// An assessment's verdict: FAIL if any point fails; else INCOMPLETE if the sweep did not complete; else
// INDETERMINATE if any point is; else NO READING if any point has none; else PASS.
Verdict overall_verdict(const std::vector<Verdict>& points, bool completed);

const char* verdict_text(Verdict verdict);  // "PASS", "FAIL", "INDETERMINATE", "NO READING", "INCOMPLETE"
