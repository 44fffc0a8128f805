// Files on Windows: _commit and MoveFileExA for replacement; exclusive creation and a move that refuses
// an existing name for new files.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

namespace {

std::string windows_error_text(DWORD code) {
  char text[256] = {0};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) {
    text[--length] = '\0';
  }
  return length > 0 ? std::string(text) : "Windows error " + std::to_string(code);
}

}  // namespace

int make_folder(const char* path, std::string& reason) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 1;
    reason = std::string(path) + " is not a folder";
    return 0;
  }
  if (CreateDirectoryA(path, nullptr)) return 1;
  DWORD error = GetLastError();
  attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 1;
  reason = std::string("cannot create the folder ") + path + ": " + windows_error_text(error);
  return 0;
}

std::FILE* create_unique_file(const char* folder, const char* prefix, std::string& path,
                              std::string& reason) {
  for (int attempt = 0; attempt < 100; attempt++) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%08lx%04x", static_cast<unsigned long>(GetTickCount()),
                  static_cast<unsigned>((GetCurrentProcessId() * 31u + static_cast<unsigned>(attempt)) &
                                        0xffffu));
    std::string name = std::string(folder) + "/" + prefix + suffix;
    int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      reason = std::string("cannot create a file in ") + folder + ": " + std::strerror(errno);
      return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
      reason = std::string("cannot open ") + name + ": " + std::strerror(errno);
      _close(fd);
      _unlink(name.c_str());
      return nullptr;
    }
    path = name;
    return file;
  }
  reason = std::string("cannot find a free temporary name in ") + folder;
  return nullptr;
}

int place_new_file(const char* temporary, const char* target, std::string& reason) {
  // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name.
  if (MoveFileExA(temporary, target, MOVEFILE_WRITE_THROUGH)) return 1;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return -1;
  reason = std::string("cannot name the file ") + target + ": " + windows_error_text(error);
  return 0;
}

int create_new_file(const char* path, std::string& reason) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return 1;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return -1;
  reason = std::string("cannot create the file ") + path + ": " + windows_error_text(error);
  return 0;
}

bool path_exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int file_readable(const char* path, std::string& reason) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    reason = windows_error_text(error);
    return -1;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "it is a folder";
    return -1;
  }
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return -1;
  }
  std::fclose(file);
  return 1;
}

int read_regular_file(const char* path, std::size_t max_bytes, std::string& text, std::string& reason) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "not a regular file (a folder)";
    return 0;
  }
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = "cannot be opened: " + windows_error_text(GetLastError());
    return 0;
  }
  int done = 0;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK) {
    reason = "not a regular file (a device or a pipe)";
  } else if (!GetFileSizeEx(file, &size) || static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    reason = "larger than " + std::to_string(max_bytes) + " bytes (" + std::to_string(size.QuadPart) + ")";
  } else {
    text.clear();
    char buffer[8192];
    DWORD n = 0;
    BOOL ok = TRUE;
    while (text.size() <= max_bytes && (ok = ReadFile(file, buffer, sizeof buffer, &n, nullptr)) && n > 0)
      text.append(buffer, n);
    if (!ok) {
      reason = "cannot be read: " + windows_error_text(GetLastError());
    } else if (text.size() > max_bytes) {
      reason = "larger than " + std::to_string(max_bytes) + " bytes";
    } else {
      done = 1;
    }
  }
  CloseHandle(file);
  if (done == 0) text.clear();
  return done;
}

// Links are rare on Windows and need rights to make; a save replaces the name itself.
std::string link_target(const char* path) { return path; }

// Permissions follow the folder here; the mode that matters is the text mode: the settings file has
// always been written with CR LF line ends.
int take_file_mode(std::FILE* file, const char*) {
  int fd = _fileno(file);
  return fd >= 0 && _setmode(fd, _O_TEXT) != -1 ? 1 : 0;
}

namespace {

// Writes text to a new temporary file beside path and brings it to the disk; the temporary's name, or
// the reason of a failure (nothing is left behind then).
Result<std::string> write_temporary(const std::string& path, const std::string& text) {
  const std::string::size_type slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string prefix = "." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
  std::string temporary;
  std::string reason;
  std::FILE* file = create_unique_file(folder.c_str(), prefix.c_str(), temporary, reason);
  if (file == nullptr) return Status::failure(reason);
  errno = 0;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = ok && sync_file(file) == 1;
  int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    if (error == 0) error = errno;
    _unlink(temporary.c_str());
    return Status::failure("cannot write " + temporary + ": " + (error != 0 ? std::strerror(error) : "write failed"));
  }
  return temporary;
}

}  // namespace

Status write_file_atomically(const std::string& path, const std::string& text) {
  const Result<std::string> temporary = write_temporary(path, text);
  if (!temporary) return temporary.status();
  if (!MoveFileExA(temporary->c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    _unlink(temporary->c_str());
    return Status::failure("cannot rename into " + path + ": " + windows_error_text(error));
  }
  return Status::success();
}

Result<bool> write_new_file_atomically(const std::string& path, const std::string& text) {
  const Result<std::string> temporary = write_temporary(path, text);
  if (!temporary) return temporary.status();
  std::string reason;
  const int placed = place_new_file(temporary->c_str(), path.c_str(), reason);
  if (placed == 1) return true;
  _unlink(temporary->c_str());
  if (placed == -1) return false;
  return Status::failure(reason);
}
