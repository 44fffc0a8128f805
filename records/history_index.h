// records/index.html: every record in the folder, newest first, by supply and channel, with trend charts.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "records/page_files.h"
#include "records/record.h"

// One record as the index lists it.
struct IndexEntry {
  std::string file;  // the JSON's file name; the page is the same name with .html
  std::string record_id, started, serial, model, procedure_key, overall_verdict;
  int channel = 0;
  bool completed = false;
  bool assessed = false;  // holds an assessment: A, or F's final step
  double rms_mV = 0, max_abs_mV = 0;
  bool has_errors = false;  // rms_mV and max_abs_mV are known
  std::optional<double> max_false_accept_risk;  // the largest among the passes of every assessment step
};

// A file the index could not list, and why.
struct SkippedRecord {
  std::string file;
  std::string reason;
};

// The entry of a loaded record.
IndexEntry index_entry(const Record& record, const std::string& file);

// The index page: grouped by serial and channel, newest first, a trend chart per group, then the notes.
std::string render_history_index(std::vector<IndexEntry> entries, const std::vector<SkippedRecord>& skipped);

// Reads every *.json in records_dir and writes records_dir/index.html; returns its path. Never throws.
Result<std::filesystem::path> write_history_index(const std::filesystem::path& records_dir);
