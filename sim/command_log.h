// A log of every line the simulated instruments receive, in the order they receive them, one line each:
// the instrument, two spaces, the line as received (control characters shown as \r, \n or \xHH).
#pragma once

#include <cstdio>
#include <string>

class CommandLog {
 public:
  CommandLog() = default;
  ~CommandLog();
  CommandLog(const CommandLog&) = delete;
  CommandLog& operator=(const CommandLog&) = delete;

  // Starts a new log in path (an empty path: no log). false when it cannot be written.
  bool open(const std::string& path);
  // Appends one received line; written through at once, so that the log is whole however the bench ends.
  void write(const char* instrument, const std::string& line);

 private:
  std::FILE* file_ = nullptr;
};
