// The record as JSON, format "trimora-calibration-record": the one place that knows the file's keys. It
// writes a Record and reads one back with checks; failures are values with a reason in words.
#pragma once

#include <cstddef>
#include <string>

#include "platform/status.h"
#include "records/record.h"

inline constexpr const char* RECORD_FORMAT = "trimora-calibration-record";
// The newest format version this program writes and reads; it reads every one before it (format 1
// has no uncertainty budgets: its U is the reference DMM's accuracy limit).
inline constexpr int RECORD_FORMAT_VERSION = 2;

// The largest file taken for a record: a record of F, the largest, is about 55 KB.
inline constexpr std::size_t RECORD_MAX_BYTES = std::size_t{4} * 1024 * 1024;

// The record's file: JSON indented by two spaces, keys in the documented order, ending in a line end.
std::string record_json_text(const Record& record);
// The same, indented by `indent` spaces (-1: on one line), with no line end; text that is not UTF-8 is
// written as U+FFFD as in the file.
std::string record_json(const Record& record, int indent);

// Reads a record and checks it: refuses damaged or cut-short JSON, another format, a newer
// format_version and a record that lacks what a record holds; load_record and read_record read only a
// regular file of at most RECORD_MAX_BYTES (never a named pipe or a device). parse_record's and load_record's reasons
// name no file; read_record's begin with the path.
Result<Record> parse_record(const std::string& text);
Result<Record> load_record(const std::string& path);
Result<Record> read_record(const std::string& path);

// A number as the record's JSON writes it ("0.0", "0.25", "1e-05"), for the CSV.
std::string record_number_text(double value);
// Text as the record's file holds it: any byte that is not valid UTF-8 becomes U+FFFD.
std::string record_text(const std::string& text);
