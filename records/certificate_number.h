// Certificate numbers, <prefix>-<year>-<4-digit sequence>, unique within a records folder even when several
// Trimora processes write into it at once: each number is taken by creating its marker file
// certificate-numbers/<number> exclusively, which exactly one process can do.
#pragma once

#include <filesystem>
#include <string>

#include "platform/status.h"

// The prefix of certificates issued without a lab file.
constexpr const char* DEFAULT_CERTIFICATE_PREFIX = "TRIMORA";

// Takes the next free number of the year in records_dir (made when missing). Fails when the folder
// cannot be written or the year's 9999 numbers are taken.
Result<std::string> allocate_certificate_number(const std::filesystem::path& records_dir, const std::string& prefix,
                                                int year);
