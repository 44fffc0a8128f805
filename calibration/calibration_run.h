// One factory calibration run (path check, calibration mode, two phases of points, end), shared by the
// voltage and the current calibrations, which differ only in the texts, tables and waits given here.
#pragma once

#include <span>

#include "calibration/bench.h"
#include "calibration/channel_groups.h"
#include "calibration/procedure_observer.h"
#include "calibration/run_result.h"
#include "link/channel.h"

struct CalibrationRun {
  Channel channel;
  const char* clear_command;  // "CAL:CLEAR %s,V\r\n" or "CAL:CLEAR %s,C\r\n"
  CalibrationPhase phases[2];  // the DAC phase, then the meter phase
  // Added to the DAC phase's readings (and shown), one per point, when not empty.
  std::span<const double> dac_corrections;
  // The step in the run's record: its number (F counts its steps 1, 2, 2, 3), title and quantity.
  int record_step;
  const char* record_title;
  Quantity quantity;
};

// How a factory calibration ended.
struct CalibrationOutcome {
  bool completed = false;  // every point reported and the calibration ended
  int missed = 0;          // points that went without a measurement
  int total = 0;
};

// Runs the whole calibration. A point whose DMM reading failed is warned about and not reported to
// the supply; the run goes on, and its end warns how many points went without a measurement.
CalibrationOutcome run_factory_calibration(Bench& bench, const CalibrationRun& run, ProcedureObserver& observer);
