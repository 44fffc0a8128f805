#include "records/page_files.h"

std::string page_file_name(const std::string& json_file) {
  const std::string ext = ".json";
  if (json_file.size() > ext.size() && json_file.compare(json_file.size() - ext.size(), ext.size(), ext) == 0)
    return json_file.substr(0, json_file.size() - ext.size()) + ".html";
  return json_file + ".html";
}
