// Writing records without ever overwriting or leaving half a file, and reading them back with checks.
#include "records/record_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files.h"

namespace {

// Writes text to a new temporary file in folder and brings it to the disk. Empty path on failure.
std::string write_temporary(const std::string& folder, const std::string& text, std::string& reason) {
  std::string path;
  std::FILE* file = create_unique_file(folder.c_str(), ".record-", path, reason);
  if (file == nullptr) return "";
  errno = 0;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = ok && sync_file(file) == 1;
  int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    if (error == 0) error = errno;
    reason = "cannot write " + path + ": " + (error != 0 ? std::strerror(error) : "write failed");
    std::remove(path.c_str());
    return "";
  }
  return path;
}

}  // namespace

RecordWrite write_record(const std::string& folder, const RecordJson& record) {
  RecordWrite result;
  try {
    if (make_folder(folder.c_str(), result.reason) == 0) return result;
    std::string json_text = record.dump(2, ' ', false, RecordJson::error_handler_t::replace) + "\n";
    std::string csv_text = record_csv(record);
    std::string base = folder + "/" + record_base_name(record);

    std::string json_temporary = write_temporary(folder, json_text, result.reason);
    if (json_temporary.empty()) return result;
    // Never overwrite: the first of base, base_2, base_3, ... whose .json, .csv and .html are all free.
    std::string name;
    for (int n = 1; n <= 9999 && result.json_path.empty(); n++) {
      name = n == 1 ? base : base + "_" + std::to_string(n);
      if (path_exists((name + ".json").c_str()) || path_exists((name + ".csv").c_str()) ||
          path_exists((name + ".html").c_str())) {
        continue;
      }
      int placed = place_new_file(json_temporary.c_str(), (name + ".json").c_str(), result.reason);
      if (placed == 0) {
        std::remove(json_temporary.c_str());
        return result;
      }
      if (placed == 1) result.json_path = name + ".json";
    }
    if (result.json_path.empty()) {
      std::remove(json_temporary.c_str());
      result.reason = "no free file name for " + base + ".json";
      return result;
    }

    std::string csv_temporary = write_temporary(folder, csv_text, result.reason);
    if (csv_temporary.empty()) return result;
    int placed = place_new_file(csv_temporary.c_str(), (name + ".csv").c_str(), result.reason);
    if (placed != 1) {
      std::remove(csv_temporary.c_str());
      if (placed == -1) result.reason = name + ".csv appeared while the record was written";
      return result;
    }
    result.csv_path = name + ".csv";
    result.ok = true;
    result.reason.clear();
  } catch (const std::exception& error) {
    result.ok = false;
    result.reason = error.what();
  }
  return result;
}

RecordRead parse_record(const std::string& text) {
  RecordRead result;
  RecordJson record = RecordJson::parse(text, nullptr, false);
  if (record.is_discarded()) {
    result.error = "not a readable record: the JSON is damaged or cut short";
    return result;
  }
  if (!record.is_object()) {
    result.error = "not a calibration record: the file does not hold a JSON object";
    return result;
  }
  auto format = record.find("format");
  if (format == record.end() || !format->is_string() || format->get<std::string>() != RECORD_FORMAT) {
    result.error = std::string("not a calibration record: the format is not \"") + RECORD_FORMAT + "\"";
    return result;
  }
  auto version = record.find("format_version");
  if (version == record.end() || !version->is_number_integer()) {
    result.error = "damaged record: format_version is missing or not a whole number";
    return result;
  }
  bool newer = version->is_number_unsigned() ? version->get<unsigned long long>() >
                                                   static_cast<unsigned long long>(RECORD_FORMAT_VERSION)
                                             : version->get<long long>() > RECORD_FORMAT_VERSION;
  if (newer) {
    result.error = "record format version " + version->dump() + " is newer than this program reads (" +
                   std::to_string(RECORD_FORMAT_VERSION) + ")";
    return result;
  }
  if (version->get<long long>() < 1) {
    result.error = "damaged record: format_version " + version->dump() + " does not exist";
    return result;
  }
  const char* required_strings[] = {"record_id", "started", "procedure", "procedure_key"};
  for (const char* key : required_strings) {
    auto it = record.find(key);
    if (it == record.end() || !it->is_string()) {
      result.error = std::string("damaged record: \"") + key + "\" is missing or not a text";
      return result;
    }
  }
  auto channel = record.find("channel");
  if (channel == record.end() || !channel->is_number_integer()) {
    result.error = "damaged record: \"channel\" is missing or not a whole number";
    return result;
  }
  auto steps = record.find("steps");
  if (steps == record.end() || !steps->is_array()) {
    result.error = "damaged record: \"steps\" is missing or not a list";
    return result;
  }
  for (const RecordJson& step : *steps) {
    bool points = step.is_object() && step.contains("points") && step["points"].is_array();
    bool phases = step.is_object() && step.contains("phases") && step["phases"].is_array();
    if (!points && !phases) {
      result.error = "damaged record: a step holds no points";
      return result;
    }
  }
  result.record = std::move(record);
  result.ok = true;
  return result;
}

RecordRead read_record(const std::string& path) {
  RecordRead result;
  try {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      result.error = "cannot open " + path;
      return result;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
      result.error = "cannot read " + path;
      return result;
    }
    result = parse_record(text.str());
    if (!result.ok) result.error = path + ": " + result.error;
  } catch (const std::exception& error) {
    result = RecordRead{};
    result.error = path + ": " + error.what();
  }
  return result;
}
