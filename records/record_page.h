// The page of one calibration record, built from its JSON alone.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "records/page_files.h"
#include "records/svg_plot.h"

// The whole self-contained HTML page of a record (already checked by load_record_for_page).
std::string render_record_page(const nlohmann::json& record);

// Reads records/<file>.json and writes records/<file>.html beside it. Never throws.
PageResult write_record_page(const std::filesystem::path& json_path);

// The plot series of an assessment step.
PlotSeries assessment_series(const nlohmann::json& step, const std::string& name);
// The table of an assessment step's points: set value, reading, error, T, U, T − U, TUR and verdict.
std::string assessment_table(const nlohmann::json& step);
// "PASS: 36, FAIL: 0 ..., RMS ... mV, largest ... mV" of an assessment step, escaped.
std::string assessment_summary(const nlohmann::json& step);
// The name of a procedure in words, from its key (A, V, C, F).
std::string procedure_title(const std::string& key);
