// The simulated DMM's command core: one received line and the meter's state in, the texts to send out.
// It behaves like a bench meter's telnet-style SCPI port: a welcome line and a "DMM> " prompt on
// connect, every received line echoed with CR LF, a query's answer with CR LF, then the prompt again.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "sim/sim.h"

constexpr const char* DMM_PROMPT = "DMM> ";
constexpr double DMM_OVERLOAD = 9.9e37;

struct DmmState {
  bool amps = false;             // DC current, else DC voltage
  double range = 0.0;            // 0: automatic range; else the fixed range
  std::deque<std::string> errors;
  std::string idn;
  std::uint64_t noise = 1;       // state of the reading-noise generator
  std::deque<double> scripted;   // values the next readings give instead of the measurement
  SimDmmFaults faults;
  int readings = 0;              // READ? commands received since the faults were set
  bool silent = false;           // the silent fault has struck
  int measurement_time_ms = 200; // program-time ms for one reading
};

// What to send for one received line.
struct DmmReply {
  std::string now;     // at once: the echo, and the prompt when no answer follows
  std::string later;   // after delay_ms: the answer, CR LF and the prompt
  int delay_ms = 0;    // program-time ms (the caller scales it)
  bool close = false;  // drop the connection instead
};

DmmState dmm_make_state(std::uint64_t seed, const std::string& idn, int measurement_time_ms);

// New faults; the reading count starts again from 0.
void dmm_set_faults(DmmState& state, const SimDmmFaults& faults);

// The welcome line and the first prompt, sent when a client connects.
std::string dmm_welcome(const DmmState& state);

// Handles one received line (without its line end). measure gives the true value at the leads in
// the mode asked for (amps true: current through the meter's shunt; false: voltage).
DmmReply dmm_handle_line(DmmState& state, const std::string& line, const std::function<double(bool amps)>& measure);

// A reading as the meter prints it: +4.99870000E+00; overload +9.90000000E+37.
std::string dmm_format_reading(double value);
