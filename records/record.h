// The calibration record: a run's result with the identities of both instruments, the tolerance and
// accuracy figures applied and a verdict per point, as JSON (format "trimora-calibration-record") and as
// a CSV with one row per point.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "calibration/run_result.h"
#include "link/identity.h"

inline constexpr const char* RECORD_FORMAT = "trimora-calibration-record";
inline constexpr int RECORD_FORMAT_VERSION = 1;

// Keys keep the order they were written in, so that a person reading the file finds them as documented.
using RecordJson = nlohmann::ordered_json;

struct InstrumentRecord {
  Identity identity;
  std::string address;
  int port = 0;
};

// Everything about a run that is not measured: who, where and when.
struct RecordContext {
  InstrumentRecord supply;
  InstrumentRecord reference;
  std::string started;  // ISO 8601 local time with UTC offset, see iso8601_local
  std::string ended;
  std::string record_id;  // see make_record_id
  std::string program_version;
};

// The record of a run, ready to be written.
RecordJson build_record(const RunResult& run, const RecordContext& context);

// The record as CSV: a header row, then one row per point of every step in order.
std::string record_csv(const RecordJson& record);

// "A", "V", "C" or "F"; "assessment", "voltage_calibration", ...
const char* procedure_key(Procedure procedure);
const char* procedure_name(Procedure procedure);

// The serial number reduced to [A-Za-z0-9-]; "unknown" when nothing is left.
std::string safe_serial(const std::string& serial);

// The file name without extension: <YYYYMMDDTHHMMSS>_<serial>_<key>_CH<n>, taken from the record.
std::string record_base_name(const RecordJson& record);
