// The calibration record: built from a run, written beside the settings file, read back, refused when
// damaged or foreign, and never overwritten.
#include "records/record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_fixture.h"
#include "records/record_file.h"
#include "records/record_time.h"

namespace {

RecordContext bench_context() {
  RecordContext context;
  context.supply = {parse_identity("RIGOL TECHNOLOGIES,DP832,DP8/C 1,00.01.14"), "127.0.0.1", 5555};
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
  add_assessed_point(step, 0.25, 0.2701);  // 20.1 mV against T 20.125, U 0.059: INDETERMINATE
  add_assessed_point(step, 0.5, 0.53);     // 30 mV: FAIL
  add_assessed_point(step, 0.75, std::nullopt);
  mark_incomplete(run, "DMM reading failed at point 3");
  return run;
}

TEST(RecordBuild, AssessmentPointsSummaryAndIdentity) {
  RecordJson record = build_record(stopped_assessment(), bench_context());
  EXPECT_EQ(record["started"], "2026-12-08T19:57:44+01:00");
  EXPECT_EQ(record["record_id"].get<std::string>().rfind("20261208T195744+0100-DP8C1-A-CH3-", 0), 0u);
  EXPECT_EQ(record_base_name(record), "20261208T195744_DP8C1_A_CH3");
  EXPECT_EQ(record["incomplete_reason"], "DMM reading failed at point 3");
  EXPECT_EQ(record["supply"]["serial"], "DP8/C 1");
  const RecordJson& points = record["steps"][0]["points"];
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[0]["verdict"], "PASS");
  EXPECT_EQ(points[1]["verdict"], "INDETERMINATE");
  EXPECT_EQ(points[2]["verdict"], "FAIL");
  EXPECT_EQ(points[3]["verdict"], "NO READING");
  EXPECT_TRUE(points[3]["reading"].is_null());
  EXPECT_NEAR(points[2]["error_mV"].get<double>(), 30.0, 1e-9);
  EXPECT_NEAR(points[1]["tolerance_mV"].get<double>(), 20.125, 1e-9);
  EXPECT_EQ(points[0]["uncertainty_range"], 10.0);  // the 1 V range on the 10 V figures
  const RecordJson& summary = record["steps"][0]["summary"];
  EXPECT_NEAR(summary["sum_of_squares_mV2"].get<double>(), 0.09 + 20.1 * 20.1 + 900.0, 1e-6);
  EXPECT_NEAR(summary["max_abs_error_mV"].get<double>(), 30.0, 1e-9);
  EXPECT_EQ(summary["counts"]["NO READING"], 1);
  EXPECT_EQ(summary["verdict"], "FAIL");
  EXPECT_EQ(record["overall_verdict"], "FAIL");
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

  RecordJson record = build_record(run, bench_context());
  ASSERT_EQ(record["steps"].size(), 4u);
  EXPECT_EQ(record["steps"][1]["step"], 2);
  EXPECT_EQ(record["steps"][2]["step"], 2);
  EXPECT_EQ(record["steps"][2]["phases"][0]["points"][0]["reported_to_supply"], false);
  EXPECT_TRUE(record["steps"][2]["phases"][0]["points"][0]["reading"].is_null());
  EXPECT_EQ(record["corrections"][0]["correction_V"], 0.0001);
  // The earlier assessment is incomplete; the overall verdict is the final one's.
  EXPECT_EQ(record["overall_verdict"], "PASS");
  EXPECT_TRUE(record["incomplete_reason"].is_null());
}

TEST(RecordCsv, HeaderQuotingAndRows) {
  RunResult run = stopped_assessment();
  run.steps[0].title = "Say \"hi\", then";
  std::string csv = record_csv(build_record(run, bench_context()));
  std::string header =
      "step,kind,title,phase,index,set,unit,reading,error_mV,tolerance_mV,uncertainty_mV,acceptance_limit_mV,"
      "tur,"
      "verdict,reported,reported_to_supply\r\n";
  ASSERT_EQ(csv.rfind(header, 0), 0u);
  EXPECT_NE(csv.find("\r\n1,assessment,\"Say \"\"hi\"\", then\",,0,0.0,V,0.0003,0.3"), std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",,3,0.75,V,,,20.375,"), std::string::npos) << csv;  // no reading: empty cells
  EXPECT_NE(csv.find(",NO READING,,\r\n"), std::string::npos) << csv;
}

// A folder for records, removed afterwards.
class RecordFolder : public testing::Test {
 protected:
  WorkingFolder work;
  std::string folder() const { return work.path() + "/records"; }
  RecordJson record = build_record(stopped_assessment(), bench_context());
};

TEST_F(RecordFolder, RoundTripAndNeverOverwrite) {
  std::string first_text;
  for (int n = 1; n <= 3; n++) {
    RecordWrite written = write_record(folder(), record);
    ASSERT_TRUE(written.ok) << written.reason;
    std::string base = folder() + "/20261208T195744_DP8C1_A_CH3" + (n == 1 ? "" : "_" + std::to_string(n));
    EXPECT_EQ(written.json_path, base + ".json");
    EXPECT_EQ(written.csv_path, base + ".csv");
    RecordRead read = read_record(written.json_path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.record, record);
    EXPECT_EQ(read_file(written.csv_path), record_csv(record));
    if (n == 1) first_text = read_file(written.json_path);
  }
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
  RecordWrite in_place = write_record(folder(), record);
  EXPECT_FALSE(in_place.ok);
  EXPECT_NE(in_place.reason.find("not a folder"), std::string::npos) << in_place.reason;

  std::string read_only = work.path() + "/locked";
  ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
  if (access(read_only.c_str(), W_OK) == 0) read_only = "/proc/self";  // root writes anywhere else
  RecordWrite locked = write_record(read_only, record);
  EXPECT_FALSE(locked.ok);
  EXPECT_NE(locked.reason.find("cannot create a file in " + read_only), std::string::npos) << locked.reason;
}

struct DamagedCase {
  const char* name;
  std::string (*damage)(std::string);
  const char* error_part;
};

class RecordReader : public RecordFolder, public testing::WithParamInterface<DamagedCase> {};

TEST_P(RecordReader, RefusesDamagedOrForeignFiles) {
  std::string text = GetParam().damage(record.dump(2));
  RecordRead read = parse_record(text);
  EXPECT_FALSE(read.ok);
  EXPECT_NE(read.error.find(GetParam().error_part), std::string::npos) << read.error;
  std::string path = work.path() + "/damaged.json";
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_FALSE(read_record(path).ok);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordReader,
    testing::Values(
        DamagedCase{"Truncated", [](std::string t) { return t.substr(0, t.size() / 2); }, "cut short"},
        DamagedCase{"Empty", [](std::string) { return std::string(); }, "cut short"},
        DamagedCase{"OtherFormat",
                    [](std::string t) { return replaced(t, "trimora-calibration-record", "someone-else"); },
                    "not a calibration record"},
        DamagedCase{
            "NewerVersion",
            [](std::string t) { return replaced(t, "\"format_version\": 1", "\"format_version\": 2"); },
            "newer"},
        DamagedCase{
            "StepsNotAList",
            [](std::string t) { return replaced(t, "\"steps\": [", "\"steps\": \"none\", \"was\": ["); },
            "\"steps\""},
        DamagedCase{"NotAnObject", [](std::string) { return std::string("[1, 2]"); }, "JSON object"}),
    [](const testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

}  // namespace
