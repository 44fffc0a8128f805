// Writing a record beside the settings file, never overwriting one. Failures are values with a reason
// in words; nothing here throws. Reading records back is records/record_codec.h's.
#pragma once

#include <string>

#include "platform/status.h"
#include "records/record.h"

// Writes the record's JSON as folder/<base>.json, creating folder when missing; never overwrites (adds
// _2, _3, ... to the base name while a .json, .csv or .html of that name exists). The file goes whole to
// the disk under a temporary name first. Returns the JSON's path.
Result<std::string> write_record_json(const std::string& folder, const Record& record);

// Writes the record's CSV beside its JSON (the same name with .csv), never overwriting a file.
Status write_record_csv(const std::string& json_path, const Record& record);
