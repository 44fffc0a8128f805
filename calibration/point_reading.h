// The DMM's reading of an assessed point: one reading, or the mean of the bench's readings_per_point
// readings taken one after the other (whose spread is the point's repeatability).
#pragma once

#include <vector>

#include "calibration/bench.h"
#include "platform/status.h"

struct PointReading {
  Result<double> value;         // the reading or the mean; the failure of the first reading that failed
  std::vector<double> readings;  // the single readings when more than one was taken, else empty
};

// Stops taking further readings when a stop is requested; the caller checks for the stop after it.
PointReading read_point(Bench& bench);
