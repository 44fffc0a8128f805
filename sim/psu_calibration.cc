// The simulated DP832's calibration commands: CAL:START ... CAL:END, the points, the date.
#include <algorithm>
#include <cstdio>

#include "sim/psu_core.h"
#include "sim/scpi.h"

namespace {

void error(PsuState& st, ScpiError e) { psu_error(st, e); }
bool count_ok(PsuState& st, const ScpiCommand& c, std::size_t least, std::size_t most) {
  return psu_count_ok(st, c, least, most);
}
int parse_channel(const std::string& text) { return psu_parse_channel(text); }
bool parse_integer(const std::string& text, int* value) { return psu_parse_integer(text, value); }
double volts_max(int channel) { return psu_volts_max(channel); }
constexpr double AMPS_MAX = PSU_AMPS_MAX;

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

void date(PsuCall& k) {
  PsuState& st = k.st;
  if (!count_ok(st, k.c, 1, 1)) return;
  int channel = parse_channel(k.c.params[0]);
  if (channel == 0) return error(st, ScpiError::illegal_parameter);
  const std::string& when = st.model.cal_date[channel - 1];
  k.out.push_back(when.empty() ? "NONE" : when);
}

void start(PsuCall& k) {
  PsuState& st = k.st;
  if (!count_ok(st, k.c, 2, 2)) return;
  int code = 0;
  if (st.refuse_calibration || !parse_integer(k.c.params[0], &code) || code != CAL_ACCESS_CODE)
    return error(st, ScpiError::command_protected);
  int channel = parse_channel(k.c.params[1]);
  if (channel == 0) return error(st, ScpiError::illegal_parameter);
  st.cal_channel = channel;
  st.drive = CalDrive();
  for (auto& points : st.pending) points.clear();
}

void clear(PsuCall& k) {
  PsuState& st = k.st;
  char quantity = 0;
  if (!calibration_head(st, k.c, 2, &quantity)) return;
  int first = quantity == 'V' ? Q_VDAC : Q_IDAC;
  for (int q = first; q < first + 2; ++q) {
    st.model.cal[st.cal_channel - 1][q].clear();
    st.pending[q].clear();
  }
}

// CAL:SET drives a point; CAL:MEAS records the value reported for the point just driven.
void point(PsuCall& k, bool set) {
  PsuState& st = k.st;
  const ScpiCommand& c = k.c;
  char quantity = 0;
  if (set && psu_defer(k)) return;
  if (!calibration_head(st, c, 5, &quantity)) return;
  int channel = st.cal_channel;
  double top = quantity == 'V' ? volts_max(channel) : AMPS_MAX;
  // A reported measurement may stray beyond the range a little; a set point may not.
  double low = set ? 0.0 : -0.1 * top;
  double high = set ? top + 1e-9 : 1.1 * top;
  int number = 0;
  int phase = 0;
  double value = 0.0;
  if (!calibration_point(st, c, quantity, &number, &value, &phase, low, high)) return;
  if (set) {
    st.drive.active = true;
    st.drive.quantity = quantity;
    st.drive.phase = phase;
    st.drive.point = number;
    st.drive.value = value;
    return;
  }
  const CalDrive& d = st.drive;
  if (!d.active || d.quantity != quantity || d.phase != phase || d.point != number)
    return error(st, ScpiError::settings_conflict);
  const ChannelHardware& h = st.model.hw[channel - 1];
  PsuTerminal t = psu_terminal(st, channel);
  if (quantity == 'V' && phase == 1) {
    int code = psu_nominal_vcode(st.model, channel, d.value);
    st.pending[Q_VDAC][number] = {value, h.v_base + code * h.v_step};
  } else if (quantity == 'V') {
    st.pending[Q_VMETER][number] = {psu_voltmeter_raw(st.model, channel, t.volts), value};
  } else if (phase == 1) {
    int code = psu_nominal_icode(st.model, channel, d.value);
    st.pending[Q_IDAC][number] = {value, h.i_base + code * h.i_step};
  } else {
    st.pending[Q_IMETER][number] = {psu_ammeter_raw(st.model, channel, t.amps), value};
  }
}

void set_point(PsuCall& k) { point(k, true); }
void measure_point(PsuCall& k) { point(k, false); }

void end(PsuCall& k) {
  PsuState& st = k.st;
  const ScpiCommand& c = k.c;
  if (!count_ok(st, c, 2, 2)) return;
  if (!calibration_channel_ok(st, c.params[1])) return;
  const int channel = st.cal_channel;
  if (c.params[0].empty() || c.params[0].find_first_of(" \t") != std::string::npos)
    return error(st, ScpiError::illegal_parameter);
  for (int q = 0; q < Q_COUNT; ++q) {
    if (st.pending[q].empty()) continue;
    std::vector<CalPoint> points(st.pending[q].size());
    std::transform(st.pending[q].begin(), st.pending[q].end(), points.begin(),
                   [](const auto& entry) { return entry.second; });
    if (!cal_build(points, &st.model.cal[channel - 1][q])) error(st, ScpiError::data_stale);
    st.pending[q].clear();
  }
  st.model.cal_date[channel - 1] = c.params[0];
  st.cal_channel = 0;
  st.drive = CalDrive();
  st.calibration_changed = true;
}

const PsuCommand COMMANDS[] = {
    {":CALibration:DATE", PSU_QUERY, date},
    {":CALibration:STARt", PSU_SET, start},
    {":CALibration:CLEar", PSU_SET, clear},
    {":CALibration:SET", PSU_SET, set_point},
    {":CALibration:MEASure", PSU_SET, measure_point},
    {":CALibration:END", PSU_SET, end},
};

}  // namespace

bool psu_calibration_command(PsuState& st, const ScpiCommand& c, PsuReplies& out) {
  return psu_run_table(COMMANDS, sizeof COMMANDS / sizeof COMMANDS[0], st, c, out);
}
