// One procedure run as the menu runs it after its prompts, with the record it leaves behind. The run mode
// takes its outcome from here alone.
#pragma once

#include <optional>
#include <string>

#include "calibration/run_result.h"
#include "link/channel.h"
#include "platform/status.h"
#include "records/record.h"

struct RecordedRun {
  std::optional<Record> record;         // the run's record as written; none when none was written
  std::string json_path;                // where it was written
  Status written = Status::success();   // or what of it could not be written
};

// Runs the procedure on the channel (a full voltage calibration on CH1 or CH2 only), with no prompt and
// no confirmation, and writes its record into records_folder() as the menu does, "Record: ..." line and all.
RecordedRun run_recorded(Procedure procedure, Channel channel);

// The record of a run that could not start, with the reason in words; written into records_folder().
RecordedRun record_unfinished_run(Procedure procedure, Channel channel, const std::string& reason);
