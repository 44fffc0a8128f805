// The simulated DP832's everyday commands: one table of header patterns and handlers (identification,
// levels, outputs, protection on :OUTPut, channel selection, its meters, the system settings).
#include <algorithm>
#include <cstdio>

#include "sim/psu_core.h"
#include "sim/scpi.h"

namespace {

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

bool none(PsuCall& k) { return psu_count_ok(k.st, k.c, 0, 0); }

// A switch parameter into flag; the error is queued when it is not ON, OFF, 1 or 0.
void set_switch(PsuCall& k, std::size_t at, bool& flag) {
  bool on = false;
  if (!psu_count_ok(k.st, k.c, at + 1, at + 1)) return;
  if (!psu_parse_switch(k.c.params[at], &on)) return psu_error(k.st, ScpiError::illegal_parameter);
  flag = on;
}

// The leading channel parameter, or the selected channel; 0 (error queued) when it names none, and
// next is where the other parameters start.
int channel_of(PsuCall& k, std::size_t* next) {
  int channel = 0;
  return psu_take_channel(k.st, k.c, next, &channel) ? channel : 0;
}

// ---- Common commands

void idn(PsuCall& k) {
  if (none(k) && !k.st.silent_to_idn) k.out.push_back(k.st.idn);
}
void rst(PsuCall& k) {
  if (!none(k)) return;
  psu_reset_channels(k.st);
  k.st.actions.clear();
}
void cls(PsuCall& k) {
  if (!none(k)) return;
  k.st.errors.clear();
  k.st.event_status = k.st.ques_event = k.st.oper_event = 0;
}
void opt(PsuCall& k) {
  if (none(k)) k.out.push_back("NONE");
}
// *OPC? answers once every waiting action has acted; *OPC sets event bit 0 then.
void opc(PsuCall& k) {
  PsuState& st = k.st;
  if (!none(k)) return;
  if (k.c.query) {
    k.out.push_back("1");
    if (!st.actions.empty()) st.answer_at_ms = std::max(st.answer_at_ms, st.actions.back().due_ms);
  } else if (st.actions.empty()) {
    st.event_status |= 1;
  } else {
    st.opc_armed = true;
  }
}
void wai(PsuCall& k) { none(k); }
void tst(PsuCall& k) {
  if (none(k)) k.out.push_back("0");
}

// ---- :APPLy

void apply(PsuCall& k) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0) return;
  PsuChannel& ch = k.st.ch[channel - 1];
  if (k.c.query) {
    if (!psu_count_ok(k.st, k.c, next, next + 1)) return;
    if (k.c.params.size() == next) {
      char text[80];
      std::snprintf(text, sizeof text, "CH%d:%s,%.3f,%.3f", channel, channel == 3 ? "5V/3A" : "30V/3A", ch.volts,
                    ch.amps);
      k.out.push_back(text);
      return;
    }
    std::string what = scpi_upper(k.c.params[next]);
    if (what == "VOLT" || what == "VOLTAGE") k.out.push_back(format("%.3f", ch.volts));
    else if (what == "CURR" || what == "CURRENT") k.out.push_back(format("%.3f", ch.amps));
    else psu_error(k.st, ScpiError::illegal_parameter);
    return;
  }
  if (psu_defer(k) || !psu_count_ok(k.st, k.c, next + 1, next + 2)) return;
  double volts = 0.0;
  double amps = ch.amps;
  if (!psu_parse_level(k.st, k.c.params[next], 0.0, psu_volts_max(channel), 0.0, &volts)) return;
  if (k.c.params.size() == next + 2 &&
      !psu_parse_level(k.st, k.c.params[next + 1], 0.0, PSU_AMPS_MAX, PSU_AMPS_MAX, &amps))
    return;
  ch.volts = volts;
  ch.amps = amps;
}

// ---- :OUTPut

void output(PsuCall& k) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0) return;
  PsuChannel& ch = k.st.ch[channel - 1];
  if (k.c.query) {
    if (psu_count_ok(k.st, k.c, next, next)) k.out.push_back(ch.on ? "ON" : "OFF");
    return;
  }
  if (psu_defer(k)) return;
  bool on = ch.on;
  set_switch(k, next, on);
  if (on == ch.on) return;
  if (on && (ch.ovp_tripped || ch.ocp_tripped)) return psu_error(k.st, ScpiError::settings_conflict);
  if (on) k.st.last_switched_on = channel;
  ch.on = on;
}

void output_mode(PsuCall& k) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0 || !psu_count_ok(k.st, k.c, next, next)) return;
  const PsuChannel& ch = k.st.ch[channel - 1];
  if (ch.ovp_tripped || ch.ocp_tripped) k.out.push_back("UR");
  else k.out.push_back(psu_terminal(k.st, channel).mode == MODE_CC ? "CC" : "CV");
}

// :OUTPut:OVP and :OUTPut:OCP: switch, level, trip and clear.
void guard_state(PsuCall& k, bool ovp) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0) return;
  PsuChannel& ch = k.st.ch[channel - 1];
  bool& enabled = ovp ? ch.ovp_on : ch.ocp_on;
  if (!k.c.query) return set_switch(k, next, enabled);
  if (psu_count_ok(k.st, k.c, next, next)) k.out.push_back(enabled ? "ON" : "OFF");
}

void guard_value(PsuCall& k, bool ovp) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0) return;
  PsuChannel& ch = k.st.ch[channel - 1];
  double& level = ovp ? ch.ovp : ch.ocp;
  if (k.c.query) {
    if (psu_count_ok(k.st, k.c, next, next)) k.out.push_back(format(ovp ? "%.3f" : "%.4f", level));
    return;
  }
  if (!psu_count_ok(k.st, k.c, next + 1, next + 1)) return;
  double top = ovp ? psu_ovp_max(channel) : PSU_OCP_MAX;
  double v = 0.0;
  if (psu_parse_level(k.st, k.c.params[next], ovp ? 0.01 : 0.001, top, top, &v)) level = v;
}

void guard_question(PsuCall& k, bool ovp) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0 || !psu_count_ok(k.st, k.c, next, next)) return;
  const PsuChannel& ch = k.st.ch[channel - 1];
  k.out.push_back((ovp ? ch.ovp_tripped : ch.ocp_tripped) ? "YES" : "NO");
}

void guard_clear(PsuCall& k, bool ovp) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0 || !psu_count_ok(k.st, k.c, next, next)) return;
  PsuChannel& ch = k.st.ch[channel - 1];
  (ovp ? ch.ovp_tripped : ch.ocp_tripped) = false;
}

void ovp_state(PsuCall& k) { guard_state(k, true); }
void ocp_state(PsuCall& k) { guard_state(k, false); }
void ovp_value(PsuCall& k) { guard_value(k, true); }
void ocp_value(PsuCall& k) { guard_value(k, false); }
void ovp_question(PsuCall& k) { guard_question(k, true); }
void ocp_question(PsuCall& k) { guard_question(k, false); }
void ovp_clear(PsuCall& k) { guard_clear(k, true); }
void ocp_clear(PsuCall& k) { guard_clear(k, false); }

// ---- :INSTrument

void select_number(PsuCall& k) {
  if (k.c.query) {
    if (none(k)) k.out.push_back(std::to_string(k.st.selected));
    return;
  }
  int n = 0;
  if (!psu_count_ok(k.st, k.c, 1, 1)) return;
  if (!psu_parse_integer(k.c.params[0], &n) || n < 1 || n > PSU_CHANNELS)
    return psu_error(k.st, ScpiError::illegal_parameter);
  k.st.selected = n;
}

void select_name(PsuCall& k) {
  if (k.c.query) {
    if (none(k)) k.out.push_back("CH" + std::to_string(k.st.selected));
    return;
  }
  if (!psu_count_ok(k.st, k.c, 1, 1)) return;
  int n = psu_parse_channel(k.c.params[0]);
  if (n == 0) return psu_error(k.st, ScpiError::illegal_parameter);
  k.st.selected = n;
}

// ---- [:SOURce#]:VOLTage and :CURRent levels

void set_level(PsuCall& k, bool volts) {
  PsuChannel& ch = k.st.ch[k.channel - 1];
  double top = volts ? psu_volts_max(k.channel) : PSU_AMPS_MAX;
  if (k.c.query) {
    if (!psu_count_ok(k.st, k.c, 0, 1)) return;
    double value = volts ? ch.volts : ch.amps;
    if (!k.c.params.empty()) {
      // MIN and MAX ask for the limits of the level.
      std::string word = scpi_upper(k.c.params[0]);
      if (word == "MAX" || word == "MAXIMUM") value = top;
      else if (word == "MIN" || word == "MINIMUM") value = 0.0;
      else return psu_error(k.st, ScpiError::illegal_parameter);
    }
    k.out.push_back(format(volts ? "%.3f" : "%.4f", value));
    return;
  }
  if (psu_defer(k) || !psu_count_ok(k.st, k.c, 1, 1)) return;
  double v = 0.0;
  if (psu_parse_level(k.st, k.c.params[0], 0.0, top, volts ? 0.0 : top, &v)) (volts ? ch.volts : ch.amps) = v;
}

void volts_level(PsuCall& k) { set_level(k, true); }
void amps_level(PsuCall& k) { set_level(k, false); }

// ---- :MEASure, from the supply's own meters

// A reading of zero on the supply's own meter: 0 to 2 counts.
double meter_noise(PsuState& st, double count) {
  st.meter_noise = st.meter_noise * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<double>((st.meter_noise >> 33) % 3) * count;
}

void measure(PsuCall& k, int what) {
  std::size_t next = 0;
  int channel = channel_of(k, &next);
  if (channel == 0 || !psu_count_ok(k.st, k.c, next, next)) return;
  PsuTerminal t = psu_terminal(k.st, channel);
  double v = psu_voltmeter(k.st.model, channel, t.volts);
  double i = psu_ammeter(k.st.model, channel, t.amps);
  // Nothing at the terminals: the meter shows its last counts of noise, never an offset below zero.
  if (t.mode == MODE_OFF) v = meter_noise(k.st, 0.0001);
  else v += k.st.readback_offset_v;
  if (t.mode == MODE_OFF || t.amps == 0.0) i = meter_noise(k.st, 0.0001);
  char text[96];
  if (what == 0) std::snprintf(text, sizeof text, "%.4f", v);
  if (what == 1) std::snprintf(text, sizeof text, "%.4f", i);
  if (what == 2) std::snprintf(text, sizeof text, "%.4f", v * i);
  if (what == 3) std::snprintf(text, sizeof text, "%.4f,%.4f,%.4f", v, i, v * i);
  k.out.push_back(text);
}

void measure_volts(PsuCall& k) { measure(k, 0); }
void measure_amps(PsuCall& k) { measure(k, 1); }
void measure_watts(PsuCall& k) { measure(k, 2); }
void measure_all(PsuCall& k) { measure(k, 3); }

// ---- :SYSTem

void next_error(PsuCall& k) {
  if (none(k)) k.out.push_back(scpi_pop_error(&k.st.errors));
}
void version(PsuCall& k) {
  if (none(k)) k.out.push_back("1999.0");
}
void flag(PsuCall& k, bool& value) {
  if (!k.c.query) return set_switch(k, 0, value);
  if (none(k)) k.out.push_back(value ? "ON" : "OFF");
}
void beeper(PsuCall& k) { flag(k, k.st.beep); }
void otp(PsuCall& k) { flag(k, k.st.otp); }
void local(PsuCall& k) {
  if (none(k)) k.st.remote = false;
}
void remote(PsuCall& k) {
  if (none(k)) k.st.remote = true;
}

const PsuCommand COMMANDS[] = {
    {"*IDN", PSU_QUERY, idn},
    {"*RST", PSU_SET, rst},
    {"*CLS", PSU_SET, cls},
    {"*OPT", PSU_QUERY, opt},
    {"*OPC", PSU_BOTH, opc},
    {"*WAI", PSU_SET, wai},
    {"*TST", PSU_QUERY, tst},
    {":APPLy", PSU_BOTH, apply},
    {":OUTPut[:STATe]", PSU_BOTH, output},
    {":OUTPut:MODE", PSU_QUERY, output_mode},
    {":OUTPut:OVP[:STATe]", PSU_BOTH, ovp_state},
    {":OUTPut:OCP[:STATe]", PSU_BOTH, ocp_state},
    {":OUTPut:OVP:VALue", PSU_BOTH, ovp_value},
    {":OUTPut:OCP:VALue", PSU_BOTH, ocp_value},
    {":OUTPut:OVP:QUEStion", PSU_QUERY, ovp_question},
    {":OUTPut:OCP:QUEStion", PSU_QUERY, ocp_question},
    {":OUTPut:OVP:CLEar", PSU_SET, ovp_clear},
    {":OUTPut:OCP:CLEar", PSU_SET, ocp_clear},
    {":INSTrument:NSELect", PSU_BOTH, select_number},
    {":INSTrument[:SELect]", PSU_BOTH, select_name},
    {"[:SOURce#]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", PSU_BOTH, volts_level},
    {"[:SOURce#]:CURRent[:LEVel][:IMMediate][:AMPLitude]", PSU_BOTH, amps_level},
    {":MEASure[:VOLTage][:DC]", PSU_QUERY, measure_volts},
    {":MEASure:CURRent[:DC]", PSU_QUERY, measure_amps},
    {":MEASure:POWEr[:DC]", PSU_QUERY, measure_watts},
    {":MEASure:ALL[:DC]", PSU_QUERY, measure_all},
    {":SYSTem:ERRor[:NEXT]", PSU_QUERY, next_error},
    {":SYSTem:VERSion", PSU_QUERY, version},
    {":SYSTem:BEEPer[:STATe]", PSU_BOTH, beeper},
    {":SYSTem:OTP", PSU_BOTH, otp},
    {":SYSTem:LOCal", PSU_SET, local},
    {":SYSTem:REMote", PSU_SET, remote},
};

}  // namespace

bool psu_basic_command(PsuState& st, const ScpiCommand& c, PsuReplies& out) {
  return psu_run_table(COMMANDS, sizeof COMMANDS / sizeof COMMANDS[0], st, c, out);
}
