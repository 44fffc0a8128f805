#include "records/sample_records.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "calibration/point_tables.h"
#include "records/certificate.h"
#include "records/history_index.h"
#include "records/page_files.h"
#include "records/record_page.h"

namespace {

using nlohmann::json;

// The DMM's 1-year accuracy at a reading, in mV (the generic 6½-digit figures).
double uncertainty_mV(double reading) {
  const double r = std::fabs(reading);
  if (r < 10) return (r * 0.0035 + 10 * 0.0005) * 10;  // percent of the volt, in mV
  return (r * 0.0045 + 100 * 0.0006) * 10;
}

std::string verdict(const json& error, double t, double u) {
  if (error.is_null()) return "NO READING";
  const double e = std::fabs(error.get<double>());
  return e <= t - u ? "PASS" : e > t + u ? "FAIL" : "INDETERMINATE";
}

json assessment_step(int number, const std::string& title, int channel, double drift_mV) {
  std::vector<double> sets = channel == 3 ? std::vector<double>(std::begin(VDAC_POINTS_3), std::end(VDAC_POINTS_3))
                                          : std::vector<double>(std::begin(VDAC_POINTS_12), std::end(VDAC_POINTS_12));
  json points = json::array();
  double sum = 0, largest = 0;
  json counts = {{"PASS", 0}, {"FAIL", 0}, {"INDETERMINATE", 0}, {"NO READING", 0}};
  const double top = sets.back();
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const double s = sets[i];
    const double error = 0.3 + drift_mV * (s / top) * (s / top) + 0.4 * std::sin(3.0 * s);  // mV
    const double reading = std::round((s + error / 1000) * 1e6) / 1e6;
    const double e = std::round((reading - s) * 1e6) / 1e3;
    const double t = (s * 0.05 / 100 + 0.020) * 1000;
    const double u = uncertainty_mV(reading);
    const std::string v = verdict(e, t, u);
    counts[v] = counts[v].get<int>() + 1;
    sum += e * e;
    largest = std::max(largest, std::fabs(e));
    points.push_back({{"index", i},
                      {"set", s},
                      {"reading", reading},
                      {"error_mV", e},
                      {"tolerance_mV", t},
                      {"uncertainty_mV", u},
                      {"acceptance_limit_mV", t - u},
                      {"tur", t / u},
                      {"tur_below_4", t / u < 4},
                      {"verdict", v}});
  }
  const std::string overall = counts["FAIL"] > 0 ? "FAIL" : counts["INDETERMINATE"] > 0 ? "INDETERMINATE" : "PASS";
  return {{"step", number},
          {"kind", "assessment"},
          {"title", title},
          {"completed", true},
          {"quantity", "voltage"},
          {"unit", "V"},
          {"points", points},
          {"summary",
           {{"sum_of_squares_mV2", sum},
            {"rms_error_mV", std::sqrt(sum / static_cast<double>(sets.size()))},
            {"max_abs_error_mV", largest},
            {"counts", counts},
            {"verdict", overall}}}};
}

json phase(const std::string& name, const double* sets, std::size_t n, double drift_mV, bool skip_first) {
  json points = json::array();
  for (std::size_t i = 0; i < n; ++i) {
    const double reading = std::round((sets[i] + (0.2 + drift_mV * sets[i] / 32) / 1000) * 1e6) / 1e6;
    const bool sent = !(skip_first && i == 0);
    points.push_back({{"index", i},
                      {"set", sets[i]},
                      {"reading", reading},
                      {"reported", sent ? json(reading) : json(nullptr)},
                      {"reported_to_supply", sent}});
  }
  return {{"name", name}, {"points", points}};
}

json calibration_step(int number, const std::string& title, const std::string& quantity, int channel, double drift_mV,
                      bool corrections) {
  const bool c3 = channel == 3;
  json phases = json::array();
  if (quantity == "voltage") {
    phases.push_back(phase("V-DAC", c3 ? VDAC_POINTS_3 : VDAC_POINTS_12, c3 ? 13 : 36, drift_mV, false));
    phases.push_back(phase("V-meter", c3 ? VMETER_POINTS_3 : VMETER_POINTS_12, 11, drift_mV, true));
  } else {
    phases.push_back(phase("I-DAC", c3 ? IDAC_POINTS_3 : IDAC_POINTS_12, c3 ? 12 : 15, drift_mV, false));
    phases.push_back(phase("I-meter", c3 ? IMETER_POINTS_3 : IMETER_POINTS_12, c3 ? 6 : 7, drift_mV, true));
  }
  return {{"step", number},
          {"kind", "calibration"},
          {"title", title},
          {"completed", true},
          {"quantity", quantity},
          {"unit", quantity == "voltage" ? "V" : "A"},
          {"uses_corrections", corrections},
          {"phases", phases}};
}

}  // namespace

json sample_record(const std::string& key, int channel, const std::string& started, double drift_mV,
                   const std::string& serial) {
  std::string compact;
  for (char c : started.substr(0, 19))
    if (c != '-' && c != ':') compact += c;
  json steps = json::array();
  json corrections = nullptr;
  std::string procedure = "assessment";
  if (key == "A") {
    steps.push_back(assessment_step(1, "Assessment", channel, drift_mV));
  } else if (key == "V" || key == "C") {
    procedure = key == "V" ? "voltage_calibration" : "current_calibration";
    steps.push_back(calibration_step(1, key == "V" ? "Factory voltage calibration" : "Factory current calibration",
                                     key == "V" ? "voltage" : "current", channel, drift_mV, false));
  } else {
    procedure = "full_voltage_calibration";
    steps.push_back(calibration_step(1, "Factory voltage calibration", "voltage", channel, drift_mV, false));
    steps.push_back(assessment_step(2, "After factory calibration", channel, 3.0));
    steps.push_back(calibration_step(2, "With corrections", "voltage", channel, 0.5, true));
    steps.push_back(assessment_step(3, "Final", channel, 0.2));
    corrections = json::array();
    const auto& found = steps[1]["points"];
    std::transform(found.begin(), found.end(), std::back_inserter(corrections), [](const json& p) {
      return json{{"set", p["set"]}, {"correction_V", -p["error_mV"].get<double>() / 1000}};
    });
  }
  json overall = nullptr;
  if (key == "A" || key == "F") overall = steps.back()["summary"]["verdict"];
  std::string ended = started;
  ended.replace(17, 2, "59");  // later in the same minute, near enough for a sample
  return {
      {"format", "trimora-calibration-record"},
      {"format_version", 1},
      {"record_id", compact + "+0000-" + serial + "-" + key + "-CH" + std::to_string(channel) + "-5a1e"},
      {"program", {{"name", "Trimora"}, {"version", "1.1.0"}}},
      {"started", started},
      {"ended", ended},
      {"procedure", procedure},
      {"procedure_key", key},
      {"channel", channel},
      {"completed", true},
      {"incomplete_reason", nullptr},
      {"supply",
       {{"maker", "RIGOL TECHNOLOGIES"},
        {"model", "DP832"},
        {"serial", serial},
        {"firmware", "00.01.16"},
        {"address", "127.0.0.1"},
        {"port", 5555}}},
      {"reference",
       {{"maker", "Simulated"},
        {"model", "34401A"},
        {"serial", "MY12345678"},
        {"firmware", "1.0"},
        {"address", "127.0.0.1"},
        {"port", 5024}}},
      {"decision_rule",
       "U is the reference DMM's 1-year accuracy limit at the reading, T the supply's tolerance at the set value: "
       "a point passes when |error| <= T - U, fails when |error| > T + U, and is indeterminate in between; a point "
       "without a reading has no verdict and the overall verdict cannot be PASS."},
      {"tolerance",
       {{"model", "DP832"},
        {"assumed", false},
        {"source", "DP832 programming accuracy, published data sheet"},
        {"voltage", {{"percent_of_setting", 0.05}, {"offset", 0.020}}},
        {"current", {{"percent_of_setting", 0.2}, {"offset", 0.010}}}}},
      {"reference_accuracy",
       {{"model", "34401A"},
        {"assumed", false},
        {"source", "34401A 1-year DC accuracy, published figures"},
        {"ranges",
         json::array(
             {{{"quantity", "voltage"}, {"range", 10.0}, {"percent_of_reading", 0.0035}, {"percent_of_range", 0.0005}},
              {{"quantity", "voltage"},
               {"range", 100.0},
               {"percent_of_reading", 0.0045},
               {"percent_of_range", 0.0006}}})}}},
      {"steps", steps},
      {"corrections", corrections},
      {"overall_verdict", overall},
      {"supply_errors", json::array()}};
}

std::vector<std::filesystem::path> write_sample_run(const std::filesystem::path& dir, std::string& reason) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  struct Run {
    const char* key;
    int channel;
    const char* started;
    double drift;
    bool in_run;
  };
  const Run runs[] = {
      {"A", 3, "2025-12-02T09:14:05+00:00", 6, false},  {"A", 3, "2026-06-09T10:02:41+00:00", 14, false},
      {"A", 3, "2026-12-08T19:57:44+00:00", 24, true},  {"V", 3, "2026-12-08T19:59:10+00:00", 0.2, true},
      {"A", 3, "2026-12-08T20:01:02+00:00", 0.6, true}, {"F", 1, "2026-12-08T20:03:30+00:00", 8, true}};
  std::vector<std::filesystem::path> run;
  for (const auto& r : runs) {
    const json record = sample_record(r.key, r.channel, r.started, r.drift);
    std::string stamp;
    for (char c : std::string(r.started).substr(0, 19))
      if (c != '-' && c != ':') stamp += c;
    const auto path = dir / (stamp + "_DP8C123456789_" + r.key + "_CH" + std::to_string(r.channel) + ".json");
    reason = write_page_file(path, record.dump(2) + "\n");
    if (!reason.empty()) return {};
    const auto page = write_record_page(path);
    if (!page.ok) {
      reason = page.reason;
      return {};
    }
    if (r.in_run) run.push_back(path);
  }
  std::ofstream(dir / "20261201T080000_DP8C123456789_A_CH2.json") << "{\"format\": \"trimora-calibration-rec";
  const auto certificates = write_certificates(dir, run);
  const auto failed = std::find_if(certificates.begin(), certificates.end(), [](const auto& c) { return !c.ok; });
  if (failed != certificates.end()) {
    reason = failed->reason;
    return {};
  }
  const auto index = write_history_index(dir);
  if (!index.ok) {
    reason = index.reason;
    return {};
  }
  return run;
}
