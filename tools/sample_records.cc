#include "tools/sample_records.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "calibration/point_tables.h"
#include "platform/files.h"
#include "records/history_index.h"
#include "records/record_codec.h"
#include "records/record_page.h"

namespace {

double micro_rounded(double value) { return std::round(value * 1e6) / 1e6; }

void assessment_step(RunResult& run, int number, const char* title, int channel, double drift_mV) {
  const double* sets = channel == 3 ? VDAC_POINTS_3 : VDAC_POINTS_12;
  const std::size_t n = channel == 3 ? std::size(VDAC_POINTS_3) : std::size(VDAC_POINTS_12);
  StepResult& step = begin_step(run, StepKind::assessment, title);
  step.number = number;
  const double top = sets[n - 1];
  for (std::size_t i = 0; i < n; ++i) {
    const double s = sets[i];
    const double error_mV = 0.3 + drift_mV * (s / top) * (s / top) + 0.4 * std::sin(3.0 * s);
    const double reading = micro_rounded(s + error_mV / 1000);
    // The supply's own voltmeter reads a little low, and drifts with its output.
    const double readback_error_mV = -1.5 - 0.25 * drift_mV * (s / top) + 0.3 * std::cos(2.0 * s);
    add_assessed_point(step, s, reading, micro_rounded(reading + readback_error_mV / 1000));
  }
  step.completed = true;
}

void phase(StepResult& step, const char* name, const double* sets, std::size_t n, double drift_mV, bool skip_first) {
  begin_phase(step, name);
  for (std::size_t i = 0; i < n; ++i) {
    const double reading = micro_rounded(sets[i] + (0.2 + drift_mV * sets[i] / 32) / 1000);
    const bool sent = !(skip_first && i == 0);
    add_calibration_point(step, sets[i], reading, sent ? std::optional<double>(reading) : std::nullopt, sent);
  }
}

void calibration_step(RunResult& run, int number, const char* title, Quantity quantity, int channel,
                      double drift_mV, bool corrections) {
  const bool c3 = channel == 3;
  StepResult& step = begin_step(run, StepKind::calibration, title, quantity, corrections);
  step.number = number;
  if (quantity == Quantity::voltage) {
    phase(step, "V-DAC", c3 ? VDAC_POINTS_3 : VDAC_POINTS_12, c3 ? 13 : 36, drift_mV, false);
    phase(step, "V-meter", c3 ? VMETER_POINTS_3 : VMETER_POINTS_12, 11, drift_mV, true);
  } else {
    phase(step, "I-DAC", c3 ? IDAC_POINTS_3 : IDAC_POINTS_12, c3 ? 12 : 15, drift_mV, false);
    phase(step, "I-meter", c3 ? IMETER_POINTS_3 : IMETER_POINTS_12, c3 ? 6 : 7, drift_mV, true);
  }
  step.completed = true;
}

}  // namespace

RunResult sample_run(const std::string& key, int channel, double drift_mV) {
  RunResult run;
  run.channel = channel;
  run.completed = true;
  if (key == "A") {
    run.procedure = Procedure::assessment;
    assessment_step(run, 1, "Assessment", channel, drift_mV);
  } else if (key == "V" || key == "C") {
    const bool voltage = key == "V";
    run.procedure = voltage ? Procedure::voltage_calibration : Procedure::current_calibration;
    calibration_step(run, 1, voltage ? "Factory voltage calibration" : "Factory current calibration",
                     voltage ? Quantity::voltage : Quantity::current, channel, drift_mV, false);
  } else {
    run.procedure = Procedure::full_voltage_calibration;
    calibration_step(run, 1, "Factory voltage calibration", Quantity::voltage, channel, drift_mV, false);
    assessment_step(run, 2, "After factory calibration", channel, 3.0);
    calibration_step(run, 2, "With corrections", Quantity::voltage, channel, 0.5, true);
    assessment_step(run, 3, "Final", channel, 0.2);
    run.corrections.emplace();
    for (const PointResult& p : run.steps[1].phases[0].points)
      run.corrections->push_back(CorrectionEntry{p.set, -(*p.reading - p.set)});
  }
  return run;
}

RecordContext sample_context(const std::string& key, int channel, const std::string& started,
                             const std::string& serial) {
  std::string compact;
  for (char c : started.substr(0, 19))
    if (c != '-' && c != ':') compact += c;
  RecordContext context;
  context.supply = {Identity{"RIGOL TECHNOLOGIES", "DP832", serial, "00.01.16"}, "127.0.0.1", 5555};
  context.reference = {Identity{"Simulated", "34401A", "MY12345678", "1.0"}, "127.0.0.1", 5024};
  context.started = started;
  context.ended = started;
  context.ended.replace(17, 2, "59");  // later in the same minute, near enough for a sample
  context.record_id = compact + "+0000-" + serial + "-" + key + "-CH" + std::to_string(channel) + "-5a1e";
  context.program_version = "1.1.0";
  return context;
}

Record sample_record(const std::string& key, int channel, const std::string& started, double drift_mV,
                     const std::string& serial) {
  return build_record(sample_run(key, channel, drift_mV), sample_context(key, channel, started, serial));
}

Result<std::vector<RunRecord>> write_sample_run(const std::filesystem::path& dir) {
  try {
    std::error_code made;
    std::filesystem::create_directories(dir, made);
    if (made) return Status::failure("cannot create the folder " + dir.string() + ": " + made.message());
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
    std::vector<RunRecord> run;
    for (const auto& r : runs) {
      RunRecord written{sample_record(r.key, r.channel, r.started, r.drift), {}};
      written.json_path = dir / (record_base_name(written.record) + ".json");
      const Status json = write_file_atomically(written.json_path.string(), record_json_text(written.record));
      if (!json) return json;
      const auto page = write_record_page(written.record, written.json_path);
      if (!page) return page.status();
      if (r.in_run) run.push_back(std::move(written));
    }
    // A record cut short, as a crash of some other program could leave one.
    const Status damaged = write_file_atomically((dir / "20261201T080000_DP8C123456789_A_CH2.json").string(),
                                                 record_json_text(run.front().record).substr(0, 36));
    if (!damaged) return damaged;
    const auto certificates = write_certificates(dir, run);
    const auto failed = std::find_if(certificates.begin(), certificates.end(), [](const auto& c) { return !c; });
    if (failed != certificates.end()) return failed->status();
    const auto index = write_history_index(dir);
    if (!index) return index.status();
    return run;
  } catch (const std::exception& e) {
    return Status::failure(e.what());
  }
}
