// Files on POSIX: fsync and rename for replacement, mkstemp and link for new files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

int make_folder(const char* path, std::string& reason) {
  struct stat info;
  if (stat(path, &info) == 0) {
    if (S_ISDIR(info.st_mode)) return 1;
    reason = std::string(path) + " is not a folder";
    return 0;
  }
  if (mkdir(path, 0777) == 0) return 1;
  int error = errno;
  if (error == EEXIST && stat(path, &info) == 0 && S_ISDIR(info.st_mode)) return 1;
  reason = std::string("cannot create the folder ") + path + ": " + std::strerror(error);
  return 0;
}

std::FILE* create_unique_file(const char* folder, const char* prefix, std::string& path,
                              std::string& reason) {
  std::string name = std::string(folder) + "/" + prefix + "XXXXXX";
  int fd = mkstemp(name.data());
  if (fd < 0) {
    reason = std::string("cannot create a file in ") + folder + ": " + std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    reason = std::string("cannot open ") + name + ": " + std::strerror(errno);
    close(fd);
    unlink(name.c_str());
    return nullptr;
  }
  path = name;
  return file;
}

int place_new_file(const char* temporary, const char* target, std::string& reason) {
  // link() refuses an existing name, which rename() would replace.
  if (link(temporary, target) == 0) {
    unlink(temporary);
    return 1;
  }
  int error = errno;
  if (error == EEXIST) return -1;
  // A file system without hard links: check, then rename (the gap between the two is the only risk).
  if (error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS) {
    if (path_exists(target)) return -1;
    if (std::rename(temporary, target) == 0) return 1;
    error = errno;
  }
  reason = std::string("cannot name the file ") + target + ": " + std::strerror(error);
  return 0;
}

int create_new_file(const char* path, std::string& reason) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    close(fd);
    return 1;
  }
  const int error = errno;
  if (error == EEXIST) return -1;
  reason = std::string("cannot create the file ") + path + ": " + std::strerror(error);
  return 0;
}

bool path_exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

namespace {

const char* kind_of_file(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

int read_regular_file(const char* path, std::size_t max_bytes, std::string& text, std::string& reason) {
  // O_NONBLOCK: opening a named pipe with no writer returns at once instead of waiting for one.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::string("cannot be opened: ") + std::strerror(errno);
    return 0;
  }
  struct stat info;
  int done = 0;
  if (fstat(fd, &info) != 0) {
    reason = std::string("cannot be read: ") + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    reason = std::string("not a regular file (") + kind_of_file(info.st_mode) + ")";
  } else if (static_cast<unsigned long long>(info.st_size) > max_bytes) {
    reason = "larger than " + std::to_string(max_bytes) + " bytes (" + std::to_string(info.st_size) + ")";
  } else {
    // The size can change while it is read: never more than max_bytes + 1 are taken.
    text.clear();
    char buffer[8192];
    ssize_t n = 0;
    while (text.size() <= max_bytes && (n = read(fd, buffer, sizeof buffer)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    if (n < 0) {
      reason = std::string("cannot be read: ") + std::strerror(errno);
    } else if (text.size() > max_bytes) {
      reason = "larger than " + std::to_string(max_bytes) + " bytes";
    } else {
      done = 1;
    }
  }
  close(fd);
  if (done == 0) text.clear();
  return done;
}

namespace {

// The text of the symbolic link at path, or "" when it cannot be read.
std::string link_text(const char* path) {
  char text[4096];
  ssize_t length = readlink(path, text, sizeof text);
  if (length < 0 || static_cast<size_t>(length) >= sizeof text) return "";
  return std::string(text, static_cast<size_t>(length));
}

}  // namespace

int file_readable(const char* path, std::string& reason) {
  struct stat info;
  if (lstat(path, &info) != 0) {
    if (errno == ENOENT) return 0;
    reason = std::strerror(errno);
    return -1;
  }
  if (S_ISLNK(info.st_mode) && stat(path, &info) != 0) {
    int error = errno;
    reason = "it is a symbolic link to " + link_text(path) +
             (error == ENOENT ? std::string(", which does not exist") : ": " + std::string(std::strerror(error)));
    return -1;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = "it is a folder";
    return -1;
  }
  int fd = open(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  close(fd);
  return 1;
}

std::string link_target(const char* path) {
  std::string target = path;
  // As many links as the system itself follows; a longer chain (a loop) is left as it is.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info;
    if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
    std::string next = link_text(target.c_str());
    if (next.empty()) return target;
    if (next[0] != '/') {
      // A relative link names a file from the link's own folder.
      std::string::size_type slash = target.rfind('/');
      if (slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    }
    target = next;
  }
  return path;
}

namespace {

// The process's umask, read without changing it where the system tells it (Linux's /proc/self/status):
// setting it to 0 and back would let a file made by another thread meanwhile get mode 0666.
mode_t current_umask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned long mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) != 0) continue;
      char* end = nullptr;
      mask = std::strtoul(line + 6, &end, 8);
      found = end != line + 6;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t mask = umask(077);
  umask(mask);
  return mask;
}

}  // namespace

int take_file_mode(std::FILE* file, const char* target) {
  int fd = fileno(file);
  if (fd < 0) return 0;
  struct stat info;
  mode_t mode;
  if (stat(target, &info) == 0) {
    mode = (info.st_mode & 07777) | 0600;  // the owner must be able to read it back
  } else {
    mode = 0666 & ~current_umask();
  }
  return fchmod(fd, mode) == 0 ? 1 : 0;
}

namespace {

// Writes text to a new temporary file beside path, with the mode a newly made file gets, and brings it to
// the disk; the temporary's name, or the reason of a failure (nothing is left behind then).
Result<std::string> write_temporary(const std::string& path, const std::string& text) {
  const std::string::size_type slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string prefix = "." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
  std::string temporary;
  std::string reason;
  std::FILE* file = create_unique_file(folder.c_str(), prefix.c_str(), temporary, reason);
  if (file == nullptr) return Status::failure(reason);
  errno = 0;
  // mkstemp makes the file 0600 whatever the umask; the file in its place must be readable as any other.
  bool ok = fchmod(fileno(file), 0666 & ~current_umask()) == 0;
  ok = ok && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = ok && sync_file(file) == 1;
  int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    if (error == 0) error = errno;
    std::remove(temporary.c_str());
    return Status::failure("cannot write " + temporary + ": " + (error != 0 ? std::strerror(error) : "write failed"));
  }
  return temporary;
}

}  // namespace

Status write_file_atomically(const std::string& path, const std::string& text) {
  const Result<std::string> temporary = write_temporary(path, text);
  if (!temporary) return temporary.status();
  if (std::rename(temporary->c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary->c_str());
    return Status::failure("cannot rename into " + path + ": " + std::strerror(error));
  }
  return Status::success();
}

Result<bool> write_new_file_atomically(const std::string& path, const std::string& text) {
  const Result<std::string> temporary = write_temporary(path, text);
  if (!temporary) return temporary.status();
  std::string reason;
  const int placed = place_new_file(temporary->c_str(), path.c_str(), reason);
  if (placed == 1) return true;
  std::remove(temporary->c_str());
  if (placed == -1) return false;
  return Status::failure(reason);
}
