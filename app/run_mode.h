// trimora run: one procedure on one channel, no menu, its record and an exit code that tells the outcome.
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "console/environment.h"
#include "settings/program_settings.h"
#include "records/record.h"

// Connects and identifies both instruments as at start-up, runs the procedure, writes its record, prints
// the final line (or the record with --json) and returns the exit code.
int run_mode(const CommandLine& line, Environment& environment, ProgramSettings& settings);

struct RunOutcome {
  int exit_code = EXIT_CALIBRATION;
  std::string words;  // for the final line: "PASS", "FAIL", "INCOMPLETE: <reason>", ...
};

// The outcome a written record shows. instruments_present: both instruments still answer after the run,
// which tells an instrument lost from any other reason for an incomplete run.
RunOutcome run_outcome(const std::optional<Record>& record, bool instruments_present);
