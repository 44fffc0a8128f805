// The records the whole program leaves on the simulated bench, held against what the console showed:
// verdicts against their figures, F's steps and corrections, a DMM failing mid-run, an unwritable records
// folder, the certificate and index after X, the certificate to sign and its DCC. TRIMORA_PAGES_OUT receives
// the full run's records folder, TRIMORA_DCC_OUT that of the run with a lab file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "records/record_codec.h"
#include "tests/fault_fixture.h"

namespace {

const std::string MENU_TOP = "====================================================\n";

// One procedure as the console showed it: its text from the command key to its Record line, and the
// record read back from the JSON beside the page named there.
struct Shown {
  std::string text;
  std::string page;
  Record record;
};

std::vector<Shown> procedures_shown(const std::string& out) {
  std::vector<Shown> shown;
  const std::string marker = "Record: ";
  for (std::size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
    std::size_t begin = out.rfind("Command >", at);
    std::size_t end = out.find('\n', at);
    Shown s;
    s.text = out.substr(begin, at - begin);
    s.page = out.substr(at + marker.size(), end - at - marker.size());
    EXPECT_EQ(out.compare(end + 1, MENU_TOP.size(), MENU_TOP), 0) << "the menu follows the Record line";
    Result<Record> read = read_record(s.page.substr(0, s.page.size() - 5) + ".json");
    EXPECT_TRUE(read.ok()) << s.page << ": " << read.reason();
    if (read) s.record = *read;
    shown.push_back(s);
  }
  return shown;
}

// The text between the first from and the next to (or the end).
std::string between(const std::string& text, const std::string& from, const std::string& to) {
  std::size_t begin = text.find(from);
  if (begin == std::string::npos) return "";
  std::size_t end = text.find(to, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// An assessment step against its console text: each point's set value, error and reading; each verdict
// from its figures; the sum of squares and RMS printed; the step's verdict by the overall rule.
void expect_assessment_as_shown(const std::string& text, const RecordStep& step) {
  SCOPED_TRACE(step.title);
  std::vector<std::pair<double, double>> shown;  // set V, error mV
  const std::string marker = "Correction: Setpoint ";
  for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
    double set = 0, error = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at, "Correction: Setpoint %lf V, Error: %lf mV", &set, &error), 2);
    shown.emplace_back(set, error);
  }
  const std::vector<AssessedPoint>& points = step.points;
  ASSERT_EQ(points.size(), shown.size());
  bool any_fail = false, any_indeterminate = false;
  for (std::size_t i = 0; i < shown.size(); i++) {
    const AssessedPoint& p = points[i];
    ASSERT_TRUE(p.error_mV && p.reading) << i;
    const double e = *p.error_mV, t = p.tolerance_mV;
    const double u = p.uncertainty_mV;
    EXPECT_EQ(p.set, shown[i].first) << i;
    EXPECT_NEAR(e, shown[i].second, 0.0005) << i;
    // The record's figures are rounded: e, T and T − U to 1 µV, U to two significant digits.
    EXPECT_NEAR(*p.reading - shown[i].first, e / 1000.0, 0.5e-6 + 1e-12) << i;
    EXPECT_NEAR(p.acceptance_limit_mV, t - u, 0.0005 + 0.05 * u) << i;
    const Verdict verdict = std::fabs(e) <= t - u ? Verdict::pass : std::fabs(e) > t + u ? Verdict::fail : Verdict::indeterminate;
    EXPECT_EQ(p.verdict, verdict) << i << ": error " << e << ", T " << t << ", U " << u;
    any_fail = any_fail || p.verdict == Verdict::fail;
    any_indeterminate = any_indeterminate || p.verdict == Verdict::indeterminate;
  }
  double ss = 0, rms = 0;
  std::size_t at = text.find(" SS Error: ");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(std::sscanf(text.c_str() + at, " SS Error: %lf mV^2\nRMS Error: %lf mV", &ss, &rms), 2);
  EXPECT_NEAR(step.summary.sum_of_squares_mV2.value_or(-1), ss, 0.0000051);
  EXPECT_NEAR(step.summary.rms_error_mV.value_or(-1), rms, 0.0005 + 0.0000051);  // to 1 µV
  EXPECT_EQ(step.summary.verdict, any_fail ? Verdict::fail : any_indeterminate ? Verdict::indeterminate : Verdict::pass);
  EXPECT_TRUE(step.completed);
}

// A calibration step against its console text: each phase's points in order with the set value and
// the value reported as the console showed them, the reading beneath the correction when one was added.
void expect_calibration_as_shown(const std::string& text, const RecordStep& step,
                                 const std::optional<std::vector<CorrectionEntry>>& corrections) {
  SCOPED_TRACE(step.title);
  const std::vector<RecordPhase>& phases = step.phases;
  ASSERT_EQ(phases.size(), 2u);
  for (int field = 1; field >= 0; field--) {
    std::vector<double> sets, reported, corrections_shown;
    for (std::size_t at = text.find("] CAL:"); at != std::string::npos; at = text.find("] CAL:", at + 1)) {
      char kind[8] = "";
      int point = 0, f = 0;
      double value = 0;
      if (std::sscanf(text.c_str() + at, "] CAL:%4[A-Z] CH%*d,%*c,%d,%lf,%d", kind, &point, &value, &f) != 4 ||
          f != field)
        continue;
      (std::string(kind) == "SET" ? sets : reported).push_back(value);
      std::size_t c = text.rfind("CORRECTION: ", at);
      if (std::string(kind) == "MEAS" && c != std::string::npos && at - c < 30)
        corrections_shown.push_back(std::atof(text.c_str() + c + 12));
    }
    const std::vector<CalibrationPoint>& points = phases[static_cast<std::size_t>(1 - field)].points;
    ASSERT_EQ(points.size(), sets.size()) << "field " << field;
    ASSERT_EQ(reported.size(), sets.size()) << "every point reported";
    for (std::size_t i = 0; i < sets.size(); i++) {
      const CalibrationPoint& p = points[i];
      ASSERT_TRUE(p.reading && p.reported) << i;
      EXPECT_EQ(p.set, sets[i]) << i;
      EXPECT_EQ(*p.reported, reported[i]) << i;
      EXPECT_TRUE(p.reported_to_supply) << i;
      double correction = field == 1 && corrections ? (*corrections)[i].correction_v : 0.0;
      EXPECT_NEAR(*p.reading + correction, reported[i], 0.5e-6) << i;
    }
    if (field == 1 && corrections) {
      ASSERT_EQ(corrections_shown.size(), sets.size());
      for (std::size_t i = 0; i < sets.size(); i++)
        EXPECT_NEAR((*corrections)[i].correction_v * 1000.0, corrections_shown[i], 0.00005) << i;
    }
  }
  EXPECT_TRUE(step.completed);
}

class ProcedureRecordsTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    set_time_scale(RELIABLE_TIME_SCALE);  // the start-up's replies on a loaded machine
    before_key[0] = []() { set_time_scale(0.05); };
  }
};

}  // namespace

TEST_F(ProcedureRecordsTest, EveryProcedureLeavesARecordThatMatchesTheConsole) {
  start_bench();
  ASSERT_EQ(run("A3" "V3\r" "C3\r" "F1Y " "A3" "X"), 0);
  std::vector<Shown> shown = procedures_shown(out);
  ASSERT_EQ(shown.size(), 5u) << out;
  // Every record: its instruments; its CSV, a header and a row per point; its page linked from the
  // certificate of the supply and from the index, both written at X.
  std::string certificate = certificate_line();
  EXPECT_TRUE(out.ends_with("Command >X\n" + EXITING + certificate)) << out.substr(out.size() - 300);
  std::string certificate_page = read_file(certificate_path(certificate));
  std::string index = read_file("records/index.html");
  for (const Shown& s : shown) {
    EXPECT_TRUE(s.record.completed) << s.page;
    EXPECT_EQ(s.record.supply.serial, "SB83200001");
    EXPECT_EQ(s.record.supply.firmware, "00.01.16");
    EXPECT_EQ(s.record.supply.port, bench->psu_port());
    EXPECT_EQ(s.record.reference.model, "DMM-65");
    EXPECT_EQ(s.record.reference.port, bench->dmm_port());
    std::size_t points = 0;
    for (const RecordStep& step : s.record.steps) {
      points += step.points.size();
      for (const RecordPhase& phase : step.phases) points += phase.points.size();
    }
    const std::string csv = read_file(s.page.substr(0, s.page.size() - 5) + ".csv");
    EXPECT_EQ(static_cast<std::size_t>(occurrences(csv, "\r\n")), 1 + points) << s.page;
    const std::string file = s.page.substr(8);
    EXPECT_NE(certificate_page.find("href=\"" + file + "\""), std::string::npos) << file;
    EXPECT_NE(index.find("href=\"" + file + "\""), std::string::npos) << file;
  }
  const Record& a = shown[0].record;
  EXPECT_EQ(a.procedure, Procedure::assessment);
  EXPECT_EQ(a.channel, 3);
  ASSERT_EQ(a.steps.size(), 1u);
  expect_assessment_as_shown(shown[0].text, a.steps[0]);
  EXPECT_EQ(a.overall_verdict, a.steps[0].summary.verdict);

  for (std::size_t i : {1u, 2u}) {
    const Record& r = shown[i].record;
    EXPECT_EQ(r.procedure, i == 1 ? Procedure::voltage_calibration : Procedure::current_calibration);
    ASSERT_EQ(r.steps.size(), 1u);
    ASSERT_FALSE(r.steps[0].phases.empty());
    EXPECT_EQ(r.steps[0].phases[0].name, i == 1 ? "V-DAC" : "I-DAC");
    expect_calibration_as_shown(shown[i].text, r.steps[0], std::nullopt);
    EXPECT_FALSE(r.overall_verdict);
  }

  // F: calibration (1), assessment after it (2), calibration with its corrections (2), final (3).
  const Record& f = shown[3].record;
  const std::string& ft = shown[3].text;
  EXPECT_EQ(f.channel, 1);
  ASSERT_EQ(f.steps.size(), 4u);
  std::string steps;
  for (const RecordStep& step : f.steps)
    steps += std::to_string(step.number) + (step.kind == StepKind::assessment ? " assessment " : " calibration ") +
             step.title + "; ";
  EXPECT_EQ(steps, "1 calibration Factory voltage calibration; 2 assessment After factory calibration; "
                   "2 calibration With corrections; 3 assessment Final; ");
  expect_calibration_as_shown(between(ft, "STEP 1", "STEP 2"), f.steps[0], std::nullopt);
  std::string step2 = between(ft, "STEP 2", "STEP 3");
  expect_assessment_as_shown(step2.substr(0, step2.find("### Begin")), f.steps[1]);
  expect_calibration_as_shown(step2.substr(step2.find("### Begin")), f.steps[2], f.corrections);
  expect_assessment_as_shown(between(ft, "STEP 3", "Summary"), f.steps[3]);
  ASSERT_TRUE(f.corrections);
  ASSERT_EQ(f.corrections->size(), 36u);
  ASSERT_EQ(f.steps[1].points.size(), 36u);
  for (std::size_t i = 0; i < 36; i++) {
    const AssessedPoint& point = f.steps[1].points[i];
    EXPECT_EQ((*f.corrections)[i].set, point.set);
    EXPECT_NEAR((*f.corrections)[i].correction_v * 1000.0, point.error_mV.value_or(-1), 0.0005 + 1e-9);  // 0.1 µV against 1 µV
  }
  EXPECT_EQ(f.overall_verdict, f.steps[3].summary.verdict);
  ASSERT_EQ(shown[4].record.steps.size(), 1u);
  expect_assessment_as_shown(shown[4].text, shown[4].record.steps[0]);

  if (const char* keep = std::getenv("TRIMORA_PAGES_OUT")) {
    std::filesystem::remove_all(keep);
    std::filesystem::copy("records", keep, std::filesystem::copy_options::recursive);
  }
}

// The DMM falls silent mid-procedure: the record is written all the same, incomplete with the reason,
// and the points that got no reading have none (and were not reported to the supply).
TEST_F(ProcedureRecordsTest, DmmFailingMidRunLeavesAnIncompleteRecord) {
  struct Case {
    const char* keys;
    int readings_before;  // the menu's check, the path check, then this many points
    const char* reason;
  };
  for (const Case& c : {Case{"A3X", 2 + 5, "Assessment: the DMM reading failed at the point set to 1.2500 V"},
                        Case{"V3\rX", 2 + 20, "Factory voltage calibration: 4 of 24 points had no DMM measurement"}}) {
    SCOPED_TRACE(c.keys);
    fresh_run();
    before_key[0] = [this, c]() {
      set_time_scale(0.05);
      SimDmmFaults silent;
      silent.silent_from_reading = 1;
      faults_after_reading(c.readings_before, silent);
    };
    ASSERT_EQ(run(c.keys), 0);
    std::vector<Shown> shown = procedures_shown(out);
    ASSERT_EQ(shown.size(), 1u) << out;
    const Record& r = shown[0].record;
    EXPECT_FALSE(r.completed);
    const std::string reason = r.incomplete_reason.value_or("");
    EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    // Each point: whether it has a reading, and (assessed) its verdict or (calibrated) whether it was reported.
    struct Seen {
      bool has_reading;
      std::optional<bool> no_reading_verdict, reported;
    };
    std::vector<Seen> points;
    for (const RecordStep& step : r.steps) {
      EXPECT_FALSE(step.completed);
      for (const AssessedPoint& p : step.points)
        points.push_back({p.reading.has_value(), p.verdict == Verdict::no_reading, std::nullopt});
      for (const RecordPhase& phase : step.phases)
        for (const CalibrationPoint& p : phase.points)
          points.push_back({p.reading.has_value(), std::nullopt, p.reported_to_supply});
    }
    const std::size_t measured = static_cast<std::size_t>(c.readings_before - 2);
    ASSERT_GT(points.size(), measured);
    for (std::size_t i = 0; i < points.size(); i++) {
      EXPECT_EQ(!points[i].has_reading, i >= measured) << i;
      if (points[i].no_reading_verdict) {
        EXPECT_EQ(*points[i].no_reading_verdict, i >= measured) << i;
      }
      if (points[i].reported) {
        EXPECT_EQ(*points[i].reported, i < measured) << i;
      }
    }
    if (r.procedure == Procedure::assessment) {
      EXPECT_EQ(points.size(), measured + 1) << "the sweep stops at the failed point";
      EXPECT_NE(r.overall_verdict, Verdict::pass);
    }
  }
}

// Records cannot be written (a file where the folder should be): the warning replaces the Record line,
// there is no certificate, and everything else (console, instrument traffic, settings) is as it is when
// they can.
TEST_F(ProcedureRecordsTest, UnwritableRecordsFolderOnlyWarns) {
  std::vector<double> script = {5.0, 5.0};
  for (int i = 0; i < 22; i++) script.push_back(0.25 * i + 0.001 * (i + 1));
  std::string shown[2];
  std::vector<std::string> traffic[2];
  for (int writable = 0; writable < 2; writable++) {
    fresh_run();
    std::filesystem::remove_all("records");
    if (!writable) std::ofstream("records") << "not a folder";
    before_key[0] = [this, script]() {
      set_time_scale(0.05);
      bench->script_readings(script);
    };
    ASSERT_EQ(run("A3X"), 0);
    shown[writable] = mask_stamps(out);
    for (int port : {bench->dmm_port(), bench->psu_port()}) {
      for (std::size_t at = shown[writable].find(std::to_string(port)); at != std::string::npos;
           at = shown[writable].find(std::to_string(port)))
        shown[writable].replace(at, std::to_string(port).size(), "<port>");
    }
    traffic[writable] = psu_lines();
    EXPECT_NE(mask_stamps(read_file(SETTINGS_FILE_NAME)).find("Last_Run_Time    \"<stamp>\"\n"), std::string::npos);
    if (!writable) {
      EXPECT_EQ(read_file("records"), "not a folder");
    }
  }
  const std::string warning = "\aWARNING: THE RECORD COULD NOT BE WRITTEN: ";
  std::size_t at = shown[0].find(warning);
  ASSERT_NE(at, std::string::npos) << shown[0];
  std::size_t end = shown[0].find('\n', at);
  EXPECT_GT(end, at + warning.size()) << "the reason is given";
  std::string written = shown[1];
  std::size_t record = written.find("Record: records/");
  ASSERT_NE(record, std::string::npos);
  written.replace(record, written.find('\n', record) + 1 - record, shown[0].substr(at, end + 1 - at));
  written.erase(written.find("Certificate (draft: "));
  EXPECT_EQ(shown[0], written);
  EXPECT_EQ(traffic[0], traffic[1]);
}

namespace {

// A lab file beside the settings file whose register holds the simulated DMM, due on the date given.
void write_lab_file(const std::string& due) {
  write_file("trimora-lab.json",
             R"({"laboratory": {"name": "Bench Lab", "address": "1 Road", "city": "Town", "country": "DE"},
  "certificate_prefix": "LAB", "performance_location": "laboratory",
  "responsible_person": {"name": "B. Signer", "role": "Head"},
  "references": [{"serial": "SB65000001", "certificate": "C-77", "calibrated": "1999-01-01", "due": ")" +
                 due + R"(", "traceability": "Traceable to national standards."}]})");
}

}  // namespace

// The demo run with a lab file and the session details: a certificate to sign, and its DCC, which
// validates, carries the page's number and holds CH3 as found and as left with U and k.
TEST_F(ProcedureRecordsTest, LabFileAndSessionGiveACertificateToSignWithItsDcc) {
  start_bench();
  write_lab_file("2099-12-31");
  ASSERT_EQ(run("S\r\rACME Corp\r1 Road\rAS-7\r\r23.5\r45\r" "A3" "V3\r" "A3" "X"), 0);
  const std::string year = out.substr(out.find("Record: records/") + 16, 4);
  const std::string number = "LAB-" + year + "-0001";
  ASSERT_TRUE(out.ends_with(EXITING + "Certificate: records/certificate_" + number + ".html\nDCC: records/certificate_" +
                            number + ".xml\n"))
      << out.substr(out.size() - 300);
  const std::string page = read_file("records/certificate_" + number + ".html");
  EXPECT_EQ(page.find("DRAFT"), std::string::npos);
  for (const std::string& item : {number, std::string("ACME Corp"), std::string("AS-7"), std::string("23.5"),
                                   std::string("C-77"), std::string("B. Signer")})
    EXPECT_NE(page.find(item), std::string::npos) << item;
  if (const char* keep = std::getenv("TRIMORA_DCC_OUT")) {
    std::filesystem::remove_all(keep);
    std::filesystem::copy("records", keep, std::filesystem::copy_options::recursive);
  }
  if (dcc_schema_folder().empty()) GTEST_SKIP() << "no DCC schema set (TRIMORA_DCC_SCHEMA)";
  const std::string xml_path = "records/certificate_" + number + ".xml";
  EXPECT_EQ(dcc_schema_problem(xml_path), "");
  const std::string xml = read_file(xml_path);
  EXPECT_NE(xml.find("<dcc:uniqueIdentifier>" + number + "</dcc:uniqueIdentifier>"), std::string::npos);
  for (const char* result : {"As found, voltage output: ", "As found, voltage readback: ", "As left, voltage output: ",
                             "As left, voltage readback: "})
    EXPECT_EQ(occurrences(xml, result), 1) << result;
  EXPECT_EQ(occurrences(xml, "<si:coverageFactorXMLList>2</si:coverageFactorXMLList>"), 4);
}

// A reference past its due date: warned of at start and before the procedure, kept in the record.
TEST_F(ProcedureRecordsTest, OverdueReferenceIsWarnedOfAndRecorded) {
  start_bench();
  write_lab_file("2000-01-01");
  ASSERT_EQ(run("A3X"), 0);
  EXPECT_EQ(occurrences(out, "\aWARNING: THE DMM'S CALIBRATION WAS DUE ON 2000-01-01.\n"), 2) << out;
  const std::vector<Shown> shown = procedures_shown(out);
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_TRUE(shown[0].record.reference_calibration);
  EXPECT_TRUE(shown[0].record.reference_overdue);
  EXPECT_NE(read_file(certificate_path(out.substr(out.rfind("Certificate")))).find("WAS DUE ON 2000-01-01"),
            std::string::npos);
}
