// Realistic calibration records made up for the page tests, the browser check and the README's plot,
// built the way the program builds its records: from a run's result and its context.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/status.h"
#include "records/certificate.h"
#include "records/record.h"

// The made-up run of procedure key (A, V, C or F) on a channel: the points a supply in that state gives.
// drift_mV shifts the supply's errors: about 0 is a supply in good order, 20 or more one that fails at the
// top of its range.
RunResult sample_run(const std::string& key, int channel, double drift_mV);

// Who, where and when for a sample record started at the ISO time given.
RecordContext sample_context(const std::string& key, int channel, const std::string& started,
                             const std::string& serial = "DP8C123456789");

// The lab of the sample run: a laboratory, its prefix and responsible person, and the sample DMM in its
// register.
LabFile sample_lab();

// The record of sample_run with sample_context.
Record sample_record(const std::string& key, int channel, const std::string& started, double drift_mV,
                     const std::string& serial = "DP8C123456789");

// Writes a demo-style run into dir (A on CH3, V on CH3, A on CH3, F on CH1, after two older assessments of
// CH3 and a damaged file) with every page, the certificate (issued by sample_lab, with its DCC) and the index. Returns the records of the run
// in order with their JSON files.
Result<std::vector<RunRecord>> write_sample_run(const std::filesystem::path& dir);
