// Voltage accuracy assessment and the full voltage calibration with corrections.
#pragma once

constexpr int ASSESS_OUTPUT_ON_WAIT_MS = 1000;
constexpr int ASSESS_SETTLE_MS = 200;
constexpr double ASSESS_ERROR_LIMIT_V = 1.0;
constexpr int ASSESS_RECALIBRATE = 1;
constexpr int ASSESS_REPORT_ONLY = 2;

// Sweeps the channel ('1', '2' or '3') and reports its errors. 1 when the sweep completed, else 0.
int assess_voltage_accuracy(char channel_key, double& sum_of_squares, double& rms_error, int mode);

// Factory calibration, assessment with recalibration, final assessment and summary ('1' or '2').
void full_voltage_calibration(char channel_key);
