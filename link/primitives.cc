// The reading a DMM answer holds.
#include "link/primitives.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

// SCPI's overload and not-a-number values are 9.9E37 and up; no real reading comes near.
constexpr double SCPI_OVERLOAD = 9.9e37;

// The number a DMM answer holds. true with the value, or false when the answer holds no usable number.
bool parse_reading(const char* text, double* value) {
  while (*text != 0 && std::isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  bool digits = false;
  for (const char* p = text; p < end; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) digits = true;
  if (!digits || !std::isfinite(v) || std::fabs(v) >= SCPI_OVERLOAD) return false;
  *value = v;
  return true;
}

}  // namespace

Result<double> dmm_reading_from_reply(const char* buffer, int r) {
  if (r < 0) return Status::failure("the connection to the DMM failed");
  if (r == 0 || buffer == nullptr) return Status::failure("the DMM gave no answer");
  double value = 0.0;
  if (!parse_reading(buffer, &value)) return Status::failure("the DMM's answer holds no usable number");
  return value;
}
