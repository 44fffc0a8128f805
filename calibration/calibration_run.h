// One factory calibration run (path check, calibration mode, two phases of points, end), shared by the
// voltage and the current calibrations, which differ only in the texts, tables and waits given here.
#pragma once

#include "calibration/channel_groups.h"
#include "calibration/run_result.h"
#include "link/channel.h"

struct CalibrationRun {
  Channel channel;
  void (*set_dmm_mode)();
  int (*check_path)(Channel channel);
  const char* clear_command;  // "CAL:CLEAR %s,V\r\n" or "CAL:CLEAR %s,C\r\n"
  CalibrationPhase phases[2];  // the DAC phase, then the meter phase
  // Added to the DAC phase's readings (and shown), one per point, when not null.
  const double* dac_corrections;
  // The step in the run's record: its number (F counts its steps 1, 2, 2, 3), title and quantity.
  int record_step;
  const char* record_title;
  Quantity quantity;
};

// Runs the whole calibration. A point whose DMM reading failed is warned about and not reported to
// the supply; the run goes on, and its end warns how many points went without a measurement.
void run_factory_calibration(const CalibrationRun& run);
