// The tolerance table: the supply's published accuracy figures (voltage and current, programming and
// readback) and the reference DMM's 1-year DC accuracy, as data, chosen by the model in the
// identification. Each row names its sources.
#pragma once

#include <string>
#include <vector>

#include "calibration/run_result.h"

// ±(percent_of_setting % of the set value + offset), offset in V or A. A readback figure has the same
// shape, its percentage taken of the reading.
struct ToleranceFigure {
  double percent_of_setting;
  double offset;
};

// The supply's resolution: the smallest step of a setting and of its readback, in V or A.
struct SupplyResolution {
  double setting_voltage;
  double setting_current;
  double readback_voltage;
  double readback_current;
  const char* source;
};

// Which of a quantity's figures: how well the supply sets it (programming), or how well its own meter
// reads it back (readback).
enum class FigureKind { programming, readback };

struct SupplyTolerance {
  const char* model;
  ToleranceFigure voltage;  // programming
  ToleranceFigure current;  // programming
  const char* source;
  ToleranceFigure voltage_readback;
  ToleranceFigure current_readback;
  const char* readback_source;
  SupplyResolution resolution;
};

// ±(percent_of_reading % of the reading + percent_of_range % of the range) on one range.
struct AccuracyRange {
  Quantity quantity;
  double range;  // V or A
  double percent_of_reading;
  double percent_of_range;
};

struct ReferenceAccuracy {
  const char* model;
  std::vector<AccuracyRange> ranges;
  const char* source;
  double digits;  // the display's digits at the reading rate used: 6.5 for 6½
};

// The row applied for a model, and whether it was assumed because the table does not know the model.
struct SupplyToleranceChoice {
  SupplyTolerance row;
  bool assumed;
};
struct ReferenceAccuracyChoice {
  ReferenceAccuracy row;
  bool assumed;
};

SupplyToleranceChoice supply_tolerance_for(const std::string& model);
ReferenceAccuracyChoice reference_accuracy_for(const std::string& model);

// The supply's programming tolerance T at a set value, in V or A.
double supply_tolerance(const SupplyToleranceChoice& choice, Quantity quantity, double set_value);
// The tolerance T of one figure, in V or A: programming at the set value, readback at the reading.
double supply_tolerance(const SupplyToleranceChoice& choice, Quantity quantity, FigureKind kind, double value);

// One of the four published figures, as a row holds it, and its name ("voltage readback").
const ToleranceFigure& tolerance_figure(const SupplyTolerance& row, Quantity quantity, FigureKind kind);
const char* figure_name(Quantity quantity, FigureKind kind);
// The source of the row's programming or readback figures.
const char* figure_source(const SupplyTolerance& row, FigureKind kind);
// The four figures in the order a certificate lists them.
struct FigureId {
  Quantity quantity;
  FigureKind kind;
};
inline constexpr FigureId SUPPLY_FIGURES[] = {{Quantity::voltage, FigureKind::programming},
                                             {Quantity::voltage, FigureKind::readback},
                                             {Quantity::current, FigureKind::programming},
                                             {Quantity::current, FigureKind::readback}};

// The smallest decade range that holds the reading: 1, 10, 100 V; 1, 3 A (the largest when beyond).
double measurement_range(Quantity quantity, double reading);

// The DMM's uncertainty U at a reading, in V or A, and the range whose figures gave it: the range that
// holds the reading, or the next larger one in the row when it has no figures for that range (the 1 V
// range takes the 10 V figures). A range the row does not cover at all takes the generic class's figures
// (the 34401A's), marked assumed.
struct Uncertainty {
  double value;
  double range_used;      // the range whose figures were applied
  double range_measured;  // the smallest decade range that holds the reading
  bool assumed;           // the figures are not the model's own
  AccuracyRange figures;  // the figures applied
};

// The figures given to a DMM the table does not know.
const ReferenceAccuracy& generic_reference_accuracy();
Uncertainty reference_uncertainty(const ReferenceAccuracyChoice& choice, Quantity quantity, double reading);

// The DMM's display resolution on a range: one count of its digits (6½ digits: the range / 10^6).
double reference_resolution(const ReferenceAccuracy& row, double range);
