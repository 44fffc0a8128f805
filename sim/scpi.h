// SCPI text handling shared by the simulated instruments: splitting a line into commands, parsing a
// command's header and parameters, matching headers against short/long keyword patterns, numbers.
#pragma once

#include <deque>
#include <string>
#include <vector>

// One command of a line: "*IDN?", ":SOUR2:VOLT 5", "CAL:SET CH1,V,0,0.2,1".
struct ScpiCommand {
  bool common = false;               // a '*' command such as *RST
  bool absolute = false;             // the header began with ':'
  std::vector<std::string> nodes;    // upper-cased header nodes as written, suffixes kept ("SOUR2")
  bool query = false;                // the header ended with '?'
  std::vector<std::string> params;   // trimmed; quotes removed
};

// The commands of one line, split at ';' outside quotes; empty pieces are dropped.
std::vector<std::string> scpi_split_line(const std::string& line);

// Parses one command. false when its header is malformed (empty node, stray characters).
bool scpi_parse(const std::string& text, ScpiCommand* out);

// Matches the header nodes against a pattern such as "[:SOURce#]:VOLTage[:LEVel]" (brackets mark an
// optional node, lower-case letters the part that the short form leaves out, '#' a numeric suffix)
// or a common command such as "*IDN". The query mark is not part of the match. When suffix is not
// null it receives the numeric suffix of the '#' node, or 0 when none was written.
bool scpi_match(const std::vector<std::string>& nodes, bool common, const char* pattern,
                int* suffix = nullptr);

// A decimal number with optional sign, fraction and exponent, optionally followed by a unit of
// volts or amperes (V, MV, A, MA, case-insensitive). false for anything else.
bool scpi_number(const std::string& text, double* value);

std::string scpi_upper(const std::string& text);

// The errors the simulated instruments report; their texts live in one table in scpi.cc.
enum class ScpiError {
  syntax = -102,
  data_type = -104,
  parameter_not_allowed = -108,
  missing_parameter = -109,
  undefined_header = -113,
  suffix_out_of_range = -114,
  illegal_parameter = -224,
  command_protected = -203,
  settings_conflict = -221,
  out_of_range = -222,
  data_stale = -230,
};

// SCPI error queue: at most 20 entries; an error arriving at a full queue replaces the last entry
// with a queue overflow.
void scpi_push_error(std::deque<std::string>* queue, ScpiError error);
// The bit an error sets in the standard event status register: command (32), execution (16).
int scpi_event_bit(ScpiError error);
// The oldest entry, or 0,"No error" when the queue is empty.
std::string scpi_pop_error(std::deque<std::string>* queue);
