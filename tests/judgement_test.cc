// The judgement of a point: identity fields, the tolerance table and its ranges, the decision rule.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "calibration/decision_rule.h"
#include "calibration/tolerances.h"
#include "link/identity.h"

namespace {

struct IdentityCase {
  const char* answer;
  Identity expected;
};

class IdentityParse : public testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityParse, FourTrimmedFields) {
  auto fields = [](const Identity& i) { return std::vector<std::string>{i.maker, i.model, i.serial, i.firmware}; };
  EXPECT_EQ(fields(parse_identity(GetParam().answer)), fields(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IdentityParse,
    testing::Values(IdentityCase{"ACME,DMM9,SN123,1.0\r", {"ACME", "DMM9", "SN123", "1.0"}},
                    IdentityCase{"\n RIGOL TECHNOLOGIES , DP832 ,DP8C1\t,00.01.14\r\n",
                                 {"RIGOL TECHNOLOGIES", "DP832", "DP8C1", "00.01.14"}},
                    IdentityCase{"ACME,DMM9\r", {"ACME", "DMM9", "", ""}},
                    IdentityCase{"\"ACME\",,'S 1',", {"ACME", "", "S 1", ""}},
                    IdentityCase{"A,B,C,1.0,build 7", {"A", "B", "C", "1.0,build 7"}},
                    IdentityCase{"", {"", "", "", ""}}, IdentityCase{"\"", {"\"", "", "", ""}}));

// T = 0.5, U = 0.125: all edges exact in binary.
struct RuleCase {
  std::optional<double> error;
  Verdict expected;
};

class DecisionRule : public testing::TestWithParam<RuleCase> {};

TEST_P(DecisionRule, VerdictAtTheEdges) {
  EXPECT_EQ(verdict_text(point_verdict(GetParam().error, 0.5, 0.125)),
            std::string(verdict_text(GetParam().expected)));
}

INSTANTIATE_TEST_SUITE_P(Edges, DecisionRule,
                         testing::Values(RuleCase{0.375, Verdict::pass}, RuleCase{-0.375, Verdict::pass},
                                         RuleCase{0.37500001, Verdict::indeterminate},
                                         RuleCase{0.625, Verdict::indeterminate},
                                         RuleCase{-0.625, Verdict::indeterminate},
                                         RuleCase{0.62500001, Verdict::fail}, RuleCase{-0.7, Verdict::fail},
                                         RuleCase{std::nullopt, Verdict::no_reading}));

TEST(DecisionRuleRatio, FlaggedOnlyBelowFour) {
  EXPECT_DOUBLE_EQ(test_uncertainty_ratio(0.5, 0.125), 4.0);
  EXPECT_FALSE(tur_flagged(test_uncertainty_ratio(0.5, 0.125)));
  EXPECT_TRUE(tur_flagged(test_uncertainty_ratio(0.5, 0.13)));
  // U larger than T: no point can pass.
  EXPECT_EQ(point_verdict(0.0, 0.1, 0.2), Verdict::indeterminate);
}

struct OverallCase {
  std::vector<Verdict> points;
  bool completed;
  Verdict expected;
};

class OverallVerdict : public testing::TestWithParam<OverallCase> {};

TEST_P(OverallVerdict, FollowsThePrecedence) {
  EXPECT_STREQ(verdict_text(overall_verdict(GetParam().points, GetParam().completed)),
               verdict_text(GetParam().expected));
}

using V = Verdict;
INSTANTIATE_TEST_SUITE_P(Runs, OverallVerdict,
                         testing::Values(OverallCase{{V::pass, V::pass}, true, V::pass},
                                         OverallCase{{V::pass, V::indeterminate, V::fail}, true, V::fail},
                                         OverallCase{{V::pass, V::fail}, false, V::fail},
                                         OverallCase{{V::pass, V::indeterminate}, false, V::incomplete},
                                         OverallCase{
                                             {V::no_reading, V::indeterminate}, true, V::indeterminate},
                                         OverallCase{{V::pass, V::no_reading}, true, V::no_reading}));

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

struct UncertaintyCase {
  const char* model;
  Quantity quantity;
  double reading;
  double expected;        // U in V or A
  double range_measured;  // the decade that holds the reading
  double range_used;      // the range whose figures were applied
  bool assumed;
};

class ReferenceUncertainty : public testing::TestWithParam<UncertaintyCase> {};

TEST_P(ReferenceUncertainty, FiguresAndRange) {
  const UncertaintyCase& c = GetParam();
  Uncertainty u = reference_uncertainty(reference_accuracy_for(c.model), c.quantity, c.reading);
  EXPECT_NEAR(u.value, c.expected, 1e-12);
  EXPECT_EQ(u.range_measured, c.range_measured);
  EXPECT_EQ(u.range_used, c.range_used);
  EXPECT_EQ(u.assumed, c.assumed);
}

INSTANTIATE_TEST_SUITE_P(
    Models, ReferenceUncertainty,
    testing::Values(
        // 34401A: the 1 V range takes the 10 V figures; 10.5 V and 30 V are on the 100 V range.
        UncertaintyCase{"34401A", Quantity::voltage, 0.99, 0.000035 * 0.99 + 0.000005 * 10, 1, 10, false},
        UncertaintyCase{"34401A", Quantity::voltage, 5.0, 0.000035 * 5 + 0.000005 * 10, 10, 10, false},
        UncertaintyCase{"34401A", Quantity::voltage, -10.5, 0.000045 * 10.5 + 0.000006 * 100, 100, 100,
                        false},
        UncertaintyCase{"34401A", Quantity::voltage, 30.0, 0.000045 * 30 + 0.000006 * 100, 100, 100, false},
        UncertaintyCase{"34401A", Quantity::current, 0.5, 0.001 * 0.5 + 0.0001 * 1, 1, 1, false},
        UncertaintyCase{"34401A", Quantity::current, 2.0, 0.0012 * 2 + 0.0002 * 3, 3, 3, false},
        UncertaintyCase{"DMM6500", Quantity::voltage, 5.0, 0.000025 * 5 + 0.000005 * 10, 10, 10, false},
        // The DMM6500's row has no 100 V figures: the generic class's, assumed.
        UncertaintyCase{"MODEL DMM6500", Quantity::voltage, 30.0, 0.000045 * 30 + 0.000006 * 100, 100, 100,
                        true},
        UncertaintyCase{"DMM9", Quantity::voltage, 5.0, 0.000035 * 5 + 0.000005 * 10, 10, 10, true}));

}  // namespace
