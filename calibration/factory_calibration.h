// The supply's factory voltage and current calibrations, with the DMM as the reference.
#pragma once

// Settle waits after each set-point command, in milliseconds.
constexpr int VDAC_SETTLE_MS = 500;
constexpr int VDAC_SETTLE_CH3_MS = 200;
constexpr int VMETER_SETTLE_MS = 200;
constexpr int IDAC_SETTLE_MS = 500;
constexpr int IMETER_SETTLE_MS = 200;

// CH1 or CH2; use_corrections non-zero adds voltage_corrections to the V-DAC readings.
void factory_voltage_calibration(const char* channel_name, int use_corrections);
void factory_voltage_calibration_ch3();
void factory_current_calibration(const char* channel_name);
void factory_current_calibration_ch3();
