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
