// The supply's own errors, read at the end of a procedure: a refused command means the supply did not
// take what the console shows as done.
#pragma once

#include <string>
#include <vector>

#include "calibration/bench.h"
#include "calibration/output_guard.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"
#include "platform/status.h"

// Empties the supply's error queue and tells the observer every error with what it means for the
// channel. The errors, none against a supply without errors; a failure when the supply gave no answer,
// which after a calibration leaves its acceptance unknown (told to the observer too).
Result<std::vector<std::string>> report_supply_errors(Bench& bench, Channel channel, ErrorContext context,
                                                      ProcedureObserver& observer);

// A lost supply: one new connection to the address it was identified at, within PSU_RECOVERY_MS, only
// to switch the output off and, when end_command is given, to end the open calibration with it; the
// supply counts as absent afterwards, as before. The observer hears what could be done; the words for
// the record's reason are returned.
std::string recover_lost_supply(Bench& bench, Channel channel, OutputGuard& output, const char* end_command,
                                ProcedureObserver& observer);
