// The reading a DMM answer holds.
#include "link/primitives.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// SCPI's overload and not-a-number values are 9.9E37 and up; no real reading comes near.
constexpr double SCPI_OVERLOAD = 9.9e37;

// How an answer's number failed to be a reading.
enum class Parsed { reading, overload, garbage };

// The number a DMM answer holds, in *value when it is a reading.
Parsed parse_reading(const char* text, double* value) {
  while (*text != 0 && std::isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  bool digits = false;
  for (const char* p = text; p < end; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) digits = true;
  if (!digits) return Parsed::garbage;
  // The meter's own word that the input is beyond its range (or not a number).
  if (!std::isfinite(v) || std::fabs(v) >= SCPI_OVERLOAD) return Parsed::overload;
  *value = v;
  return Parsed::reading;
}

// The answer as it can be named in a reason: without its line end, and cut short.
std::string quoted_answer(const char* text) {
  std::string answer(text);
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
  std::size_t start = 0;
  while (start < answer.size() && std::isspace(static_cast<unsigned char>(answer[start]))) ++start;
  constexpr std::size_t SHOWN = 40;
  return "\"" + answer.substr(start, SHOWN) + "\"";
}

}  // namespace

Result<double> dmm_reading_from_reply(const char* buffer, int r) {
  if (r < 0) return Status::failure("the connection to the DMM was lost");
  if (r == 0 || buffer == nullptr) return Status::failure("the DMM gave no answer");
  double value = 0.0;
  switch (parse_reading(buffer, &value)) {
    case Parsed::reading: return value;
    case Parsed::overload: return Status::failure("the DMM reports an overload (+9.9E37)");
    case Parsed::garbage: break;
  }
  return Status::failure("the DMM's answer holds no number: " + quoted_answer(buffer));
}
