// The simulated DMM's command core.
#include "sim/dmm_core.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "sim/scpi.h"

namespace {

const double VOLT_RANGES[] = {0.1, 1.0, 10.0, 100.0, 1000.0};
const double AMP_RANGES[] = {0.01, 0.1, 1.0, 3.0, 10.0};
constexpr int RANGE_COUNT = 5;
constexpr double OVERRANGE = 1.2;        // a range reads up to 120 % of its size
constexpr double RESOLUTION = 1e-6;      // 6 1/2 digits: one count is a millionth of the range
constexpr double NOISE_OF_RANGE = 0.3e-6;
constexpr double NOISE_OF_READING = 0.2e-6;
constexpr const char* GARBAGE = "ERR:NO_DATA";

const double* ranges(bool amps) { return amps ? AMP_RANGES : VOLT_RANGES; }

double uniform(std::uint64_t* state) {
  std::uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  z ^= z >> 31;
  return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;  // (0, 1)
}

double gaussian(std::uint64_t* state) {
  double u1 = uniform(state);
  double u2 = uniform(state);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

void error(DmmState& st, int code, const char* message) { scpi_push_error(&st.errors, code, message); }

// One reading of a true value in the present mode and range, with the meter's noise and resolution.
double take_reading(DmmState& st, double truth) {
  double range = st.range;
  if (range == 0.0) {
    const double* r = ranges(st.amps);
    range = r[RANGE_COUNT - 1];
    for (int i = 0; i < RANGE_COUNT; ++i) {
      if (std::fabs(truth) <= r[i] * OVERRANGE) {
        range = r[i];
        break;
      }
    }
  }
  double value = truth + gaussian(&st.noise) * (range * NOISE_OF_RANGE + std::fabs(truth) * NOISE_OF_READING);
  if (std::fabs(value) > range * OVERRANGE) return DMM_OVERLOAD;
  double count = range * RESOLUTION;
  return std::round(value / count) * count;
}

// The range parameter of CONF and MEAS; false (error pushed) when it is not one.
bool parse_range(DmmState& st, const ScpiCommand& c, bool amps, double* range) {
  *range = 0.0;
  if (c.params.size() > 2) {
    error(st, -108, "Parameter not allowed");
    return false;
  }
  if (c.params.empty()) return true;
  std::string t = scpi_upper(c.params[0]);
  const double* r = ranges(amps);
  if (t == "AUTO" || t == "DEF" || t == "DEFAULT") return true;
  if (t == "MIN" || t == "MINIMUM") {
    *range = r[0];
    return true;
  }
  if (t == "MAX" || t == "MAXIMUM") {
    *range = r[RANGE_COUNT - 1];
    return true;
  }
  double v = 0.0;
  if (!scpi_number(c.params[0], &v)) {
    error(st, -104, "Data type error");
    return false;
  }
  for (int i = 0; i < RANGE_COUNT; ++i) {
    if (std::fabs(v) <= r[i]) {
      *range = r[i];
      return true;
    }
  }
  error(st, -222, "Data out of range");
  return false;
}

bool no_params(DmmState& st, const ScpiCommand& c) {
  if (c.params.empty()) return true;
  error(st, -108, "Parameter not allowed");
  return false;
}

}  // namespace

std::string dmm_format_reading(double value) {
  char text[40];
  if (!(std::fabs(value) < DMM_OVERLOAD)) value = DMM_OVERLOAD;
  // cppcheck-suppress duplicateConditionalAssign ; -0 compares equal to 0 and becomes +0
  if (value == 0.0) value = 0.0;  // no "-0"
  std::snprintf(text, sizeof text, "%+.8E", value);
  return text;
}

DmmState dmm_make_state(std::uint64_t seed, const std::string& idn, int measurement_time_ms) {
  DmmState st;
  st.idn = idn;
  st.noise = seed * 0x2545f4914f6cdd1dULL + 0x7f4a7c15ULL;
  st.measurement_time_ms = measurement_time_ms;
  return st;
}

void dmm_set_faults(DmmState& st, const SimDmmFaults& faults) {
  st.faults = faults;
  st.readings = 0;
  st.silent = false;
}

std::string dmm_welcome(const DmmState& st) {
  (void)st;
  return std::string("Welcome to the simulated DMM; SCPI commands end with a carriage return.\r\n") + DMM_PROMPT;
}

DmmReply dmm_handle_line(DmmState& st, const std::string& line,
                         const std::function<double(bool amps)>& measure) {
  DmmReply reply;
  if (st.silent) return reply;
  std::vector<std::string> answers;
  int measured = 0;
  for (const std::string& text : scpi_split_line(line)) {
    ScpiCommand c;
    if (!scpi_parse(text, &c)) {
      error(st, -102, "Syntax error");
      continue;
    }
    const auto& n = c.nodes;
    bool q = c.query;
    bool volt_conf = scpi_match(n, c.common, "CONFigure:VOLTage[:DC]");
    bool curr_conf = !volt_conf && scpi_match(n, c.common, "CONFigure:CURRent[:DC]");
    bool volt_meas = scpi_match(n, c.common, "MEASure:VOLTage[:DC]");
    bool curr_meas = !volt_meas && scpi_match(n, c.common, "MEASure:CURRent[:DC]");
    if (scpi_match(n, c.common, "*IDN") && q) {
      if (no_params(st, c)) answers.push_back(st.idn);
    } else if (scpi_match(n, c.common, "*RST") && !q) {
      if (no_params(st, c)) {
        st.amps = false;
        st.range = 0.0;
      }
    } else if (scpi_match(n, c.common, "*CLS") && !q) {
      if (no_params(st, c)) st.errors.clear();
    } else if (scpi_match(n, c.common, "*OPC") && q) {
      if (no_params(st, c)) answers.push_back("1");
    } else if (scpi_match(n, c.common, "SYSTem:ERRor[:NEXT]") && q) {
      if (no_params(st, c)) answers.push_back(scpi_pop_error(&st.errors));
    } else if ((volt_conf || curr_conf) && !q) {
      double range = 0.0;
      if (parse_range(st, c, curr_conf, &range)) {
        st.amps = curr_conf;
        st.range = range;
      }
    } else if (scpi_match(n, c.common, "CONFigure") && q) {
      if (no_params(st, c)) {
        char configuration[64];
        if (st.range == 0.0) {
          std::snprintf(configuration, sizeof configuration, "\"%s AUTO\"", st.amps ? "CURR:DC" : "VOLT:DC");
        } else {
          std::snprintf(configuration, sizeof configuration, "\"%s %+.8E\"", st.amps ? "CURR:DC" : "VOLT:DC",
                        st.range);
        }
        answers.push_back(configuration);
      }
    } else if ((scpi_match(n, c.common, "READ") && q) || ((volt_meas || curr_meas) && q)) {
      bool read = !(volt_meas || curr_meas);
      if (read) {
        if (!no_params(st, c)) continue;
        ++st.readings;
        const SimDmmFaults& f = st.faults;
        if (f.drop_at_reading > 0 && st.readings == f.drop_at_reading) {
          reply = DmmReply();
          reply.close = true;
          return reply;
        }
        if (f.silent_from_reading > 0 && st.readings >= f.silent_from_reading) {
          st.silent = true;
          return DmmReply();
        }
        if (f.garbage_from_reading > 0 && st.readings >= f.garbage_from_reading) {
          answers.push_back(GARBAGE);
          ++measured;
          continue;
        }
      } else {
        double range = 0.0;
        if (!parse_range(st, c, curr_meas, &range)) continue;
        st.amps = curr_meas;
        st.range = range;
      }
      ++measured;
      if (!st.scripted.empty()) {
        answers.push_back(dmm_format_reading(st.scripted.front()));
        st.scripted.pop_front();
      } else {
        answers.push_back(dmm_format_reading(take_reading(st, measure(st.amps))));
      }
    } else {
      error(st, -113, "Undefined header");
    }
  }

  std::string echo = st.faults.no_echo ? std::string() : line + "\r\n";
  if (answers.empty()) {
    reply.now = echo + DMM_PROMPT;
    return reply;
  }
  std::string answer;
  for (std::size_t i = 0; i < answers.size(); ++i) answer += (i == 0 ? "" : ";") + answers[i];
  answer += "\r\n";
  answer += DMM_PROMPT;
  reply.delay_ms = measured * st.measurement_time_ms + st.faults.answer_delay_ms;
  if (reply.delay_ms <= 0) {
    reply.now = echo + answer;
  } else {
    reply.now = echo;
    reply.later = answer;
  }
  return reply;
}
