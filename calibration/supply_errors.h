// The supply's own errors, read at the end of a procedure: a refused command means the supply did not
// take what the console shows as done.
#pragma once

#include <string>
#include <vector>

#include "calibration/bench.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"

// Empties the supply's error queue and tells the observer every error with what it means for the
// channel. The errors; none against a supply without errors.
std::vector<std::string> report_supply_errors(Bench& bench, Channel channel, ErrorContext context,
                                              ProcedureObserver& observer);
