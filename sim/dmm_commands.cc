// The simulated DMM's commands other than READ?: one table of header patterns and handlers. A command
// the meter does not know goes onto the error queue and changes nothing.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>

#include "sim/dmm_core.h"

namespace {

constexpr double DEFAULT_RANGE[2] = {10.0, 1.0};   // what an automatic range reports before a reading
const double NPLC_STEPS[] = {0.02, 0.2, 1.0, 10.0, 100.0};
// Resolution as a share of the range at each integration time.
const double RESOLUTION_OF_RANGE[] = {100e-6, 10e-6, 3e-6, 0.3e-6, 0.03e-6};

struct Call {
  DmmState& st;
  const ScpiCommand& c;
  std::vector<std::string>& answers;
  int& measured;
  const DmmMeasure& measure;
};

std::string number_text(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%+.8E", value);
  return text;
}

bool no_params(Call& k) {
  if (k.c.params.empty()) return true;
  dmm_error(k.st, ScpiError::parameter_not_allowed);
  return false;
}

bool one_param(Call& k) {
  if (k.c.params.size() == 1) return true;
  dmm_error(k.st, k.c.params.empty() ? ScpiError::missing_parameter : ScpiError::parameter_not_allowed);
  return false;
}

// The range in use: the fixed one, else the one the automatic ranging last chose.
double range_in_use(const DmmState& st, bool amps) {
  if (st.range[amps] != 0.0) return st.range[amps];
  return st.auto_range[amps] != 0.0 ? st.auto_range[amps] : DEFAULT_RANGE[amps];
}

// A range parameter: AUTO or DEF (0), MIN, MAX, or a value that the smallest range holding it takes.
// false (error pushed) when it is none of these.
bool parse_range(DmmState& st, const std::string& text, bool amps, double* range) {
  std::string t = scpi_upper(text);
  const double* r = dmm_ranges(amps);
  const int n = dmm_range_count();
  *range = 0.0;
  if (t == "AUTO" || t == "DEF" || t == "DEFAULT") return true;
  if (t == "MIN" || t == "MINIMUM") {
    *range = r[0];
    return true;
  }
  if (t == "MAX" || t == "MAXIMUM") {
    *range = r[n - 1];
    return true;
  }
  double v = 0.0;
  if (!scpi_number(text, &v)) {
    dmm_error(st, ScpiError::data_type);
    return false;
  }
  for (int i = 0; i < n; ++i) {
    if (std::fabs(v) <= r[i]) {
      *range = r[i];
      return true;
    }
  }
  dmm_error(st, ScpiError::out_of_range);
  return false;
}

// A function name as FUNC takes it ("VOLT", "VOLT:DC", "CURR:DC", long forms); false for any other.
bool parse_function(const std::string& text, bool* amps) {
  std::vector<std::string> nodes;
  std::string t = scpi_upper(text);
  std::size_t at = 0;
  for (;;) {
    std::size_t colon = t.find(':', at);
    nodes.push_back(t.substr(at, colon == std::string::npos ? std::string::npos : colon - at));
    if (colon == std::string::npos) break;
    at = colon + 1;
  }
  if (scpi_match(nodes, false, "VOLTage[:DC]")) *amps = false;
  else if (scpi_match(nodes, false, "CURRent[:DC]")) *amps = true;
  else return false;
  return true;
}

// CONF:VOLT and MEAS:VOLT? (or CURR): an optional range and resolution; sets the function and range.
bool configure(Call& k, bool amps) {
  if (k.c.params.size() > 2) {
    dmm_error(k.st, ScpiError::parameter_not_allowed);
    return false;
  }
  double range = 0.0;
  if (!k.c.params.empty() && !parse_range(k.st, k.c.params[0], amps, &range)) return false;
  k.st.amps = amps;
  k.st.range[amps] = range;
  return true;
}

void conf_set(Call& k, bool amps) { configure(k, amps); }
void conf_volt(Call& k) { conf_set(k, false); }
void conf_curr(Call& k) { conf_set(k, true); }

void meas(Call& k, bool amps) {
  if (!configure(k, amps)) return;
  ++k.measured;
  k.answers.push_back(dmm_format_reading(dmm_take_reading(k.st, k.measure)));
}
void meas_volt(Call& k) { meas(k, false); }
void meas_curr(Call& k) { meas(k, true); }

void conf_query(Call& k) {
  if (!no_params(k)) return;
  const bool amps = k.st.amps;
  double range = range_in_use(k.st, amps);
  double share = RESOLUTION_OF_RANGE[3];
  for (std::size_t i = 0; i < sizeof NPLC_STEPS / sizeof NPLC_STEPS[0]; ++i)
    if (k.st.nplc[amps] == NPLC_STEPS[i]) share = RESOLUTION_OF_RANGE[i];
  char text[96];
  std::snprintf(text, sizeof text, "\"%s %+.6E,%+.6E\"", amps ? "CURR" : "VOLT", range, range * share);
  k.answers.push_back(text);
}

void function(Call& k) {
  if (k.c.query) {
    if (no_params(k)) k.answers.push_back(k.st.amps ? "\"CURR\"" : "\"VOLT\"");
    return;
  }
  if (!one_param(k)) return;
  bool amps = false;
  if (!parse_function(k.c.params[0], &amps)) {
    dmm_error(k.st, ScpiError::illegal_parameter);
    return;
  }
  k.st.amps = amps;
}

// The function a SENSe header names: VOLT... or CURR...
bool header_amps(const ScpiCommand& c) {
  std::size_t i = (!c.nodes.empty() && scpi_match({c.nodes[0]}, false, "SENSe")) ? 1 : 0;
  return i < c.nodes.size() && scpi_match({c.nodes[i]}, false, "CURRent");
}

void set_range(Call& k) {
  bool amps = header_amps(k.c);
  if (k.c.query) {
    if (no_params(k)) k.answers.push_back(number_text(range_in_use(k.st, amps)));
    return;
  }
  double r = 0.0;
  if (!one_param(k) || !parse_range(k.st, k.c.params[0], amps, &r)) return;
  // A range named by value or MIN/MAX fixes it; AUTO or DEF leaves the ranging automatic.
  k.st.range[amps] = r;
}

void range_auto(Call& k) {
  bool amps = header_amps(k.c);
  if (k.c.query) {
    if (no_params(k)) k.answers.push_back(k.st.range[amps] == 0.0 ? "1" : "0");
    return;
  }
  if (!one_param(k)) return;
  std::string t = scpi_upper(k.c.params[0]);
  if (t == "ON" || t == "1") {
    k.st.range[amps] = 0.0;
  } else if (t == "OFF" || t == "0") {
    k.st.range[amps] = range_in_use(k.st, amps);
  } else {
    dmm_error(k.st, ScpiError::illegal_parameter);
  }
}

void nplc(Call& k) {
  bool amps = header_amps(k.c);
  if (k.c.query) {
    if (no_params(k)) k.answers.push_back(number_text(k.st.nplc[amps]));
    return;
  }
  if (!one_param(k)) return;
  std::string t = scpi_upper(k.c.params[0]);
  double v = 0.0;
  if (t == "MIN" || t == "MINIMUM") v = NPLC_STEPS[0];
  else if (t == "MAX" || t == "MAXIMUM") v = NPLC_STEPS[4];
  else if (t == "DEF" || t == "DEFAULT") v = 10.0;
  else if (!scpi_number(k.c.params[0], &v)) return dmm_error(k.st, ScpiError::data_type);
  // A value between steps takes the next one up.
  const double* step = std::find_if(std::begin(NPLC_STEPS), std::end(NPLC_STEPS),
                                    [v](double s) { return v <= s * (1 + 1e-9); });
  if (step == std::end(NPLC_STEPS)) return dmm_error(k.st, ScpiError::out_of_range);
  k.st.nplc[amps] = *step;
}

void initiate(Call& k) {
  if (!no_params(k)) return;
  k.st.held_reading = dmm_take_reading(k.st, k.measure);
  k.st.have_reading = true;
}

void fetch(Call& k) {
  if (!no_params(k)) return;
  if (!k.st.have_reading) return dmm_error(k.st, ScpiError::data_stale);
  ++k.measured;  // the answer waits for the measurement that INIT started
  k.answers.push_back(dmm_format_reading(k.st.held_reading));
}

void idn(Call& k) {
  if (no_params(k)) k.answers.push_back(k.st.idn);
}

void reset(Call& k) {
  if (!no_params(k)) return;
  DmmState& st = k.st;
  st.amps = false;
  st.range[0] = st.range[1] = 0.0;
  st.nplc[0] = st.nplc[1] = 10.0;
  st.have_reading = false;
}

void clear_status(Call& k) {
  if (!no_params(k)) return;
  k.st.errors.clear();
  k.st.event_status = 0;
}

// The meter finishes every operation before the next command: *OPC? answers at once, *OPC sets
// event bit 0 at once, *WAI has nothing to wait for.
void operation_complete(Call& k) {
  if (!no_params(k)) return;
  if (k.c.query) k.answers.push_back("1");
  else k.st.event_status |= 1;
}

void wait(Call& k) { no_params(k); }

void self_test(Call& k) {
  if (no_params(k)) k.answers.push_back("0");
}

// STAT:PRES: the meter has no questionable or operation registers of its own to preset.
void status_preset(Call& k) { no_params(k); }

void event_status(Call& k) {
  if (!no_params(k)) return;
  k.answers.push_back(std::to_string(k.st.event_status));
  k.st.event_status = 0;
}

// An enable mask of 0 to 255 (*ESE, *SRE); keep clears bits that the register does not hold.
void enable_mask(Call& k, int& mask, int keep) {
  if (k.c.query) {
    if (no_params(k)) k.answers.push_back(std::to_string(mask));
    return;
  }
  double v = 0.0;
  if (!one_param(k)) return;
  if (!scpi_number(k.c.params[0], &v) || v != std::floor(v)) return dmm_error(k.st, ScpiError::data_type);
  if (v < 0 || v > 255) return dmm_error(k.st, ScpiError::out_of_range);
  mask = static_cast<int>(v) & keep;
}

void event_enable(Call& k) { enable_mask(k, k.st.event_enable, 255); }
void service_enable(Call& k) { enable_mask(k, k.st.service_enable, 255 & ~64); }

// Status byte: 4 while the error queue holds an entry, 32 while an enabled event is set, 64 while
// one of those passes *SRE.
void status_byte(Call& k) {
  if (!no_params(k)) return;
  int stb = (k.st.errors.empty() ? 0 : 4) | ((k.st.event_status & k.st.event_enable) != 0 ? 32 : 0);
  if ((stb & k.st.service_enable) != 0) stb |= 64;
  k.answers.push_back(std::to_string(stb));
}

void next_error(Call& k) {
  if (no_params(k)) k.answers.push_back(scpi_pop_error(&k.st.errors));
}

void version(Call& k) {
  if (no_params(k)) k.answers.push_back("1992.0");
}

enum Form { SET, QUERY, BOTH };

struct Entry {
  const char* pattern;
  Form form;
  void (*handle)(Call&);
};

const Entry COMMANDS[] = {
    {"*IDN", QUERY, idn},
    {"*RST", SET, reset},
    {"*CLS", SET, clear_status},
    {"*OPC", BOTH, operation_complete},
    {"*WAI", SET, wait},
    {"*TST", QUERY, self_test},
    {"*SRE", BOTH, service_enable},
    {"STATus:PRESet", SET, status_preset},
    {"*ESR", QUERY, event_status},
    {"*ESE", BOTH, event_enable},
    {"*STB", QUERY, status_byte},
    {"SYSTem:ERRor[:NEXT]", QUERY, next_error},
    {"SYSTem:VERSion", QUERY, version},
    {"CONFigure:VOLTage[:DC]", SET, conf_volt},
    {"CONFigure:CURRent[:DC]", SET, conf_curr},
    {"CONFigure", QUERY, conf_query},
    {"MEASure:VOLTage[:DC]", QUERY, meas_volt},
    {"MEASure:CURRent[:DC]", QUERY, meas_curr},
    {"[:SENSe]:FUNCtion[:ON]", BOTH, function},
    {"[:SENSe]:VOLTage[:DC]:RANGe[:UPPer]", BOTH, set_range},
    {"[:SENSe]:CURRent[:DC]:RANGe[:UPPer]", BOTH, set_range},
    {"[:SENSe]:VOLTage[:DC]:RANGe:AUTO", BOTH, range_auto},
    {"[:SENSe]:CURRent[:DC]:RANGe:AUTO", BOTH, range_auto},
    {"[:SENSe]:VOLTage[:DC]:NPLCycles", BOTH, nplc},
    {"[:SENSe]:CURRent[:DC]:NPLCycles", BOTH, nplc},
    {"INITiate[:IMMediate]", SET, initiate},
    {"FETCh", QUERY, fetch},
};

}  // namespace

int dmm_find(const ScpiCommand& c) {
  for (std::size_t i = 0; i < std::size(COMMANDS); ++i) {
    const Entry& e = COMMANDS[i];
    if ((e.form == SET && c.query) || (e.form == QUERY && !c.query)) continue;
    if (scpi_match(c.nodes, c.common, e.pattern)) return static_cast<int>(i);
  }
  return -1;
}

bool dmm_command(DmmState& st, const ScpiCommand& c, std::vector<std::string>& answers, int& measured,
                 const DmmMeasure& measure) {
  int entry = dmm_find(c);
  if (entry < 0) return false;
  Call k{st, c, answers, measured, measure};
  COMMANDS[entry].handle(k);
  return true;
}
