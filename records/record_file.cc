// Writing records without ever overwriting or leaving half a file.
#include "records/record_file.h"

#include <exception>
#include <string>

#include "platform/files.h"
#include "records/record_codec.h"

Result<std::string> write_record_json(const std::string& folder, const Record& record) {
  try {
    std::string reason;
    if (make_folder(folder.c_str(), reason) == 0) return Status::failure(reason);
    const std::string text = record_json_text(record);
    const std::string base = folder + "/" + record_base_name(record);
    // Never overwrite: the first of base, base_2, base_3, ... whose .json, .csv and .html are all free.
    for (int n = 1; n <= 9999; n++) {
      const std::string name = n == 1 ? base : base + "_" + std::to_string(n);
      if (path_exists((name + ".json").c_str()) || path_exists((name + ".csv").c_str()) ||
          path_exists((name + ".html").c_str())) {
        continue;
      }
      const Result<bool> placed = write_new_file_atomically(name + ".json", text);
      if (!placed) return placed.status();
      if (*placed) return name + ".json";
    }
    return Status::failure("no free file name for " + base + ".json");
  } catch (const std::exception& error) {
    return Status::failure(error.what());
  }
}

Status write_record_csv(const std::string& json_path, const Record& record) {
  try {
    const std::string::size_type dot = json_path.rfind(".json");
    const std::string path = (dot == std::string::npos ? json_path : json_path.substr(0, dot)) + ".csv";
    const Result<bool> placed = write_new_file_atomically(path, record_csv(record));
    if (!placed) return placed.status();
    if (!*placed) return Status::failure(path + " appeared while the record was written");
    return Status::success();
  } catch (const std::exception& error) {
    return Status::failure(error.what());
  }
}
