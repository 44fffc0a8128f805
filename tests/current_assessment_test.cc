// The current assessment: its command stream on the bench in memory, a DMM that sees no current in the
// path check, a stop during the sweep, and its records from the menu and from `trimora run`.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "app/trimora.h"
#include "calibration/current_assessment.h"
#include "calibration/run_recording.h"
#include "platform/stop_request.h"
#include "records/record.h"
#include "records/record_codec.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"
#include "tests/settings_checks.h"

namespace {

// Asks the run to stop, as Ctrl+C does, once it has taken this many points.
class StopAfterPoints final : public ProcedureObserver {
 public:
  explicit StopAfterPoints(int points) : left_(points) {}
  void point_taken(const PointResult& /*point*/) override {
    if (--left_ == 0) stop_request_interrupt();
  }

 private:
  int left_;
};

// Every point of a current record has a reading and the supply's readback, each with its verdict.
void expect_both_verdicts(const Record& record, int channel) {
  EXPECT_EQ(record.procedure, Procedure::current_assessment);
  EXPECT_EQ(record.channel, channel);
  EXPECT_TRUE(record.completed) << record.incomplete_reason.value_or("");
  ASSERT_EQ(record.steps.size(), 1U);
  const RecordStep& step = record.steps[0];
  EXPECT_EQ(step.quantity, Quantity::current);
  ASSERT_EQ(step.points.size(), 11U);
  for (const AssessedPoint& p : step.points) {
    ASSERT_TRUE(p.reading && p.readback && p.readback->value) << p.index;
    EXPECT_NE(p.verdict, Verdict::no_reading) << p.index;
    EXPECT_NE(p.readback->verdict, Verdict::no_reading) << p.index;
  }
  EXPECT_NEAR(step.points[10].set, 3.0, 1e-12);
  ASSERT_TRUE(step.summary.readback);
  EXPECT_TRUE(record.overall_verdict);
}

class CurrentAssessmentTest : public ProgramTest {
 protected:
  ConsoleObserver shown{console};
  RunRecorder recorder{Procedure::current_assessment, CH3};
};

}  // namespace

TEST_F(CurrentAssessmentTest, SweepsInConstantCurrentAndEndsWithTheOutputOff) {
  connect_both();
  ObserverPair both(shown, recorder);
  ASSERT_TRUE(assess_current_accuracy(*instruments, CH3, both)) << out;

  std::vector<std::string> expected = {"OUTPUT CH3,ON", CONFIRM_QUERY, ":APPL CH3,3,0.1", CONFIRM_QUERY,
                                       "OUTPUT CH3,OFF", CONFIRM_QUERY, "OUTPUT CH3,ON", CONFIRM_QUERY};
  for (double set : CURRENT_SWEEP_POINTS)
    expected.insert(expected.end(), {text_of(":APPL CH3,3,%.4f", set), CONFIRM_QUERY, ":MEAS:CURR? CH3"});
  expected.insert(expected.end(), {"OUTPUT CH3,OFF", CONFIRM_QUERY, SUPPLY_ERROR_QUERY});
  EXPECT_EQ(psu_lines(), expected);
  EXPECT_EQ(dmm_lines()[1], "CONF:CURR:DC AUTO");
  EXPECT_FALSE(bench->output_on(3));
  EXPECT_EQ(occurrences(out, " A, Error: "), 11) << out;
  EXPECT_NE(out.find("Programming RMS Error: "), std::string::npos) << out;
  EXPECT_NE(out.find("   Readback RMS Error: "), std::string::npos) << out;
  RecordContext context;
  context.supply.identity.model = "DP832";
  expect_both_verdicts(build_record(recorder.run(), context), 3);
}

// Readings_Per_Point holds for the current assessment as for the voltage one: three READ? a point, the
// three kept for the point's repeatability.
TEST_F(CurrentAssessmentTest, ReadingsPerPointTakeTheirMean) {
  connect_both();
  instruments->readings_per_point = 3;
  ASSERT_TRUE(assess_current_accuracy(*instruments, CH3, recorder)) << out;
  const auto lines = dmm_lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "READ?"), 1 + 11 * 3);
  for (const PointResult& p : recorder.run().steps.at(0).phases.at(0).points) EXPECT_EQ(p.readings.size(), 3U);
}

TEST_F(CurrentAssessmentTest, DmmThatSeesNoCurrentStopsAtThePathCheck) {
  connect_both();
  bench->set_wire(0);
  ObserverPair both(shown, recorder);
  EXPECT_FALSE(assess_current_accuracy(*instruments, CH2, both));
  EXPECT_EQ(psu_lines(), (std::vector<std::string>{"OUTPUT CH2,ON", CONFIRM_QUERY, ":APPL CH2,3,0.1", CONFIRM_QUERY,
                                                   "OUTPUT CH2,OFF", CONFIRM_QUERY, SUPPLY_ERROR_QUERY}));
  EXPECT_FALSE(bench->output_on(2));
  EXPECT_EQ(out, "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
  EXPECT_FALSE(recorder.run().completed);
  EXPECT_TRUE(recorder.run().steps.empty());
}

TEST_F(CurrentAssessmentTest, StopDuringTheSweepSwitchesTheOutputOff) {
  connect_both();
  StopAfterPoints stop(4);
  ObserverPair both(stop, recorder);
  ObserverPair all(shown, both);
  EXPECT_FALSE(assess_current_accuracy(*instruments, CH3, all));
  stop_interrupt_taken();

  EXPECT_FALSE(bench->output_on(3));
  const std::vector<std::string> lines = psu_lines();
  EXPECT_EQ(occurrences(out, "ASSESSMENT ABORTED."), 1) << out;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), ":MEAS:CURR? CH3"), 4);
  ASSERT_GE(lines.size(), 3U);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"OUTPUT CH3,OFF", CONFIRM_QUERY, SUPPLY_ERROR_QUERY}));
  const Record record = build_record(recorder.run(), RecordContext{});
  EXPECT_FALSE(record.completed);
  EXPECT_NE(record.incomplete_reason.value_or("").find("aborted by the operator at the point set to 1.2000 A"),
            std::string::npos);
  ASSERT_EQ(record.steps.size(), 1U);
  EXPECT_EQ(record.steps[0].points.size(), 4U);
  EXPECT_EQ(record.overall_verdict, Verdict::incomplete);
}

// The menu's I and `trimora run assess-current 3 --yes`, each against the bench served on loopback.
TEST_F(CurrentAssessmentTest, MenuAndRunEachLeaveACurrentRecord) {
  options.measurement_time_ms = 0;
  start_bench();
  std::filesystem::create_directory("io");
  set_time_scale(RELIABLE_TIME_SCALE);  // the start-up's replies on a loaded machine
  before_key[0] = []() { set_time_scale(0.05); };
  keys("I3\rX");
  ASSERT_EQ(trimora_main(env, settings), 0);
  EXPECT_NE(out.find("I. Assess Channel Current Accuracy\n"), std::string::npos);
  EXPECT_NE(out.find("READY TO ASSESS CURRENT ON CH3. MAKE SURE THE DMM'S CURRENT INPUT IS\n"), std::string::npos);
  const std::size_t at = out.find("Record: ");
  ASSERT_NE(at, std::string::npos) << out;
  Result<Record> from_menu = read_record(out.substr(at + 8, out.find(".html", at) - at - 8) + ".json");
  ASSERT_TRUE(from_menu.ok()) << from_menu.reason();
  expect_both_verdicts(*from_menu, 3);
  EXPECT_FALSE(bench->output_on(3));

  Finished done = run_trimora({"run", "assess-current", "3", "--yes", "--records", "recs"});
  const std::size_t path = done.out.rfind("; record: ");
  ASSERT_NE(path, std::string::npos) << done.out << done.err;
  Result<Record> from_run = read_record(done.out.substr(path + 10, done.out.size() - path - 11));
  ASSERT_TRUE(from_run.ok()) << from_run.reason();
  expect_both_verdicts(*from_run, 3);
  EXPECT_EQ(done.code, *from_run->overall_verdict == Verdict::pass ? 0 : 1);
  EXPECT_FALSE(bench->output_on(3));
  EXPECT_EQ(psu_lines().back(), SUPPLY_ERROR_QUERY);
}
