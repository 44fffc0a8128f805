// One procedure run as the menu runs it after its prompts, with the record it leaves behind. The run mode
// takes its outcome from here alone.
#pragma once

#include <string>

#include "calibration/run_result.h"
#include "link/channel.h"
#include "records/record_file.h"

// Whether the procedures hand their measurements over for the record in this build.
extern const bool PROCEDURES_HAND_OVER_RESULTS;

struct RecordedRun {
  RecordJson record;    // the run's record as built; null when none was built
  RecordWrite written;  // where it was written, or why it was not
};

// Runs the procedure on the channel (a full voltage calibration on CH1 or CH2 only), with no prompt and
// no confirmation, and writes its record into records_folder() as the menu does, "Record: ..." line and all.
RecordedRun run_recorded(Procedure procedure, Channel channel);

// The record of a run that could not start, with the reason in words; written into records_folder().
RecordedRun record_unfinished_run(Procedure procedure, Channel channel, const std::string& reason);
