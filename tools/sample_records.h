// Realistic calibration records made up for the page tests, the browser check and the README's plot.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// A record of procedure key (A, V, C or F) on a channel, started at the ISO time given. drift_mV shifts
// the supply's errors: about 0 is a supply in good order, 20 or more one that fails at the top of its range.
nlohmann::json sample_record(const std::string& key, int channel, const std::string& started, double drift_mV,
                             const std::string& serial = "DP8C123456789");

// Writes a demo-style run into dir (A on CH3, V on CH3, A on CH3, F on CH1, after two older assessments of
// CH3 and a damaged file) with every page, the certificate and the index. Returns the JSON files of the
// run in order, or an empty list with the reason.
std::vector<std::filesystem::path> write_sample_run(const std::filesystem::path& dir, std::string& reason);
