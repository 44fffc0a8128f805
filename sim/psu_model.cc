// The simulated DP832's analogue error model and its calibration memory.
#include "sim/psu_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double MERGE_WIDTH = 1e-6;
constexpr const char* STATE_HEADER = "trimora-sim calibration memory 1";

std::uint64_t mix(std::uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// A figure in [low, high] with a sign of its own, fixed by the seed and the figure's place.
double figure(std::uint64_t seed, int channel, int quantity, int index, double low, double high) {
  std::uint64_t h = mix(mix(mix(mix(seed) + static_cast<std::uint64_t>(channel)) +
                            static_cast<std::uint64_t>(quantity)) +
                        static_cast<std::uint64_t>(index));
  double u = static_cast<double>(h >> 11) / 9007199254740992.0;  // [0, 1)
  double magnitude = low + (high - low) * u;
  return (h & 1) ? -magnitude : magnitude;
}

// Ranges of the error figures, scaled by the channel's full scale where they grow with it.
Transfer make_transfer(std::uint64_t seed, int channel, int quantity, double span, double gain_low,
                       double gain_high, double offset_low, double offset_high, double bow_low,
                       double bow_high, bool same_side) {
  Transfer t;
  t.span = span;
  t.gain_error = figure(seed, channel, quantity, 0, gain_low, gain_high);
  t.offset = figure(seed, channel, quantity, 1, offset_low, offset_high);
  // A DAC's gain and offset errors lean the same way, so that its uncalibrated error is plain to see.
  if (same_side) t.offset = std::copysign(t.offset, t.gain_error);
  for (int k = 0; k < 3; ++k) t.bow[k] = figure(seed, channel, quantity, 2 + k, bow_low, bow_high);
  return t;
}

const ChannelHardware& hw(const PsuModel& m, int channel) { return m.hw[channel - 1]; }

int clamp_code(double code) {
  if (!(code > 0.0)) return 0;
  if (code > DAC_MAX_CODE) return DAC_MAX_CODE;
  return static_cast<int>(std::lround(code));
}

double quantize(double value, double step) { return std::round(value / step) * step; }

const char* QUANTITY_NAMES[Q_COUNT] = {"VDAC", "VMETER", "IDAC", "IMETER"};

}  // namespace

double Transfer::apply(double x) const {
  double y = x * (1.0 + gain_error) + offset;
  for (int k = 0; k < 3; ++k) y += bow[k] * std::sin((k + 1) * PI * x / span);
  return y;
}

PsuModel psu_model_make(std::uint64_t seed) {
  PsuModel m;
  m.seed = seed;
  for (int c = 0; c < PSU_CHANNELS; ++c) {
    ChannelHardware& h = m.hw[c];
    bool small = (c == 2);
    h.v_max = small ? 5.3 : 32.0;
    h.i_max = 3.2;
    double v_span = h.v_max * 1.05;
    double i_span = h.i_max * 1.05;
    // The DACs reach a little below zero so that a calibration can take out a positive offset.
    h.v_base = -0.02 * h.v_max;
    h.i_base = -0.02 * h.i_max;
    h.v_step = (v_span - h.v_base) / DAC_MAX_CODE;
    h.i_step = (i_span - h.i_base) / DAC_MAX_CODE;
    h.v_read_step = 0.0001;
    h.i_read_step = 0.00001;
    double vs = h.v_max / 32.0;  // error sizes shrink with the smaller channel
    h.vdac = make_transfer(seed, c, Q_VDAC, v_span, 0.001, 0.0025, 0.015 * std::max(vs, 0.5),
                           0.040 * std::max(vs, 0.5), 0.002 * std::max(vs, 0.15), 0.006 * std::max(vs, 0.15),
                           true);
    h.vmeter = make_transfer(seed, c, Q_VMETER, v_span, 0.0004, 0.001, 0.003, 0.012 * std::max(vs, 0.4),
                             0.004 * std::max(vs, 0.15), 0.009 * std::max(vs, 0.15), false);
    h.idac = make_transfer(seed, c, Q_IDAC, i_span, 0.002, 0.005, 0.004, 0.012, 0.0005, 0.002, true);
    h.imeter = make_transfer(seed, c, Q_IMETER, i_span, 0.001, 0.003, 0.001, 0.006, 0.0003, 0.0015, false);
  }
  return m;
}

bool cal_build(std::vector<CalPoint> points, CalTable* table) {
  if (points.empty()) return false;
  std::sort(points.begin(), points.end(), [](const CalPoint& a, const CalPoint& b) { return a.x < b.x; });
  CalTable merged;
  std::size_t i = 0;
  while (i < points.size()) {
    std::size_t j = i;
    double sx = 0.0;
    double sy = 0.0;
    while (j < points.size() && points[j].x - points[i].x <= MERGE_WIDTH) {
      sx += points[j].x;
      sy += points[j].y;
      ++j;
    }
    double n = static_cast<double>(j - i);
    merged.push_back({sx / n, sy / n});
    i = j;
  }
  for (std::size_t k = 1; k < merged.size(); ++k)
    if (merged[k].y < merged[k - 1].y) return false;
  if (merged.size() >= 2 && merged.back().y <= merged.front().y) return false;
  *table = merged;
  return true;
}

double cal_lookup(const CalTable& table, double x) {
  if (table.empty()) return x;
  if (table.size() == 1) return x + (table[0].y - table[0].x);
  std::size_t k = 1;
  while (k + 1 < table.size() && x > table[k].x) ++k;
  const CalPoint& a = table[k - 1];
  const CalPoint& b = table[k];
  return a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x);
}

int psu_nominal_vcode(const PsuModel& m, int channel, double volts) {
  return clamp_code((volts - hw(m, channel).v_base) / hw(m, channel).v_step);
}

int psu_nominal_icode(const PsuModel& m, int channel, double amps) {
  return clamp_code((amps - hw(m, channel).i_base) / hw(m, channel).i_step);
}

int psu_vdac_code(const PsuModel& m, int channel, double volts) {
  return psu_nominal_vcode(m, channel, cal_lookup(m.cal[channel - 1][Q_VDAC], volts));
}

int psu_idac_code(const PsuModel& m, int channel, double amps) {
  return psu_nominal_icode(m, channel, cal_lookup(m.cal[channel - 1][Q_IDAC], amps));
}

double psu_vdac_output(const PsuModel& m, int channel, int code) {
  const ChannelHardware& h = hw(m, channel);
  return std::max(0.0, h.vdac.apply(h.v_base + code * h.v_step));
}

double psu_idac_output(const PsuModel& m, int channel, int code) {
  const ChannelHardware& h = hw(m, channel);
  return std::max(0.0, h.idac.apply(h.i_base + code * h.i_step));
}

double psu_voltmeter_raw(const PsuModel& m, int channel, double volts) {
  const ChannelHardware& h = hw(m, channel);
  return quantize(h.vmeter.apply(volts), h.v_read_step);
}

double psu_ammeter_raw(const PsuModel& m, int channel, double amps) {
  const ChannelHardware& h = hw(m, channel);
  return quantize(h.imeter.apply(amps), h.i_read_step);
}

double psu_voltmeter(const PsuModel& m, int channel, double volts) {
  return cal_lookup(m.cal[channel - 1][Q_VMETER], psu_voltmeter_raw(m, channel, volts));
}

double psu_ammeter(const PsuModel& m, int channel, double amps) {
  return cal_lookup(m.cal[channel - 1][Q_IMETER], psu_ammeter_raw(m, channel, amps));
}

double psu_output_voltage(const PsuModel& m, int channel, double set_volts) {
  double first = psu_vdac_output(m, channel, psu_vdac_code(m, channel, set_volts));
  double seen = psu_voltmeter(m, channel, first);
  double target = set_volts + TRIM_FRACTION * (set_volts - seen);
  return psu_vdac_output(m, channel, psu_vdac_code(m, channel, target));
}

double psu_output_current(const PsuModel& m, int channel, double set_amps) {
  return psu_idac_output(m, channel, psu_idac_code(m, channel, set_amps));
}

bool psu_model_save(const PsuModel& m, const std::string& path, std::string* message) {
  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) {
      if (message != nullptr) *message = "cannot write " + temporary;
      return false;
    }
    char line[128];
    out << STATE_HEADER << "\n";
    out << "seed " << m.seed << "\n";
    for (int c = 0; c < PSU_CHANNELS; ++c) {
      if (!m.cal_date[c].empty()) out << "date CH" << (c + 1) << " " << m.cal_date[c] << "\n";
      for (int q = 0; q < Q_COUNT; ++q) {
        const CalTable& t = m.cal[c][q];
        out << "table CH" << (c + 1) << " " << QUANTITY_NAMES[q] << " " << t.size() << "\n";
        for (const CalPoint& p : t) {
          std::snprintf(line, sizeof line, "%.17g %.17g\n", p.x, p.y);
          out << line;
        }
      }
    }
    out.flush();
    if (!out) {
      if (message != nullptr) *message = "cannot write " + temporary;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    if (message != nullptr) *message = "cannot replace " + path;
    return false;
  }
  return true;
}

bool psu_model_load(PsuModel* m, const std::string& path, std::string* message) {
  std::ifstream in(path);
  if (!in) {
    if (message != nullptr) *message = "no file " + path;
    return false;
  }
  auto fail = [&](const std::string& why) {
    if (message != nullptr) *message = path + ": " + why;
    return false;
  };
  std::string line;
  if (!std::getline(in, line) || line != STATE_HEADER) return fail("not a calibration memory file");
  PsuModel loaded = *m;
  for (int c = 0; c < PSU_CHANNELS; ++c) {
    loaded.cal_date[c].clear();
    for (int q = 0; q < Q_COUNT; ++q) loaded.cal[c][q].clear();
  }
  bool seed_seen = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    if (!(words >> kind)) continue;
    if (kind == "seed") {
      std::uint64_t seed = 0;
      if (!(words >> seed)) return fail("bad seed line");
      if (seed != m->seed) return fail("written for seed " + std::to_string(seed) + ", another supply");
      seed_seen = true;
    } else if (kind == "date") {
      std::string channel;
      std::string date;
      words >> channel >> date;
      if (channel.size() != 3 || channel.compare(0, 2, "CH") != 0 || channel[2] < '1' || channel[2] > '3')
        return fail("bad date line");
      loaded.cal_date[channel[2] - '1'] = date;
    } else if (kind == "table") {
      std::string channel;
      std::string name;
      std::size_t count = 0;
      if (!(words >> channel >> name >> count)) return fail("bad table line");
      if (channel.size() != 3 || channel.compare(0, 2, "CH") != 0 || channel[2] < '1' || channel[2] > '3')
        return fail("bad channel " + channel);
      int q = 0;
      while (q < Q_COUNT && name != QUANTITY_NAMES[q]) ++q;
      if (q == Q_COUNT || count > 1000) return fail("bad table line");
      std::vector<CalPoint> points;
      for (std::size_t i = 0; i < count; ++i) {
        CalPoint p{};
        if (!std::getline(in, line)) return fail("table cut short");
        std::istringstream pair(line);
        if (!(pair >> p.x >> p.y) || !std::isfinite(p.x) || !std::isfinite(p.y))
          return fail("bad table point");
        points.push_back(p);
      }
      CalTable table;
      if (!points.empty() && !cal_build(points, &table)) return fail("table is not monotonic");
      loaded.cal[channel[2] - '1'][q] = table;
    } else {
      return fail("unknown line: " + line);
    }
  }
  if (!seed_seen) return fail("no seed line");
  *m = loaded;
  return true;
}
