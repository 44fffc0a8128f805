// Voltage accuracy assessment and the full voltage calibration with corrections.
#pragma once

#include "link/channel.h"

constexpr int ASSESS_OUTPUT_ON_WAIT_MS = 1000;
constexpr int ASSESS_SETTLE_MS = 200;
constexpr double ASSESS_ERROR_LIMIT_V = 1.0;

enum class AssessMode {
  RECALIBRATE,  // after a complete sweep, recalibrate with the corrections it found (CH1/CH2 only)
  REPORT_ONLY,
};

// Sweeps the channel and reports its errors. 1 when the sweep completed, else 0.
int assess_voltage_accuracy(Channel channel, double& sum_of_squares, double& rms_error, AssessMode mode);

// Factory calibration, assessment with recalibration, final assessment and summary (CH1 or CH2).
void full_voltage_calibration(Channel channel);
