// The local date and time on Windows.
#include <windows.h>

#include "platform/local_time.h"

LocalTime local_time_now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime now;
  now.year = st.wYear;
  now.month = st.wMonth;
  now.day = st.wDay;
  now.hour = st.wHour;
  now.minute = st.wMinute;
  now.second = st.wSecond;
  return now;
}

ZonedTime zoned_time_now() {
  // One instant in both clocks; the offset is their difference, rounded to whole minutes.
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  SYSTEMTIME local;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  FILETIME utc_file;
  FILETIME local_file;
  ZonedTime now;
  now.local = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
  now.utc_offset_minutes = 0;
  if (SystemTimeToFileTime(&utc, &utc_file) && SystemTimeToFileTime(&local, &local_file)) {
    ULARGE_INTEGER u;
    ULARGE_INTEGER l;
    u.LowPart = utc_file.dwLowDateTime;
    u.HighPart = utc_file.dwHighDateTime;
    l.LowPart = local_file.dwLowDateTime;
    l.HighPart = local_file.dwHighDateTime;
    long long difference = static_cast<long long>(l.QuadPart) - static_cast<long long>(u.QuadPart);
    // 100 ns units; round to the nearest minute.
    long long minute = 600000000LL;
    long long rounded = difference >= 0 ? difference + minute / 2 : difference - minute / 2;
    now.utc_offset_minutes = static_cast<int>(rounded / minute);
  }
  return now;
}
