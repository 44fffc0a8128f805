// The simulated DMM's core: received bytes and the meter's state in, the texts to send out. No sockets.
// It owns its framing: in telnet style a welcome line and a "DMM> " prompt on connect, every received
// line echoed with CR LF, a query's answer with CR LF, then the prompt again; in raw style none of
// that, and every answer one line ended by LF.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/scpi.h"
#include "sim/sim.h"

constexpr const char* DMM_PROMPT = "DMM> ";
constexpr double DMM_OVERLOAD = 9.9e37;

struct DmmState {
  SimDmmStyle style = SimDmmStyle::telnet;
  bool amps = false;             // DC current, else DC voltage
  // Settings of each function, indexed by amps (0 volts, 1 amps), kept across function changes.
  double range[2] = {0.0, 0.0};       // 0: automatic range; else the fixed range
  double auto_range[2] = {0.0, 0.0};  // the range the automatic ranging last chose; 0 none yet
  double nplc[2] = {10.0, 10.0};      // integration time in power-line cycles
  bool have_reading = false;     // INIT took a reading that FETC? returns
  double held_reading = 0.0;
  int event_status = 0;          // standard event status register and its enable mask
  int event_enable = 0;
  int service_enable = 0;        // *SRE (bit 6 never set)
  std::deque<std::string> errors;
  std::string idn;
  std::uint64_t noise = 1;       // state of the reading-noise generator
  std::deque<double> scripted;   // values the next readings give instead of the measurement
  SimDmmFaults faults;
  int readings = 0;              // READ? commands received since the faults were set
  bool silent = false;           // the silent fault has struck
  int measurement_time_ms = 200; // program-time ms for one reading
  std::vector<SimDmmNoise> extra_noise;  // added noise on some ranges; drawn only where one applies
};

// What to send for one received line.
struct DmmReply {
  std::string now;     // at once: the echo, and the prompt when no answer follows
  std::string later;   // after delay_ms: the answer, its line end and the prompt
  int delay_ms = 0;    // program-time ms (the caller scales it)
  bool close = false;  // drop the connection instead
};

// The true value at the leads in the mode asked for (amps true: current through the meter's shunt).
using DmmMeasure = std::function<double(bool amps)>;

DmmState dmm_make_state(std::uint64_t seed, const std::string& idn, int measurement_time_ms,
                        SimDmmStyle style = SimDmmStyle::telnet);

// New faults; the reading count starts again from 0.
void dmm_set_faults(DmmState& state, const SimDmmFaults& faults);

// What a client gets on connecting: the welcome line and the first prompt, or nothing in raw style.
std::string dmm_welcome(const DmmState& state);

// Takes the next complete line (without its line end) from a connection's received bytes. carry is
// the connection's framing state (0 at connect). false when no line is complete yet.
bool dmm_next_line(const DmmState& state, std::string& in, int& carry, std::string* line);

// Handles one received line (without its line end).
DmmReply dmm_handle_line(DmmState& state, const std::string& line, const DmmMeasure& measure);

// A reading as the meter prints it: +4.99870000E+00; overload +9.90000000E+37.
std::string dmm_format_reading(double value);

// ---- Shared by the core and its command table (dmm_commands.cc).

void dmm_error(DmmState& state, ScpiError error);
// The function's ranges, smallest first; dmm_range_count() of them.
const double* dmm_ranges(bool amps);
int dmm_range_count();
// A reading of the true value in the present function and range, or the next scripted value.
double dmm_take_reading(DmmState& state, const DmmMeasure& measure);
// The place of the command table's entry that the command names, or -1 when it names none (READ?
// is not in the table).
int dmm_find(const ScpiCommand& command);
// Runs one parsed command other than READ?; appends answers; counts the readings taken. false when
// the header is none the meter knows (nothing done).
bool dmm_command(DmmState& state, const ScpiCommand& command, std::vector<std::string>& answers,
                 int& measured, const DmmMeasure& measure);
