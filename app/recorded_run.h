// One procedure run as the menu runs it after its prompts, with the record it leaves behind. The run mode
// takes its outcome from here alone.
#pragma once

#include <string>

#include "calibration/run_result.h"
#include "link/channel.h"
#include "records/record_file.h"

// Whether the procedures hand their measurements over for the record in this build. While they do not,
// run_recorded writes a record of an incomplete run, and the run mode ends with EXIT_CALIBRATION.
extern const bool PROCEDURES_HAND_OVER_RESULTS;

struct RecordedRun {
  RecordJson record;    // the run's record as built; null when none was built
  RecordWrite written;  // where it was written, or why it was not
};

// Runs the procedure on the channel (a full voltage calibration on CH1 or CH2 only), with no prompt and
// no confirmation, and writes its record into records_folder().
RecordedRun run_recorded(Procedure procedure, Channel channel);

// The record of a run that could not start or that stopped early, with the reason in words; written
// into records_folder(). Also the interim record while the procedures hand nothing over.
RecordedRun record_unfinished_run(Procedure procedure, Channel channel, const std::string& reason,
                                  const std::string& started);
