// The calibration record: a run's result with the identities of both instruments, the tolerance and
// accuracy figures applied and a verdict per point. records/record_codec.h writes it as JSON (format
// "trimora-calibration-record") and reads it back; record_csv gives one CSV row per point.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "calibration/decision_rule.h"
#include "calibration/run_result.h"
#include "calibration/tolerances.h"
#include "link/identity.h"
#include "settings/lab_file.h"
#include "settings/session_details.h"

struct InstrumentRecord {
  Identity identity;
  std::string address;
  int port = 0;
};

// Everything about a run that is not measured: who, where and when.
struct RecordContext {
  InstrumentRecord supply;
  InstrumentRecord reference;
  std::string started;  // ISO 8601 local time with UTC offset, see iso8601_local
  std::string ended;
  std::string record_id;  // see make_record_id
  std::string program_version;
  SessionDetails session;  // as it stood when the procedure ran
  // The reference DMM's own calibration from the lab file's register; none when it is not there.
  std::optional<ReferenceEntry> reference_calibration;
  bool reference_overdue = false;  // its due date had passed on the day of the run
  DecisionRuleKind decision_rule = DecisionRuleKind::guard_band;  // the rule the verdicts follow
};

// An instrument as the record names it: its identification and where it was reached.
struct RecordInstrument {
  std::string maker;
  std::string model;
  std::string serial;
  std::string firmware;
  std::string address;
  int port = 0;
};

// The supply's tolerance row that was applied.
struct RecordTolerance {
  std::string model;
  bool assumed = false;
  std::string source;
  ToleranceFigure voltage{};
  ToleranceFigure current{};
  // The readback figures and their source; none in a record written before they were kept.
  std::optional<ToleranceFigure> voltage_readback;
  std::optional<ToleranceFigure> current_readback;
  std::string readback_source;
};

// One range of the DMM's figures that was applied, with where the figures come from.
struct RecordRange {
  AccuracyRange figures{};
  bool assumed = false;
  std::string source;
};

struct RecordAccuracy {
  std::string model;
  bool assumed = false;
  std::string source;
  std::vector<RecordRange> ranges;
};

// A component of a point's uncertainty budget, in the point's error unit (mV, or mA for current).
struct RecordBudgetComponent {
  std::string name;
  std::string source;
  std::string type;          // "A" or "B"
  std::string distribution;  // "rectangular" or "normal"
  std::optional<double> half_width;          // rectangular
  std::optional<double> standard_deviation;  // normal
  double standard_uncertainty = 0.0;
};

// The supply's readback at a point, judged against the DMM's reading, in mV (mA on a current step).
struct AssessedReadback {
  std::optional<double> value;  // the supply's readback, V or A; none: it gave no usable answer
  std::optional<double> error_mV;  // readback - reading
  double tolerance_mV = 0.0;       // taken at the DMM's reading
  double acceptance_limit_mV = 0.0;
  Verdict verdict = Verdict::no_reading;
  // Format 2 on: the readback's own U (its budget holds the supply's readback resolution), and the risk
  // that its verdict is wrong. A format 1 record judged the readback with the programming figure's U.
  std::optional<double> uncertainty_mV;
  std::vector<RecordBudgetComponent> uncertainty_budget;
  double coverage_factor = 0.0;
  double coverage_probability = 0.0;
  double combined_standard_uncertainty = 0.0;
  std::optional<double> false_accept_risk;
  std::optional<double> false_reject_risk;
};

// A point of an assessment with its figures (see calibration/step_figures.h), in mV where named so (mA
// on a current step).
struct AssessedPoint {
  int index = 0;
  double set = 0.0;
  std::optional<double> reading;  // none: the reading failed
  std::optional<double> error_mV;
  double tolerance_mV = 0.0;
  double uncertainty_mV = 0.0;
  double acceptance_limit_mV = 0.0;
  std::optional<double> tur;  // none when U is 0
  bool tur_below_4 = false;
  Verdict verdict = Verdict::no_reading;
  double uncertainty_range = 0.0;
  bool uncertainty_assumed = false;
  // Format 2 on: what U is made of (format 1 records have no budget and their U is the reference
  // DMM's accuracy limit), and the risk that the verdict is wrong.
  std::vector<RecordBudgetComponent> uncertainty_budget;
  double coverage_factor = 0.0;
  double coverage_probability = 0.0;
  double combined_standard_uncertainty = 0.0;
  int readings = 1;
  bool repeatability_evaluated = false;
  std::optional<double> false_accept_risk;
  std::optional<double> false_reject_risk;
  std::optional<AssessedReadback> readback;  // none when the step did not ask the readback
};

// The readback over an assessment step.
struct ReadbackSummary {
  std::optional<double> rms_error_mV;  // none when no point has a readback error
  std::optional<double> max_abs_error_mV;
  std::array<int, 4> counts{};  // by verdict: PASS, FAIL, INDETERMINATE, NO READING
  Verdict verdict = Verdict::incomplete;
  std::optional<double> max_false_accept_risk;  // format 2 on: the largest among the readback's passes
};

struct StepSummary {
  // None when no point has a reading.
  std::optional<double> sum_of_squares_mV2;
  std::optional<double> rms_error_mV;
  std::optional<double> max_abs_error_mV;
  std::array<int, 4> counts{};  // by verdict: PASS, FAIL, INDETERMINATE, NO READING
  Verdict verdict = Verdict::incomplete;
  std::optional<double> max_false_accept_risk;  // format 2 on: the largest among the passes
  std::optional<ReadbackSummary> readback;  // when the step asked the readback
};

// A point of a calibration: the reading and the value reported to the supply.
struct CalibrationPoint {
  int index = 0;
  double set = 0.0;
  std::optional<double> reading;
  std::optional<double> reported;
  bool reported_to_supply = false;
};

struct RecordPhase {
  std::string name;
  std::vector<CalibrationPoint> points;
};

struct RecordStep {
  int number = 0;  // as the console counts the steps (F: 1, 2, 2, 3)
  StepKind kind = StepKind::assessment;
  std::string title;
  bool completed = false;
  Quantity quantity = Quantity::voltage;
  // An assessment:
  std::vector<AssessedPoint> points;
  StepSummary summary;
  // A calibration:
  bool uses_corrections = false;
  std::vector<RecordPhase> phases;
};

struct Record {
  int format_version = 0;  // as read; build_record gives the version it writes
  std::string record_id;
  std::string program_name;
  std::string program_version;
  std::string started;
  std::string ended;
  Procedure procedure = Procedure::assessment;
  int channel = 0;
  bool completed = false;
  std::optional<std::string> incomplete_reason;  // none when completed
  RecordInstrument supply;
  RecordInstrument reference;
  std::string decision_rule;            // the rule in words
  std::string decision_rule_name;       // format 2 on: "guard-band" or "simple"
  std::string decision_rule_reference;  // format 2 on: the document the rule follows
  RecordTolerance tolerance;
  RecordAccuracy reference_accuracy;
  std::vector<RecordStep> steps;
  std::optional<std::vector<CorrectionEntry>> corrections;  // F only
  std::optional<Verdict> overall_verdict;                   // A, F and I only
  std::vector<std::string> supply_errors;
  SessionDetails session;
  std::optional<ReferenceEntry> reference_calibration;  // serial left empty: the reference's serial is above
  bool reference_overdue = false;
};

// The record of a run, ready to be written.
Record build_record(const RunResult& run, const RecordContext& context);

// The record as CSV: a header row, then one row per point of every step in order.
std::string record_csv(const Record& record);

// "A", "V", "C", "F" or "I"; "assessment", "voltage_calibration", ...
const char* procedure_key(Procedure procedure);
const char* procedure_name(Procedure procedure);
// "voltage" or "current"; "V" or "A".
const char* quantity_name(Quantity quantity);
const char* unit_name(Quantity quantity);

// The serial number reduced to [A-Za-z0-9-]; "unknown" when nothing is left.
std::string safe_serial(const std::string& serial);

// The file name without extension: <YYYYMMDDTHHMMSS>_<serial>_<key>_CH<n>, taken from the record.
std::string record_base_name(const Record& record);
