// Files of the pages: reading a record's JSON for display, and writing a page whole or not at all.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

// What a page writer hands back: the page's path, or why there is no page. Never thrown.
struct PageResult {
  bool ok = false;
  std::filesystem::path path;
  std::string reason;
};

// The newest record format version the pages know.
inline constexpr int kPageRecordVersion = 1;

// Loads a calibration record for display. On failure returns false with the reason in words: unreadable,
// not JSON, another format, or a newer version than this program knows. Never throws.
bool load_record_for_page(const std::filesystem::path& path, nlohmann::json& record, std::string& reason);

// The page of a record file: the same name with .html in place of .json.
std::string page_file_name(const std::string& json_file);

// Writes text to path through a temporary file in the same folder, renamed into place. Returns the reason
// of a failure, empty on success.
std::string write_page_file(const std::filesystem::path& path, const std::string& text);

// A record's display fields, read without ever throwing: the empty string or nothing when absent or of
// another type.
std::string json_text(const nlohmann::json& j, const char* key);
const nlohmann::json* json_member(const nlohmann::json& j, const char* key);
bool json_number(const nlohmann::json& j, const char* key, double& out);
