// Date and time stamps of a local time.
#include "console/stamps.h"

#include <cstdio>

namespace {

constexpr int STAMP_SIZE = 20;  // the caller's text holds at least this much

int clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

// Fields kept to their ranges, so that a stamp always has its fixed width.
void write_date(char* text, int size, const LocalTime& t) {
  std::snprintf(text, static_cast<size_t>(size), "%02d/%02d/%4d", clamp(t.month, 0, 99),
                clamp(t.day, 0, 99), clamp(t.year, 0, 9999));
}

void write_time(char* text, int size, const LocalTime& t) {
  std::snprintf(text, static_cast<size_t>(size), "%02d:%02d:%02d", clamp(t.hour, 0, 99),
                clamp(t.minute, 0, 99), clamp(t.second, 0, 99));
}

}  // namespace

char* date_stamp(const LocalTime& time, char* text) {
  write_date(text, STAMP_SIZE, time);
  return text;
}

char* time_stamp(const LocalTime& time, char* text) {
  write_time(text, STAMP_SIZE, time);
  return text;
}

// Date and time from one reading of the clock, so that a stamp taken at midnight is never a day off.
char* date_time_stamp(const LocalTime& time, char* text) {
  write_date(text, STAMP_SIZE, time);  // "MM/DD/YYYY", 10 characters
  text[10] = ' ';
  write_time(text + 11, STAMP_SIZE - 11, time);
  return text;
}
