// The laboratory file (trimora-lab.json beside the settings file, or --lab FILE): who issues the
// certificates, where, under which number prefix, who signs them by default, and the register of the
// reference DMMs with their own calibration. Read at start; without it the program works as before and
// its certificates are drafts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

constexpr const char* LAB_FILE_NAME = "trimora-lab.json";

// A reference DMM of the register: its own calibration certificate and how that is traceable.
struct ReferenceEntry {
  std::string serial;
  std::string certificate;
  std::string calibrated;  // ISO date, YYYY-MM-DD
  std::string due;         // ISO date
  std::string traceability;
};

struct LabFile {
  std::string name;
  std::string address;
  std::string city;
  std::string country;  // ISO 3166-1 alpha-2
  std::optional<std::string> accreditation;
  std::string certificate_prefix;
  std::string performance_location;  // laboratory, customer, laboratoryBranch, customerBranch or other
  std::string person_name;
  std::string person_role;
  std::vector<ReferenceEntry> references;
};

// The lab file beside the settings file at settings_path.
std::string lab_file_beside(const std::string& settings_path);

// The lab file's text checked: every member present and of its form; refused with a message that names
// the member ("laboratory.country: not an ISO 3166-1 alpha-2 code").
Result<LabFile> parse_lab_file(const std::string& text);

// Reads path: none when there is no such file and none was named (named: the command line gave it);
// a file that cannot be read or is refused is a failure.
Result<std::optional<LabFile>> load_lab_file(const std::string& path, bool named);

// The register's entry for a DMM serial number; nullptr when it is not there.
const ReferenceEntry* find_reference(const LabFile& lab, const std::string& serial);

// Whether text is a date YYYY-MM-DD that exists in the calendar.
bool is_iso_date(const std::string& text);
