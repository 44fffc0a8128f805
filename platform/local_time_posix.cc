// The local date and time on POSIX.
#include <ctime>

#include "platform/local_time.h"

LocalTime local_time_now() {
  LocalTime now = {0, 0, 0, 0, 0, 0};
  std::time_t seconds = std::time(nullptr);
  std::tm parts;
  if (localtime_r(&seconds, &parts) == nullptr && gmtime_r(&seconds, &parts) == nullptr) return now;
  now.year = parts.tm_year + 1900;
  now.month = parts.tm_mon + 1;
  now.day = parts.tm_mday;
  now.hour = parts.tm_hour;
  now.minute = parts.tm_min;
  // A leap second (60) is shown as the last second of its minute.
  now.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  return now;
}

ZonedTime zoned_time_now() {
  ZonedTime now = {{0, 0, 0, 0, 0, 0}, 0};
  std::time_t seconds = std::time(nullptr);
  std::tm parts;
  if (localtime_r(&seconds, &parts) == nullptr) {
    if (gmtime_r(&seconds, &parts) == nullptr) return now;
    parts.tm_gmtoff = 0;
  }
  now.local = {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
               parts.tm_sec > 59 ? 59 : parts.tm_sec};
  now.utc_offset_minutes = static_cast<int>(parts.tm_gmtoff / 60);
  return now;
}
