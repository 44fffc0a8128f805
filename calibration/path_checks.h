// The path checks in front of every procedure: does the DMM see the channel it is to measure?
#pragma once

#include "calibration/bench.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"

// Switches the channel on, applies the test source (5 V, or 3 V for current, with a 2 A limit), reads
// the DMM and switches the channel off again, whatever the reading gave. true when the DMM read at
// least 1.5 V (0.5 A).
bool check_voltage_path(Bench& bench, Channel channel);
bool check_current_path(Bench& bench, Channel channel);
// The same with a small current: 3 V with a 0.1 A limit; true when the DMM read at least 0.05 A.
bool check_small_current_path(Bench& bench, Channel channel);

// The path check failed: the supply's errors when it reported any, else the DMM is blamed.
void report_path_failure(Bench& bench, Channel channel, ProcedureObserver& observer);
