// The calibration record and its pages: the record built from a run, written, read back, refused when
// damaged or foreign and never overwritten; the plot's scale and markers, escaping of instrument texts,
// the certificate's choice of as found and as left, and the history index over good, damaged and newer
// records.
#include "records/record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "records/certificate.h"
#include "records/dcc.h"
#include "records/history_index.h"
#include "records/html_escape.h"
#include "records/record_codec.h"
#include "records/record_file.h"
#include "records/record_page.h"
#include "records/record_time.h"
#include "tools/sample_records.h"
#include "records/svg_plot.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;

std::size_t count(const std::string& text, const std::string& what) { return occurrences(text, what); }

RecordContext bench_context(const std::string& supply_identity = "RIGOL TECHNOLOGIES,DP832,DP8/C 1,00.01.14") {
  RecordContext context;
  context.supply = {parse_identity(supply_identity), "127.0.0.1", 5555};
  context.reference = {parse_identity("ACME,34401A,MY1,2.0"), "127.0.0.1", 5024};
  ZonedTime start{{2026, 12, 8, 19, 57, 44}, 60};
  context.started = iso8601_local(start);
  context.ended = "2026-12-08T19:58:31+01:00";
  context.record_id = make_record_id(start, context.supply.identity.serial, "A", 3);
  return context;
}

// An A run on CH3 stopped by a DMM failure at its fourth point.
RunResult stopped_assessment() {
  RunResult run;
  run.procedure = Procedure::assessment;
  run.channel = 3;
  StepResult& step = begin_step(run, StepKind::assessment, "Assessment");
  add_assessed_point(step, 0.0, 0.0003);   // |e| 0.3 mV: PASS
  add_assessed_point(step, 0.25, 0.2701);  // 20.1 mV against T 20.125, U 0.59: INDETERMINATE
  add_assessed_point(step, 0.5, 0.53);     // 30 mV: FAIL
  add_assessed_point(step, 0.75, std::nullopt);
  mark_incomplete(run, "DMM reading failed at point 3");
  return run;
}

// A current step with the supply's readback, one readback missing.
RunResult current_assessment() {
  RunResult run;
  StepResult& step = begin_step(run, StepKind::assessment, "Assessment", Quantity::current);
  add_assessed_point(step, 0.3, 0.3011, 0.2996);
  add_assessed_point(step, 0.6, 0.6008, NAN);
  step.completed = true;
  run.completed = true;
  return run;
}

// ---- The record and its CSV. ----

TEST(RecordBuild, AssessmentPointsSummaryAndIdentity) {
  Record record = build_record(stopped_assessment(), bench_context());
  EXPECT_EQ(record.started, "2026-12-08T19:57:44+01:00");
  EXPECT_EQ(record.record_id.rfind("20261208T195744+0100-DP8C1-A-CH3-", 0), 0u);
  EXPECT_EQ(record_base_name(record), "20261208T195744_DP8C1_A_CH3");
  EXPECT_EQ(record.incomplete_reason, "DMM reading failed at point 3");
  EXPECT_EQ(record.supply.serial, "DP8/C 1");
  ASSERT_EQ(record.steps.size(), 1u);
  const std::vector<AssessedPoint>& points = record.steps[0].points;
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[0].verdict, Verdict::pass);
  EXPECT_EQ(points[1].verdict, Verdict::indeterminate);
  EXPECT_EQ(points[2].verdict, Verdict::fail);
  EXPECT_EQ(points[3].verdict, Verdict::no_reading);
  EXPECT_FALSE(points[3].reading);
  EXPECT_NEAR(points[2].error_mV.value_or(0), 30.0, 1e-9);
  EXPECT_NEAR(points[1].tolerance_mV, 20.125, 1e-9);
  EXPECT_EQ(points[0].uncertainty_range, 10.0);  // the 1 V range on the 10 V figures
  const StepSummary& summary = record.steps[0].summary;
  EXPECT_NEAR(summary.sum_of_squares_mV2.value_or(0), 0.09 + 20.1 * 20.1 + 900.0, 1e-6);
  EXPECT_NEAR(summary.max_abs_error_mV.value_or(0), 30.0, 1e-9);
  EXPECT_EQ(summary.counts[3], 1);  // NO READING
  EXPECT_EQ(summary.verdict, Verdict::fail);
  EXPECT_EQ(record.overall_verdict, Verdict::fail);
}

TEST(RecordBuild, FullCalibrationStepsCorrectionsAndOverall) {
  RunResult run;
  run.procedure = Procedure::full_voltage_calibration;
  run.channel = 1;
  begin_phase(begin_step(run, StepKind::calibration, "Factory voltage calibration"), "V-DAC");
  add_calibration_point(run.steps.back(), 0.2, 0.2003, 0.2003, true);
  begin_step(run, StepKind::assessment, "After factory calibration").number = 2;
  add_assessed_point(run.steps.back(), 0.2, 0.2001);
  StepResult& corrected = begin_step(run, StepKind::calibration, "With corrections", Quantity::voltage, true);
  corrected.number = 2;
  begin_phase(corrected, "V-DAC");
  add_calibration_point(corrected, 0.2, std::nullopt, std::nullopt, false);
  run.corrections = std::vector<CorrectionEntry>{{0.2, 0.0001}};
  begin_step(run, StepKind::assessment, "Final").number = 3;
  add_assessed_point(run.steps.back(), 0.2, 0.2);
  run.steps.back().completed = true;
  run.completed = true;

  Record record = build_record(run, bench_context());
  ASSERT_EQ(record.steps.size(), 4u);
  EXPECT_EQ(record.steps[1].number, 2);
  EXPECT_EQ(record.steps[2].number, 2);
  const CalibrationPoint& unreported = record.steps[2].phases.at(0).points.at(0);
  EXPECT_FALSE(unreported.reported_to_supply);
  EXPECT_FALSE(unreported.reading);
  ASSERT_TRUE(record.corrections);
  EXPECT_EQ(record.corrections->at(0).correction_v, 0.0001);
  // The earlier assessment is incomplete; the overall verdict is the final one's.
  EXPECT_EQ(record.overall_verdict, Verdict::pass);
  EXPECT_FALSE(record.incomplete_reason);
}

// The chosen rule decides the point between T - U and T, and the record says which rule it was. By
// hand at 0.2701 V (1 V range, the 10 V row): a = 0.0035 % · 0.2701 V + 0.0005 % · 10 V = 59.45 µV,
// r = 1 µV, supply 1 mV: u_c = √(34.3255² + 0.2887² + 288.6751²) µV = 290.709 µV, U = 0.59 mV. Under
// simple, 20.1 mV passes against T = 20.125 mV with P(|true error| > T) = 46.57 %.
TEST(RecordBuild, DecisionRuleChosenWithBudgetAndRisk) {
  const struct {
    DecisionRuleKind rule;
    const char* name;
    const char* reference_part;
    std::vector<Verdict> verdicts;
    std::optional<double> second_accept_risk;
    std::optional<double> largest_accept_risk;
  } cases[] = {
      {DecisionRuleKind::guard_band, "guard-band", "4.2.2",
       {Verdict::pass, Verdict::indeterminate, Verdict::fail, Verdict::no_reading}, std::nullopt, 0.0},
      {DecisionRuleKind::simple, "simple", "4.2.1", {Verdict::pass, Verdict::pass, Verdict::fail, Verdict::no_reading},
       0.4657, 0.4657},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordContext context = bench_context();
    context.decision_rule = c.rule;
    const Record written = build_record(stopped_assessment(), context);
    const Result<Record> read = parse_record(record_json_text(written));
    ASSERT_TRUE(read.ok()) << read.reason();
    const Record& record = *read;
    EXPECT_EQ(record.format_version, 2);
    EXPECT_EQ(record.decision_rule_name, c.name);
    EXPECT_NE(record.decision_rule_reference.find(c.reference_part), std::string::npos);
    const RecordStep& step = record.steps.at(0);
    for (std::size_t i = 0; i < c.verdicts.size(); i++) EXPECT_EQ(step.points[i].verdict, c.verdicts[i]) << i;
    const AssessedPoint& edge = step.points[1];
    ASSERT_EQ(edge.uncertainty_budget.size(), 3U);
    const double expected_u[] = {0.0343255, 0.0002887, 0.2886751};
    double squares = 0.0;
    for (std::size_t i = 0; i < 3; i++) {
      EXPECT_NEAR(edge.uncertainty_budget[i].standard_uncertainty, expected_u[i], 1e-6) << i;
      squares += edge.uncertainty_budget[i].standard_uncertainty * edge.uncertainty_budget[i].standard_uncertainty;
    }
    EXPECT_NEAR(edge.combined_standard_uncertainty, std::sqrt(squares), 1e-6);
    EXPECT_NEAR(edge.combined_standard_uncertainty, 0.290709, 1e-6);
    EXPECT_EQ(edge.coverage_factor, 2.0);
    EXPECT_EQ(edge.uncertainty_mV, 0.59);
    EXPECT_FALSE(edge.repeatability_evaluated);
    EXPECT_EQ(edge.false_accept_risk, c.second_accept_risk);
    EXPECT_EQ(step.points[0].false_accept_risk, 0.0);
    EXPECT_EQ(step.points[2].false_reject_risk, 0.0);  // 30 mV is 34 u_c beyond T
    EXPECT_EQ(step.summary.max_false_accept_risk, c.largest_accept_risk);
    // A pass above 2 % is named in words on the index and flagged in the page's table.
    const bool risky = c.rule == DecisionRuleKind::simple;
    EXPECT_EQ(render_history_index({index_entry(record, "a.json")}, {}).find("above 2 %") != std::string::npos, risky);
    EXPECT_EQ(render_record_page(record).find("<span class=\"flag\">false accept 46.57 %") != std::string::npos, risky);
    EXPECT_EQ(render_certificate({record}, {"a.json"}).find("1 pass carries a risk of a false accept above 2 %") !=
                  std::string::npos,
              risky);
  }
}

TEST(RecordCsv, RecordColumnsUnitsDigitsAndReason) {
  RunResult run = stopped_assessment();
  run.steps[0].title = "Say \"hi\", then";
  add_assessed_point(run.steps[0], 6.0, 6.077);  // 77 mV, as (6.077 - 6.0) * 1000 is not in binary
  add_assessed_point(run.steps[0], 0.4, 0.41749);  // a reading that a plain JSON writer gives 17 digits
  const Record record = build_record(run, bench_context());
  const std::string csv = record_csv(record);
  ASSERT_EQ(csv.rfind("record_id,supply_serial,channel,procedure,started,dmm_serial,overall_verdict,step,kind,title,"
                      "phase,index,set_V,set_A,reading_V,reading_A,error_mV,tolerance_mV,uncertainty_mV,"
                      "acceptance_limit_mV,tur_ratio,tur_below_4,uncertainty_range_V,uncertainty_assumed,verdict,"
                      "reported_V,reported_A,reported_to_supply,incomplete_reason,error_mA,tolerance_mA,"
                      "uncertainty_mA,acceptance_limit_mA,readback_V,readback_A,readback_error_mV,readback_error_mA,"
                      "readback_tolerance_mV,readback_tolerance_mA,readback_acceptance_limit_mV,"
                      "readback_acceptance_limit_mA,readback_verdict\r\n", 0), 0u);
  const std::string head = record.record_id + ",DP8/C 1,3,assessment,2026-12-08T19:57:44+01:00,MY1,FAIL,1,assessment,";
  // U = 2 u_c rounded up: 0.5802, 0.5840 and 0.6522 mV (see the decision-rule test for the budget).
  for (const char* row : {"0,0.0,,0.0003,,0.3,20.0,0.59,19.41,33.9,false,10.0,false,PASS,,,,",
                          "3,0.75,,,,,20.375,0.59,19.785,34.5,false,10.0,false,NO READING,,,,",
                          "4,6.0,,6.077,,77.0,23.0,0.66,22.34,34.8,false,10.0,false,FAIL,,,,"})
    EXPECT_NE(csv.find("\r\n" + head + "\"Say \"\"hi\"\", then\",," + row + "DMM reading failed at point 3,,,,,,,,,,,,,\r\n"),
              std::string::npos) << row << "\n" << csv;
  EXPECT_NE(csv.find(",5,0.4,,0.41749,,17.49,"), std::string::npos) << csv;
  EXPECT_NE(record_json_text(record).find("\"reading\": 0.41749,"), std::string::npos);
  // A run stopped before its first point: one row that names the record and the reason.
  run.steps.clear();
  const std::string none = record_csv(build_record(run, bench_context()));
  EXPECT_TRUE(none.ends_with(",3,assessment,2026-12-08T19:57:44+01:00,MY1,INCOMPLETE" + std::string(22, ',') +
                             "DMM reading failed at point 3" + std::string(13, ',') + "\r\n")) << none;
  // A current calibration's values in the columns in A.
  const std::string current = record_csv(sample_record("C", 3, "2026-12-08T20:03:30+00:00", 1));
  EXPECT_NE(current.find(",I-DAC,0,,0.1,,0.100203,,,,,,,,,,,0.100203,true," + std::string(13, ',') + "\r\n"),
            std::string::npos) << current;
  EXPECT_NE(current.find(",I-meter,0,,0.0,,0.0002,,,,,,,,,,,,false," + std::string(13, ',') + "\r\n"),
            std::string::npos) << current;
  // A current assessment's figures in mA, and its readback, in the columns after the reason; both U from
  // the budget (0.401 mA accuracy and 0.5 mA setting or readback resolution, rectangular: U = 0.75 mA).
  const std::string amps = record_csv(build_record(current_assessment(), bench_context()));
  EXPECT_NE(amps.find(",0,,0.3,,0.3011,,,,,14.1,false,1.0,false,PASS,,,,,1.1,10.6,0.75,9.85,,0.2996,,-1.5,,5.452,,"
                      "4.702,PASS\r\n"),
            std::string::npos) << amps;
}

std::vector<Record> every_kind_of_record();

TEST(RecordCodec, EveryKindOfRecordReadsBackAsWritten) {
  for (const Record& record : every_kind_of_record()) {
    const std::string text = record_json_text(record);
    const Result<Record> read = parse_record(text);
    ASSERT_TRUE(read.ok()) << read.reason();
    EXPECT_EQ(record_json_text(*read), text);
    EXPECT_EQ(record_csv(*read), record_csv(record));
  }
}

// A folder for records, removed afterwards.
class RecordFolder : public testing::Test {
 protected:
  WorkingFolder work;
  fs::path dir = work.path();
  std::string folder() const { return work.path() + "/records"; }
  Record record = build_record(stopped_assessment(), bench_context());
};

// ---- The published schema. ----

using Json = nlohmann::json;
const std::string kSource = TRIMORA_TEST_DATA "/../..";

// Whether the members of value are the ones schema node names, all of them and no other, down to the
// last point. The types and values are scripts/validate_records.py's to check.
bool members_fit(const Json& value, const Json& node, const Json& schema) {
  if (node.contains("$ref"))
    return members_fit(value, schema["$defs"][node["$ref"].get<std::string>().substr(8)], schema);
  if (node.contains("oneOf"))
    return std::any_of(node["oneOf"].begin(), node["oneOf"].end(), [&](const Json& n) { return members_fit(value, n, schema); });
  if (value.is_array())
    return node.contains("items") &&
           std::all_of(value.begin(), value.end(), [&](const Json& v) { return members_fit(v, node["items"], schema); });
  if (!value.is_object()) return !node.contains("properties") && !node.contains("items");
  if (!node.contains("properties") || node["required"].size() != value.size()) return false;
  return std::all_of(value.items().begin(), value.items().end(), [&](const auto& member) {
    return node["properties"].contains(member.key()) && members_fit(member.value(), node["properties"][member.key()], schema);
  });
}

std::vector<Record> every_kind_of_record() {
  RecordContext unknown = bench_context("ACME,PS-1,S1,1");
  unknown.reference.identity.model = "DMM-X";  // assumed figures for both instruments
  Record format_1 = sample_record("A", 2, "2026-12-08T19:50:00+00:00", 3);
  format_1.format_version = 1;  // written as the program wrote it before budgets
  return {format_1, sample_record("A", 3, "2026-12-08T19:57:44+00:00", 24), sample_record("V", 3, "2026-12-08T19:59:10+00:00", 1),
          sample_record("C", 2, "2026-12-08T20:00:00+00:00", 1), sample_record("F", 1, "2026-12-08T20:03:30+00:00", 8),
          build_record(stopped_assessment(), unknown), build_record(current_assessment(), bench_context())};
}

TEST(RecordSchema, NamesEveryMemberTheCodecWrites) {
  const Json schema = Json::parse(read_file(kSource + "/schema/trimora-calibration-record.schema.json"));
  for (const Record& record : every_kind_of_record()) {
    Json json = Json::parse(record_json(record, -1));
    EXPECT_TRUE(members_fit(json, schema, schema)) << record_json(record, 2);
    json["steps"][0]["added"] = 1;
    EXPECT_FALSE(members_fit(json, schema, schema));
  }
}

// The schema's own validator over records as written, and over records one change away from them.
TEST_F(RecordFolder, SchemaValidatorTakesRecordsAndRefusesUnknownMembers) {
  for (const Record& r : every_kind_of_record()) ASSERT_TRUE(write_record_json(folder(), r).ok());
  const std::string out = work.path() + "/validator.txt";
  const int status =
      std::system(("sh " + kSource + "/scripts/validate_records.sh --self-test " + folder() + " >" + out + " 2>&1").c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << read_file(out);
  EXPECT_NE(read_file(out).find("7 passed, 0 failed"), std::string::npos) << read_file(out);
}

TEST_F(RecordFolder, RoundTripAndNeverOverwrite) {
  std::string first_text;
  for (int n = 1; n <= 3; n++) {
    Result<std::string> written = write_record_json(folder(), record);
    ASSERT_TRUE(written.ok()) << written.reason();
    ASSERT_TRUE(write_record_csv(*written, record).ok());
    std::string base = folder() + "/20261208T195744_DP8C1_A_CH3" + (n == 1 ? "" : "_" + std::to_string(n));
    EXPECT_EQ(*written, base + ".json");
    Result<Record> read = read_record(*written);
    ASSERT_TRUE(read.ok()) << read.reason();
    // What is read back writes the same file again, byte for byte, and the same CSV.
    EXPECT_EQ(record_json_text(*read), read_file(*written));
    EXPECT_EQ(read_file(base + ".csv"), record_csv(*read));
    if (n == 1) first_text = read_file(*written);
  }
  EXPECT_FALSE(write_record_csv(folder() + "/20261208T195744_DP8C1_A_CH3.json", record).ok()) << "never overwrites";
  EXPECT_EQ(read_file(folder() + "/20261208T195744_DP8C1_A_CH3.json"), first_text);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder())) {
    files++;
    EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left: " << entry.path();
  }
  EXPECT_EQ(files, 6);
}

TEST_F(RecordFolder, FailureAsAValueWithAReason) {
  std::ofstream(folder()) << "a file where the folder should be";
  Result<std::string> in_place = write_record_json(folder(), record);
  EXPECT_FALSE(in_place.ok());
  EXPECT_NE(in_place.reason().find("not a folder"), std::string::npos) << in_place.reason();

  std::string read_only = work.path() + "/locked";
  ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
  if (access(read_only.c_str(), W_OK) == 0) read_only = "/proc/self";  // root writes anywhere else
  Result<std::string> locked = write_record_json(read_only, record);
  EXPECT_FALSE(locked.ok());
  EXPECT_NE(locked.reason().find("cannot create a file in " + read_only), std::string::npos) << locked.reason();
}

struct DamagedCase {
  const char* name;
  std::string (*damage)(std::string);
  const char* error_part;
};

class RecordReader : public RecordFolder, public testing::WithParamInterface<DamagedCase> {};

TEST_P(RecordReader, RefusesDamagedOrForeignFiles) {
  std::string text = GetParam().damage(record_json_text(record));
  Result<Record> read = parse_record(text);
  EXPECT_FALSE(read.ok());
  EXPECT_NE(read.reason().find(GetParam().error_part), std::string::npos) << read.reason();
  std::string path = work.path() + "/damaged.json";
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(read_record(path).reason(), path + ": " + read.reason());
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordReader,
    testing::Values(
        DamagedCase{"Truncated", [](std::string t) { return t.substr(0, t.size() / 2); }, "cut short"},
        DamagedCase{"Empty", [](std::string) { return std::string(); }, "cut short"},
        DamagedCase{"OtherFormat", [](std::string t) { return replaced(t, "trimora-calibration-record", "x"); },
                    "not a calibration record"},
        DamagedCase{"NewerVersion", [](std::string t) { return replaced(t, "version\": 2", "version\": 3"); }, "newer"},
        DamagedCase{"StepsNotAList", [](std::string t) { return replaced(t, "\"steps\": [", "\"steps\": 0, \"a\":["); },
                    "\"steps\""},
        DamagedCase{"NotAnObject", [](std::string) { return std::string("[1, 2]"); }, "JSON object"},
        DamagedCase{"VerdictNotKnown", [](std::string t) { return replaced(t, "\"FAIL\"", "\"MAYBE\""); },
                    "\"verdict\" is not a verdict"},
        DamagedCase{"PointWithoutSet", [](std::string t) { return replaced(t, "\"set\": 0.0", "\"sat\": 0.0"); },
                    "\"set\" is missing or not a number"},
        DamagedCase{"ChannelOutOfRange", [](std::string t) { return replaced(t, "\"channel\": 3", "\"channel\": 99"); },
                    "\"channel\" is not 1, 2 or 3"},
        DamagedCase{"SerialNotText", [](std::string t) { return replaced(t, "\"serial\": \"DP8/C 1\"", "\"serial\": 8"); },
                    "\"serial\" is missing or not a text"},
        DamagedCase{"PointsNull", [](std::string t) { return replaced(t, "\"points\": [", "\"points\": null, \"x\": ["); },
                    "a step holds no points"},
        DamagedCase{"HugeReading", [](std::string t) { return replaced(t, "\"reading\": 0.0003", "\"reading\": 1e308"); },
                    "\"reading\" is not a finite number"},
        DamagedCase{"NumberBeyondAnyFigure", [](std::string t) { return replaced(t, "\"set\": 0.0", "\"set\": -1e101"); },
                    "\"set\" is not a finite number"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The pages. ----

struct ScaleCase {
  double lo, hi, want_lo, want_hi, want_step;
};
class RoundScale : public testing::TestWithParam<ScaleCase> {};

TEST_P(RoundScale, HoldsTheRangeWithRoundTicks) {
  const auto c = GetParam();
  const AxisScale s = round_scale(c.lo, c.hi, 8);
  EXPECT_DOUBLE_EQ(s.lo, c.want_lo);
  EXPECT_DOUBLE_EQ(s.hi, c.want_hi);
  EXPECT_DOUBLE_EQ(s.step, c.want_step);
  ASSERT_GE(s.ticks.size(), 2u);
  EXPECT_LE(s.ticks.size(), 10u);
  const double mantissa = s.step / std::pow(10.0, std::floor(std::log10(s.step)));
  EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9);
  for (double t : s.ticks) EXPECT_NEAR(std::remainder(t, s.step), 0.0, 1e-12) << t;
  EXPECT_DOUBLE_EQ(s.ticks.front(), s.lo);
  EXPECT_DOUBLE_EQ(s.ticks.back(), s.hi);
}

INSTANTIATE_TEST_SUITE_P(Ranges, RoundScale,
                         testing::Values(ScaleCase{0, 5.25, 0, 6, 1}, ScaleCase{0.2, 32, 0, 35, 5},
                                         ScaleCase{-3, 40, -10, 40, 10}, ScaleCase{0.02, 0.09, 0.02, 0.09, 0.01},
                                         ScaleCase{7.5, 7.5, 3, 12, 1}, ScaleCase{0, 0, -1, 1, 0.5},
                                         ScaleCase{40, -3, -10, 40, 10}, ScaleCase{NAN, 1, 0, 1, 0.2},
                                         ScaleCase{-0.0042, -0.0011, -0.0045, -0.001, 0.0005},
                                         ScaleCase{1234, 98765, 0, 100000, 20000},
                                         ScaleCase{-2.5e-7, 3.1e-7, -3e-7, 4e-7, 1e-7},
                                         ScaleCase{-17.5, -2.5, -18, -2, 2}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

PlotPoint point(double set, std::optional<double> error, const char* verdict) {
  return {set, error, 0.5 * set + 20, 0.05, verdict};
}

struct PlotCase {
  const char* name;
  std::vector<PlotSeries> series;
  std::size_t crosses, squares;  // FAIL and NO READING markers expected, legend included
};
class ErrorPlot : public testing::TestWithParam<PlotCase> {};

TEST_P(ErrorPlot, StaysFiniteAndMarksEveryPoint) {
  const std::string svg = svg_error_plot(GetParam().series, "V", "plot");
  EXPECT_EQ(svg.find("nan"), std::string::npos) << svg;
  EXPECT_EQ(svg.find("inf"), std::string::npos) << svg;
  EXPECT_EQ(svg.rfind("<svg", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 6), "</svg>");
  EXPECT_EQ(count(svg, "stroke=\"#d55e00\" stroke-width=\"3\""), GetParam().crosses);
  EXPECT_EQ(count(svg, "stroke=\"#606060\" stroke-width=\"2\""), GetParam().squares);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ErrorPlot,
    testing::Values(PlotCase{"empty", {}, 1, 1}, PlotCase{"single", {{"s", {point(5, 1.0, "PASS")}}}, 1, 1},
                    PlotCase{"all_equal", {{"s", {point(2, 3.0, "PASS"), point(2, 3.0, "PASS")}}}, 1, 1},
                    PlotCase{"no_reading", {{"s", {point(1, {}, "NO READING"), point(2, 30.0, "FAIL")}}}, 2, 2},
                    PlotCase{"beyond_any_scale",
                             {{"s", {{1e308, 1e308, 1e308, 1e308, "FAIL"}, {-1e308, -1e308, 1e308, 0, "FAIL"},
                                     {NAN, 1.0, NAN, NAN, "PASS"}, {2, INFINITY, INFINITY, NAN, "FAIL"}}}},
                             3, 2},
                    PlotCase{"two_series_and_markup",
                             {{"<b>a</b>", {point(1, 0.1, "PASS")}}, {"b&c", {point(1, 21, "INDETERMINATE")}}}, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorPlot, SeriesNamesAreEscaped) {
  const std::string svg = svg_error_plot({{"<b>a</b>", {point(1, 0.1, "PASS")}}, {"b&c", {}}}, "V", "\"x\"");
  EXPECT_EQ(svg.find("<b>"), std::string::npos);
  EXPECT_NE(svg.find("&lt;b&gt;a&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(svg.find("b&amp;c"), std::string::npos);
  EXPECT_NE(svg.find("aria-label=\"&quot;x&quot;\""), std::string::npos);
}

// An instrument that answers its identification with markup.
Record hostile_record() {
  auto r = sample_record("A", 3, "2026-12-08T19:57:44+00:00", 1.0, "<script>alert(1)</script>");
  r.supply.maker = "\"quoted\" & <b>bold</b>";
  r.reference.model = "<img src=x onerror=alert(2)>";
  r.supply.address = "127.0.0.1\"><script>";
  return r;
}

TEST(PageEscaping, InstrumentTextsAppearAsText) {
  const auto r = hostile_record();
  for (const std::string& page : {render_record_page(r), render_certificate({r}, {"a.json"}),
                                  render_history_index({index_entry(r, "<x>.json")}, {{"<y>.json", "<why>"}})}) {
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<x>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  }
  const std::string page = render_record_page(r);
  EXPECT_NE(page.find("&quot;quoted&quot; &amp; &lt;b&gt;bold&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("127.0.0.1&quot;&gt;&lt;script&gt;:5555"), std::string::npos);
  // Control characters are shown, not passed.
  EXPECT_EQ(html_escape(std::string("a\x1b[2Jb\r\tc\n'", 11)), "a\xEF\xBF\xBD[2Jb\xEF\xBF\xBD\tc\n&#39;");
}

TEST(RecordPage, FullCalibrationPlotsItsAssessmentsTogetherAfterTheVerdict) {
  const std::string page = render_record_page(sample_record("F", 1, "2026-12-08T20:03:30+00:00", 8));
  // One plot per figure measured, voltage programming and readback, each with both assessments.
  EXPECT_EQ(count(page, "class=\"plot\""), 2u);
  EXPECT_EQ(count(page, "class=\"legend\""), 2u);
  EXPECT_LT(page.find("Overall verdict: PASS"), page.find("<svg"));
  EXPECT_LT(page.find("Decision rule:"), page.find("<svg"));
  const auto legend = page.substr(page.find("class=\"legend\""));
  EXPECT_NE(legend.find("After factory calibration"), std::string::npos);
  EXPECT_NE(legend.find("Final"), std::string::npos);
  EXPECT_NE(page.find("<table class=\"points\" data-rows=\"36\"><thead><tr><th>Set (V)</th><th>Correction"),
            std::string::npos);
  EXPECT_EQ(count(page, "class=\"points assessment\" data-rows=\"36\""), 2u);
}

// A current step: its two plots in mA, a TUR below 4 said in words, and on the certificate the voltage
// figures as not verified.
TEST(RecordPage, CurrentFiguresAndALowTurInWords) {
  RunResult run = current_assessment();
  add_assessed_point(run.steps[0], 3.0, 3.001, 3.004);  // TUR 3.8 programming, 2.3 readback
  const Record record = build_record(run, bench_context());
  const std::string page = render_record_page(record);
  EXPECT_EQ(count(page, "class=\"plot\""), 2u);
  EXPECT_EQ(count(page, "Error, readback \xe2\x88\x92 reading (mA)"), 1u);
  EXPECT_NE(page.find("below 4 at 1 of 3 points of the programming and at 1 of 3 points of the readback"),
            std::string::npos);
  const std::string certificate = render_certificate({record}, {"a.json"});
  EXPECT_EQ(count(certificate, "not verified in this run"), 2u);
  EXPECT_EQ(count(certificate, "not measured"), 0u);
}

// The channel's statement of conformity covers every figure measured as left: a current assessment run
// after a passing voltage one, or a failing readback, makes it "does not conform".
TEST(Certificate, ConformityCoversEveryFigureAsLeft) {
  RunResult run = current_assessment();
  run.procedure = Procedure::current_assessment;
  run.channel = 3;
  Record voltage = sample_record("A", 3, "2026-12-08T19:57:44+00:00", 1.0);
  const std::string passing = render_certificate({voltage}, {"a.json"});
  EXPECT_NE(passing.find("Conforms:"), std::string::npos);
  add_assessed_point(run.steps[0], 3.0, 3.001, 3.2);  // programming within T, readback far outside
  Record current = build_record(run, bench_context());
  current.channel = 3;
  current.supply = voltage.supply;
  const std::string c = render_certificate({voltage, current}, {"a.json", "i.json"});
  EXPECT_NE(c.find("Does not conform"), std::string::npos);
  EXPECT_EQ(c.find("Conforms:"), std::string::npos);
  EXPECT_NE(c.find("<h3>Voltage</h3>"), std::string::npos);
  EXPECT_NE(c.find("<h3>Current</h3>"), std::string::npos);
  // The DCC keeps each quantity's own as found: the current assessment is not the voltage's as left.
  const std::string dcc = render_dcc({voltage, current}, CertificateIssue{"X-2026-0001", "2026-12-08", sample_lab()});
  EXPECT_NE(dcc.find("As found, current output"), std::string::npos);
  EXPECT_EQ(dcc.find("As left, current output"), std::string::npos);
}

TEST(RecordPage, IncompleteRunShowsWhyAndItsMissingReadings) {
  auto r = sample_record("A", 3, "2026-12-08T20:01:02+00:00", 1);
  r.completed = false;
  r.incomplete_reason = "DMM reading failed at point 11";
  r.overall_verdict = Verdict::incomplete;
  for (int i : {11, 12}) {
    AssessedPoint& p = r.steps[0].points.at(static_cast<std::size_t>(i));
    p.reading = p.error_mV = std::nullopt;
    p.verdict = Verdict::no_reading;
  }
  r.tolerance.assumed = true;
  const std::string page = render_record_page(r);
  EXPECT_NE(page.find("NO</span>: DMM reading failed at point 11"), std::string::npos);
  EXPECT_NE(page.find("Overall verdict: INCOMPLETE"), std::string::npos);
  EXPECT_EQ(count(page, "<tr class=\"no-reading\">"), 2u);
  EXPECT_NE(page.find("ASSUMED"), std::string::npos);
  const auto plot = page.substr(page.find("class=\"plot\""), page.find("</svg>") - page.find("class=\"plot\""));
  EXPECT_EQ(count(plot, "stroke=\"#606060\" stroke-width=\"2\""), 3u);  // two on the frame, one in the legend
}

struct HistoryCase {
  const char* name;
  std::vector<std::pair<std::string, int>> runs;  // procedure key and channel, in run order
  int channel;
  std::optional<StepRef> found, left;
  std::size_t adjustments;
};
class CertificateChoice : public testing::TestWithParam<HistoryCase> {};

TEST_P(CertificateChoice, AsFoundAndAsLeft) {
  const auto& c = GetParam();
  std::vector<Record> records;
  for (const auto& [key, ch] : c.runs) records.push_back(sample_record(key, ch, "2026-12-08T19:57:44+00:00", 1.0));
  const auto history = select_channel_history(records);
  const auto it = std::find_if(history.begin(), history.end(), [&](auto& h) { return h.channel == c.channel; });
  ASSERT_NE(it, history.end());
  EXPECT_EQ(it->as_found, c.found);
  EXPECT_EQ(it->as_left, c.left);
  EXPECT_EQ(it->adjustments.size(), c.adjustments);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CertificateChoice,
    testing::Values(HistoryCase{"A_V_A", {{"A", 3}, {"V", 3}, {"A", 3}}, 3, StepRef{0, 0}, StepRef{2, 0}, 1},
                    HistoryCase{"F_alone", {{"F", 1}}, 1, std::nullopt, StepRef{0, 3}, 1},
                    HistoryCase{"V_alone", {{"V", 3}}, 3, std::nullopt, std::nullopt, 1},
                    HistoryCase{"A_A", {{"A", 3}, {"A", 3}}, 3, StepRef{0, 0}, StepRef{1, 0}, 0},
                    HistoryCase{"A_F_then_C", {{"A", 1}, {"F", 1}, {"C", 1}}, 1, StepRef{0, 0}, std::nullopt, 2},
                    HistoryCase{
                        "other_channel_apart", {{"A", 1}, {"V", 3}, {"A", 3}}, 1, StepRef{0, 0}, StepRef{0, 0}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CertificateChoice, FinalStepOfAnUnfinishedFullCalibrationIsNotAsLeft) {
  auto f = sample_record("F", 1, "2026-12-08T19:57:44+00:00", 1.0);
  f.steps.pop_back();  // stopped after the calibration with corrections
  const auto history = select_channel_history({sample_record("A", 1, "2026-12-08T19:50:00+00:00", 1.0), f});
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].as_found, (StepRef{0, 0}));
  EXPECT_FALSE(history[0].as_left);
  EXPECT_NE(conformity_statement("", false).find("No statement"), std::string::npos);
}

TEST_F(RecordFolder, IndexListsGoodRecordsAndSkipsDamagedAndNewerOnes) {
  auto json = [](const char* key, const char* started, double drift) {
    return record_json_text(sample_record(key, 3, started, drift));
  };
  write_file(dir / "20261208T195744_S1_A_CH3.json", json("A", "2026-12-08T19:57:44+00:00", 1));
  write_file(dir / "20250101T100000_S1_A_CH3.json", json("A", "2025-01-01T10:00:00+00:00", 9));
  write_file(dir / "20261208T200000_S1_V_CH3.json", json("V", "2026-12-08T20:00:00+00:00", 1));
  Record format_1 = sample_record("A", 3, "2024-06-01T10:00:00+00:00", 2);
  format_1.format_version = 1;
  write_file(dir / "20240601T100000_S1_A_CH3.json", record_json_text(format_1));
  const std::string other = json("A", "2026-12-08T19:00:00+00:00", 1);
  write_file(dir / "newer.json", replaced(other, "version\": 2", "version\": 3"));
  write_file(dir / "damaged.json", other.substr(0, 300));
  write_file(dir / "foreign.json", replaced(other, "trimora-calibration-record", "something else"));

  const auto result = write_history_index(dir);
  ASSERT_TRUE(result.ok()) << result.reason();
  const std::string page = read_file(*result);
  EXPECT_NE(page.find("data-rows=\"4\""), std::string::npos);  // one group of four records
  EXPECT_NE(page.find("<p>4 records, 1 supply, newest first.</p>"), std::string::npos);
  // Both formats read and shown: format 1's U as what it was, format 2's with its budgets.
  const Result<Record> old_one = read_record((dir / "20240601T100000_S1_A_CH3.json").string());
  const Result<Record> new_one = read_record((dir / "20261208T195744_S1_A_CH3.json").string());
  ASSERT_TRUE(old_one.ok() && new_one.ok());
  const std::string old_page = render_record_page(*old_one), new_page = render_record_page(*new_one);
  EXPECT_NE(old_page.find("reference accuracy limit (format 1)"), std::string::npos);
  EXPECT_EQ(old_page.find("<details"), std::string::npos);
  EXPECT_EQ(new_page.find("(format 1)"), std::string::npos);
  EXPECT_EQ(count(new_page, "<details class=\"budget\">"), 2u);  // the programming's and the readback's
  EXPECT_NE(new_page.find("Uncertainty budget of each point: the readback"), std::string::npos);
  EXPECT_NE(new_page.find("ILAC-G8:09/2019 section 4.2.2"), std::string::npos);
  const auto single = index_entry(sample_record("A", 3, "2026-12-08T19:57:44+00:00", 1), "a.json");
  const std::string one = render_history_index({single}, {});
  EXPECT_NE(one.find("<p>1 record, 1 supply, newest first.</p>"), std::string::npos);
  EXPECT_EQ(page.find("CH1</h3>"), std::string::npos);         // the skipped CH1 records make no group
  const auto v = page.find("20261208T200000_S1_V_CH3.html"), a = page.find("20261208T195744_S1_A_CH3.html"),
             old = page.find("20250101T100000_S1_A_CH3.html");
  EXPECT_TRUE(v < a && a < old) << "newest first";
  EXPECT_NE(page.find("damaged.json: not a readable record"), std::string::npos);
  EXPECT_NE(page.find("newer.json: record format version 3 is newer"), std::string::npos);
  EXPECT_NE(page.find("foreign.json: not a calibration record"), std::string::npos);
  EXPECT_EQ(count(page, "class=\"trend\""), 1u);
}

// What else can lie in a shared folder under a record's name: none of it is read, and each is listed
// with its reason. A named pipe would hold the index up for good; /dev/zero would fill the memory.
TEST_F(RecordFolder, IndexReadsOnlyRegularFilesOfARecordsSize) {
  write_file(dir / "good.json", record_json_text(sample_record("A", 3, "2026-12-08T19:57:44+00:00", 1)));
  ASSERT_EQ(mkfifo((dir / "pipe.json").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", dir / "zero.json");
  fs::create_directory(dir / "folder.json");
  write_file(dir / "big.json", std::string(RECORD_MAX_BYTES + 1, ' '));
  fs::create_symlink(dir / "good.json", dir / "link.json");  // a link to a record is read as the record
  const auto result = write_history_index(dir);
  ASSERT_TRUE(result.ok()) << result.reason();
  const std::string page = read_file(*result);
  EXPECT_NE(page.find("<p>2 records, 1 supply"), std::string::npos);
  for (const char* skipped : {"pipe.json: not a regular file (a named pipe)", "zero.json: not a regular file (a device)",
                              "folder.json: not a regular file (a folder)", "big.json: larger than 4194304 bytes"})
    EXPECT_NE(page.find(skipped), std::string::npos) << skipped;
}

// Records, pages and the index are for everyone who shares the folder to read, as the umask allows.
TEST_F(RecordFolder, FilesTakeTheModeOfANewFile) {
  const mode_t before = umask(022);
  const auto json = write_record_json(folder(), record);
  const bool written = json.ok() && write_record_csv(*json, record).ok() && write_record_page(record, *json).ok() &&
                       write_history_index(folder()).ok();
  umask(before);
  ASSERT_TRUE(written) << json.reason();
  for (const char* file : {".json", ".csv", ".html", "index.html"}) {
    const std::string path = *file == '.' ? fs::path(*json).replace_extension(file).string() : folder() + "/" + file;
    struct stat info {};
    EXPECT_TRUE(stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0644) << path << " " << std::oct << info.st_mode;
  }
}

TEST_F(RecordFolder, IndexOfAThousandRecordsIsQuick) {
  auto r = sample_record("A", 3, "2026-01-01T00:00:00+00:00", 1);
  for (int i = 0; i < 1000; ++i) {
    r.started = "2026-01-01T00:00:" + std::to_string(10000 + i) + "+00:00";
    r.supply.serial = "S" + std::to_string(i % 7);
    write_file(dir / ("r" + std::to_string(i) + ".json"), record_json(r, -1));
  }
  const auto start = std::chrono::steady_clock::now();
  const auto result = write_history_index(dir);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(result.ok()) << result.reason();
  // The sanitizers slow every allocation several times over; the limit is for the program as shipped.
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(seconds, 20.0);
#else
  EXPECT_LT(seconds, 2.0);
#endif
  const std::string page = read_file(*result);
  EXPECT_EQ(count(page, "<tr><td class=\"v\"><a href="), 1000u);
}

TEST_F(RecordFolder, PagesOfAWrittenRecord) {
  const auto context = bench_context("RIGOL TECHNOLOGIES,DP832,DP8<b>1,00.01.14");
  const Record built = build_record(stopped_assessment(), context);
  const auto written = write_record_json(dir.string(), built);
  ASSERT_TRUE(written.ok()) << written.reason();
  const auto page = write_record_page(built, *written);
  ASSERT_TRUE(page.ok()) << page.reason();
  const std::string html = read_file(*page);
  EXPECT_EQ(html, render_record_page(*read_record(*written))) << "the page shows what the file holds";
  EXPECT_NE(html.find("data-rows=\"4\""), std::string::npos);
  for (const char* row : {"<tr class=\"indeterminate\">", "<tr class=\"fail\">", "<tr class=\"no-reading\">"})
    EXPECT_EQ(count(html, row), 1u) << row;
  EXPECT_NE(html.find("Overall verdict: FAIL"), std::string::npos);
  EXPECT_NE(html.find("DP8&lt;b&gt;1"), std::string::npos);
  EXPECT_TRUE(write_history_index(dir).ok());
  const auto certificates = write_certificates(dir, {RunRecord{built, *written}});
  ASSERT_EQ(certificates.size(), 1u);
  ASSERT_TRUE(certificates[0].ok()) << certificates[0].reason();
  EXPECT_EQ(certificates[0]->page.filename(), "certificate_TRIMORA-2026-0001.html");
  EXPECT_FALSE(certificates[0]->dcc) << "a draft without a lab file";
}

TEST_F(RecordFolder, SampleRunWritesEveryPageCertificateAndIndex) {
  const auto run = write_sample_run(dir);
  ASSERT_TRUE(run.ok()) << run.reason();
  ASSERT_EQ(run->size(), 4u);
  EXPECT_TRUE(fs::exists(dir / "index.html"));
  EXPECT_TRUE(fs::exists(dir / "certificate_TSL-2026-0001.html"));
  EXPECT_TRUE(fs::exists(dir / "certificate_TSL-2026-0001.xml"));
  for (const auto& written : *run) {
    auto page = written.json_path;
    const std::string html = read_file(page.replace_extension(".html"));
    EXPECT_NE(html.find("The results relate only to the item calibrated."), std::string::npos) << page;
    EXPECT_EQ(html.substr(html.size() - 15), "</body></html>\n");
  }
  const std::string vpage = read_file(fs::path((*run)[1].json_path).replace_extension(".html"));
  EXPECT_EQ(count(vpage, "NO, not reported"), 1u);  // the sample keeps the meter's first point back
  EXPECT_EQ(count(vpage, "class=\"plot\""), 0u);

  const auto missing = read_record((dir / "absent.json").string());
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.reason().find("absent.json"), std::string::npos);
}

}  // namespace
