// The system's local date and time. POSIX: local_time_posix.cc, Windows (GetLocalTime): local_time_win32.cc.
#pragma once

struct LocalTime {
  int year;    // four digits
  int month;   // 1 to 12
  int day;     // 1 to 31
  int hour;    // 0 to 23
  int minute;  // 0 to 59
  int second;  // 0 to 59
};

LocalTime local_time_now();

// The local date and time with its offset from UTC (east positive), taken together.
struct ZonedTime {
  LocalTime local;
  int utc_offset_minutes;
};

ZonedTime zoned_time_now();
