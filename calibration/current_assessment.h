// The current accuracy assessment: the supply drives each set current into the DMM's current input in
// constant current; the DMM's reading judges the supply's current programming, and the supply's own
// ammeter (its readback) is judged against the DMM's reading.
#pragma once

#include "calibration/bench.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"

// The set points, in A: 0 to 3.0 A in steps of 0.3 A, the same on every channel.
inline constexpr double CURRENT_SWEEP_POINTS[11] = {0.0, 0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4, 2.7, 3.0};
// The voltage limit of every point, the factory current calibration's: low, so that no more than this
// can ever stand across the DMM's shunt.
inline constexpr int CURRENT_ASSESS_VOLTS = 3;

// Sets the DMM to DC current, checks with a small current that it sees the channel, then sweeps the set
// points: at each one the set current, the settle of the factory calibration's I-DAC points, the DMM's
// reading and the supply's readback. The output is off again however the sweep ends. true when the
// sweep completed and the supply reported no error.
bool assess_current_accuracy(Bench& bench, Channel channel, ProcedureObserver& observer);
