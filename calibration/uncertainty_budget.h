// The uncertainty budget of one point: the components that make up the measurement uncertainty, each
// with its standard uncertainty, their root sum of squares u_c and the expanded uncertainty U = k·u_c
// at k = 2 (about 95 % coverage), U rounded up to two significant digits. Figures in V or A.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "calibration/run_result.h"
#include "calibration/tolerances.h"

enum class Distribution { rectangular, normal };

enum class EvaluationType { a, b };  // Type A: from the readings; Type B: from published figures

struct BudgetComponent {
  std::string name;
  std::string source;  // the table row or the setting the figure came from
  EvaluationType type = EvaluationType::b;
  Distribution distribution = Distribution::rectangular;
  double half_width = 0.0;          // rectangular: the bound a
  double standard_deviation = 0.0;  // normal: s of the readings
  double standard_uncertainty = 0.0;
};

inline constexpr double COVERAGE_FACTOR = 2.0;
inline constexpr double COVERAGE_PROBABILITY = 0.95;

struct UncertaintyBudget {
  std::vector<BudgetComponent> components;
  double combined = 0.0;  // u_c
  double coverage_factor = COVERAGE_FACTOR;
  double coverage_probability = COVERAGE_PROBABILITY;
  double expanded = 0.0;  // U
  int readings = 0;       // the readings taken at the point
  bool repeatability_evaluated = false;
  Uncertainty reference{};  // the DMM's accuracy figures applied
};

// The budget of a point of quantity whose figure is judged, from the DMM's readings at it (their mean
// is the reading; none: the reading failed, and the DMM's figures are taken at the set value).
// Repeatability s/√n enters when there are two readings or more.
UncertaintyBudget uncertainty_budget(const ReferenceAccuracyChoice& reference, const SupplyToleranceChoice& supply,
                                     Quantity quantity, FigureKind figure, std::span<const double> readings,
                                     double set_value);

// The value rounded up to two significant digits (0.6331 -> 0.64; 0.64 stays 0.64).
double round_up_two_digits(double value);
