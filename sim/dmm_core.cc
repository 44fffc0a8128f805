// The simulated DMM's core: framing, faults and the reading itself.
#include "sim/dmm_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double VOLT_RANGES[] = {0.1, 1.0, 10.0, 100.0, 1000.0};
const double AMP_RANGES[] = {0.01, 0.1, 1.0, 3.0, 10.0};
constexpr int RANGE_COUNT = 5;
constexpr double OVERRANGE = 1.2;        // a range reads up to 120 % of its size
constexpr double RESOLUTION = 1e-6;      // 6 1/2 digits: one count is a millionth of the range
constexpr double NOISE_OF_RANGE = 0.3e-6;
constexpr double NOISE_OF_READING = 0.2e-6;
constexpr const char* GARBAGE = "ERR:NO_DATA";
constexpr int CARRY_CR = 1;              // telnet: the last line ended with CR; a LF or NUL may follow

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

bool same_range(double a, double b) { return std::fabs(a - b) <= 1e-9 * b; }

// Is command one that the faults refuse: the same header (any form of it) with the same parameters?
bool refused(const DmmState& st, const ScpiCommand& c) {
  for (const std::string& text : st.faults.refuse_commands) {
    ScpiCommand r;
    if (!scpi_parse(text, &r) || r.query != c.query || r.common != c.common || r.params.size() != c.params.size())
      continue;
    bool same_params = true;
    for (std::size_t i = 0; i < r.params.size(); ++i)
      same_params = same_params && scpi_upper(r.params[i]) == scpi_upper(c.params[i]);
    int entry = dmm_find(r);
    if (same_params && (r.nodes == c.nodes || (entry >= 0 && entry == dmm_find(c)))) return true;
  }
  return false;
}

bool is_read(const ScpiCommand& c) { return c.query && scpi_match(c.nodes, c.common, "READ"); }

}  // namespace

bool sim_parse_dmm_noise(const std::string& text, std::vector<SimDmmNoise>* noise, std::string* why) {
  std::vector<SimDmmNoise> parsed;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t comma = std::min(text.find(',', at), text.size());
    std::string item = text.substr(at, comma - at);
    at = comma + 1;
    std::size_t equals = item.find('=');
    SimDmmNoise n;
    std::string range = scpi_upper(item.substr(0, std::min(equals, item.size())));
    while (!range.empty() && range.back() == ' ') range.pop_back();
    n.amps = !range.empty() && range.back() == 'A';
    bool unit = n.amps || (!range.empty() && range.back() == 'V');
    bool known = false;
    if (unit && scpi_number(range, &n.range))
      for (int i = 0; i < RANGE_COUNT; ++i) known = known || same_range(dmm_ranges(n.amps)[i], n.range);
    if (equals == std::string::npos || !known) {
      *why = "\"" + item + "\" names no range (0.1V to 1000V, 10mA to 10A)";
      return false;
    }
    if (!scpi_number(item.substr(equals + 1), &n.sigma) || n.sigma < 0.0) {
      *why = "\"" + item + "\" has no standard deviation (a number, 0 or more)";
      return false;
    }
    // A range named again takes the later figure.
    std::erase_if(parsed, [&](const SimDmmNoise& o) { return o.amps == n.amps && same_range(o.range, n.range); });
    parsed.push_back(n);
  }
  *noise = parsed;
  return true;
}

const double* dmm_ranges(bool amps) { return amps ? AMP_RANGES : VOLT_RANGES; }
int dmm_range_count() { return RANGE_COUNT; }

void dmm_error(DmmState& st, ScpiError e) {
  scpi_push_error(&st.errors, e);
  st.event_status |= scpi_event_bit(e);
}

double dmm_take_reading(DmmState& st, const DmmMeasure& measure) {
  if (st.faults.overload) {
    if (!st.scripted.empty()) st.scripted.pop_front();
    return DMM_OVERLOAD;
  }
  if (!st.scripted.empty()) {
    double value = st.scripted.front();
    st.scripted.pop_front();
    return value;
  }
  double truth = measure(st.amps);
  double range = st.range[st.amps];
  if (range == 0.0) {
    const double* r = dmm_ranges(st.amps);
    range = r[RANGE_COUNT - 1];
    for (int i = 0; i < RANGE_COUNT; ++i) {
      if (std::fabs(truth) <= r[i] * OVERRANGE) {
        range = r[i];
        break;
      }
    }
    st.auto_range[st.amps] = range;
  }
  double value = truth + gaussian(&st.noise) * (range * NOISE_OF_RANGE + std::fabs(truth) * NOISE_OF_READING);
  auto extra = std::find_if(st.extra_noise.begin(), st.extra_noise.end(), [&](const SimDmmNoise& n) {
    return n.amps == st.amps && same_range(n.range, range);
  });
  if (extra != st.extra_noise.end()) value += gaussian(&st.noise) * extra->sigma;
  if (std::fabs(value) > range * OVERRANGE) return DMM_OVERLOAD;
  double count = range * RESOLUTION;
  return std::round(value / count) * count;
}

std::string dmm_format_reading(double value) {
  char text[40];
  if (!(std::fabs(value) < DMM_OVERLOAD)) value = DMM_OVERLOAD;
  if (value == 0.0) value = std::fabs(value);  // no "-0"
  std::snprintf(text, sizeof text, "%+.8E", value);
  return text;
}

DmmState dmm_make_state(std::uint64_t seed, const std::string& idn, int measurement_time_ms, SimDmmStyle style) {
  DmmState st;
  st.style = style;
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
  if (st.style == SimDmmStyle::raw) return std::string();
  return std::string("Welcome to the simulated DMM; SCPI commands end with a carriage return.\r\n") + DMM_PROMPT;
}

bool dmm_next_line(const DmmState& st, std::string& in, int& carry, std::string* line) {
  if (st.style == SimDmmStyle::raw) {
    std::size_t end = in.find('\n');
    if (end == std::string::npos) return false;
    *line = in.substr(0, end);
    in.erase(0, end + 1);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }
  // A telnet client ends a line with CR LF or CR NUL: the second byte belongs to the CR.
  if (carry == CARRY_CR && !in.empty()) {
    if (in[0] == '\n' || in[0] == '\0') in.erase(0, 1);
    carry = 0;
  }
  std::size_t end = in.find_first_of("\r\n");
  if (end == std::string::npos) return false;
  *line = in.substr(0, end);
  bool cr = in[end] == '\r';
  std::size_t used = end + 1;
  if (cr && used < in.size() && (in[used] == '\n' || in[used] == '\0')) ++used;
  else if (cr && used == in.size()) carry = CARRY_CR;
  in.erase(0, used);
  return true;
}

DmmReply dmm_handle_line(DmmState& st, const std::string& line, const DmmMeasure& measure) {
  DmmReply reply;
  if (st.silent) return reply;
  std::vector<std::string> answers;
  int measured = 0;
  std::vector<std::string> path;  // where a relative header of the next command starts
  for (const std::string& text : scpi_split_line(line)) {
    ScpiCommand c;
    if (!scpi_parse(text, &c)) {
      dmm_error(st, ScpiError::syntax);
      continue;
    }
    // A header without a leading colon continues from the previous one's level when it names a
    // command there; else (leniently) from the root.
    if (!c.common && !c.absolute && !path.empty()) {
      ScpiCommand relative = c;
      relative.nodes.insert(relative.nodes.begin(), path.begin(), path.end());
      if (is_read(relative) || dmm_find(relative) >= 0) c = relative;
    }
    if (!c.common) path.assign(c.nodes.begin(), c.nodes.end() - 1);
    if (refused(st, c)) {
      dmm_error(st, ScpiError::illegal_parameter);
      continue;
    }
    if (!is_read(c)) {
      if (!dmm_command(st, c, answers, measured, measure)) dmm_error(st, ScpiError::undefined_header);
      continue;
    }
    if (!c.params.empty()) {
      dmm_error(st, ScpiError::parameter_not_allowed);
      continue;
    }
    ++st.readings;
    ++measured;
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
      continue;
    }
    answers.push_back(dmm_format_reading(dmm_take_reading(st, measure)));
  }

  const bool raw = st.style == SimDmmStyle::raw;
  const std::string prompt = raw ? "" : DMM_PROMPT;
  std::string echo = (raw || st.faults.no_echo) ? std::string() : line + "\r\n";
  if (answers.empty()) {
    reply.now = echo + prompt;
    return reply;
  }
  std::string answer;
  for (std::size_t i = 0; i < answers.size(); ++i) answer += (i == 0 ? "" : ";") + answers[i];
  answer += raw ? "\n" : "\r\n";
  answer += prompt;
  reply.delay_ms = measured * st.measurement_time_ms + st.faults.answer_delay_ms;
  if (reply.delay_ms <= 0) {
    reply.now = echo + answer;
  } else {
    reply.now = echo;
    reply.later = answer;
  }
  return reply;
}
