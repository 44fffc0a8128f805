// An instrument's identity from its *IDN? answer: maker, model, serial number, firmware.
#pragma once

#include <string>
#include <string_view>

struct Identity {
  std::string maker;
  std::string model;
  std::string serial;
  std::string firmware;
};

// Splits a "*IDN?" answer at its commas into the four fields, each trimmed of spaces, control
// characters and surrounding quotes; missing fields stay empty, a fifth field onward joins the firmware.
Identity parse_identity(std::string_view answer);
