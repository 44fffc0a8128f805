// A point's uncertainty budget, combined by the root sum of squares and expanded at k = 2.
#include "calibration/uncertainty_budget.h"

#include <cmath>
#include <cstdio>
#include <numeric>

namespace {

const double SQRT3 = std::sqrt(3.0);

BudgetComponent rectangular(std::string name, std::string source, double half_width) {
  return BudgetComponent{std::move(name), std::move(source), EvaluationType::b, Distribution::rectangular,
                         half_width,      0.0,               half_width / SQRT3};
}

// "10 V" or "1 A"
std::string range_text(Quantity quantity, double range) {
  char text[32];
  std::snprintf(text, sizeof text, "%g %s", range, quantity == Quantity::voltage ? "V" : "A");
  return text;
}

}  // namespace

double round_up_two_digits(double value) {
  if (!(value > 0.0) || !std::isfinite(value)) return value;
  const int decimals = 1 - static_cast<int>(std::floor(std::log10(value)));
  const double scale = std::pow(10.0, decimals);
  // A value already on two digits stays there: the binary form of 0.64 is a hair above or below it.
  const double counts = std::ceil(value * scale * (1.0 - 1e-12));
  return counts / scale;
}

UncertaintyBudget uncertainty_budget(const ReferenceAccuracyChoice& reference, const SupplyToleranceChoice& supply,
                                     Quantity quantity, FigureKind figure, std::span<const double> readings,
                                     double set_value) {
  UncertaintyBudget budget;
  budget.readings = static_cast<int>(readings.size());
  const double n = static_cast<double>(readings.size());
  const double mean = readings.empty() ? set_value : std::accumulate(readings.begin(), readings.end(), 0.0) / n;

  budget.reference = reference_uncertainty(reference, quantity, mean);
  const Uncertainty& u = budget.reference;
  const char* row_source = u.assumed ? generic_reference_accuracy().source : reference.row.source;
  const std::string accuracy_source = std::string(row_source) + ", " + range_text(quantity, u.range_used) + " range";
  budget.components.push_back(rectangular("reference DMM accuracy", accuracy_source, u.value));

  const ReferenceAccuracy& row = u.assumed ? generic_reference_accuracy() : reference.row;
  const double resolution = reference_resolution(row, u.range_measured);
  // "6½ digits", as a DMM's digits are named.
  const int whole = static_cast<int>(row.digits);
  const bool half = row.digits - whole >= 0.25;
  char digits[96];
  std::snprintf(digits, sizeof digits, "%s, %d%s digits on the %s range", row.model, whole, half ? "\xc2\xbd" : "",
                range_text(quantity, u.range_measured).c_str());
  budget.components.push_back(rectangular("reference DMM resolution", digits, resolution / 2.0));

  const SupplyResolution& own = supply.row.resolution;
  const bool volts = quantity == Quantity::voltage;
  if (figure == FigureKind::programming) {
    budget.components.push_back(rectangular("supply setting resolution", own.source,
                                            (volts ? own.setting_voltage : own.setting_current) / 2.0));
  } else {
    budget.components.push_back(rectangular("supply readback resolution", own.source,
                                            (volts ? own.readback_voltage : own.readback_current) / 2.0));
  }

  if (readings.size() > 1) {
    const double squares = std::accumulate(readings.begin(), readings.end(), 0.0,
                                           [&](double sum, double r) { return sum + (r - mean) * (r - mean); });
    const double s = std::sqrt(squares / (n - 1.0));
    const std::string source = "Readings_Per_Point " + std::to_string(readings.size()) + ": s of the readings / √n";
    budget.components.push_back(
        BudgetComponent{"repeatability", source, EvaluationType::a, Distribution::normal, 0.0, s, s / std::sqrt(n)});
    budget.repeatability_evaluated = true;
  }

  const double sum = std::accumulate(budget.components.begin(), budget.components.end(), 0.0,
                                     [](double total, const BudgetComponent& c) {
                                       return total + c.standard_uncertainty * c.standard_uncertainty;
                                     });
  budget.combined = std::sqrt(sum);
  budget.expanded = round_up_two_digits(budget.coverage_factor * budget.combined);
  return budget;
}
