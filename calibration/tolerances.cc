// The tolerance table. Every figure is the maker's published one; each row says where it comes from.
#include "calibration/tolerances.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Supply accuracy, 12 months at 25 ± 5 °C: programming ±(% of setting + offset), readback ±(% of
// reading + offset).
const SupplyTolerance SUPPLY_ROWS[] = {
    // DP832 data sheet and performance verification, every channel: programming voltage ±(0.05 % +
    // 20 mV), current ±(0.2 % + 10 mA); readback voltage ±(0.05 % + 10 mV), current ±(0.15 % + 5 mA).
    {"DP832",
     {0.05, 0.020},
     {0.2, 0.010},
     "DP832 data sheet, programming accuracy: voltage ±(0.05 % of setting + 20 mV), "
     "current ±(0.2 % of setting + 10 mA), every channel",
     {0.05, 0.010},
     {0.15, 0.005},
     "DP832 data sheet and performance verification, readback accuracy: voltage ±(0.05 % of reading + "
     "10 mV), current ±(0.15 % of reading + 5 mA), every channel, 12 months, 25 ± 5 °C",
     {0.001, 0.001, 0.001, 0.001, "DP832 data sheet, setting and readback resolution: 1 mV, 1 mA"}},
    // DP832A data sheet: programming current ±(0.2 % + 5 mA); everything else as the DP832.
    {"DP832A",
     {0.05, 0.020},
     {0.2, 0.005},
     "DP832A data sheet, programming accuracy: voltage ±(0.05 % of setting + 20 mV), "
     "current ±(0.2 % of setting + 5 mA), every channel",
     {0.05, 0.010},
     {0.15, 0.005},
     "DP832A data sheet and performance verification, readback accuracy: voltage ±(0.05 % of reading + "
     "10 mV), current ±(0.15 % of reading + 5 mA), every channel, 12 months, 25 ± 5 °C",
     {0.001, 0.001, 0.001, 0.001, "DP832A data sheet, setting and readback resolution: 1 mV, 1 mA"}},
};
constexpr int SUPPLY_GENERIC = 0;  // an unknown supply is judged as a DP832, marked assumed

// Reference DMM 1-year DC accuracy, ±(% of reading + % of range).
const ReferenceAccuracy REFERENCE_ROWS[] = {
    // 34401A published 1-year DC accuracy: 10 V 0.0035 + 0.0005, 100 V 0.0045 + 0.0006,
    // 1 A 0.10 + 0.01, 3 A 0.12 + 0.02.
    {"34401A",
     {{Quantity::voltage, 10.0, 0.0035, 0.0005},
      {Quantity::voltage, 100.0, 0.0045, 0.0006},
      {Quantity::current, 1.0, 0.10, 0.01},
      {Quantity::current, 3.0, 0.12, 0.02}},
     "34401A published 1-year DC accuracy, ±(% of reading + % of range)",
     6.5},
    // DMM6500 published 1-year DC voltage accuracy on the 10 V range: 0.0025 + 0.0005.
    {"DMM6500",
     {{Quantity::voltage, 10.0, 0.0025, 0.0005}},
     "DMM6500 published 1-year DC voltage accuracy, 10 V range, ±(% of reading + % of range)",
     6.5},
};
constexpr int REFERENCE_GENERIC = 0;  // any other DMM: the 34401A's figures as a 6½-digit class, assumed

std::string normalised(const std::string& model) {
  std::string text;
  for (char ch : model) {
    if (static_cast<unsigned char>(ch) > 32)
      text += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  // Some makers answer "MODEL DMM6500".
  if (text.rfind("MODEL", 0) == 0 && text.size() > 5) text.erase(0, 5);
  return text;
}

// The rows of a model list each quantity's ranges in ascending order.
const AccuracyRange* smallest_holding(const ReferenceAccuracy& row, Quantity quantity, double range) {
  auto found = std::find_if(row.ranges.begin(), row.ranges.end(), [&](const AccuracyRange& entry) {
    return entry.quantity == quantity && entry.range >= range;
  });
  return found == row.ranges.end() ? nullptr : &*found;
}

const AccuracyRange* largest(const ReferenceAccuracy& row, Quantity quantity) {
  auto found = std::find_if(row.ranges.rbegin(), row.ranges.rend(),
                            [&](const AccuracyRange& entry) { return entry.quantity == quantity; });
  return found == row.ranges.rend() ? nullptr : &*found;
}

}  // namespace

SupplyToleranceChoice supply_tolerance_for(const std::string& model) {
  std::string key = normalised(model);
  auto found = std::find_if(std::begin(SUPPLY_ROWS), std::end(SUPPLY_ROWS),
                            [&](const SupplyTolerance& row) { return key == row.model; });
  if (found != std::end(SUPPLY_ROWS)) return {*found, false};
  return {SUPPLY_ROWS[SUPPLY_GENERIC], true};
}

ReferenceAccuracyChoice reference_accuracy_for(const std::string& model) {
  std::string key = normalised(model);
  auto found = std::find_if(std::begin(REFERENCE_ROWS), std::end(REFERENCE_ROWS),
                            [&](const ReferenceAccuracy& row) { return key == row.model; });
  if (found != std::end(REFERENCE_ROWS)) return {*found, false};
  return {REFERENCE_ROWS[REFERENCE_GENERIC], true};
}

const ReferenceAccuracy& generic_reference_accuracy() { return REFERENCE_ROWS[REFERENCE_GENERIC]; }

double supply_tolerance(const SupplyToleranceChoice& choice, Quantity quantity, double set_value) {
  return supply_tolerance(choice, quantity, FigureKind::programming, set_value);
}

double supply_tolerance(const SupplyToleranceChoice& choice, Quantity quantity, FigureKind kind, double value) {
  const ToleranceFigure& figure = tolerance_figure(choice.row, quantity, kind);
  return figure.percent_of_setting / 100.0 * std::fabs(value) + figure.offset;
}

const ToleranceFigure& tolerance_figure(const SupplyTolerance& row, Quantity quantity, FigureKind kind) {
  if (kind == FigureKind::readback) return quantity == Quantity::voltage ? row.voltage_readback : row.current_readback;
  return quantity == Quantity::voltage ? row.voltage : row.current;
}

const char* figure_name(Quantity quantity, FigureKind kind) {
  if (quantity == Quantity::voltage) return kind == FigureKind::programming ? "voltage programming" : "voltage readback";
  return kind == FigureKind::programming ? "current programming" : "current readback";
}

const char* figure_source(const SupplyTolerance& row, FigureKind kind) {
  return kind == FigureKind::programming ? row.source : row.readback_source;
}

double measurement_range(Quantity quantity, double reading) {
  static const std::vector<double> VOLTAGE_RANGES = {1.0, 10.0, 100.0};
  static const std::vector<double> CURRENT_RANGES = {1.0, 3.0};
  const std::vector<double>& ranges = quantity == Quantity::voltage ? VOLTAGE_RANGES : CURRENT_RANGES;
  double magnitude = std::fabs(reading);
  auto holding = std::find_if(ranges.begin(), ranges.end(), [&](double range) { return magnitude <= range; });
  return holding == ranges.end() ? ranges.back() : *holding;
}

Uncertainty reference_uncertainty(const ReferenceAccuracyChoice& choice, Quantity quantity, double reading) {
  double range = measurement_range(quantity, reading);
  bool assumed = choice.assumed;
  const AccuracyRange* entry = smallest_holding(choice.row, quantity, range);
  if (entry == nullptr) {
    // The model's row has no figures for this range: the generic class's, marked assumed.
    assumed = true;
    const ReferenceAccuracy& generic = generic_reference_accuracy();
    entry = smallest_holding(generic, quantity, range);
    if (entry == nullptr) entry = largest(generic, quantity);
  }
  double value =
      entry->percent_of_reading / 100.0 * std::fabs(reading) + entry->percent_of_range / 100.0 * entry->range;
  return {value, entry->range, range, assumed, *entry};
}

double reference_resolution(const ReferenceAccuracy& row, double range) {
  // 6½ digits count to the range in steps of range / 10^6; 5½ in steps of range / 10^5.
  const double digits = row.digits > 0 ? row.digits : 6.5;
  return range / std::pow(10.0, std::floor(digits));
}
