// The path checks in front of every procedure: does the DMM see the channel it is to measure, in the
// quantity the procedure measures?
#pragma once

#include <string>

#include "calibration/bench.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"
#include "platform/status.h"

// Switches the channel on, applies the test source (5 V, or 3 V for current, with a 2 A limit), reads
// the DMM and switches the channel off again, whatever the reading gave. Success when the reading is
// plausible for the test source: 3 V to 7 V for voltage, 1.2 A to 2.8 A for current (the output is
// held at its limit by the meter's shunt). A failure says why: the supply did not confirm the source,
// the DMM's reading failed (its reason), or the reading is not the quantity expected.
struct PathCheck {
  Status status;
  bool dmm_failed = false;       // the reason is the DMM's own failure
  bool function_failed = false;  // the DMM could not be set to the quantity (nothing was switched on)
  explicit operator bool() const { return status.ok(); }
};
PathCheck check_voltage_path(Bench& bench, Channel channel);
PathCheck check_current_path(Bench& bench, Channel channel);
// The same with a small current: 3 V with a 0.1 A limit; plausible from 0.05 A to 0.14 A.
PathCheck check_small_current_path(Bench& bench, Channel channel);

// What every procedure does before it changes anything: the DMM set to the quantity the procedure
// measures, its acceptance read from its error queue, then the path check in that quantity.
PathCheck checked_path(Bench& bench, Channel channel, Quantity quantity);

// The record's reason for a failed check: the DMM's function, or the path and why.
std::string path_failure_reason(Channel channel, const PathCheck& path);

// The path check failed (path: its result): the supply's errors when it reported any, else the DMM is
// blamed, with its fault when its reading failed.
void report_path_failure(Bench& bench, Channel channel, const PathCheck& path, ProcedureObserver& observer);
