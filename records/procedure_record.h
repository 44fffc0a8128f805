// What the end of a procedure leaves in the records folder: the record's JSON and CSV, its page, and the
// history index rewritten. Nothing here prints or throws; the program tells the operator.
#pragma once

#include <string>
#include <vector>

#include "calibration/run_result.h"
#include "records/record.h"

struct SavedRecord {
  Record record;                      // the record as built
  std::string json_path;              // folder/<file>.json; empty when no record was written
  std::string shown_path;             // the page, or the JSON when there is no page; empty with no record
  std::vector<std::string> problems;  // each one warning's text, "THE RECORD COULD NOT BE WRITTEN: ..."
};

SavedRecord save_procedure_record(const std::string& folder, const RunResult& run, const RecordContext& context);
