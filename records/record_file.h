// Writing a record beside the settings file and reading one back. Failures are values with a reason in
// words; nothing here throws.
#pragma once

#include <string>

#include "records/record.h"

struct RecordWrite {
  bool ok = false;
  std::string reason;     // why it failed, for "WARNING: THE RECORD COULD NOT BE WRITTEN: <reason>"
  std::string json_path;  // folder/<base>.json as written
  std::string csv_path;
};

// Writes record as folder/<base>.json and .csv, creating folder when missing; never overwrites (adds _2,
// _3, ... to the base name while a .json, .csv or .html of that name exists); each file goes to a unique
// temporary file in the folder, then is renamed into place. When only the CSV fails, json_path names
// the JSON that was written and ok is false.
RecordWrite write_record(const std::string& folder, const RecordJson& record);

// Copying a record allocates, and an allocation may throw like any other in the program.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct RecordRead {
  bool ok = false;
  std::string error;  // why the file was refused
  RecordJson record;
};

// Loads and checks a record: refuses unreadable, truncated or damaged JSON, another format and a newer
// format_version.
RecordRead read_record(const std::string& path);
RecordRead parse_record(const std::string& text);
