// The simulated DP832's command core: one received line and the supply's state in, the reply text out.
// No sockets here; the TCP loop feeds lines in and writes the replies out.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "sim/psu_model.h"
#include "sim/scpi.h"

constexpr int CAL_ACCESS_CODE = 27384;
constexpr double LOAD_OPEN = std::numeric_limits<double>::infinity();

struct PsuChannel {
  double volts = 0.0;           // set voltage
  double amps = 0.0;            // set current limit
  bool on = false;
  double ovp = 0.0;             // protection levels, enables and trip flags
  double ocp = 0.0;
  bool ovp_on = false;
  bool ocp_on = false;
  bool ovp_tripped = false;
  bool ocp_tripped = false;
};

// What CAL:SET last drove on the channel under calibration.
struct CalDrive {
  bool active = false;
  char quantity = 'V';          // 'V' or 'C'
  int phase = 1;                // 1 DAC, 0 meter
  int point = 0;
  double value = 0.0;
};

// An output-changing command received while the supply acts late: carried out at due_ms with the
// channel selection it arrived under.
struct PsuAction {
  double due_ms;
  ScpiCommand command;
  int selected;
};

struct PsuState {
  PsuModel model;
  PsuChannel ch[PSU_CHANNELS];
  int selected = 1;             // channel of :INST and the :SOUR-less forms
  bool beep = true;
  bool otp = true;
  bool remote = false;
  std::deque<std::string> errors;
  int event_status = 0;         // standard event status register, its enable, the service request enable
  int event_enable = 0;
  int service_enable = 0;
  // Questionable and operation status: condition (as now), latched events, and enable masks.
  int ques_condition = 0;
  int ques_event = 0;
  int ques_enable = 0;
  int oper_condition = 0;
  int oper_event = 0;
  int oper_enable = 0;
  std::uint64_t meter_noise = 1;  // the last counts of the supply's own meter
  std::string idn;
  bool silent_to_idn = false;   // a fault: *IDN? gets no answer
  bool refuse_calibration = false;  // a fault: CAL commands are refused, protected
  bool refuse_all = false;          // a fault: every command but *IDN? and SYST:ERR? is refused
  int last_switched_on = 0;     // channel whose output went on most recently; 0 none yet

  // Calibration session: cal_channel is 0 outside CAL:START ... CAL:END.
  int cal_channel = 0;
  CalDrive drive;
  std::map<int, CalPoint> pending[Q_COUNT];   // recorded points by point number
  bool calibration_changed = false;           // set by CAL:END; the owner saves and clears it

  // Set by the owner before each line: the resistance across each channel's terminals, LOAD_OPEN
  // when nothing draws current (the DMM's voltage input counts as open).
  double load_ohms[PSU_CHANNELS] = {LOAD_OPEN, LOAD_OPEN, LOAD_OPEN};

  double readback_offset_v = 0.0;   // added to every voltage the meter reports while an output is on
  // Acting late: the owner sets the clock (ms) before each line and each look at the outputs, and
  // act_delay_ms; above 0 the output-changing commands wait in actions until now_ms reaches their due.
  double now_ms = 0.0;
  double act_delay_ms = 0.0;
  std::deque<PsuAction> actions;
  bool acting = false;              // an action from the queue is being carried out
  bool opc_armed = false;           // *OPC came while actions waited: event bit 0 when they are done
  double answer_at_ms = 0.0;        // set by *OPC? while actions wait: the line's reply waits until then
};

// Regulation of an output: off, constant voltage, constant current.
enum PsuMode { MODE_OFF, MODE_CV, MODE_CC };

struct PsuTerminal {
  double volts = 0.0;
  double amps = 0.0;
  PsuMode mode = MODE_OFF;
};

// A supply at power-on: outputs off, 0 V, full current limit, calibration as the model holds it.
PsuState psu_make_state(const PsuModel& model, const std::string& idn);

// Carries out the waiting actions whose time (now_ms) has come.
void psu_run_due(PsuState& state);

// The DMM's leads on channel wired (0 none): in amps its shunt (DMM_SHUNT_OHMS) is the channel's load,
// in volts nothing loads it. Sets every channel's load and returns what the meter sees there.
constexpr double DMM_SHUNT_OHMS = 0.1;
double psu_dmm_sees(PsuState& state, int wired, bool amps);

// Handles one received line (without its line end); several commands may be joined with ';'. Returns
// the reply line with its line feed, or an empty text when no command of the line was a query.
std::string psu_handle_line(PsuState& state, const std::string& line);

// ---- Shared by the supply's command groups (psu_core.cc, psu_status.cc).

typedef std::vector<std::string> PsuReplies;
struct ScpiCommand;
enum class ScpiError;

void psu_error(PsuState& state, ScpiError error);
// Checks the parameter count; pushes the error when it is wrong.
bool psu_count_ok(PsuState& state, const ScpiCommand& command, std::size_t least, std::size_t most);
// A level in [low, high] or MIN, MAX, DEF; pushes the error and returns false when it is none.
bool psu_parse_level(PsuState& state, const std::string& text, double low, double high, double def, double* value);
bool psu_parse_switch(const std::string& text, bool* on);
double psu_volts_max(int channel);
double psu_ovp_max(int channel);
constexpr double PSU_AMPS_MAX = 3.2;
constexpr double PSU_OCP_MAX = 3.3;

int psu_parse_channel(const std::string& text);  // "CH1" to "CH3", any case; 0 for anything else
bool psu_parse_integer(const std::string& text, int* value);
// An optional leading channel parameter: consumes it when present (next: where the others start).
// false (error queued) when it is there but names no channel.
bool psu_take_channel(PsuState& state, const ScpiCommand& command, std::size_t* next, int* channel);
void psu_reset_channels(PsuState& state);

// One command of a table: its header pattern, the forms it takes, its handler.
struct PsuCall {
  PsuState& st;
  const ScpiCommand& c;
  PsuReplies& out;
  int channel;  // the header's numeric suffix (SOURce2), else the selected channel
};
enum PsuForm { PSU_SET, PSU_QUERY, PSU_BOTH };
struct PsuCommand {
  const char* pattern;
  PsuForm form;
  void (*handle)(PsuCall&);
};
// While the supply acts late, queues an output-changing set command to act later; true when queued.
bool psu_defer(PsuCall& call);
// Runs the first entry whose pattern and form fit; false when none does (nothing done).
bool psu_run_table(const PsuCommand* table, std::size_t count, PsuState& state, const ScpiCommand& command,
                   PsuReplies& out);

// The command groups; each false when the header is none of its own.
bool psu_basic_command(PsuState& state, const ScpiCommand& command, PsuReplies& out);
bool psu_calibration_command(PsuState& state, const ScpiCommand& command, PsuReplies& out);
bool psu_status_command(PsuState& state, const ScpiCommand& command, PsuReplies& out);
// Brings the status conditions up to date and latches their rising bits as events.
void psu_update_status(PsuState& state);

// The true voltage and current at a channel's terminals (1 to 3) under its present load.
PsuTerminal psu_terminal(const PsuState& state, int channel);
