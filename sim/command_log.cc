// The simulated bench's command log.
#include "sim/command_log.h"

CommandLog::~CommandLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool CommandLog::open(const std::string& path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void CommandLog::write(const char* instrument, const std::string& line) {
  if (file_ == nullptr) return;
  std::string shown;
  for (unsigned char c : line) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c < 32 || c >= 127 || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    } else {
      shown += static_cast<char>(c);
    }
  }
  std::fprintf(file_, "%s  %s\n", instrument, shown.c_str());
  std::fflush(file_);
}
