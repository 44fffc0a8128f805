// The judgement of a point: identity fields, the tolerance table and its ranges, the decision rule.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "calibration/decision_rule.h"
#include "calibration/step_figures.h"
#include "calibration/tolerances.h"
#include "calibration/uncertainty_budget.h"
#include "link/identity.h"

namespace {

TEST(IdentityParse, FourTrimmedFields) {
  auto fields = [](const Identity& i) { return std::vector<std::string>{i.maker, i.model, i.serial, i.firmware}; };
  const struct {
    const char* answer;
    Identity expected;
  } cases[] = {{"ACME,DMM9,SN123,1.0\r", {"ACME", "DMM9", "SN123", "1.0"}},
               {"\n RIGOL TECHNOLOGIES , DP832 ,DP8C1\t,00.01.14\r\n",
                {"RIGOL TECHNOLOGIES", "DP832", "DP8C1", "00.01.14"}},
               {"ACME,DMM9\r", {"ACME", "DMM9", "", ""}},
               {"\"ACME\",,'S 1',", {"ACME", "", "S 1", ""}},
               {"A,B,C,1.0,build 7", {"A", "B", "C", "1.0,build 7"}},
               {"", {"", "", "", ""}},
               {"\"", {"\"", "", "", ""}}};
  for (const auto& c : cases) EXPECT_EQ(fields(parse_identity(c.answer)), fields(c.expected)) << c.answer;
}

// T = 0.5, U = 0.125: all edges exact in binary.
TEST(DecisionRule, VerdictAtTheEdges) {
  const struct {
    std::optional<double> error;
    Verdict expected;
  } cases[] = {{0.375, Verdict::pass}, {-0.375, Verdict::pass}, {0.37500001, Verdict::indeterminate},
               {0.625, Verdict::indeterminate}, {-0.625, Verdict::indeterminate}, {0.62500001, Verdict::fail},
               {-0.7, Verdict::fail}, {std::nullopt, Verdict::no_reading}};
  for (const auto& c : cases)
    EXPECT_STREQ(verdict_text(point_verdict(c.error, 0.5, 0.125)), verdict_text(c.expected)) << c.error.value_or(NAN);
}

TEST(DecisionRuleRatio, FlaggedOnlyBelowFour) {
  EXPECT_DOUBLE_EQ(test_uncertainty_ratio(0.5, 0.125), 4.0);
  EXPECT_FALSE(tur_flagged(test_uncertainty_ratio(0.5, 0.125)));
  EXPECT_TRUE(tur_flagged(test_uncertainty_ratio(0.5, 0.13)));
  // U larger than T: no point can pass.
  EXPECT_EQ(point_verdict(0.0, 0.1, 0.2), Verdict::indeterminate);
}

TEST(OverallVerdict, FollowsThePrecedence) {
  using V = Verdict;
  const struct {
    std::vector<Verdict> points;
    bool completed;
    Verdict expected;
  } cases[] = {{{V::pass, V::pass}, true, V::pass},
               {{V::pass, V::indeterminate, V::fail}, true, V::fail},
               {{V::pass, V::fail}, false, V::fail},
               {{V::pass, V::indeterminate}, false, V::incomplete},
               {{V::no_reading, V::indeterminate}, true, V::indeterminate},
               {{V::pass, V::no_reading}, true, V::no_reading}};
  for (std::size_t i = 0; i < std::size(cases); i++)
    EXPECT_STREQ(verdict_text(overall_verdict(cases[i].points, cases[i].completed)), verdict_text(cases[i].expected))
        << "case " << i;
}

TEST(SupplyTolerance, ChosenByModel) {
  SupplyToleranceChoice dp832 = supply_tolerance_for("DP832");
  EXPECT_FALSE(dp832.assumed);
  EXPECT_NEAR(supply_tolerance(dp832, Quantity::voltage, 10.0), 0.025, 1e-12);
  EXPECT_NEAR(supply_tolerance(dp832, Quantity::voltage, 0.0), 0.020, 1e-12);
  EXPECT_NEAR(supply_tolerance(dp832, Quantity::current, 1.0), 0.012, 1e-12);

  SupplyToleranceChoice dp832a = supply_tolerance_for(" dp832a\r");
  EXPECT_FALSE(dp832a.assumed);
  EXPECT_STREQ(dp832a.row.model, "DP832A");
  EXPECT_NEAR(supply_tolerance(dp832a, Quantity::current, 1.0), 0.007, 1e-12);
  EXPECT_NEAR(supply_tolerance(dp832a, Quantity::voltage, 10.0), 0.025, 1e-12);

  SupplyToleranceChoice unknown = supply_tolerance_for("DP821");
  EXPECT_TRUE(unknown.assumed);
  EXPECT_STREQ(unknown.row.model, "DP832");
}

// The four published figures of both models, T at 10 V or 2 A.
TEST(SupplyTolerance, FourFiguresOfBothModels) {
  const auto V = Quantity::voltage;
  const auto A = Quantity::current;
  const auto P = FigureKind::programming;
  const auto R = FigureKind::readback;
  const struct {
    const char* model;
    Quantity quantity;
    FigureKind kind;
    double value;
    double expected;
  } cases[] = {{"DP832", V, P, 10, 0.025},  {"DP832", V, R, 10, 0.015},  {"DP832", A, P, 2, 0.014},
               {"DP832", A, R, 2, 0.008},   {"DP832A", V, P, 10, 0.025}, {"DP832A", V, R, 10, 0.015},
               {"DP832A", A, P, 2, 0.009},  {"DP832A", A, R, 2, 0.008}};
  for (const auto& c : cases)
    EXPECT_NEAR(supply_tolerance(supply_tolerance_for(c.model), c.quantity, c.kind, c.value), c.expected, 1e-12)
        << c.model << " " << figure_name(c.quantity, c.kind);
}

// The readback is judged against the DMM's reading, its T taken there; a current step's errors in mA.
TEST(StepFigures, ReadbackAgainstTheReading) {
  const auto supply = supply_tolerance_for("DP832");
  const auto reference = reference_accuracy_for("34401A");
  StepResult volts{1, StepKind::assessment, "A", Quantity::voltage, false, true, {{"", {}}}, true};
  volts.phases[0].points = {{10.0, 10.8, std::nullopt, false, 10.812}};
  const StepFigures v = assessment_figures(volts, true, supply, reference);
  EXPECT_EQ(v.points[0].verdict, Verdict::fail);  // 800 mV off its setting
  ASSERT_TRUE(v.points[0].readback_figures);
  EXPECT_NEAR(v.points[0].readback_figures->tolerance_mV, 15.4, 1e-9);
  EXPECT_NEAR(v.points[0].readback_figures->error_mV.value_or(0), 12.0, 1e-9);
  EXPECT_EQ(v.readback->verdict, Verdict::pass);

  StepResult amps{1, StepKind::assessment, "I", Quantity::current, false, true, {{"", {}}}, true};
  amps.phases[0].points = {{1.0, 1.002, std::nullopt, false, 0.996}, {2.0, 2.001, std::nullopt, false, NAN}};
  const StepFigures a = assessment_figures(amps, true, supply, reference);
  EXPECT_EQ(a.verdict, Verdict::pass);
  EXPECT_NEAR(a.points[0].error_mV.value_or(0), 2.0, 1e-9);
  EXPECT_NEAR(a.points[0].readback_figures->error_mV.value_or(0), -6.0, 1e-9);
  EXPECT_NEAR(a.points[0].readback_figures->tolerance_mV, 6.503, 1e-9);  // 0.15 % of 1.002 A + 5 mA
  EXPECT_EQ(a.points[0].readback_figures->verdict, Verdict::indeterminate);
  EXPECT_EQ(a.points[1].readback_figures->verdict, Verdict::no_reading);
  EXPECT_EQ(a.readback->counts, (std::array<int, 4>{0, 0, 1, 1}));
  EXPECT_EQ(a.readback->verdict, Verdict::indeterminate);
  EXPECT_FALSE(assessment_figures(StepResult{}, true, supply, reference).readback) << "no readback asked";
}

TEST(ReferenceUncertainty, FiguresAndRange) {
  const auto V = Quantity::voltage;
  const auto A = Quantity::current;
  const struct {
    const char* model;
    Quantity quantity;
    double reading;
    double expected;        // U in V or A
    double range_measured;  // the decade that holds the reading
    double range_used;      // the range whose figures were applied
    bool assumed;
  } cases[] = {
      // 34401A: the 1 V range takes the 10 V figures; 10.5 V and 30 V are on the 100 V range.
      {"34401A", V, 0.99, 0.000035 * 0.99 + 0.000005 * 10, 1, 10, false},
      {"34401A", V, 5.0, 0.000035 * 5 + 0.000005 * 10, 10, 10, false},
      {"34401A", V, -10.5, 0.000045 * 10.5 + 0.000006 * 100, 100, 100, false},
      {"34401A", V, 30.0, 0.000045 * 30 + 0.000006 * 100, 100, 100, false},
      {"34401A", A, 0.5, 0.001 * 0.5 + 0.0001 * 1, 1, 1, false},
      {"34401A", A, 2.0, 0.0012 * 2 + 0.0002 * 3, 3, 3, false},
      {"DMM6500", V, 5.0, 0.000025 * 5 + 0.000005 * 10, 10, 10, false},
      // The DMM6500's row has no 100 V figures: the generic class's, assumed.
      {"MODEL DMM6500", V, 30.0, 0.000045 * 30 + 0.000006 * 100, 100, 100, true},
      {"DMM9", V, 5.0, 0.000035 * 5 + 0.000005 * 10, 10, 10, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " at " + std::to_string(c.reading));
    Uncertainty u = reference_uncertainty(reference_accuracy_for(c.model), c.quantity, c.reading);
    EXPECT_NEAR(u.value, c.expected, 1e-12);
    EXPECT_EQ(u.range_measured, c.range_measured);
    EXPECT_EQ(u.range_used, c.range_used);
    EXPECT_EQ(u.assumed, c.assumed);
  }
}

}  // namespace

// Worked by hand (GUM: a/√3 for a bound a, (r/2)/√3 for a resolution r, s/√n for n readings):
// 5 V on the 34401A's 10 V range: a = 0.0035 % · 5 V + 0.0005 % · 10 V = 225 µV; r = 10 µV; the DP832
// sets in 1 mV steps. u_c = √(225²/3 + 5²/3 + 500²/3) µV = 316.57 µV, 2·u_c = 633.1 µV, U = 0.64 mV.
// With five readings 5 V ± (0, 0.1, 0.2 mV): s = 158.11 µV, s/√5 = 70.71 µV, u_c = 324.37 µV, U = 0.65 mV.
// 0.5 A read back on the 1 A range: a = 0.10 % · 0.5 A + 0.01 % · 1 A = 0.6 mA; r = 1 µA; readback in
// 1 mA steps: u_c = √(0.6²/3 + 0.0005²/3 + 0.5²/3) mA = 0.45093 mA, 2·u_c = 0.90185 mA, U = 0.91 mA.
TEST(UncertaintyBudget, ExpandedFromTheComponents) {
  const std::vector<double> one = {5.0};
  const std::vector<double> five = {5.0001, 4.9999, 5.0, 5.0002, 4.9998};
  const std::vector<double> current = {0.5};
  const struct {
    Quantity quantity;
    FigureKind figure;
    const std::vector<double>& readings;
    std::vector<double> standard_uncertainties;  // in the order of the budget
    double combined;
    double expanded;
  } cases[] = {
      {Quantity::voltage, FigureKind::programming, one, {129.904e-6, 2.8868e-6, 288.675e-6}, 316.570e-6, 0.64e-3},
      {Quantity::voltage, FigureKind::programming, five, {129.904e-6, 2.8868e-6, 288.675e-6, 70.711e-6},
       324.371e-6, 0.65e-3},
      {Quantity::current, FigureKind::readback, current, {346.410e-6, 0.28868e-6, 288.675e-6}, 450.925e-6, 0.91e-3},
  };
  const auto choice_dp832 = supply_tolerance_for("DP832");
  const auto choice_34401a = reference_accuracy_for("34401A");
  for (const auto& c : cases) {
    const UncertaintyBudget b =
        uncertainty_budget(choice_34401a, choice_dp832, c.quantity, c.figure, c.readings, c.readings[0]);
    ASSERT_EQ(b.components.size(), c.standard_uncertainties.size());
    double squares = 0.0;
    for (std::size_t i = 0; i < b.components.size(); i++) {
      EXPECT_NEAR(b.components[i].standard_uncertainty, c.standard_uncertainties[i], 1e-9) << i;
      squares += b.components[i].standard_uncertainty * b.components[i].standard_uncertainty;
    }
    EXPECT_NEAR(b.combined, std::sqrt(squares), 1e-12);
    EXPECT_NEAR(b.combined, c.combined, 1e-9);
    EXPECT_DOUBLE_EQ(b.coverage_factor, 2.0);
    EXPECT_DOUBLE_EQ(b.expanded, c.expanded);
    EXPECT_EQ(b.repeatability_evaluated, c.readings.size() > 1);
  }
  // Rounded up, never down, and a value already on two digits stays.
  const double rounded[][2] = {{0.6331, 0.64}, {0.64, 0.64}, {0.00064, 0.00064}, {12.01, 13}, {99.1, 100}};
  for (const auto& r : rounded) EXPECT_DOUBLE_EQ(round_up_two_digits(r[0]), r[1]) << r[0];
}
