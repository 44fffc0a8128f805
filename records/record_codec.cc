// The record's JSON: written with nlohmann::ordered_json so that the keys keep the documented order, and
// read back into a Record with every member checked.
#include "records/record_codec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/files.h"

namespace {

using Json = nlohmann::ordered_json;

const char* const kVerdictKeys[] = {"PASS", "FAIL", "INDETERMINATE", "NO READING"};

Json optional_json(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

Json instrument_json(const RecordInstrument& instrument) {
  return Json{{"maker", instrument.maker},       {"model", instrument.model},
              {"serial", instrument.serial},     {"firmware", instrument.firmware},
              {"address", instrument.address},   {"port", instrument.port}};
}

Json figure_json(const ToleranceFigure& figure) {
  return Json{{"percent_of_setting", figure.percent_of_setting}, {"offset", figure.offset}};
}

// A key of a figure in the step's milli-unit: "error" gives "error_mV" on a voltage step, "error_mA" on
// a current step.
std::string milli_key(const char* name, Quantity quantity) {
  return std::string(name) + (quantity == Quantity::voltage ? "_mV" : "_mA");
}

Json counts_json(const std::array<int, 4>& counts) {
  Json json = Json::object();
  for (std::size_t i = 0; i < counts.size(); i++) json[kVerdictKeys[i]] = counts[i];
  return json;
}

// Format 2's members of a judged figure: its uncertainty budget, U's coverage and the risk of a wrong
// verdict, each key led by prefix ("" for the programming figure, "readback_" for the readback).
template <typename Judged>
void add_budget_json(Json& json, const Judged& p, Quantity quantity, const std::string& prefix) {
  Json budget = Json::array();
  for (const RecordBudgetComponent& c : p.uncertainty_budget) {
    Json component{{"name", c.name}, {"source", c.source}, {"type", c.type}, {"distribution", c.distribution}};
    if (c.half_width) component[milli_key("half_width", quantity)] = *c.half_width;
    if (c.standard_deviation) component[milli_key("standard_deviation", quantity)] = *c.standard_deviation;
    component[milli_key("standard_uncertainty", quantity)] = c.standard_uncertainty;
    budget.push_back(std::move(component));
  }
  json[prefix + "uncertainty_budget"] = std::move(budget);
  json[prefix + "coverage_factor"] = p.coverage_factor;
  json[prefix + "coverage_probability"] = p.coverage_probability;
  json[prefix + milli_key("combined_standard_uncertainty", quantity)] = p.combined_standard_uncertainty;
  json[prefix + "false_accept_risk"] = optional_json(p.false_accept_risk);
  json[prefix + "false_reject_risk"] = optional_json(p.false_reject_risk);
}

Json step_json(const RecordStep& step, bool budgets) {
  Json json{{"step", step.number},
            {"kind", step.kind == StepKind::assessment ? "assessment" : "calibration"},
            {"title", step.title},
            {"completed", step.completed},
            {"quantity", quantity_name(step.quantity)},
            {"unit", unit_name(step.quantity)}};
  if (step.kind == StepKind::assessment) {
    const Quantity q = step.quantity;
    Json points = Json::array();
    std::transform(step.points.begin(), step.points.end(), std::back_inserter(points), [&](const AssessedPoint& p) {
      Json point{{"index", p.index},
                 {"set", p.set},
                 {"reading", optional_json(p.reading)},
                 {milli_key("error", q), optional_json(p.error_mV)},
                 {milli_key("tolerance", q), p.tolerance_mV},
                 {milli_key("uncertainty", q), p.uncertainty_mV},
                 {milli_key("acceptance_limit", q), p.acceptance_limit_mV},
                 {"tur", optional_json(p.tur)},
                 {"tur_below_4", p.tur_below_4},
                 {"verdict", verdict_text(p.verdict)},
                 {"uncertainty_range", p.uncertainty_range},
                 {"uncertainty_assumed", p.uncertainty_assumed}};
      if (budgets) {
        add_budget_json(point, p, q, "");
        point["readings"] = p.readings;
        point["repeatability_evaluated"] = p.repeatability_evaluated;
      }
      if (p.readback) {
        point["readback"] = optional_json(p.readback->value);
        point[milli_key("readback_error", q)] = optional_json(p.readback->error_mV);
        point[milli_key("readback_tolerance", q)] = p.readback->tolerance_mV;
        point[milli_key("readback_acceptance_limit", q)] = p.readback->acceptance_limit_mV;
        point["readback_verdict"] = verdict_text(p.readback->verdict);
        if (budgets) {
          point[milli_key("readback_uncertainty", q)] = optional_json(p.readback->uncertainty_mV);
          add_budget_json(point, *p.readback, q, "readback_");
        }
      }
      return point;
    });
    const StepSummary& s = step.summary;
    json["points"] = std::move(points);
    json["summary"] = Json{{milli_key("sum_of_squares", q) + "2", optional_json(s.sum_of_squares_mV2)},
                           {milli_key("rms_error", q), optional_json(s.rms_error_mV)},
                           {milli_key("max_abs_error", q), optional_json(s.max_abs_error_mV)},
                           {"counts", counts_json(s.counts)},
                           {"verdict", verdict_text(s.verdict)}};
    if (budgets) json["summary"]["max_false_accept_risk"] = optional_json(s.max_false_accept_risk);
    if (s.readback) {
      json["summary"]["readback"] = Json{{milli_key("rms_error", q), optional_json(s.readback->rms_error_mV)},
                                         {milli_key("max_abs_error", q), optional_json(s.readback->max_abs_error_mV)},
                                         {"counts", counts_json(s.readback->counts)},
                                         {"verdict", verdict_text(s.readback->verdict)}};
      if (budgets) json["summary"]["readback"]["max_false_accept_risk"] = optional_json(s.readback->max_false_accept_risk);
    }
    return json;
  }
  Json phases = Json::array();
  for (const RecordPhase& phase : step.phases) {
    Json points = Json::array();
    std::transform(phase.points.begin(), phase.points.end(), std::back_inserter(points), [](const CalibrationPoint& p) {
      return Json{{"index", p.index},
                  {"set", p.set},
                  {"reading", optional_json(p.reading)},
                  {"reported", optional_json(p.reported)},
                  {"reported_to_supply", p.reported_to_supply}};
    });
    phases.push_back(Json{{"name", phase.name}, {"points", std::move(points)}});
  }
  json["uses_corrections"] = step.uses_corrections;
  json["phases"] = std::move(phases);
  return json;
}

Json record_to_json(const Record& r) {
  const std::vector<RecordRange>& rows = r.reference_accuracy.ranges;
  Json ranges = Json::array();
  std::transform(rows.begin(), rows.end(), std::back_inserter(ranges), [](const RecordRange& range) {
    return Json{{"quantity", quantity_name(range.figures.quantity)},
                {"range", range.figures.range},
                {"percent_of_reading", range.figures.percent_of_reading},
                {"percent_of_range", range.figures.percent_of_range},
                {"assumed", range.assumed},
                {"source", range.source}};
  });
  Json steps = Json::array();
  // A record read from format 1 is written as it was, without what format 2 added.
  const int version = r.format_version == 1 ? 1 : RECORD_FORMAT_VERSION;
  std::transform(r.steps.begin(), r.steps.end(), std::back_inserter(steps),
                 [&](const RecordStep& step) { return step_json(step, version >= 2); });
  Json corrections = nullptr;
  if (r.corrections) {
    corrections = Json::array();
    std::transform(r.corrections->begin(), r.corrections->end(), std::back_inserter(corrections),
                   [](const CorrectionEntry& entry) {
                     return Json{{"set", entry.set}, {"correction_V", entry.correction_v}};
                   });
  }
  Json json;
  json["format"] = RECORD_FORMAT;
  json["format_version"] = version;
  json["record_id"] = r.record_id;
  json["program"] = Json{{"name", r.program_name}, {"version", r.program_version}};
  json["started"] = r.started;
  json["ended"] = r.ended;
  json["procedure"] = procedure_name(r.procedure);
  json["procedure_key"] = procedure_key(r.procedure);
  json["channel"] = r.channel;
  json["completed"] = r.completed;
  json["incomplete_reason"] = r.incomplete_reason ? Json(*r.incomplete_reason) : Json(nullptr);
  json["supply"] = instrument_json(r.supply);
  json["reference"] = instrument_json(r.reference);
  json["decision_rule"] = r.decision_rule;
  if (version >= 2) {
    json["decision_rule_name"] = r.decision_rule_name;
    json["decision_rule_reference"] = r.decision_rule_reference;
  }
  json["tolerance"] = Json{{"model", r.tolerance.model},
                           {"assumed", r.tolerance.assumed},
                           {"source", r.tolerance.source},
                           {"voltage", figure_json(r.tolerance.voltage)},
                           {"current", figure_json(r.tolerance.current)}};
  if (r.tolerance.voltage_readback && r.tolerance.current_readback) {
    json["tolerance"]["voltage_readback"] = figure_json(*r.tolerance.voltage_readback);
    json["tolerance"]["current_readback"] = figure_json(*r.tolerance.current_readback);
    json["tolerance"]["readback_source"] = r.tolerance.readback_source;
  }
  json["reference_accuracy"] = Json{{"model", r.reference_accuracy.model},
                                    {"assumed", r.reference_accuracy.assumed},
                                    {"source", r.reference_accuracy.source},
                                    {"ranges", std::move(ranges)}};
  json["steps"] = std::move(steps);
  json["corrections"] = std::move(corrections);
  json["overall_verdict"] = r.overall_verdict ? Json(verdict_text(*r.overall_verdict)) : Json(nullptr);
  json["supply_errors"] = r.supply_errors;
  // Format 1 had no session details nor the reference's calibration: a record of that format is written
  // back as it was.
  if (version < 2) return json;
  const SessionDetails& session = r.session;
  json["session"] = Json{{"operator", session.operator_name},
                         {"operator_role", session.operator_role},
                         {"customer", session.customer},
                         {"customer_address", session.customer_address},
                         {"asset", session.asset},
                         {"received", session.received},
                         {"temperature_C", optional_json(session.temperature_C)},
                         {"humidity_percent", optional_json(session.humidity_percent)}};
  const std::optional<ReferenceEntry>& calibration = r.reference_calibration;
  json["reference_calibration"] = calibration ? Json{{"certificate", calibration->certificate},
                                                     {"calibrated", calibration->calibrated},
                                                     {"due", calibration->due},
                                                     {"traceability", calibration->traceability},
                                                     {"overdue", r.reference_overdue}}
                                              : Json(nullptr);
  return json;
}

// Reads the members of a parsed record; the first member that is missing or of another type is the
// reason of the refusal, and every read after it gives a default.
class Reader {
 public:
  const std::string& error() const { return error_; }

  const Json* member(const Json& object, const char* key, bool (Json::*is)() const noexcept, const char* kind,
                     bool may_be_null = false) {
    if (!error_.empty()) return nullptr;
    const auto it = object.is_object() ? object.find(key) : object.end();
    if (it != object.end() && may_be_null && it->is_null()) return nullptr;
    if (it == object.end() || !((*it).*is)()) {
      fail(std::string("\"") + key + "\" is missing or not " + kind);
      return nullptr;
    }
    return &*it;
  }
  std::string text(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_string, "a text");
    return m ? m->get<std::string>() : std::string();
  }
  std::optional<std::string> optional_text(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_string, "a text", true);
    return m ? std::optional<std::string>(m->get<std::string>()) : std::nullopt;
  }
  double number(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_number, "a number");
    return m ? bounded(m->get<double>(), key) : 0.0;
  }
  std::optional<double> optional_number(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_number, "a number", true);
    return m ? std::optional<double>(bounded(m->get<double>(), key)) : std::nullopt;
  }
  // No measured or derived figure comes near 1e100; beyond it the figures worked out from a number
  // (an error in mV, its square, a sum of squares) could overflow to infinity.
  double bounded(double value, const char* key) {
    if (!(value >= -1e100 && value <= 1e100)) fail(std::string("\"") + key + "\" is not a finite number within ±1e100");
    return value;
  }
  int whole(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_number_integer, "a whole number");
    if (m == nullptr) return 0;
    if (m->is_number_unsigned() ? m->get<unsigned long long>() > std::numeric_limits<int>::max()
                                : m->get<long long>() < std::numeric_limits<int>::min() ||
                                      m->get<long long>() > std::numeric_limits<int>::max()) {
      fail(std::string("\"") + key + "\" is out of range");
      return 0;
    }
    return static_cast<int>(m->get<long long>());
  }
  bool flag(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_boolean, "true or false");
    return m != nullptr && m->get<bool>();
  }
  const Json& object(const Json& o, const char* key) {
    const Json* m = member(o, key, &Json::is_object, "an object");
    return m ? *m : empty_object_;
  }
  const Json& list(const Json& o, const char* key, bool may_be_null = false) {
    const Json* m = member(o, key, &Json::is_array, "a list", may_be_null);
    return m ? *m : empty_list_;
  }
  Verdict verdict(const Json& o, const char* key) {
    const std::string v = text(o, key);
    const Verdict known[] = {Verdict::pass, Verdict::fail, Verdict::indeterminate, Verdict::no_reading,
                             Verdict::incomplete};
    const auto it = std::find_if(std::begin(known), std::end(known), [&](Verdict k) { return v == verdict_text(k); });
    if (it != std::end(known)) return *it;
    fail(std::string("\"") + key + "\" is not a verdict");
    return Verdict::incomplete;
  }
  Quantity quantity(const Json& o, const char* key) {
    const std::string q = text(o, key);
    if (q == quantity_name(Quantity::current)) return Quantity::current;
    if (q != quantity_name(Quantity::voltage)) fail(std::string("\"") + key + "\" is not voltage or current");
    return Quantity::voltage;
  }
  void fail(const std::string& what) {
    if (error_.empty()) error_ = "damaged record: " + what;
  }

 private:
  std::string error_;
  const Json empty_object_ = Json::object();
  const Json empty_list_ = Json::array();
};

RecordInstrument read_instrument(Reader& in, const Json& o) {
  return RecordInstrument{in.text(o, "maker"),   in.text(o, "model"),   in.text(o, "serial"),
                          in.text(o, "firmware"), in.text(o, "address"), in.whole(o, "port")};
}

ToleranceFigure read_figure(Reader& in, const Json& o) {
  return ToleranceFigure{in.number(o, "percent_of_setting"), in.number(o, "offset")};
}

// Format 2's members of an assessed point.
template <typename Judged>
void read_budget(Reader& in, const Json& p, Quantity quantity, const std::string& prefix, Judged& judged) {
  for (const Json& c : in.list(p, (prefix + "uncertainty_budget").c_str())) {
    RecordBudgetComponent component;
    component.name = in.text(c, "name");
    component.source = in.text(c, "source");
    component.type = in.text(c, "type");
    if (component.type != "A" && component.type != "B") in.fail("\"type\" is not A or B");
    component.distribution = in.text(c, "distribution");
    if (component.distribution == "rectangular") {
      component.half_width = in.number(c, milli_key("half_width", quantity).c_str());
    } else if (component.distribution == "normal") {
      component.standard_deviation = in.number(c, milli_key("standard_deviation", quantity).c_str());
    } else {
      in.fail("\"distribution\" is not rectangular or normal");
    }
    component.standard_uncertainty = in.number(c, milli_key("standard_uncertainty", quantity).c_str());
    judged.uncertainty_budget.push_back(std::move(component));
  }
  judged.coverage_factor = in.number(p, (prefix + "coverage_factor").c_str());
  judged.coverage_probability = in.number(p, (prefix + "coverage_probability").c_str());
  judged.combined_standard_uncertainty =
      in.number(p, (prefix + milli_key("combined_standard_uncertainty", quantity)).c_str());
  judged.false_accept_risk = in.optional_number(p, (prefix + "false_accept_risk").c_str());
  judged.false_reject_risk = in.optional_number(p, (prefix + "false_reject_risk").c_str());
}

RecordStep read_step(Reader& in, const Json& s, int version) {
  RecordStep step;
  step.number = in.whole(s, "step");
  const std::string kind = in.text(s, "kind");
  if (kind == "calibration") {
    step.kind = StepKind::calibration;
  } else if (kind != "assessment") {
    in.fail("\"kind\" is not assessment or calibration");
  }
  step.title = in.text(s, "title");
  step.completed = in.flag(s, "completed");
  step.quantity = in.quantity(s, "quantity");
  if (step.kind == StepKind::assessment) {
    const Quantity q = step.quantity;
    const Json& summary = in.object(s, "summary");
    const bool readback = summary.contains("readback");
    for (const Json& p : in.list(s, "points")) {
      AssessedPoint point;
      point.index = in.whole(p, "index");
      point.set = in.number(p, "set");
      point.reading = in.optional_number(p, "reading");
      point.error_mV = in.optional_number(p, milli_key("error", q).c_str());
      point.tolerance_mV = in.number(p, milli_key("tolerance", q).c_str());
      point.uncertainty_mV = in.number(p, milli_key("uncertainty", q).c_str());
      point.acceptance_limit_mV = in.number(p, milli_key("acceptance_limit", q).c_str());
      point.tur = in.optional_number(p, "tur");
      point.tur_below_4 = in.flag(p, "tur_below_4");
      point.verdict = in.verdict(p, "verdict");
      point.uncertainty_range = in.number(p, "uncertainty_range");
      point.uncertainty_assumed = in.flag(p, "uncertainty_assumed");
      if (version >= 2) {
        read_budget(in, p, q, "", point);
        point.readings = in.whole(p, "readings");
        point.repeatability_evaluated = in.flag(p, "repeatability_evaluated");
      }
      // A step that asked the readback has it at every point.
      if (readback) {
        AssessedReadback rb;
        rb.value = in.optional_number(p, "readback");
        rb.error_mV = in.optional_number(p, milli_key("readback_error", q).c_str());
        rb.tolerance_mV = in.number(p, milli_key("readback_tolerance", q).c_str());
        rb.acceptance_limit_mV = in.number(p, milli_key("readback_acceptance_limit", q).c_str());
        rb.verdict = in.verdict(p, "readback_verdict");
        point.readback = std::move(rb);
        if (version >= 2) {
          point.readback->uncertainty_mV = in.number(p, milli_key("readback_uncertainty", q).c_str());
          read_budget(in, p, q, "readback_", *point.readback);
        }
      }
      step.points.push_back(point);
    }
    step.summary.sum_of_squares_mV2 = in.optional_number(summary, (milli_key("sum_of_squares", q) + "2").c_str());
    step.summary.rms_error_mV = in.optional_number(summary, milli_key("rms_error", q).c_str());
    step.summary.max_abs_error_mV = in.optional_number(summary, milli_key("max_abs_error", q).c_str());
    const Json& counts = in.object(summary, "counts");
    for (std::size_t i = 0; i < step.summary.counts.size(); i++)
      step.summary.counts[i] = in.whole(counts, kVerdictKeys[i]);
    step.summary.verdict = in.verdict(summary, "verdict");
    if (version >= 2) step.summary.max_false_accept_risk = in.optional_number(summary, "max_false_accept_risk");
    if (readback) {
      const Json& part = in.object(summary, "readback");
      ReadbackSummary r;
      r.rms_error_mV = in.optional_number(part, milli_key("rms_error", q).c_str());
      r.max_abs_error_mV = in.optional_number(part, milli_key("max_abs_error", q).c_str());
      const Json& readback_counts = in.object(part, "counts");
      for (std::size_t i = 0; i < r.counts.size(); i++) r.counts[i] = in.whole(readback_counts, kVerdictKeys[i]);
      r.verdict = in.verdict(part, "verdict");
      if (version >= 2) r.max_false_accept_risk = in.optional_number(part, "max_false_accept_risk");
      step.summary.readback = r;
    }
    return step;
  }
  step.uses_corrections = in.flag(s, "uses_corrections");
  for (const Json& ph : in.list(s, "phases")) {
    RecordPhase phase;
    phase.name = in.text(ph, "name");
    for (const Json& p : in.list(ph, "points")) {
      phase.points.push_back(CalibrationPoint{in.whole(p, "index"), in.number(p, "set"),
                                              in.optional_number(p, "reading"), in.optional_number(p, "reported"),
                                              in.flag(p, "reported_to_supply")});
    }
    step.phases.push_back(std::move(phase));
  }
  return step;
}

std::optional<Procedure> procedure_of(const std::string& key) {
  const Procedure known[] = {Procedure::assessment, Procedure::voltage_calibration, Procedure::current_calibration,
                             Procedure::full_voltage_calibration, Procedure::current_assessment};
  const auto it = std::find_if(std::begin(known), std::end(known), [&](Procedure p) { return key == procedure_key(p); });
  if (it == std::end(known)) return std::nullopt;
  return *it;
}

// The members beyond the ones every reader has always checked.
Result<Record> read_members(const Json& j) {
  Reader in;
  Record r;
  r.format_version = in.whole(j, "format_version");
  r.record_id = in.text(j, "record_id");
  const Json& program = in.object(j, "program");
  r.program_name = in.text(program, "name");
  r.program_version = in.text(program, "version");
  r.started = in.text(j, "started");
  r.ended = in.text(j, "ended");
  const std::optional<Procedure> procedure = procedure_of(in.text(j, "procedure_key"));
  if (!procedure || in.text(j, "procedure") != procedure_name(*procedure))
    in.fail("\"procedure\" and \"procedure_key\" name no procedure of this program");
  r.procedure = procedure.value_or(Procedure::assessment);
  r.channel = in.whole(j, "channel");
  if (r.channel < 1 || r.channel > 3) in.fail("\"channel\" is not 1, 2 or 3");
  r.completed = in.flag(j, "completed");
  r.incomplete_reason = in.optional_text(j, "incomplete_reason");
  r.supply = read_instrument(in, in.object(j, "supply"));
  r.reference = read_instrument(in, in.object(j, "reference"));
  r.decision_rule = in.text(j, "decision_rule");
  if (r.format_version >= 2) {
    r.decision_rule_name = in.text(j, "decision_rule_name");
    r.decision_rule_reference = in.text(j, "decision_rule_reference");
  }
  const Json& tolerance = in.object(j, "tolerance");
  r.tolerance = RecordTolerance{in.text(tolerance, "model"), in.flag(tolerance, "assumed"),
                                in.text(tolerance, "source"), read_figure(in, in.object(tolerance, "voltage")),
                                read_figure(in, in.object(tolerance, "current")), std::nullopt, std::nullopt, ""};
  // A record written before the readback figures were kept has none.
  if (tolerance.is_object() && tolerance.contains("readback_source")) {
    r.tolerance.voltage_readback = read_figure(in, in.object(tolerance, "voltage_readback"));
    r.tolerance.current_readback = read_figure(in, in.object(tolerance, "current_readback"));
    r.tolerance.readback_source = in.text(tolerance, "readback_source");
  }
  const Json& accuracy = in.object(j, "reference_accuracy");
  r.reference_accuracy.model = in.text(accuracy, "model");
  r.reference_accuracy.assumed = in.flag(accuracy, "assumed");
  r.reference_accuracy.source = in.text(accuracy, "source");
  for (const Json& range : in.list(accuracy, "ranges")) {
    RecordRange row;
    row.figures.quantity = in.quantity(range, "quantity");
    row.figures.range = in.number(range, "range");
    row.figures.percent_of_reading = in.number(range, "percent_of_reading");
    row.figures.percent_of_range = in.number(range, "percent_of_range");
    row.assumed = in.flag(range, "assumed");
    row.source = in.text(range, "source");
    r.reference_accuracy.ranges.push_back(std::move(row));
  }
  for (const Json& step : in.list(j, "steps")) r.steps.push_back(read_step(in, step, r.format_version));
  const Json* corrections = in.member(j, "corrections", &Json::is_array, "a list", true);
  if (corrections != nullptr) {
    r.corrections.emplace();
    for (const Json& c : *corrections)
      r.corrections->push_back(CorrectionEntry{in.number(c, "set"), in.number(c, "correction_V")});
  }
  if (in.member(j, "overall_verdict", &Json::is_string, "a text", true) != nullptr)
    r.overall_verdict = in.verdict(j, "overall_verdict");
  for (const Json& e : in.list(j, "supply_errors")) {
    if (!e.is_string()) in.fail("\"supply_errors\" holds something other than text");
    if (e.is_string()) r.supply_errors.push_back(e.get<std::string>());
  }
  // Records written before the session details and the reference's calibration were kept lack both.
  if (j.contains("session")) {
    const Json& session = in.object(j, "session");
    r.session = SessionDetails{in.text(session, "operator"),         in.text(session, "operator_role"),
                               in.text(session, "customer"),         in.text(session, "customer_address"),
                               in.text(session, "asset"),            in.text(session, "received"),
                               in.optional_number(session, "temperature_C"),
                               in.optional_number(session, "humidity_percent")};
  }
  if (j.contains("reference_calibration") && !j.at("reference_calibration").is_null()) {
    const Json& calibration = in.object(j, "reference_calibration");
    r.reference_calibration = ReferenceEntry{"", in.text(calibration, "certificate"), in.text(calibration, "calibrated"),
                                             in.text(calibration, "due"), in.text(calibration, "traceability")};
    r.reference_overdue = in.flag(calibration, "overdue");
  }
  if (!in.error().empty()) return Status::failure(in.error());
  return r;
}

}  // namespace

namespace {

// A number in the shortest form that reads back to the same double ("0.41749", never the
// "0.41749000000000003" that nlohmann's own writer gives for some), with ".0" on a whole number as
// nlohmann writes it.
std::string number_text(double value) {
  if (!std::isfinite(value)) return "null";  // as nlohmann writes them: JSON has no such numbers
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
  std::string out(text, written.ptr);
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

// The JSON as nlohmann writes it (the same layout and escapes), but with number_text's numbers.
void write_json(std::string& out, const Json& json, int indent, int level) {
  const std::string inner = indent < 0 ? "" : "\n" + std::string(static_cast<std::size_t>(indent * (level + 1)), ' ');
  const std::string close = indent < 0 ? "" : "\n" + std::string(static_cast<std::size_t>(indent * level), ' ');
  if (json.is_number_float()) {
    out += number_text(json.get<double>());
  } else if ((json.is_object() || json.is_array()) && !json.empty()) {
    out += json.is_object() ? '{' : '[';
    bool first = true;
    for (auto it = json.begin(); it != json.end(); ++it, first = false) {
      out += (first ? "" : ",") + inner;
      if (json.is_object()) out += Json(it.key()).dump(-1, ' ', false, Json::error_handler_t::replace) + (indent < 0 ? ":" : ": ");
      write_json(out, *it, indent, level + 1);
    }
    out += close + (json.is_object() ? '}' : ']');
  } else {
    out += json.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string record_json(const Record& record, int indent) {
  std::string out;
  write_json(out, record_to_json(record), indent, 0);
  return out;
}

std::string record_json_text(const Record& record) { return record_json(record, 2) + "\n"; }

std::string record_number_text(double value) { return number_text(value); }

std::string record_text(const std::string& text) {
  return Json::parse(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace)).get<std::string>();
}

Result<Record> parse_record(const std::string& text) {
  try {
    const Json record = Json::parse(text, nullptr, false);
    if (record.is_discarded()) return Status::failure("not a readable record: the JSON is damaged or cut short");
    if (!record.is_object())
      return Status::failure("not a calibration record: the file does not hold a JSON object");
    const auto format = record.find("format");
    if (format == record.end() || !format->is_string() || format->get<std::string>() != RECORD_FORMAT)
      return Status::failure(std::string("not a calibration record: the format is not \"") + RECORD_FORMAT + "\"");
    const auto version = record.find("format_version");
    if (version == record.end() || !version->is_number_integer())
      return Status::failure("damaged record: format_version is missing or not a whole number");
    const bool newer = version->is_number_unsigned()
                           ? version->get<unsigned long long>() > static_cast<unsigned long long>(RECORD_FORMAT_VERSION)
                           : version->get<long long>() > RECORD_FORMAT_VERSION;
    if (newer) {
      return Status::failure("record format version " + version->dump() + " is newer than this program reads (" +
                             std::to_string(RECORD_FORMAT_VERSION) + ")");
    }
    if (version->get<long long>() < 1)
      return Status::failure("damaged record: format_version " + version->dump() + " does not exist");
    for (const char* key : {"record_id", "started", "procedure", "procedure_key"}) {
      const auto it = record.find(key);
      if (it == record.end() || !it->is_string())
        return Status::failure(std::string("damaged record: \"") + key + "\" is missing or not a text");
    }
    const auto channel = record.find("channel");
    if (channel == record.end() || !channel->is_number_integer())
      return Status::failure("damaged record: \"channel\" is missing or not a whole number");
    const auto steps = record.find("steps");
    if (steps == record.end() || !steps->is_array())
      return Status::failure("damaged record: \"steps\" is missing or not a list");
    for (const Json& step : *steps) {
      const bool points = step.is_object() && step.contains("points") && step["points"].is_array();
      const bool phases = step.is_object() && step.contains("phases") && step["phases"].is_array();
      if (!points && !phases) return Status::failure("damaged record: a step holds no points");
    }
    return read_members(record);
  } catch (const std::exception& error) {
    return Status::failure(error.what());
  }
}

Result<Record> load_record(const std::string& path) {
  try {
    std::string text;
    std::string reason;
    if (read_regular_file(path.c_str(), RECORD_MAX_BYTES, text, reason) == 0) return Status::failure(reason);
    return parse_record(text);
  } catch (const std::exception& error) {
    return Status::failure(error.what());
  }
}

Result<Record> read_record(const std::string& path) {
  Result<Record> read = load_record(path);
  if (!read) return Status::failure(path + ": " + read.reason());
  return read;
}
