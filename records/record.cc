// Building the calibration record and its CSV from a run's result.
#include "records/record.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "calibration/decision_rule.h"
#include "calibration/tolerances.h"

#ifndef TRIMORA_VERSION
#define TRIMORA_VERSION "unknown"
#endif

namespace {

const char* quantity_name(Quantity quantity) { return quantity == Quantity::voltage ? "voltage" : "current"; }
const char* unit_name(Quantity quantity) { return quantity == Quantity::voltage ? "V" : "A"; }

RecordJson optional_number(std::optional<double> value) {
  if (!value.has_value() || !std::isfinite(*value)) return nullptr;
  return *value;
}

RecordJson number_or_null(double value) {
  if (!std::isfinite(value)) return nullptr;
  return value;
}

RecordJson instrument_json(const InstrumentRecord& instrument) {
  return RecordJson{{"maker", instrument.identity.maker},   {"model", instrument.identity.model},
                    {"serial", instrument.identity.serial}, {"firmware", instrument.identity.firmware},
                    {"address", instrument.address},        {"port", instrument.port}};
}

RecordJson range_json(const AccuracyRange& figures, bool assumed, const char* source) {
  return RecordJson{{"quantity", quantity_name(figures.quantity)},
                    {"range", figures.range},
                    {"percent_of_reading", figures.percent_of_reading},
                    {"percent_of_range", figures.percent_of_range},
                    {"assumed", assumed},
                    {"source", source}};
}

// Collects the DMM figures that the points used beyond the model's own row (assumed ones).
struct FiguresUsed {
  std::vector<AccuracyRange> extra;
  void note(const ReferenceAccuracyChoice& reference, const Uncertainty& u) {
    if (!u.assumed || reference.assumed) return;
    bool known = std::any_of(extra.begin(), extra.end(), [&](const AccuracyRange& figures) {
      return figures.quantity == u.figures.quantity && figures.range == u.figures.range;
    });
    if (!known) extra.push_back(u.figures);
  }
};

struct AssessmentOutcome {
  RecordJson json;
  Verdict verdict;
};

AssessmentOutcome assessment_step_json(const StepResult& step, int number, bool run_completed,
                                       const SupplyToleranceChoice& supply,
                                       const ReferenceAccuracyChoice& reference, FiguresUsed& used) {
  RecordJson points = RecordJson::array();
  std::vector<Verdict> verdicts;
  double sum_of_squares = 0.0;
  double max_abs = 0.0;
  int readings = 0;
  int counts[5] = {0, 0, 0, 0, 0};
  int index = 0;
  for (const PhaseResult& phase : step.phases) {
    for (const PointResult& point : phase.points) {
      std::optional<double> error;
      if (point.reading.has_value() && std::isfinite(*point.reading)) error = *point.reading - point.set;
      double t = supply_tolerance(supply, step.quantity, point.set);
      // Without a reading, U is taken at the set value, where the reading was expected.
      Uncertainty u = reference_uncertainty(reference, step.quantity, error ? *point.reading : point.set);
      used.note(reference, u);
      double tur = test_uncertainty_ratio(t, u.value);
      Verdict verdict = point_verdict(error, t, u.value);
      verdicts.push_back(verdict);
      counts[static_cast<int>(verdict)]++;
      if (error) {
        double mv = *error * 1000.0;
        sum_of_squares += mv * mv;
        max_abs = std::max(max_abs, std::fabs(mv));
        readings++;
      }
      points.push_back(RecordJson{{"index", index++},
                                  {"set", point.set},
                                  {"reading", optional_number(point.reading)},
                                  {"error_mV", error ? RecordJson(*error * 1000.0) : RecordJson(nullptr)},
                                  {"tolerance_mV", t * 1000.0},
                                  {"uncertainty_mV", u.value * 1000.0},
                                  {"acceptance_limit_mV", (t - u.value) * 1000.0},
                                  {"tur", number_or_null(tur)},
                                  {"tur_below_4", tur_flagged(tur)},
                                  {"verdict", verdict_text(verdict)},
                                  {"uncertainty_range", u.range_used},
                                  {"uncertainty_assumed", u.assumed}});
    }
  }
  Verdict verdict = overall_verdict(verdicts, step.completed && run_completed);
  RecordJson summary{
      {"sum_of_squares_mV2", readings > 0 ? RecordJson(sum_of_squares) : RecordJson(nullptr)},
      {"rms_error_mV", readings > 0 ? RecordJson(std::sqrt(sum_of_squares / readings)) : RecordJson(nullptr)},
      {"max_abs_error_mV", readings > 0 ? RecordJson(max_abs) : RecordJson(nullptr)},
      {"counts", RecordJson{{"PASS", counts[0]},
                            {"FAIL", counts[1]},
                            {"INDETERMINATE", counts[2]},
                            {"NO READING", counts[3]}}},
      {"verdict", verdict_text(verdict)}};
  RecordJson json{{"step", number},
                  {"kind", "assessment"},
                  {"title", step.title},
                  {"completed", step.completed},
                  {"quantity", quantity_name(step.quantity)},
                  {"unit", unit_name(step.quantity)},
                  {"points", points},
                  {"summary", summary}};
  return {json, verdict};
}

RecordJson calibration_step_json(const StepResult& step, int number) {
  RecordJson phases = RecordJson::array();
  for (const PhaseResult& phase : step.phases) {
    RecordJson points = RecordJson::array();
    int index = 0;
    std::transform(phase.points.begin(), phase.points.end(), std::back_inserter(points),
                   [&](const PointResult& point) {
                     return RecordJson{{"index", index++},
                                       {"set", point.set},
                                       {"reading", optional_number(point.reading)},
                                       {"reported", optional_number(point.reported)},
                                       {"reported_to_supply", point.reported_to_supply}};
                   });
    phases.push_back(RecordJson{{"name", phase.name}, {"points", points}});
  }
  return RecordJson{{"step", number},
                    {"kind", "calibration"},
                    {"title", step.title},
                    {"completed", step.completed},
                    {"quantity", quantity_name(step.quantity)},
                    {"unit", unit_name(step.quantity)},
                    {"uses_corrections", step.uses_corrections},
                    {"phases", phases}};
}

}  // namespace

const char* procedure_key(Procedure procedure) {
  switch (procedure) {
    case Procedure::assessment: return "A";
    case Procedure::voltage_calibration: return "V";
    case Procedure::current_calibration: return "C";
    case Procedure::full_voltage_calibration: return "F";
  }
  return "A";
}

const char* procedure_name(Procedure procedure) {
  switch (procedure) {
    case Procedure::assessment: return "assessment";
    case Procedure::voltage_calibration: return "voltage_calibration";
    case Procedure::current_calibration: return "current_calibration";
    case Procedure::full_voltage_calibration: return "full_voltage_calibration";
  }
  return "assessment";
}

std::string safe_serial(const std::string& serial) {
  std::string safe;
  for (char ch : serial) {
    bool keep = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-';
    if (keep && safe.size() < 40) safe += ch;
  }
  return safe.empty() ? "unknown" : safe;
}

RecordJson build_record(const RunResult& run, const RecordContext& context) {
  SupplyToleranceChoice supply = supply_tolerance_for(context.supply.identity.model);
  ReferenceAccuracyChoice reference = reference_accuracy_for(context.reference.identity.model);
  FiguresUsed used;

  RecordJson steps = RecordJson::array();
  std::optional<Verdict> last_assessment;
  for (std::size_t i = 0; i < run.steps.size(); i++) {
    const StepResult& step = run.steps[i];
    int number = step.number > 0 ? step.number : static_cast<int>(i) + 1;
    if (step.kind == StepKind::assessment) {
      AssessmentOutcome outcome = assessment_step_json(step, number, run.completed, supply, reference, used);
      last_assessment = outcome.verdict;
      steps.push_back(std::move(outcome.json));
    } else {
      steps.push_back(calibration_step_json(step, number));
    }
  }

  // A: its assessment; F: its final assessment, the last step when the run got that far.
  RecordJson overall = nullptr;
  if (run.procedure == Procedure::assessment) {
    overall = last_assessment ? verdict_text(*last_assessment) : verdict_text(Verdict::incomplete);
  } else if (run.procedure == Procedure::full_voltage_calibration) {
    bool final_reached =
        !run.steps.empty() && run.steps.back().kind == StepKind::assessment && run.steps.size() >= 3;
    overall =
        final_reached && last_assessment ? verdict_text(*last_assessment) : verdict_text(Verdict::incomplete);
  }

  RecordJson ranges = RecordJson::array();
  std::transform(reference.row.ranges.begin(), reference.row.ranges.end(), std::back_inserter(ranges),
                 [&](const AccuracyRange& figures) {
                   return range_json(figures, reference.assumed, reference.row.source);
                 });
  std::transform(used.extra.begin(), used.extra.end(), std::back_inserter(ranges),
                 [](const AccuracyRange& figures) {
                   return range_json(figures, true, generic_reference_accuracy().source);
                 });

  RecordJson corrections = nullptr;
  if (run.corrections.has_value()) {
    corrections = RecordJson::array();
    std::transform(run.corrections->begin(), run.corrections->end(), std::back_inserter(corrections),
                   [](const CorrectionEntry& entry) {
                     return RecordJson{{"set", entry.set}, {"correction_V", entry.correction_v}};
                   });
  }

  std::string version = context.program_version.empty() ? TRIMORA_VERSION : context.program_version;
  RecordJson record;
  record["format"] = RECORD_FORMAT;
  record["format_version"] = RECORD_FORMAT_VERSION;
  record["record_id"] = context.record_id;
  record["program"] = RecordJson{{"name", "Trimora"}, {"version", version}};
  record["started"] = context.started;
  record["ended"] = context.ended;
  record["procedure"] = procedure_name(run.procedure);
  record["procedure_key"] = procedure_key(run.procedure);
  record["channel"] = run.channel;
  record["completed"] = run.completed;
  record["incomplete_reason"] =
      run.completed ? RecordJson(nullptr)
                    : RecordJson(run.incomplete_reason.empty() ? "not completed" : run.incomplete_reason);
  record["supply"] = instrument_json(context.supply);
  record["reference"] = instrument_json(context.reference);
  record["decision_rule"] = decision_rule_text();
  record["tolerance"] =
      RecordJson{{"model", supply.row.model},
                 {"assumed", supply.assumed},
                 {"source", supply.assumed ? std::string("assumed for an unknown model: ") + supply.row.source
                                           : std::string(supply.row.source)},
                 {"voltage", RecordJson{{"percent_of_setting", supply.row.voltage.percent_of_setting},
                                        {"offset", supply.row.voltage.offset}}},
                 {"current", RecordJson{{"percent_of_setting", supply.row.current.percent_of_setting},
                                        {"offset", supply.row.current.offset}}}};
  record["reference_accuracy"] =
      RecordJson{{"model", reference.row.model},
                 {"assumed", reference.assumed},
                 {"source", reference.assumed
                                ? std::string("assumed for an unknown DMM, as a generic 6½-digit class: ") +
                                      reference.row.source
                                : std::string(reference.row.source)},
                 {"ranges", ranges}};
  record["steps"] = steps;
  record["corrections"] = corrections;
  record["overall_verdict"] = overall;
  record["supply_errors"] = run.supply_errors;
  return record;
}

namespace {

// One CSV cell: RFC 4180 quoting when the text holds a comma, a quote or a line break.
std::string csv_cell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"') quoted += '"';
    quoted += ch;
  }
  return quoted + "\"";
}

// A JSON value as a cell: strings as they are, numbers as JSON writes them ("." decimal point), null empty.
std::string cell(const RecordJson& object, const char* key) {
  if (!object.is_object()) return "";
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return "";
  if (it->is_string()) return csv_cell(it->get<std::string>());
  return csv_cell(it->dump(-1, ' ', false, RecordJson::error_handler_t::replace));
}

}  // namespace

std::string record_csv(const RecordJson& record) {
  std::string csv =
      "step,kind,title,phase,index,set,unit,reading,error_mV,tolerance_mV,uncertainty_mV,acceptance_limit_mV,"
      "tur,"
      "verdict,reported,reported_to_supply\r\n";
  auto steps = record.find("steps");
  if (steps == record.end() || !steps->is_array()) return csv;
  for (const RecordJson& step : *steps) {
    std::string head = cell(step, "step") + "," + cell(step, "kind") + "," + cell(step, "title") + ",";
    std::string unit = cell(step, "unit");
    auto row = [&](const std::string& phase, const RecordJson& point) {
      csv += head + phase + "," + cell(point, "index") + "," + cell(point, "set") + "," + unit + "," +
             cell(point, "reading") + "," + cell(point, "error_mV") + "," + cell(point, "tolerance_mV") +
             "," + cell(point, "uncertainty_mV") + "," + cell(point, "acceptance_limit_mV") + "," +
             cell(point, "tur") + "," + cell(point, "verdict") + "," + cell(point, "reported") + "," +
             cell(point, "reported_to_supply") + "\r\n";
    };
    if (step.contains("points") && step["points"].is_array()) {
      for (const RecordJson& point : step["points"]) row("", point);
    }
    if (step.contains("phases") && step["phases"].is_array()) {
      for (const RecordJson& phase : step["phases"]) {
        if (!phase.contains("points") || !phase["points"].is_array()) continue;
        std::string name = cell(phase, "name");
        for (const RecordJson& point : phase["points"]) row(name, point);
      }
    }
  }
  return csv;
}

namespace {

std::string text_of(const RecordJson& object, const char* key) {
  if (!object.is_object()) return "";
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

}  // namespace

std::string record_base_name(const RecordJson& record) {
  std::string stamp;
  for (char ch : text_of(record, "started").substr(0, 19)) {
    if (ch >= '0' && ch <= '9') stamp += ch;
  }
  if (stamp.size() == 14) {
    stamp.insert(8, "T");
  } else {
    stamp = "00000000T000000";
  }
  std::string serial =
      record.is_object() && record.contains("supply") ? text_of(record["supply"], "serial") : "";
  std::string key = text_of(record, "procedure_key");
  if (key.size() != 1 || key.find_first_of("AVCF") != 0) key = "X";
  long long channel = 0;
  if (record.is_object() && record.contains("channel") && record["channel"].is_number_integer()) {
    channel = record["channel"].get<long long>();
  }
  if (channel < 0 || channel > 99) channel = 0;
  return stamp + "_" + safe_serial(serial) + "_" + key + "_CH" + std::to_string(channel);
}
