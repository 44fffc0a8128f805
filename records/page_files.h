// The file names of the pages.
#pragma once

#include <string>

// The page of a record file: the same name with .html in place of .json.
std::string page_file_name(const std::string& json_file);
