// The simulated DP832's command core.
#include "sim/psu_core.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim/scpi.h"

namespace {

typedef std::vector<std::string> Replies;

double volts_max(int channel) { return psu_volts_max(channel); }
constexpr double AMPS_MAX = PSU_AMPS_MAX;
double ovp_max(int channel) { return psu_ovp_max(channel); }
constexpr double OCP_MAX = PSU_OCP_MAX;

void error(PsuState& st, ScpiError e) { psu_error(st, e); }

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

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
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *value = std::atoi(text.c_str());
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

void switch_output(PsuState& st, int channel, bool on) {
  PsuChannel& ch = st.ch[channel - 1];
  if (on && (ch.ovp_tripped || ch.ocp_tripped)) {
    error(st, ScpiError::settings_conflict);
    return;
  }
  if (on && !ch.on) st.last_switched_on = channel;
  ch.on = on;
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

std::string apply_text(const PsuState& st, int channel) {
  char text[80];
  std::snprintf(text, sizeof text, "CH%d:%s,%.3f,%.3f", channel, channel == 3 ? "5V/3A" : "30V/3A",
                st.ch[channel - 1].volts, st.ch[channel - 1].amps);
  return text;
}

// ---- Commands, one group each. Each returns false when the header is not its own (nothing done).

bool common_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (!c.common) return false;
  const std::string& h = c.nodes[0];
  if (h == "*IDN" && c.query) {
    if (count_ok(st, c, 0, 0) && !st.silent_to_idn) out.push_back(st.idn);
  } else if (h == "*RST" && !c.query) {
    if (count_ok(st, c, 0, 0)) reset_channels(st);
  } else if (h == "*CLS" && !c.query) {
    if (count_ok(st, c, 0, 0)) {
      st.errors.clear();
      st.event_status = st.ques_event = st.oper_event = 0;
    }
  } else if (h == "*OPT" && c.query) {
    if (count_ok(st, c, 0, 0)) out.push_back("NONE");
  } else if (h == "*OPC" && c.query) {
    if (count_ok(st, c, 0, 0)) out.push_back("1");
  } else if (h == "*TST" && c.query) {
    if (count_ok(st, c, 0, 0)) out.push_back("0");
  } else if ((h == "*OPC" || h == "*WAI") && !c.query) {
    count_ok(st, c, 0, 0);
  } else {
    return false;
  }
  return true;
}

bool apply_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (!scpi_match(c.nodes, c.common, ":APPLy")) return false;
  std::size_t next = 0;
  int channel = 0;
  if (!take_channel(st, c, &next, &channel)) return true;
  if (c.query) {
    if (!count_ok(st, c, next, next + 1)) return true;
    if (c.params.size() == next) {
      out.push_back(apply_text(st, channel));
      return true;
    }
    std::string what = scpi_upper(c.params[next]);
    if (what == "VOLT" || what == "VOLTAGE") {
      out.push_back(format("%.3f", st.ch[channel - 1].volts));
    } else if (what == "CURR" || what == "CURRENT") {
      out.push_back(format("%.3f", st.ch[channel - 1].amps));
    } else {
      error(st, ScpiError::illegal_parameter);
    }
    return true;
  }
  if (!count_ok(st, c, next + 1, next + 2)) return true;
  double volts = 0.0;
  double amps = st.ch[channel - 1].amps;
  if (!parse_level(st, c.params[next], 0.0, volts_max(channel), 0.0, &volts)) return true;
  if (c.params.size() == next + 2 && !parse_level(st, c.params[next + 1], 0.0, AMPS_MAX, AMPS_MAX, &amps))
    return true;
  st.ch[channel - 1].volts = volts;
  st.ch[channel - 1].amps = amps;
  return true;
}

bool output_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (scpi_match(c.nodes, c.common, ":OUTPut[:STATe]")) {
    std::size_t next = 0;
    int channel = 0;
    if (!take_channel(st, c, &next, &channel)) return true;
    if (c.query) {
      if (count_ok(st, c, next, next)) out.push_back(st.ch[channel - 1].on ? "ON" : "OFF");
      return true;
    }
    if (!count_ok(st, c, next + 1, next + 1)) return true;
    bool on = false;
    if (!parse_switch(c.params[next], &on)) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    switch_output(st, channel, on);
    return true;
  }
  if (scpi_match(c.nodes, c.common, ":OUTPut:MODE")) {
    if (!c.query) return false;
    std::size_t next = 0;
    int channel = 0;
    if (!take_channel(st, c, &next, &channel) || !count_ok(st, c, next, next)) return true;
    const PsuChannel& ch = st.ch[channel - 1];
    if (ch.ovp_tripped || ch.ocp_tripped) {
      out.push_back("UR");
    } else {
      out.push_back(psu_terminal(st, channel).mode == MODE_CC ? "CC" : "CV");
    }
    return true;
  }
  // The protection group: OVP and OCP alike.
  for (int kind = 0; kind < 2; ++kind) {
    bool ovp = (kind == 0);
    const char* state_pattern = ovp ? ":OUTPut:OVP[:STATe]" : ":OUTPut:OCP[:STATe]";
    const char* value_pattern = ovp ? ":OUTPut:OVP:VALue" : ":OUTPut:OCP:VALue";
    const char* ques_pattern = ovp ? ":OUTPut:OVP:QUEStion" : ":OUTPut:OCP:QUEStion";
    const char* clear_pattern = ovp ? ":OUTPut:OVP:CLEar" : ":OUTPut:OCP:CLEar";
    std::size_t next = 0;
    int channel = 0;
    if (scpi_match(c.nodes, c.common, state_pattern)) {
      if (!take_channel(st, c, &next, &channel)) return true;
      PsuChannel& ch = st.ch[channel - 1];
      bool& enabled = ovp ? ch.ovp_on : ch.ocp_on;
      if (c.query) {
        if (count_ok(st, c, next, next)) out.push_back(enabled ? "ON" : "OFF");
        return true;
      }
      bool on = false;
      if (!count_ok(st, c, next + 1, next + 1)) return true;
      if (!parse_switch(c.params[next], &on)) {
        error(st, ScpiError::illegal_parameter);
        return true;
      }
      enabled = on;
      return true;
    }
    if (scpi_match(c.nodes, c.common, value_pattern)) {
      if (!take_channel(st, c, &next, &channel)) return true;
      PsuChannel& ch = st.ch[channel - 1];
      double& level = ovp ? ch.ovp : ch.ocp;
      if (c.query) {
        if (count_ok(st, c, next, next)) out.push_back(format(ovp ? "%.3f" : "%.4f", level));
        return true;
      }
      if (!count_ok(st, c, next + 1, next + 1)) return true;
      double top = ovp ? ovp_max(channel) : OCP_MAX;
      double v = 0.0;
      if (parse_level(st, c.params[next], ovp ? 0.01 : 0.001, top, top, &v)) level = v;
      return true;
    }
    if (scpi_match(c.nodes, c.common, ques_pattern)) {
      if (!c.query) return false;
      if (!take_channel(st, c, &next, &channel) || !count_ok(st, c, next, next)) return true;
      const PsuChannel& ch = st.ch[channel - 1];
      out.push_back((ovp ? ch.ovp_tripped : ch.ocp_tripped) ? "YES" : "NO");
      return true;
    }
    if (scpi_match(c.nodes, c.common, clear_pattern)) {
      if (c.query) return false;
      if (!take_channel(st, c, &next, &channel) || !count_ok(st, c, next, next)) return true;
      PsuChannel& ch = st.ch[channel - 1];
      (ovp ? ch.ovp_tripped : ch.ocp_tripped) = false;
      return true;
    }
  }
  return false;
}

bool instrument_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (scpi_match(c.nodes, c.common, ":INSTrument:NSELect")) {
    if (c.query) {
      if (count_ok(st, c, 0, 0)) out.push_back(std::to_string(st.selected));
      return true;
    }
    int n = 0;
    if (!count_ok(st, c, 1, 1)) return true;
    if (!parse_integer(c.params[0], &n) || n < 1 || n > 3) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    st.selected = n;
    return true;
  }
  if (scpi_match(c.nodes, c.common, ":INSTrument[:SELect]")) {
    if (c.query) {
      if (count_ok(st, c, 0, 0)) out.push_back("CH" + std::to_string(st.selected));
      return true;
    }
    if (!count_ok(st, c, 1, 1)) return true;
    int n = parse_channel(c.params[0]);
    if (n == 0) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    st.selected = n;
    return true;
  }
  return false;
}

bool source_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  int suffix = 0;
  bool volts = scpi_match(c.nodes, c.common, "[:SOURce#]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", &suffix);
  bool amps = !volts &&
              scpi_match(c.nodes, c.common, "[:SOURce#]:CURRent[:LEVel][:IMMediate][:AMPLitude]", &suffix);
  if (!volts && !amps) return false;
  if (suffix > 3) {
    error(st, ScpiError::suffix_out_of_range);
    return true;
  }
  int channel = suffix == 0 ? st.selected : suffix;
  PsuChannel& ch = st.ch[channel - 1];
  if (c.query) {
    if (!count_ok(st, c, 0, 1)) return true;
    double value = volts ? ch.volts : ch.amps;
    if (!c.params.empty()) {
      // MIN and MAX ask for the limits of the level.
      std::string word = scpi_upper(c.params[0]);
      double top = volts ? volts_max(channel) : AMPS_MAX;
      if (word == "MAX" || word == "MAXIMUM") value = top;
      else if (word == "MIN" || word == "MINIMUM") value = 0.0;
      else return error(st, ScpiError::illegal_parameter), true;
    }
    out.push_back(format(volts ? "%.3f" : "%.4f", value));
    return true;
  }
  if (!count_ok(st, c, 1, 1)) return true;
  double v = 0.0;
  if (volts && parse_level(st, c.params[0], 0.0, volts_max(channel), 0.0, &v)) ch.volts = v;
  if (amps && parse_level(st, c.params[0], 0.0, AMPS_MAX, AMPS_MAX, &v)) ch.amps = v;
  return true;
}

// A reading of zero on the supply's own meter: 0 to 2 counts.
double meter_noise(PsuState& st, double count) {
  st.meter_noise = st.meter_noise * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<double>((st.meter_noise >> 33) % 3) * count;
}

bool measure_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  int what = -1;
  if (scpi_match(c.nodes, c.common, ":MEASure[:VOLTage][:DC]")) what = 0;
  else if (scpi_match(c.nodes, c.common, ":MEASure:CURRent[:DC]")) what = 1;
  else if (scpi_match(c.nodes, c.common, ":MEASure:POWEr[:DC]")) what = 2;
  else if (scpi_match(c.nodes, c.common, ":MEASure:ALL[:DC]")) what = 3;
  if (what < 0 || !c.query) return false;
  std::size_t next = 0;
  int channel = 0;
  if (!take_channel(st, c, &next, &channel) || !count_ok(st, c, next, next)) return true;
  PsuTerminal t = psu_terminal(st, channel);
  double v = psu_voltmeter(st.model, channel, t.volts);
  double i = psu_ammeter(st.model, channel, t.amps);
  // Nothing at the terminals: the meter shows its last counts of noise, never an offset below zero.
  if (t.mode == MODE_OFF) v = meter_noise(st, 0.0001);
  if (t.mode == MODE_OFF || t.amps == 0.0) i = meter_noise(st, 0.0001);
  char text[96];
  if (what == 0) std::snprintf(text, sizeof text, "%.4f", v);
  if (what == 1) std::snprintf(text, sizeof text, "%.4f", i);
  if (what == 2) std::snprintf(text, sizeof text, "%.4f", v * i);
  if (what == 3) std::snprintf(text, sizeof text, "%.4f,%.4f,%.4f", v, i, v * i);
  out.push_back(text);
  return true;
}

bool system_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (scpi_match(c.nodes, c.common, ":SYSTem:ERRor[:NEXT]")) {
    if (!c.query) return false;
    if (count_ok(st, c, 0, 0)) out.push_back(scpi_pop_error(&st.errors));
    return true;
  }
  if (scpi_match(c.nodes, c.common, ":SYSTem:VERSion")) {
    if (!c.query) return false;
    if (count_ok(st, c, 0, 0)) out.push_back("1999.0");
    return true;
  }
  bool beep = scpi_match(c.nodes, c.common, ":SYSTem:BEEPer[:STATe]");
  bool otp = !beep && scpi_match(c.nodes, c.common, ":SYSTem:OTP");
  if (beep || otp) {
    bool& flag = beep ? st.beep : st.otp;
    if (c.query) {
      if (count_ok(st, c, 0, 0)) out.push_back(flag ? "ON" : "OFF");
      return true;
    }
    bool on = false;
    if (!count_ok(st, c, 1, 1)) return true;
    if (!parse_switch(c.params[0], &on)) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    flag = on;
    return true;
  }
  bool local = scpi_match(c.nodes, c.common, ":SYSTem:LOCal");
  bool remote = !local && scpi_match(c.nodes, c.common, ":SYSTem:REMote");
  if (local || remote) {
    if (c.query) return false;
    if (count_ok(st, c, 0, 0)) st.remote = remote;
    return true;
  }
  return false;
}

// ---- Calibration

// A calibration session is open and param names its channel; otherwise the error is queued.
bool calibration_channel_ok(PsuState& st, const std::string& param) {
  if (st.cal_channel == 0) {
    error(st, ScpiError::command_protected);
    return false;
  }
  int channel = parse_channel(param);
  if (channel == 0) {
    error(st, ScpiError::illegal_parameter);
    return false;
  }
  if (channel != st.cal_channel) {
    error(st, ScpiError::settings_conflict);
    return false;
  }
  return true;
}

// The checks that every calibration command shares: calibration started, parameter count, the
// channel of the session, and the quantity letter.
bool calibration_head(PsuState& st, const ScpiCommand& c, std::size_t count, char* quantity) {
  if (!count_ok(st, c, count, count)) return false;
  if (!calibration_channel_ok(st, c.params[0])) return false;
  if (quantity != nullptr) {
    std::string q = scpi_upper(c.params[1]);
    if (q != "V" && q != "C") {
      error(st, ScpiError::illegal_parameter);
      return false;
    }
    *quantity = q[0];
  }
  return true;
}

// Point number, value and phase of CAL:SET and CAL:MEAS.
bool calibration_point(PsuState& st, const ScpiCommand& c, char quantity, int* point, double* value,
                       int* phase, double low, double high) {
  if (!parse_integer(c.params[2], point) || *point > 99) {
    error(st, ScpiError::illegal_parameter);
    return false;
  }
  if (c.params[4] != "0" && c.params[4] != "1") {
    error(st, ScpiError::illegal_parameter);
    return false;
  }
  *phase = c.params[4][0] - '0';
  double v = 0.0;
  if (!scpi_number(c.params[3], &v)) {
    error(st, ScpiError::data_type);
    return false;
  }
  (void)quantity;
  if (v < low || v > high) {
    error(st, ScpiError::out_of_range);
    return false;
  }
  *value = v;
  return true;
}

bool calibration_command(PsuState& st, const ScpiCommand& c, Replies& out) {
  if (c.query) {
    if (!scpi_match(c.nodes, c.common, ":CALibration:DATE")) return false;
    if (!count_ok(st, c, 1, 1)) return true;
    int channel = parse_channel(c.params[0]);
    if (channel == 0) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    const std::string& date = st.model.cal_date[channel - 1];
    out.push_back(date.empty() ? "NONE" : date);
    return true;
  }
  if (scpi_match(c.nodes, c.common, ":CALibration:STARt")) {
    if (!count_ok(st, c, 2, 2)) return true;
    int code = 0;
    if (!parse_integer(c.params[0], &code) || code != CAL_ACCESS_CODE) {
      error(st, ScpiError::command_protected);
      return true;
    }
    int channel = parse_channel(c.params[1]);
    if (channel == 0) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    st.cal_channel = channel;
    st.drive = CalDrive();
    for (auto& points : st.pending) points.clear();
    return true;
  }
  if (scpi_match(c.nodes, c.common, ":CALibration:CLEar")) {
    char quantity = 0;
    if (!calibration_head(st, c, 2, &quantity)) return true;
    int first = quantity == 'V' ? Q_VDAC : Q_IDAC;
    for (int q = first; q < first + 2; ++q) {
      st.model.cal[st.cal_channel - 1][q].clear();
      st.pending[q].clear();
    }
    return true;
  }
  bool set = scpi_match(c.nodes, c.common, ":CALibration:SET");
  bool meas = !set && scpi_match(c.nodes, c.common, ":CALibration:MEASure");
  if (set || meas) {
    char quantity = 0;
    if (!calibration_head(st, c, 5, &quantity)) return true;
    int channel = st.cal_channel;
    double top = quantity == 'V' ? volts_max(channel) : AMPS_MAX;
    // A reported measurement may stray beyond the range a little; a set point may not.
    double low = set ? 0.0 : -0.1 * top;
    double high = set ? top + 1e-9 : 1.1 * top;
    int point = 0;
    int phase = 0;
    double value = 0.0;
    if (!calibration_point(st, c, quantity, &point, &value, &phase, low, high)) return true;
    if (set) {
      st.drive.active = true;
      st.drive.quantity = quantity;
      st.drive.phase = phase;
      st.drive.point = point;
      st.drive.value = value;
      return true;
    }
    const CalDrive& d = st.drive;
    if (!d.active || d.quantity != quantity || d.phase != phase || d.point != point) {
      error(st, ScpiError::settings_conflict);
      return true;
    }
    const ChannelHardware& h = st.model.hw[channel - 1];
    PsuTerminal t = psu_terminal(st, channel);
    if (quantity == 'V' && phase == 1) {
      int code = psu_nominal_vcode(st.model, channel, d.value);
      st.pending[Q_VDAC][point] = {value, h.v_base + code * h.v_step};
    } else if (quantity == 'V') {
      st.pending[Q_VMETER][point] = {psu_voltmeter_raw(st.model, channel, t.volts), value};
    } else if (phase == 1) {
      int code = psu_nominal_icode(st.model, channel, d.value);
      st.pending[Q_IDAC][point] = {value, h.i_base + code * h.i_step};
    } else {
      st.pending[Q_IMETER][point] = {psu_ammeter_raw(st.model, channel, t.amps), value};
    }
    return true;
  }
  if (scpi_match(c.nodes, c.common, ":CALibration:END")) {
    if (!count_ok(st, c, 2, 2)) return true;
    if (!calibration_channel_ok(st, c.params[1])) return true;
    const int channel = st.cal_channel;
    if (c.params[0].empty() || c.params[0].find_first_of(" \t") != std::string::npos) {
      error(st, ScpiError::illegal_parameter);
      return true;
    }
    for (int q = 0; q < Q_COUNT; ++q) {
      if (st.pending[q].empty()) continue;
      std::vector<CalPoint> points;
      for (const auto& entry : st.pending[q]) points.push_back(entry.second);
      if (!cal_build(points, &st.model.cal[channel - 1][q])) error(st, ScpiError::data_stale);
      st.pending[q].clear();
    }
    st.model.cal_date[channel - 1] = c.params[0];
    st.cal_channel = 0;
    st.drive = CalDrive();
    st.calibration_changed = true;
    return true;
  }
  return false;
}

bool dispatch(PsuState& st, const ScpiCommand& c, Replies& out) {
  return common_command(st, c, out) || apply_command(st, c, out) || output_command(st, c, out) ||
         instrument_command(st, c, out) || source_command(st, c, out) || measure_command(st, c, out) ||
         system_command(st, c, out) || calibration_command(st, c, out) || psu_status_command(st, c, out);
}

}  // namespace

PsuState psu_make_state(const PsuModel& model, const std::string& idn) {
  PsuState st;
  st.model = model;
  st.idn = idn;
  reset_channels(st);
  return st;
}

std::string psu_handle_line(PsuState& st, const std::string& line) {
  Replies replies;
  std::vector<std::string> path;  // where a relative header of the next command starts
  for (const std::string& text : scpi_split_line(line)) {
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
