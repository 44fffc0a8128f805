// The settings file on arbitrary content: load_program_settings reads it as the program does at start,
// then the table is saved and read back. The hosts must come out zero-terminated within their 64 bytes,
// the banner's Last_Run_Time within its 32, and the save must succeed and leave a file the loader
// reads again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/program_settings.h"
#include "settings/settings_table.h"

namespace {

bool write_file(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

void check_text(const char* text, std::size_t size) {
  if (strnlen(text, size) >= size) std::abort();
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
  settings.clear_for_tests();
  load_program_settings();
  check_text(dmm_host, sizeof dmm_host);
  check_text(psu_host, sizeof psu_host);
  char last_run[32];
  std::memset(last_run, 'x', sizeof last_run);
  settings.get_value("Last_Run_Time", last_run, sizeof last_run);
  check_text(last_run, sizeof last_run);

  // Save and read back: the saved file holds the seven keys, and the hosts and ports survive it.
  const std::string host_before = dmm_host;
  const int port_before = dmm_port;
  if (save_program_settings() != 1) std::abort();
  settings.clear_for_tests();
  // The ports, the stamp and the two methods always read back; an empty host has no token to read.
  if (load_program_settings() < 5) std::abort();
  // A host holding a separator or a quote is cut on reading back (the file has no escapes).
  if (plain_token(host_before) && host_before != dmm_host) std::abort();
  if (port_before != dmm_port) std::abort();
  return 0;
}
