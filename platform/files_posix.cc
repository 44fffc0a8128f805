// File replacement on POSIX: fsync and rename.
#include <unistd.h>

#include <cstdio>

#include "platform/files.h"

int sync_file(std::FILE* file) {
  if (file == nullptr) return 0;
  if (std::fflush(file) != 0) return 0;
  int fd = fileno(file);
  if (fd < 0) return 0;
  return fsync(fd) == 0 ? 1 : 0;
}

int replace_file(const char* temporary, const char* target) {
  if (temporary == nullptr || target == nullptr) return 0;
  return std::rename(temporary, target) == 0 ? 1 : 0;
}
