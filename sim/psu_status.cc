// The simulated DP832's status registers and protection levels: a table of header patterns and handlers.
//   Standard event status (*ESR?, *ESE), service request enable (*SRE) and the status byte (*STB?).
//   Questionable condition bits: 1 an output tripped by over-voltage, 2 one tripped by over-current.
//   Operation condition bits: 256 an output on in constant voltage, 1024 one in constant current.
#include <cmath>
#include <cstdio>

#include "sim/psu_core.h"
#include "sim/scpi.h"

namespace {

constexpr int QUES_VOLTAGE = 1;
constexpr int QUES_CURRENT = 2;
constexpr int OPER_CV = 256;
constexpr int OPER_CC = 1024;

using Call = PsuCall;

// A register's enable mask: set (0 to 65535) or query.
void mask(Call& k, int& value, int top) {
  if (k.c.query) {
    if (psu_count_ok(k.st, k.c, 0, 0)) k.out.push_back(std::to_string(value));
    return;
  }
  double v = 0.0;
  if (!psu_count_ok(k.st, k.c, 1, 1)) return;
  if (!scpi_number(k.c.params[0], &v) || v != std::floor(v)) return psu_error(k.st, ScpiError::data_type);
  if (v < 0 || v > top) return psu_error(k.st, ScpiError::out_of_range);
  value = static_cast<int>(v);
}

// Reads a value, then clears it when it is an event register.
void read(Call& k, int& value, bool clear) {
  if (!psu_count_ok(k.st, k.c, 0, 0)) return;
  k.out.push_back(std::to_string(value));
  if (clear) value = 0;
}

void esr(Call& k) { read(k, k.st.event_status, true); }
void ese(Call& k) { mask(k, k.st.event_enable, 255); }
void sre(Call& k) { mask(k, k.st.service_enable, 255); }
void ques_event(Call& k) { read(k, k.st.ques_event, true); }
void ques_condition(Call& k) { read(k, k.st.ques_condition, false); }
void ques_enable(Call& k) { mask(k, k.st.ques_enable, 65535); }
void oper_event(Call& k) { read(k, k.st.oper_event, true); }
void oper_condition(Call& k) { read(k, k.st.oper_condition, false); }
void oper_enable(Call& k) { mask(k, k.st.oper_enable, 65535); }

// Status byte: 4 error queue not empty, 8 questionable summary, 32 standard event summary, 128
// operation summary, 64 any of those that the service request enable lets through.
void stb(Call& k) {
  if (!psu_count_ok(k.st, k.c, 0, 0)) return;
  const PsuState& s = k.st;
  int byte = (s.errors.empty() ? 0 : 4) | ((s.ques_event & s.ques_enable) != 0 ? 8 : 0) |
             ((s.event_status & s.event_enable) != 0 ? 32 : 0) | ((s.oper_event & s.oper_enable) != 0 ? 128 : 0);
  if ((byte & s.service_enable) != 0) byte |= 64;
  k.out.push_back(std::to_string(byte));
}

// [:SOURce#]:VOLTage:PROTection and CURRent: the same levels, switches and trips as :OUTPut:OVP / OCP.
void protection_level(Call& k, bool volts) {
  PsuChannel& ch = k.st.ch[k.channel - 1];
  double& level = volts ? ch.ovp : ch.ocp;
  double top = volts ? psu_ovp_max(k.channel) : PSU_OCP_MAX;
  double low = volts ? 0.01 : 0.001;
  if (k.c.query) {
    if (!psu_count_ok(k.st, k.c, 0, 1)) return;
    double value = level;
    if (!k.c.params.empty() && !psu_parse_level(k.st, k.c.params[0], low, top, top, &value)) return;
    char text[32];
    std::snprintf(text, sizeof text, volts ? "%.3f" : "%.4f", value);
    k.out.push_back(text);
    return;
  }
  double v = 0.0;
  if (psu_count_ok(k.st, k.c, 1, 1) && psu_parse_level(k.st, k.c.params[0], low, top, top, &v)) level = v;
}

void protection_state(Call& k, bool volts) {
  PsuChannel& ch = k.st.ch[k.channel - 1];
  bool& enabled = volts ? ch.ovp_on : ch.ocp_on;
  if (k.c.query) {
    if (psu_count_ok(k.st, k.c, 0, 0)) k.out.push_back(enabled ? "ON" : "OFF");
    return;
  }
  bool on = false;
  if (!psu_count_ok(k.st, k.c, 1, 1)) return;
  if (!psu_parse_switch(k.c.params[0], &on)) return psu_error(k.st, ScpiError::illegal_parameter);
  enabled = on;
}

void protection_tripped(Call& k, bool volts) {
  const PsuChannel& ch = k.st.ch[k.channel - 1];
  if (psu_count_ok(k.st, k.c, 0, 0)) k.out.push_back((volts ? ch.ovp_tripped : ch.ocp_tripped) ? "YES" : "NO");
}

void protection_clear(Call& k, bool volts) {
  if (!psu_count_ok(k.st, k.c, 0, 0)) return;
  PsuChannel& ch = k.st.ch[k.channel - 1];
  (volts ? ch.ovp_tripped : ch.ocp_tripped) = false;
}

void ovp_level(Call& k) { protection_level(k, true); }
void ocp_level(Call& k) { protection_level(k, false); }
void ovp_state(Call& k) { protection_state(k, true); }
void ocp_state(Call& k) { protection_state(k, false); }
void ovp_tripped(Call& k) { protection_tripped(k, true); }
void ocp_tripped(Call& k) { protection_tripped(k, false); }
void ovp_clear(Call& k) { protection_clear(k, true); }
void ocp_clear(Call& k) { protection_clear(k, false); }

const PsuCommand COMMANDS[] = {
    {"*ESR", PSU_QUERY, esr},
    {"*ESE", PSU_BOTH, ese},
    {"*SRE", PSU_BOTH, sre},
    {"*STB", PSU_QUERY, stb},
    {":STATus:QUEStionable[:EVENt]", PSU_QUERY, ques_event},
    {":STATus:QUEStionable:CONDition", PSU_QUERY, ques_condition},
    {":STATus:QUEStionable:ENABle", PSU_BOTH, ques_enable},
    {":STATus:OPERation[:EVENt]", PSU_QUERY, oper_event},
    {":STATus:OPERation:CONDition", PSU_QUERY, oper_condition},
    {":STATus:OPERation:ENABle", PSU_BOTH, oper_enable},
    {"[:SOURce#]:VOLTage:PROTection[:LEVel]", PSU_BOTH, ovp_level},
    {"[:SOURce#]:CURRent:PROTection[:LEVel]", PSU_BOTH, ocp_level},
    {"[:SOURce#]:VOLTage:PROTection:STATe", PSU_BOTH, ovp_state},
    {"[:SOURce#]:CURRent:PROTection:STATe", PSU_BOTH, ocp_state},
    {"[:SOURce#]:VOLTage:PROTection:TRIPped", PSU_QUERY, ovp_tripped},
    {"[:SOURce#]:CURRent:PROTection:TRIPped", PSU_QUERY, ocp_tripped},
    {"[:SOURce#]:VOLTage:PROTection:CLEar", PSU_SET, ovp_clear},
    {"[:SOURce#]:CURRent:PROTection:CLEar", PSU_SET, ocp_clear},
};

}  // namespace

bool psu_status_command(PsuState& st, const ScpiCommand& c, PsuReplies& out) {
  return psu_run_table(COMMANDS, sizeof COMMANDS / sizeof COMMANDS[0], st, c, out);
}

void psu_update_status(PsuState& st) {
  int ques = 0;
  int oper = 0;
  for (int c = 1; c <= PSU_CHANNELS; ++c) {
    const PsuChannel& ch = st.ch[c - 1];
    if (ch.ovp_tripped) ques |= QUES_VOLTAGE;
    if (ch.ocp_tripped) ques |= QUES_CURRENT;
    if (ch.on) oper |= psu_terminal(st, c).mode == MODE_CC ? OPER_CC : OPER_CV;
  }
  st.ques_event |= ques & ~st.ques_condition;
  st.oper_event |= oper & ~st.oper_condition;
  st.ques_condition = ques;
  st.oper_condition = oper;
}
