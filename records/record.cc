// Building the calibration record and its CSV from a run's result.
#include "records/record.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "calibration/decision_rule.h"
#include "calibration/step_figures.h"
#include "calibration/tolerances.h"
#include "records/record_codec.h"

#ifndef TRIMORA_VERSION
#define TRIMORA_VERSION "unknown"
#endif

namespace {

std::optional<double> finite(std::optional<double> value) {
  if (!value.has_value() || !std::isfinite(*value)) return std::nullopt;
  return value;
}

// Derived figures are recorded with the digits that mean something, so that no binary rounding noise
// (76.99999999999999) reaches the files. Worked out without the maths library, as the plots are.
double decimals_rounded(double value, int decimals) {
  double scale = 1;
  for (int i = 0; i < decimals; i++) scale *= 10;
  const double scaled = value * scale;
  if (!(scaled > -4e15 && scaled < 4e15)) return value;  // whole already, or not a number
  const auto whole = static_cast<long long>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
  return static_cast<double>(whole) / scale;
}

// 1 µV in mV (or 1 µA in mA).
double to_microunit(double mV) { return decimals_rounded(mV, 3); }
std::optional<double> to_microunit(std::optional<double> mV) {
  return mV ? std::optional<double>(to_microunit(*mV)) : std::nullopt;
}

// Two significant digits, as an uncertainty is stated.
double two_digits(double value) {
  const double size = value < 0 ? -value : value;
  if (!(size > 0 && size < 1e15)) return value;
  int decimals = 1;  // for 1 <= size < 10
  double scaled = size;
  while (scaled < 1 && decimals < 300) scaled *= 10, decimals++;
  while (scaled >= 10 && decimals > 0) scaled /= 10, decimals--;
  return decimals_rounded(value, decimals);
}

// The instrument as the record names it, its texts as the file holds them.
RecordInstrument instrument_of(const InstrumentRecord& instrument) {
  return RecordInstrument{record_text(instrument.identity.maker),  record_text(instrument.identity.model),
                          record_text(instrument.identity.serial), record_text(instrument.identity.firmware),
                          record_text(instrument.address),         instrument.port};
}

// Collects the DMM figures that the points used beyond the model's own row (assumed ones).
struct FiguresUsed {
  std::vector<AccuracyRange> extra;
  void note(const ReferenceAccuracyChoice& reference, const PointFigures& point) {
    if (!point.uncertainty_assumed || reference.assumed) return;
    bool known = std::any_of(extra.begin(), extra.end(), [&](const AccuracyRange& figures) {
      return figures.quantity == point.figures.quantity && figures.range == point.figures.range;
    });
    if (!known) extra.push_back(point.figures);
  }
};

// A budget's components in the point's error unit (mV or mA).
std::vector<RecordBudgetComponent> budget_of(const UncertaintyBudget& budget) {
  std::vector<RecordBudgetComponent> components;
  for (const BudgetComponent& c : budget.components) {
    RecordBudgetComponent out;
    out.name = c.name;
    out.source = record_text(c.source);
    out.type = c.type == EvaluationType::a ? "A" : "B";
    const bool rectangular = c.distribution == Distribution::rectangular;
    out.distribution = rectangular ? "rectangular" : "normal";
    if (rectangular) {
      out.half_width = decimals_rounded(c.half_width * 1000.0, 6);
    } else {
      out.standard_deviation = decimals_rounded(c.standard_deviation * 1000.0, 6);
    }
    out.standard_uncertainty = decimals_rounded(c.standard_uncertainty * 1000.0, 6);
    components.push_back(std::move(out));
  }
  return components;
}

// A probability to 0.01 %, as the risk is stated.
std::optional<double> risk_of(std::optional<double> risk) {
  return risk ? std::optional<double>(decimals_rounded(*risk, 4)) : std::nullopt;
}

RecordStep assessment_step(const StepResult& step, bool run_completed, const SupplyToleranceChoice& supply,
                           const ReferenceAccuracyChoice& reference, DecisionRuleKind rule, FiguresUsed& used) {
  const StepFigures figures = assessment_figures(step, run_completed, supply, reference, rule);
  RecordStep out;
  int index = 0;
  for (const PointFigures& p : figures.points) {
    used.note(reference, p);
    AssessedPoint point;
    point.index = index++;
    point.set = p.set;
    // The mean of several readings, without the binary noise of the division.
    point.reading = p.reading;
    if (p.budget.readings > 1 && p.reading) point.reading = decimals_rounded(*p.reading, 9);
    point.error_mV = to_microunit(finite(p.error_mV));
    point.tolerance_mV = to_microunit(p.tolerance_mV);
    point.uncertainty_mV = two_digits(p.uncertainty_mV);
    point.acceptance_limit_mV = to_microunit(p.acceptance_limit_mV);
    const std::optional<double> tur = finite(p.tur);
    point.tur = tur ? std::optional<double>(decimals_rounded(*tur, 1)) : std::nullopt;
    point.tur_below_4 = p.tur_below_4;
    point.verdict = p.verdict;
    point.uncertainty_range = p.uncertainty_range;
    point.uncertainty_assumed = p.uncertainty_assumed;
    point.uncertainty_budget = budget_of(p.budget);
    point.coverage_factor = p.budget.coverage_factor;
    point.coverage_probability = p.budget.coverage_probability;
    point.combined_standard_uncertainty = decimals_rounded(p.combined_uncertainty_mV, 6);
    point.readings = std::max(p.budget.readings, 1);
    point.repeatability_evaluated = p.budget.repeatability_evaluated;
    point.false_accept_risk = risk_of(p.false_accept_risk);
    point.false_reject_risk = risk_of(p.false_reject_risk);
    if (p.readback_figures) {
      const FigureJudgement& r = *p.readback_figures;
      AssessedReadback rb;
      rb.value = p.readback;
      rb.error_mV = to_microunit(finite(r.error_mV));
      rb.tolerance_mV = to_microunit(r.tolerance_mV);
      rb.acceptance_limit_mV = to_microunit(r.acceptance_limit_mV);
      rb.verdict = r.verdict;
      point.readback = std::move(rb);
      point.readback->uncertainty_mV = two_digits(r.uncertainty_mV);
      point.readback->uncertainty_budget = budget_of(r.budget);
      point.readback->coverage_factor = r.budget.coverage_factor;
      point.readback->coverage_probability = r.budget.coverage_probability;
      point.readback->combined_standard_uncertainty = decimals_rounded(r.combined_uncertainty_mV, 6);
      point.readback->false_accept_risk = risk_of(r.false_accept_risk);
      point.readback->false_reject_risk = risk_of(r.false_reject_risk);
    }
    out.points.push_back(point);
  }
  if (figures.readback) {
    ReadbackSummary readback;
    if (figures.readback->errors.count() > 0) {
      readback.rms_error_mV = to_microunit(figures.readback->errors.rms_mV());
      readback.max_abs_error_mV = to_microunit(figures.readback->errors.max_abs_mV());
    }
    readback.counts = figures.readback->counts;
    readback.verdict = figures.readback->verdict;
    readback.max_false_accept_risk = risk_of(figures.readback->max_false_accept_risk);
    out.summary.readback = readback;
  }
  if (figures.errors.count() > 0) {
    out.summary.sum_of_squares_mV2 = decimals_rounded(figures.errors.sum_of_squares_mV2(), 6);
    out.summary.rms_error_mV = to_microunit(figures.errors.rms_mV());
    out.summary.max_abs_error_mV = to_microunit(figures.errors.max_abs_mV());
  }
  out.summary.counts = figures.counts;
  out.summary.verdict = figures.verdict;
  out.summary.max_false_accept_risk = risk_of(figures.max_false_accept_risk);
  return out;
}

RecordStep calibration_step(const StepResult& step) {
  RecordStep out;
  out.uses_corrections = step.uses_corrections;
  for (const PhaseResult& phase : step.phases) {
    RecordPhase recorded{record_text(phase.name), {}};
    int index = 0;
    for (const PointResult& point : phase.points) {
      recorded.points.push_back(
          CalibrationPoint{index++, point.set, finite(point.reading), finite(point.reported), point.reported_to_supply});
    }
    out.phases.push_back(std::move(recorded));
  }
  return out;
}

RecordRange range_of(const AccuracyRange& figures, bool assumed, const char* source) {
  return RecordRange{figures, assumed, source};
}

}  // namespace

const char* procedure_key(Procedure procedure) {
  switch (procedure) {
    case Procedure::assessment: return "A";
    case Procedure::voltage_calibration: return "V";
    case Procedure::current_calibration: return "C";
    case Procedure::full_voltage_calibration: return "F";
    case Procedure::current_assessment: return "I";
  }
  return "A";
}

const char* procedure_name(Procedure procedure) {
  switch (procedure) {
    case Procedure::assessment: return "assessment";
    case Procedure::voltage_calibration: return "voltage_calibration";
    case Procedure::current_calibration: return "current_calibration";
    case Procedure::full_voltage_calibration: return "full_voltage_calibration";
    case Procedure::current_assessment: return "current_assessment";
  }
  return "assessment";
}

const char* quantity_name(Quantity quantity) { return quantity == Quantity::voltage ? "voltage" : "current"; }
const char* unit_name(Quantity quantity) { return quantity == Quantity::voltage ? "V" : "A"; }

std::string safe_serial(const std::string& serial) {
  std::string safe;
  for (char ch : serial) {
    bool keep = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-';
    if (keep && safe.size() < 40) safe += ch;
  }
  return safe.empty() ? "unknown" : safe;
}

Record build_record(const RunResult& run, const RecordContext& context) {
  const SupplyToleranceChoice supply = supply_tolerance_for(context.supply.identity.model);
  const ReferenceAccuracyChoice reference = reference_accuracy_for(context.reference.identity.model);
  FiguresUsed used;

  Record record;
  std::optional<Verdict> last_assessment;
  for (std::size_t i = 0; i < run.steps.size(); i++) {
    const StepResult& step = run.steps[i];
    RecordStep recorded = step.kind == StepKind::assessment
                              ? assessment_step(step, run.completed, supply, reference, context.decision_rule, used)
                              : calibration_step(step);
    if (step.kind == StepKind::assessment) last_assessment = recorded.summary.verdict;
    recorded.number = step.number > 0 ? step.number : static_cast<int>(i) + 1;
    recorded.kind = step.kind;
    recorded.title = record_text(step.title);
    recorded.completed = step.completed;
    recorded.quantity = step.quantity;
    record.steps.push_back(std::move(recorded));
  }

  // A: its assessment; F: its final assessment, the last step when the run got that far.
  if (run.procedure == Procedure::assessment) {
    record.overall_verdict = last_assessment.value_or(Verdict::incomplete);
  } else if (run.procedure == Procedure::full_voltage_calibration) {
    const bool final_reached =
        !run.steps.empty() && run.steps.back().kind == StepKind::assessment && run.steps.size() >= 3;
    record.overall_verdict = final_reached && last_assessment ? *last_assessment : Verdict::incomplete;
  } else if (run.procedure == Procedure::current_assessment) {
    // I: programming and readback together, the worse of the two.
    const RecordStep* step = record.steps.empty() ? nullptr : &record.steps.back();
    record.overall_verdict = Verdict::incomplete;
    if (step != nullptr && step->summary.readback)
      record.overall_verdict = overall_verdict({step->summary.verdict, step->summary.readback->verdict},
                                               run.completed && step->completed);
  }

  for (const AccuracyRange& figures : reference.row.ranges)
    record.reference_accuracy.ranges.push_back(range_of(figures, reference.assumed, reference.row.source));
  for (const AccuracyRange& figures : used.extra)
    record.reference_accuracy.ranges.push_back(range_of(figures, true, generic_reference_accuracy().source));

  record.record_id = record_text(context.record_id);
  record.program_name = "Trimora";
  record.program_version = record_text(context.program_version.empty() ? TRIMORA_VERSION : context.program_version);
  record.started = record_text(context.started);
  record.ended = record_text(context.ended);
  record.procedure = run.procedure;
  record.channel = run.channel;
  record.completed = run.completed;
  if (!run.completed)
    record.incomplete_reason = record_text(run.incomplete_reason.empty() ? "not completed" : run.incomplete_reason);
  record.supply = instrument_of(context.supply);
  record.reference = instrument_of(context.reference);
  record.session = context.session;
  record.reference_calibration = context.reference_calibration;
  if (record.reference_calibration) record.reference_calibration->serial.clear();
  record.reference_overdue = context.reference_calibration && context.reference_overdue;
  const DecisionRule& rule = decision_rule(context.decision_rule);
  record.format_version = RECORD_FORMAT_VERSION;
  record.decision_rule = rule.text;
  record.decision_rule_name = rule.name;
  record.decision_rule_reference = rule.reference;
  record.tolerance = RecordTolerance{
      supply.row.model, supply.assumed,
      supply.assumed ? std::string("assumed for an unknown model: ") + supply.row.source
                     : std::string(supply.row.source),
      supply.row.voltage, supply.row.current, supply.row.voltage_readback, supply.row.current_readback,
      supply.assumed ? std::string("assumed for an unknown model: ") + supply.row.readback_source
                     : std::string(supply.row.readback_source)};
  record.reference_accuracy.model = reference.row.model;
  record.reference_accuracy.assumed = reference.assumed;
  record.reference_accuracy.source =
      reference.assumed ? std::string("assumed for an unknown DMM, as a generic 6½-digit class: ") + reference.row.source
                        : std::string(reference.row.source);
  if (run.corrections) {  // to 0.1 µV, as the console shows them
    record.corrections.emplace();
    for (const CorrectionEntry& entry : *run.corrections)
      record.corrections->push_back(CorrectionEntry{entry.set, decimals_rounded(entry.correction_v, 7)});
  }
  for (const std::string& error : run.supply_errors) record.supply_errors.push_back(record_text(error));
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

// Numbers as the JSON writes them ("." decimal point), none as an empty cell.
std::string number_cell(std::optional<double> value) { return value ? record_number_text(*value) : ""; }

}  // namespace

std::string record_csv(const Record& record) {
  std::string csv =
      "record_id,supply_serial,channel,procedure,started,dmm_serial,overall_verdict,"
      "step,kind,title,phase,index,set_V,set_A,reading_V,reading_A,"
      "error_mV,tolerance_mV,uncertainty_mV,acceptance_limit_mV,tur_ratio,tur_below_4,uncertainty_range_V,"
      "uncertainty_assumed,verdict,reported_V,reported_A,reported_to_supply,incomplete_reason,"
      "error_mA,tolerance_mA,uncertainty_mA,acceptance_limit_mA,readback_V,readback_A,readback_error_mV,"
      "readback_error_mA,readback_tolerance_mV,readback_tolerance_mA,readback_acceptance_limit_mV,"
      "readback_acceptance_limit_mA,readback_verdict\r\n";
  // The cells after incomplete_reason, empty.
  const std::string no_more = std::string(13, ',') + "\r\n";
  // Every row names its record, so that rows from many records can go into one table.
  const std::string head = csv_cell(record.record_id) + "," + csv_cell(record.supply.serial) + "," +
                           std::to_string(record.channel) + "," + procedure_name(record.procedure) + "," +
                           csv_cell(record.started) + "," + csv_cell(record.reference.serial) + "," +
                           (record.overall_verdict ? verdict_text(*record.overall_verdict) : "") + ",";
  const std::string tail = "," + csv_cell(record.incomplete_reason.value_or(""));
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  // A value in the column of its unit, the other left empty: "1.5," or ",0.25".
  const auto in_unit = [](Quantity quantity, std::optional<double> value) {
    return quantity == Quantity::voltage ? number_cell(value) + "," : "," + number_cell(value);
  };
  std::size_t rows = 0;
  for (const RecordStep& step : record.steps) {
    const bool assessment = step.kind == StepKind::assessment;
    const std::string step_head = head + std::to_string(step.number) + "," +
                                  (assessment ? "assessment" : "calibration") + "," + csv_cell(step.title) + ",";
    // A current step's figures are in mA, in the columns after incomplete_reason.
    const bool volts = step.quantity == Quantity::voltage;
    const auto mV = [volts](std::optional<double> value) { return volts ? number_cell(value) : std::string(); };
    const auto mA = [volts](std::optional<double> value) { return volts ? std::string() : number_cell(value); };
    for (const AssessedPoint& p : step.points) {
      const std::optional<AssessedReadback>& r = p.readback;
      csv += step_head + "," + std::to_string(p.index) + "," + in_unit(step.quantity, p.set) + "," +
             in_unit(step.quantity, p.reading) + "," + mV(p.error_mV) + "," + mV(p.tolerance_mV) + "," +
             mV(p.uncertainty_mV) + "," + mV(p.acceptance_limit_mV) + "," + number_cell(p.tur) + "," +
             flag(p.tur_below_4) + "," + number_cell(p.uncertainty_range) + "," + flag(p.uncertainty_assumed) +
             "," + verdict_text(p.verdict) + ",,," + tail + "," + mA(p.error_mV) + "," + mA(p.tolerance_mV) + "," +
             mA(p.uncertainty_mV) + "," + mA(p.acceptance_limit_mV) + "," +
             (r ? in_unit(step.quantity, r->value) + "," + in_unit(step.quantity, r->error_mV) + "," +
                      in_unit(step.quantity, r->tolerance_mV) + "," + in_unit(step.quantity, r->acceptance_limit_mV) +
                      "," + verdict_text(r->verdict)
                : std::string(8, ',')) +
             "\r\n";
      rows++;
    }
    for (const RecordPhase& phase : step.phases) {
      for (const CalibrationPoint& p : phase.points) {
        csv += step_head + csv_cell(phase.name) + "," + std::to_string(p.index) + "," +
               in_unit(step.quantity, p.set) + "," + in_unit(step.quantity, p.reading) + ",,,,,,,,,," +
               in_unit(step.quantity, p.reported) + "," + flag(p.reported_to_supply) + tail + no_more;
        rows++;
      }
    }
  }
  // A run stopped before its first point still says which record it is and why it ended.
  if (rows == 0) csv += head + std::string(21, ',') + csv_cell(record.incomplete_reason.value_or("")) + no_more;
  return csv;
}

std::string record_base_name(const Record& record) {
  std::string stamp;
  for (char ch : record.started.substr(0, 19)) {
    if (ch >= '0' && ch <= '9') stamp += ch;
  }
  if (stamp.size() == 14) {
    stamp.insert(8, "T");
  } else {
    stamp = "00000000T000000";
  }
  const int channel = record.channel < 0 || record.channel > 99 ? 0 : record.channel;
  return stamp + "_" + safe_serial(record.supply.serial) + "_" + procedure_key(record.procedure) + "_CH" +
         std::to_string(channel);
}
