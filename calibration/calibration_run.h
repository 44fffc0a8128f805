// One factory calibration run (path check, calibration mode, two phases of points, end), shared by the
// voltage and the current calibrations, which differ only in the texts, tables and waits given here.
#pragma once

#include <cstddef>

// One phase: every point of a table is set, left to settle, read on the DMM and reported back.
struct CalibrationPhase {
  const char* banner;         // printf format with the channel name
  const char* set_format;     // "CAL:SET ..." with the channel name, point number and set value
  const char* measure_format; // "CAL:MEAS ..." with the channel name, point number and reading
  const double* points;
  std::size_t point_count;
  int settle_ms;
  const double* corrections;  // added to the readings (and shown) when not null, one per point
};

struct CalibrationRun {
  const char* channel_name;   // CH1, CH2 or CH3
  char channel_digit;
  void (*set_dmm_mode)();
  int (*check_path)(char channel);
  const char* clear_command;  // "CAL:CLEAR %s,V\r\n" or "CAL:CLEAR %s,C\r\n"
  CalibrationPhase phases[2];
};

// Runs the whole calibration. A point whose DMM reading failed is warned about and not reported to
// the supply; the run goes on, and its end warns how many points went without a measurement.
void run_factory_calibration(const CalibrationRun& run);
