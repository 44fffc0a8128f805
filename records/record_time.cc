// ISO 8601 times and record ids.
#include "records/record_time.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <random>
#include <string>

#include "records/record.h"

namespace {

// "+01:00" with colon, "+0100" without; the sign of a zero offset is "+".
std::string offset_text(int minutes, bool colon) {
  char sign = minutes < 0 ? '-' : '+';
  int magnitude = minutes < 0 ? -minutes : minutes;
  char text[16];
  std::snprintf(text, sizeof text, colon ? "%c%02d:%02d" : "%c%02d%02d", sign, (magnitude / 60) % 100,
                magnitude % 60);
  return text;
}

}  // namespace

std::string iso8601_local(const ZonedTime& time) {
  const LocalTime& t = time.local;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year % 10000, t.month % 100,
                t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return text + offset_text(time.utc_offset_minutes, true);
}

std::string make_record_id(const ZonedTime& started, const std::string& serial, const char* key,
                           int channel) {
  const LocalTime& t = started.local;
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d%02d", t.year % 10000, t.month % 100, t.day % 100,
                t.hour % 100, t.minute % 100, t.second % 100);
  // Random where the platform gives randomness, and the clock's finest count where it does not.
  unsigned random = 0;
  try {
    std::random_device device;
    random = device();
  } catch (const std::exception&) {
    random = 0;  // no randomness here: the clock still tells runs apart
  }
  auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  unsigned mixed = random ^ static_cast<unsigned>(ticks) ^ static_cast<unsigned>(ticks >> 32);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%04x", (mixed ^ (mixed >> 16)) & 0xffffu);
  return std::string(stamp) + offset_text(started.utc_offset_minutes, false) + "-" + safe_serial(serial) +
         "-" + key + "-CH" + std::to_string(channel) + "-" + suffix;
}
