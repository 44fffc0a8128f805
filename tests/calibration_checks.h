// Test helpers for the calibration procedures: what a run must send to the DP832 and show on the
// console, built from the point tables and the readings a test scripts.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "calibration/point_tables.h"
#include "console/environment.h"
#include "console/stamps.h"
#include "sim/psu_model.h"
#include "sim/sim.h"

[[gnu::format(printf, 1, 2)]] inline std::string text_of(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The environment's date, as a CAL:END line carries it.
inline std::string today(Environment& env) {
  char text[32];
  return date_stamp(env.local_time().local, text);
}

// The date that a run's CAL:END line carries, when it is the day the run began or the day it ended
// (a run over midnight); otherwise the day it began, so that a comparison shows the difference.
inline std::string date_of_run(Environment& env, const std::vector<std::string>& lines, const std::string& began) {
  std::string ended = today(env);
  for (const std::string& line : lines) {
    if (!line.starts_with("CAL:END ")) continue;
    std::string date = line.substr(8, 10);
    if (date == began || date == ended) return date;
  }
  return began;
}

// A failed reading in a test's list of expected readings.
constexpr double NO_READING = NAN;

// Readings a little off each point of a table, six decimals, distinct from one another.
inline std::vector<double> near_readings(std::span<const double> points, double offset) {
  std::vector<double> readings;
  for (std::size_t i = 0; i < points.size(); i++) readings.push_back(points[i] + offset * static_cast<double>(i + 1));
  return readings;
}

// The DMM's script for a factory calibration: the path check's reading, then each phase's readings.
inline std::vector<double> calibration_script(double path_check, const std::vector<double>& dac,
                                              const std::vector<double>& meter) {
  std::vector<double> all = {path_check};
  all.insert(all.end(), dac.begin(), dac.end());
  all.insert(all.end(), meter.begin(), meter.end());
  return all;
}

// The question that reads the supply's error queue, at the end of every procedure.
inline const std::string SUPPLY_ERROR_QUERY = "SYST:ERR?";
// The question that follows every command changing an output or a calibration point.
inline const std::string CONFIRM_QUERY = "*OPC?";
inline const std::string NOT_READING = "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n";
// The full voltage calibration's start, up to the channel's number.
inline const std::string BANNER =
    "\n\n** Full Channel Voltage Calibration **\n\nSTEPS: (1) Factory Calibration (2) Assessment of Error "
    "and Fine Calibration (3) Final Assessment.\n\nSTEP 1: INITIAL CALIBRATION PER FACTORY SPEC - Channel ";

// The path check's lines: the output on at <volts> V, 2 A, and off again, each confirmed; a failed check
// reads the error queue next.
inline std::vector<std::string> path_check(const std::string& name, int volts = 5, bool failed = false) {
  std::vector<std::string> lines = {"OUTPUT " + name + ",ON",  CONFIRM_QUERY,
                                    text_of(":APPL %s,%d,2", name.c_str(), volts), CONFIRM_QUERY,
                                    "OUTPUT " + name + ",OFF", CONFIRM_QUERY};
  if (failed) lines.push_back(SUPPLY_ERROR_QUERY);
  return lines;
}

// The DP832 lines (without line ends) and the console text of one factory calibration run of quantity
// 'V' or 'C', from the path check to CAL:END and the error queue: the DAC phase with its readings
// raised by corrections (volts, null for none), then the meter phase. NO_READING marks a failed reading.
class ExpectedCalibration {
 public:
  ExpectedCalibration(const std::string& name, char quantity, std::span<const double> dac_points,
                      const std::vector<double>& dac, std::span<const double> meter_points,
                      const std::vector<double>& meter, const std::string& date,
                      const double* corrections = nullptr)
      : name_(name), quantity_(quantity) {
    const bool volts = quantity == 'V';
    commands = path_check(name, volts ? 5 : 3);
    commands.insert(commands.end(), {"CAL:START 27384," + name, text_of("CAL:CLEAR %s,%c", name.c_str(), quantity),
                                     "*RST", "OUTPUT " + name + ",ON", CONFIRM_QUERY});
    console = name + " output ON...\n";
    phase(volts ? "V-DAC" : "I-DAC", 1, dac_points, dac, corrections);
    phase(volts ? "Voltmeter" : "Ammeter", 0, meter_points, meter, nullptr);
    commands.insert(commands.end(), {"OUTPUT " + name_ + ",OFF", CONFIRM_QUERY});
    std::string end_line = "CAL:END " + date + "," + name_;
    commands.push_back(end_line);
    console += name_ + " output OFF...\n" + end_line + "\r\n";
    commands.push_back(SUPPLY_ERROR_QUERY);  // the error queue, empty on the simulated bench
    if (missed_ > 0)
      console += text_of("\aWARNING: %d OF %d POINTS HAD NO DMM MEASUREMENT AND WERE NOT REPORTED TO "
                         "THE SUPPLY.\nTHE CALIBRATION OF %s IS INCOMPLETE: REPEAT IT.\n",
                         missed_, total_, name_.c_str());
  }

  std::vector<std::string> commands;
  std::string console;

 private:
  // One phase: its title, last command field, points, the DMM's readings and the corrections added.
  void phase(const char* title, int field, std::span<const double> points, const std::vector<double>& readings,
             const double* corrections) {
    const char* set_value = quantity_ == 'V' ? "%.1lf" : "%.2lf";
    console += text_of("\n\n### Begin %s Calibration: %s ###\n\n", title, name_.c_str());
    for (std::size_t i = 0; i < points.size(); i++) {
      int n = static_cast<int>(i);
      std::string set = text_of("CAL:SET %s,%c,%d,", name_.c_str(), quantity_, n) + text_of(set_value, points[i]) +
                        text_of(",%d", field);
      commands.insert(commands.end(), {set, CONFIRM_QUERY});
      console += text_of("[%2d] %s\r\n", n, set.c_str());
      if (std::isnan(readings.at(i))) {
        console += "\aWARNING: DMM communication error.\nDMM FAULT: the DMM gave no answer.\n";
        missed_++;
        continue;
      }
      double value = readings[i];
      if (corrections != nullptr) {
        value += corrections[i];
        console += text_of("CORRECTION: %7.4lf mV", corrections[i] * 1000.0);
      }
      std::string measure = text_of("CAL:MEAS %s,%c,%d,%lf,%d", name_.c_str(), quantity_, n, value, field);
      commands.push_back(measure);
      console += text_of("[%2d] %s\r\n", n, measure.c_str());
    }
    total_ += static_cast<int>(points.size());
  }

  std::string name_;
  char quantity_;
  int missed_ = 0;
  int total_ = 0;
};

// The waits between the DP832's set-point commands of one phase (the lines that begin with head and
// end with tail) and the DMM's next READ?, in seconds of the bench's clock. A command that no READ?
// follows makes the shortest wait -1.
struct Settles {
  std::size_t count = 0;
  double shortest = INFINITY;
  double longest = 0.0;
};

inline Settles settles_of(const SimBench& bench, const std::string& head, const std::string& tail) {
  Settles s;
  std::vector<SimReceived> dmm = bench.dmm_received();
  for (const SimReceived& set : bench.psu_received()) {
    if (!set.line.starts_with(head) || !set.line.ends_with(tail)) continue;
    auto read = std::find_if(dmm.begin(), dmm.end(),
                             [&](const SimReceived& r) { return r.line == "READ?" && r.time_s > set.time_s; });
    double waited = read == dmm.end() ? -1.0 : read->time_s - set.time_s;
    s.count++;
    s.shortest = std::min(s.shortest, waited);
    s.longest = std::max(s.longest, waited);
  }
  return s;
}

// The values that a run reported in its "CAL:MEAS <name>,<quantity>,<point>,<value>,<field>" lines,
// in point order; NO_READING where a point has none.
inline std::vector<double> reported_values(const std::vector<std::string>& lines, const std::string& name,
                                           char quantity, int field, std::size_t count) {
  std::vector<double> values(count, NO_READING);
  std::string head = text_of("CAL:MEAS %s,%c,", name.c_str(), quantity);
  for (const std::string& line : lines) {
    if (!line.starts_with(head) || !line.ends_with(text_of(",%d", field))) continue;
    char* after = nullptr;
    long point = std::strtol(line.c_str() + head.size(), &after, 10);
    if (*after != ',' || point < 0 || point >= static_cast<long>(count)) continue;
    values[static_cast<std::size_t>(point)] = std::atof(after + 1);
  }
  return values;
}

// The simulated supply's model after a factory voltage calibration of CH1 or CH2 with an exact DMM,
// the V-DAC readings raised by corrections (volts, one per point) when they are given. Each point is
// driven as the supply reads its set-point text.
inline PsuModel predicted_voltage_calibration(PsuModel m, int channel, const double* corrections) {
  const ChannelHardware& h = m.hw[channel - 1];
  std::vector<CalPoint> vdac;
  std::vector<CalPoint> vmeter;
  for (std::size_t i = 0; i < std::size(VDAC_POINTS_12); i++) {
    int code = psu_nominal_vcode(m, channel, std::atof(text_of("%.1lf", VDAC_POINTS_12[i]).c_str()));
    double reading = psu_vdac_output(m, channel, code);
    if (corrections != nullptr) reading += corrections[i];
    vdac.push_back({reading, h.v_base + code * h.v_step});
  }
  for (double point : VMETER_POINTS_12) {
    int code = psu_nominal_vcode(m, channel, std::atof(text_of("%.1lf", point).c_str()));
    double volts = psu_vdac_output(m, channel, code);
    vmeter.push_back({psu_voltmeter_raw(m, channel, volts), volts});
  }
  cal_build(vdac, &m.cal[channel - 1][Q_VDAC]);
  cal_build(vmeter, &m.cal[channel - 1][Q_VMETER]);
  return m;
}

// Output errors (volts) of a CH1/CH2 model at the points of VDAC_POINTS_12.
inline std::vector<double> model_errors(const PsuModel& m, int channel) {
  std::vector<double> errors;
  for (double point : VDAC_POINTS_12) errors.push_back(psu_output_voltage(m, channel, point) - point);
  return errors;
}

// RMS (mV) of errors given in volts.
inline double rms_mv(const std::vector<double>& errors) {
  double sum = 0.0;
  for (double e : errors) sum += (e * 1000.0) * (e * 1000.0);
  return std::sqrt(sum / static_cast<double>(errors.size()));
}
