// The voltage accuracy assessment and the full voltage calibration with corrections.
#pragma once

#include <vector>

#include "calibration/bench.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"

constexpr int ASSESS_OUTPUT_ON_WAIT_MS = 1000;
constexpr int ASSESS_SETTLE_MS = 200;
constexpr double ASSESS_ERROR_LIMIT_V = 1.0;

// What a sweep found.
struct SweepResult {
  // The sweep completed and the supply reported no error.
  bool completed = false;
  // mV^2 and mV; NaN until the sweep has measured them (the sum while it runs, the RMS at its end).
  double sum_of_squares;
  double rms_error;
  // Measured minus set, in volts, one per point measured so far: the corrections of the V-DAC table on
  // the channels that keep one.
  std::vector<double> errors;
};

// Sweeps the channel and reports its errors, as step of the run's record.
SweepResult assess_voltage_accuracy(Bench& bench, Channel channel, ProcedureObserver& observer,
                                    AssessmentStep step = ASSESSMENT_STEP);

// Factory calibration, assessment, factory calibration with the corrections it found, final assessment
// and summary (CH1 or CH2).
void full_voltage_calibration(Bench& bench, Channel channel, ProcedureObserver& observer);
