// The records of this run of the program: each procedure run with the console and the recorder
// watching, its record written at its end, and the certificates at exit.
#pragma once

#include <string>
#include <vector>

#include "calibration/bench.h"
#include "calibration/run_result.h"
#include "link/channel.h"
#include "records/certificate.h"
#include "records/procedure_record.h"

class RunRecords {
 public:
  explicit RunRecords(std::string folder) : folder_(std::move(folder)) {}

  // Runs the procedure on the channel (a full voltage calibration on CH1 or CH2 only), shown on the
  // console and recorded, then writes its record, page and index and names the page on the console
  // ("Record: ..."), or warns when something could not be written. Returns what was written.
  SavedRecord run(Bench& bench, Procedure procedure, Channel channel);

  // The record of a run that could not start, with the reason in words.
  SavedRecord unfinished(Bench& bench, Procedure procedure, Channel channel, const std::string& reason);

  // At exit: the certificate of every supply that had records in this run, each named on the console.
  // Returns the warnings of those that could not be written (none: all were).
  std::vector<std::string> write_certificates(Console& console);

 private:
  SavedRecord save(Bench& bench, const RunResult& run, const ZonedTime& started);

  std::string folder_;
  // The records written in this run of the program, in the order they ran.
  std::vector<RunRecord> written_;
};
