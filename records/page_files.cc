#include "records/page_files.h"

#include <cstdio>
#include <memory>
#include <random>
#include <system_error>

namespace {

// Files through C stdio rather than streams: the program then maps in none of the stream library's
// code while it writes a record, which keeps its resident memory small.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool load_record_for_page(const std::filesystem::path& path, nlohmann::json& record, std::string& reason) {
  File in(std::fopen(path.string().c_str(), "rb"));
  if (!in) {
    reason = "cannot be opened";
    return false;
  }
  std::string text;
  char buffer[8192];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;) text.append(buffer, n);
  if (std::ferror(in.get())) {
    reason = "cannot be read";
    return false;
  }
  record = nlohmann::json::parse(text, nullptr, false);
  if (record.is_discarded() || !record.is_object()) {
    reason = "damaged: not a complete JSON object";
    return false;
  }
  if (json_text(record, "format") != "trimora-calibration-record") {
    reason = "not a Trimora calibration record";
    return false;
  }
  const auto* version = json_member(record, "format_version");
  if (!version || !version->is_number_integer()) {
    reason = "damaged: no format version";
    return false;
  }
  if (version->get<long long>() > kPageRecordVersion) {
    reason = "written in format version " + std::to_string(version->get<long long>()) +
             ", newer than this program reads (" + std::to_string(kPageRecordVersion) + ")";
    return false;
  }
  if (!json_member(record, "steps") || !record["steps"].is_array()) {
    reason = "damaged: no list of steps";
    return false;
  }
  return true;
}

std::string page_file_name(const std::string& json_file) {
  const std::string ext = ".json";
  if (json_file.size() > ext.size() && json_file.compare(json_file.size() - ext.size(), ext.size(), ext) == 0)
    return json_file.substr(0, json_file.size() - ext.size()) + ".html";
  return json_file + ".html";
}

std::string write_page_file(const std::filesystem::path& path, const std::string& text) {
  std::random_device rd;
  const auto tmp =
      path.parent_path() / ("." + path.filename().string() + "." + std::to_string(rd() % 1000000) + ".tmp");
  {
    File out(std::fopen(tmp.string().c_str(), "wb"));
    if (!out) return "cannot create " + tmp.string();
    bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
    written = std::fclose(out.release()) == 0 && written;
    if (!written) {
      std::error_code ignored;
      std::filesystem::remove(tmp, ignored);
      return "cannot write " + tmp.string();
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(tmp, ignored);
    return "cannot rename into " + path.string() + ": " + ec.message();
  }
  return {};
}

const nlohmann::json* json_member(const nlohmann::json& j, const char* key) {
  if (!j.is_object()) return nullptr;
  const auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

std::string json_text(const nlohmann::json& j, const char* key) {
  const auto* m = json_member(j, key);
  if (!m || m->is_null()) return {};
  if (m->is_string()) return m->get<std::string>();
  if (m->is_number_integer()) return std::to_string(m->get<long long>());
  if (m->is_boolean()) return m->get<bool>() ? "true" : "false";
  if (m->is_number()) return m->dump();
  return {};
}

bool json_number(const nlohmann::json& j, const char* key, double& out) {
  const auto* m = json_member(j, key);
  if (!m || !m->is_number()) return false;
  out = m->get<double>();
  return true;
}
