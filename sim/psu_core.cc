// The simulated DP832's command core: the line and its commands, the parameter forms every command
// group shares, and the terminals. The commands themselves are tables in psu_commands.cc,
// psu_calibration.cc and psu_status.cc.
#include "sim/psu_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim/scpi.h"

namespace {

typedef PsuReplies Replies;

double volts_max(int channel) { return psu_volts_max(channel); }
constexpr double AMPS_MAX = PSU_AMPS_MAX;
double ovp_max(int channel) { return psu_ovp_max(channel); }
constexpr double OCP_MAX = PSU_OCP_MAX;

void error(PsuState& st, ScpiError e) { psu_error(st, e); }

// "CH1" to "CH3", any case; 0 for anything else.
int parse_channel(const std::string& text) {
  std::string t = scpi_upper(text);
  if (t.size() == 3 && t[0] == 'C' && t[1] == 'H' && t[2] >= '1' && t[2] <= '3') return t[2] - '0';
  return 0;
}

bool looks_like_channel(const std::string& text) {
  std::string t = scpi_upper(text);
  return t.size() >= 2 && t[0] == 'C' && t[1] == 'H';
}

bool parse_switch(const std::string& text, bool* on) {
  std::string t = scpi_upper(text);
  if (t == "ON" || t == "1") {
    *on = true;
    return true;
  }
  if (t == "OFF" || t == "0") {
    *on = false;
    return true;
  }
  return false;
}

// A level with MIN, MAX and DEF words; pushes the error and returns false when it is not one in range.
bool parse_level(PsuState& st, const std::string& text, double low, double high, double def, double* value) {
  std::string t = scpi_upper(text);
  if (t == "MIN" || t == "MINIMUM") {
    *value = low;
    return true;
  }
  if (t == "MAX" || t == "MAXIMUM") {
    *value = high;
    return true;
  }
  if (t == "DEF" || t == "DEFAULT") {
    *value = def;
    return true;
  }
  double v = 0.0;
  if (!scpi_number(text, &v)) {
    error(st, ScpiError::data_type);
    return false;
  }
  // A hair of tolerance for values that were formatted from the limit itself.
  if (v < low - 1e-9 || v > high + 1e-9) {
    error(st, ScpiError::out_of_range);
    return false;
  }
  *value = std::min(std::max(v, low), high);
  return true;
}

bool parse_integer(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  *value = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
  return true;
}

// Checks the parameter count; pushes the error when it is wrong.
bool count_ok(PsuState& st, const ScpiCommand& c, std::size_t least, std::size_t most) {
  if (c.params.size() < least) {
    error(st, ScpiError::missing_parameter);
    return false;
  }
  if (c.params.size() > most) {
    error(st, ScpiError::parameter_not_allowed);
    return false;
  }
  return true;
}

// An optional leading channel parameter: consumes it when present. false (error pushed) when it is
// there but names no channel.
bool take_channel(PsuState& st, const ScpiCommand& c, std::size_t* next, int* channel) {
  *channel = st.selected;
  *next = 0;
  if (!c.params.empty() && looks_like_channel(c.params[0])) {
    *channel = parse_channel(c.params[0]);
    if (*channel == 0) {
      error(st, ScpiError::illegal_parameter);
      return false;
    }
    *next = 1;
  }
  return true;
}

void reset_channels(PsuState& st) {
  for (int i = 0; i < PSU_CHANNELS; ++i) {
    PsuChannel& ch = st.ch[i];
    ch = PsuChannel();
    ch.amps = AMPS_MAX;
    ch.ovp = ovp_max(i + 1);
    ch.ocp = OCP_MAX;
  }
  st.selected = 1;
  st.drive = CalDrive();
}

// An output whose protection is on and whose terminals pass the protection level switches off.
void check_protection(PsuState& st) {
  for (int c = 1; c <= PSU_CHANNELS; ++c) {
    PsuChannel& ch = st.ch[c - 1];
    if (!ch.on) continue;
    PsuTerminal t = psu_terminal(st, c);
    if (ch.ovp_on && t.volts > ch.ovp) {
      ch.on = false;
      ch.ovp_tripped = true;
    } else if (ch.ocp_on && t.amps > ch.ocp) {
      ch.on = false;
      ch.ocp_tripped = true;
    }
  }
}

// The refusing faults: a protected supply refuses its calibration commands, or everything but the
// questions that tell what is wrong (*IDN?, SYST:ERR?).
bool refused(const PsuState& st, const ScpiCommand& c) {
  const bool calibration = !c.common && !c.nodes.empty() && scpi_match({c.nodes[0]}, false, ":CALibration");
  if (st.refuse_calibration && calibration) return true;
  if (!st.refuse_all) return false;
  return !scpi_match(c.nodes, c.common, "*IDN") && !scpi_match(c.nodes, c.common, ":SYSTem:ERRor[:NEXT]");
}

bool dispatch(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (refused(st, c)) {
    error(st, ScpiError::command_protected);
    return true;
  }
  return psu_basic_command(st, c, out) || psu_calibration_command(st, c, out) || psu_status_command(st, c, out);
}

}  // namespace

PsuState psu_make_state(const PsuModel& model, const std::string& idn) {
  PsuState st;
  st.model = model;
  st.idn = idn;
  reset_channels(st);
  return st;
}

void psu_run_due(PsuState& st) {
  while (!st.actions.empty() && st.actions.front().due_ms <= st.now_ms) {
    PsuAction action = std::move(st.actions.front());
    st.actions.pop_front();
    const int selected = st.selected;
    st.selected = action.selected;
    st.acting = true;
    Replies none;
    dispatch(st, action.command, none);
    st.acting = false;
    st.selected = selected;
    check_protection(st);
    psu_update_status(st);
  }
  if (st.actions.empty() && st.opc_armed) {
    st.opc_armed = false;
    st.event_status |= 1;
  }
}

bool psu_defer(PsuCall& k) {
  PsuState& st = k.st;
  if (k.c.query || st.acting || st.act_delay_ms <= 0.0) return false;
  st.actions.push_back({st.now_ms + st.act_delay_ms, k.c, st.selected});
  return true;
}

double psu_dmm_sees(PsuState& st, int wired, bool amps) {
  for (int c = 1; c <= PSU_CHANNELS; ++c)
    st.load_ohms[c - 1] = (c == wired && amps) ? DMM_SHUNT_OHMS : LOAD_OPEN;
  if (wired < 1 || wired > PSU_CHANNELS) return 0.0;
  PsuTerminal t = psu_terminal(st, wired);
  return amps ? t.amps : t.volts;
}

std::string psu_handle_line(PsuState& st, const std::string& line) {
  Replies replies;
  psu_run_due(st);
  st.answer_at_ms = 0.0;
  std::vector<std::string> path;  // where a relative header of the next command starts
  for (const std::string& text : scpi_split_line(line)) {
    // The commands after an *OPC? that waits come after it: the supply's clock moves on to then.
    if (st.answer_at_ms > st.now_ms) {
      st.now_ms = st.answer_at_ms;
      psu_run_due(st);
    }
    ScpiCommand c;
    if (!scpi_parse(text, &c)) {
      error(st, ScpiError::syntax);
      continue;
    }
    bool handled = false;
    if (!c.common && !c.absolute && !path.empty()) {
      ScpiCommand relative = c;
      relative.nodes.insert(relative.nodes.begin(), path.begin(), path.end());
      handled = dispatch(st, relative, replies);
      if (handled) c = relative;
    }
    // Lenient like many instruments: a relative header that names nothing there is tried from the root.
    if (!handled) handled = dispatch(st, c, replies);
    if (!handled) error(st, ScpiError::undefined_header);
    if (!c.common) path.assign(c.nodes.begin(), c.nodes.end() - 1);
    check_protection(st);
    psu_update_status(st);
  }
  if (replies.empty()) return std::string();
  std::string reply;
  for (std::size_t i = 0; i < replies.size(); ++i) reply += (i == 0 ? "" : ";") + replies[i];
  return reply + "\n";
}

PsuTerminal psu_terminal(const PsuState& st, int channel) {
  PsuTerminal t;
  const PsuChannel& ch = st.ch[channel - 1];
  if (!ch.on) return t;
  const PsuModel& m = st.model;
  double cv_volts = 0.0;
  double cc_amps = 0.0;
  if (st.cal_channel == channel && st.drive.active) {
    // Calibration drives the DAC under test at the point's nominal code, without trim; a current
    // point runs at full voltage so that the channel sits in constant current.
    if (st.drive.quantity == 'V') {
      cv_volts = psu_vdac_output(m, channel, psu_nominal_vcode(m, channel, st.drive.value));
      cc_amps = psu_output_current(m, channel, ch.amps);
    } else {
      cv_volts = psu_vdac_output(m, channel, psu_nominal_vcode(m, channel, volts_max(channel)));
      cc_amps = psu_idac_output(m, channel, psu_nominal_icode(m, channel, st.drive.value));
    }
  } else {
    cv_volts = psu_output_voltage(m, channel, ch.volts);
    cc_amps = psu_output_current(m, channel, ch.amps);
  }
  double load = st.load_ohms[channel - 1];
  if (!(load < LOAD_OPEN)) {
    t.volts = cv_volts;
    t.mode = MODE_CV;
  } else if (cv_volts > cc_amps * load) {
    t.amps = cc_amps;
    t.volts = cc_amps * load;
    t.mode = MODE_CC;
  } else {
    t.volts = cv_volts;
    t.amps = load > 0.0 ? cv_volts / load : 0.0;
    t.mode = MODE_CV;
  }
  return t;
}

// ---- Shared by the command groups.

double psu_volts_max(int channel) { return channel == 3 ? 5.3 : 32.0; }
double psu_ovp_max(int channel) { return channel == 3 ? 5.5 : 33.0; }

void psu_error(PsuState& st, ScpiError e) {
  scpi_push_error(&st.errors, e);
  st.event_status |= scpi_event_bit(e);
}

bool psu_count_ok(PsuState& st, const ScpiCommand& c, std::size_t least, std::size_t most) {
  return count_ok(st, c, least, most);
}

bool psu_parse_level(PsuState& st, const std::string& text, double low, double high, double def, double* value) {
  return parse_level(st, text, low, high, def, value);
}

bool psu_parse_switch(const std::string& text, bool* on) { return parse_switch(text, on); }

int psu_parse_channel(const std::string& text) { return parse_channel(text); }
bool psu_parse_integer(const std::string& text, int* value) { return parse_integer(text, value); }
bool psu_take_channel(PsuState& st, const ScpiCommand& c, std::size_t* next, int* channel) {
  return take_channel(st, c, next, channel);
}
void psu_reset_channels(PsuState& st) { reset_channels(st); }

bool psu_run_table(const PsuCommand* table, std::size_t count, PsuState& st, const ScpiCommand& c, PsuReplies& out) {
  for (std::size_t i = 0; i < count; ++i) {
    const PsuCommand& e = table[i];
    if ((e.form == PSU_SET && c.query) || (e.form == PSU_QUERY && !c.query)) continue;
    int suffix = 0;
    if (!scpi_match(c.nodes, c.common, e.pattern, &suffix)) continue;
    if (suffix > PSU_CHANNELS) {
      psu_error(st, ScpiError::suffix_out_of_range);
      return true;
    }
    PsuCall k{st, c, out, suffix == 0 ? st.selected : suffix};
    e.handle(k);
    return true;
  }
  return false;
}
