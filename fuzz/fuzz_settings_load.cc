// The settings file on arbitrary content: ProgramSettings::load reads it as the program does at start,
// then the settings are saved and read back by a fresh object. The hosts must come out within their 63
// characters, the banner's Last_Run_Time within its 31, and the save must succeed and leave a file the
// loader reads again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "settings/program_settings.h"

namespace {

bool write_file(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

// A host as read: at most HOST_MAX_LENGTH characters, none of them a NUL.
void check_host(const std::string& host) {
  if (host.size() > static_cast<std::size_t>(HOST_MAX_LENGTH) || host.find('\0') != std::string::npos) std::abort();
}

// A text that the file's format writes and reads back unchanged: no separators, no quotes, not empty.
bool plain_token(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (static_cast<signed char>(c) <= 32 || c == ',' || c == '"' || c == '\'') return false;
  return true;
}

char private_folder[64];

// The private folder goes when the run ends.
void remove_private_folder() {
  std::remove(SETTINGS_FILE_NAME);
  std::remove((std::string(SETTINGS_FILE_NAME) + ".tmp").c_str());
  if (chdir("/") == 0) rmdir(private_folder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every file operation happens in a private folder of its own, in memory where the system has it
  // (each save syncs its file to the disk).
  char in_memory[] = "/dev/shm/trimora-fuzz-settings-XXXXXX";
  char on_disk[] = "/tmp/trimora-fuzz-settings-XXXXXX";
  char* folder = mkdtemp(in_memory);
  if (folder == nullptr) folder = mkdtemp(on_disk);
  if (folder == nullptr || chdir(folder) != 0) std::abort();
  std::snprintf(private_folder, sizeof private_folder, "%s", folder);
  std::atexit(remove_private_folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!write_file(SETTINGS_FILE_NAME, data, size)) std::abort();
  CapturedConsole console;
  ProgramSettings settings;
  settings.load(console);
  check_host(settings.dmm.host);
  check_host(settings.psu.host);
  if (settings.last_run_time().size() >= 32) std::abort();
  // A file without an address for each instrument is refused (nothing is contacted); one with both is not.
  if ((settings.dmm.host.empty() || settings.psu.host.empty()) == settings.file_problem().empty()) std::abort();

  // Save and read back: the saved file holds the seven keys, and the hosts and ports survive it.
  if (settings.save(LocalTime{2026, 1, 2, 3, 4, 5}) != 1) std::abort();
  ProgramSettings again;
  // The ports, the stamp and the two methods always read back; an empty host has no token to read.
  if (again.load(console) < 5) std::abort();
  // A host holding a separator or a quote is cut on reading back (the file has no escapes).
  if (plain_token(settings.dmm.host) && settings.dmm.host != again.dmm.host) std::abort();
  if (settings.dmm.port != again.dmm.port) std::abort();
  return 0;
}
