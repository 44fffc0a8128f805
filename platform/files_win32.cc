// File replacement on Windows: _commit and MoveFileExA replacing the target.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/files.h"

int sync_file(std::FILE* file) {
  if (file == nullptr) return 0;
  if (std::fflush(file) != 0) return 0;
  int fd = _fileno(file);
  if (fd < 0) return 0;
  return _commit(fd) == 0 ? 1 : 0;
}

int replace_file(const char* temporary, const char* target) {
  if (temporary == nullptr || target == nullptr) return 0;
  return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}
