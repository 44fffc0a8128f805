// The supply's own errors, shown at the end of a procedure: a refused command means the supply did not
// take what the console shows as done.
#pragma once

#include <string>
#include <vector>

#include "link/channel.h"

enum class ErrorContext { calibration, assessment, path_check };

// Empties the supply's error queue and shows every error with what it means for the channel's
// calibration or assessment. The errors, for the record; none against a supply without errors (and
// then nothing is shown).
std::vector<std::string> report_supply_errors(Channel channel, ErrorContext context);

// The path check failed: names the supply's errors when it reported any, else blames the DMM.
void report_path_failure(Channel channel);
