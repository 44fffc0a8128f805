#include "records/certificate_number.h"

#include <cstdio>
#include <system_error>

#include "platform/files.h"

namespace {

std::string number_text(const std::string& prefix, int year, int sequence) {
  char text[16];
  std::snprintf(text, sizeof text, "-%04d-%04d", year, sequence);
  return prefix + text;
}

// Where to begin looking: past the numbers already taken, as counted now. Only a hint: two processes may
// count alike, and the exclusive create then gives each its own number.
int first_guess(const std::filesystem::path& folder) {
  std::error_code ignored;
  int taken = 0;
  for (std::filesystem::directory_iterator it(folder, ignored), end; !ignored && it != end; it.increment(ignored))
    ++taken;
  return taken + 1;
}

}  // namespace

Result<std::string> allocate_certificate_number(const std::filesystem::path& records_dir, const std::string& prefix,
                                                int year) {
  const std::filesystem::path folder = records_dir / "certificate-numbers";
  std::string reason;
  if (!make_folder(records_dir.string().c_str(), reason) || !make_folder(folder.string().c_str(), reason))
    return Status::failure(reason);
  const int guess = first_guess(folder);
  // From the guess up, then from 1 up to the guess: every number of the year is tried once.
  for (int tried = 0; tried < 9999; ++tried) {
    const int sequence = (guess - 1 + tried) % 9999 + 1;
    const std::string number = number_text(prefix, year, sequence);
    const int created = create_new_file((folder / number).string().c_str(), reason);
    if (created == 1) return number;
    if (created == 0) return Status::failure(reason);
  }
  return Status::failure("every certificate number of " + std::to_string(year) + " with the prefix " + prefix +
                         " is taken");
}
