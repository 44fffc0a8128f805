// The measurement and output primitives: bytes on the wire, readings and their ok flag, path checks.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/instruments.h"
#include "link/primitives.h"
#include "platform/sleep.h"
#include "tests/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Tests in which the DMM must answer run in real time: under the test time scale its first line has
// only 10 ms to come, which a loaded machine can miss. Failures and silence use the test time scale.
class PrimitivesTest : public ::testing::Test {
 protected:
  static void real_time() { set_time_scale(1.0); }
  void SetUp() override { set_time_scale(0.1); }
  void TearDown() override {
    delete dmm_link;
    dmm_link = nullptr;
    delete psu_link;
    psu_link = nullptr;
    set_time_scale(1.0);
  }
  void attach(const ScriptedDmm& dmm) {
    delete dmm_link;
    dmm_link = new TcpLink("127.0.0.1", dmm.port());
    ASSERT_EQ(dmm_link->is_connected(), 1);
  }
  void attach(const ScriptedPsu& psu) {
    delete psu_link;
    psu_link = new TcpLink("127.0.0.1", psu.port());
    ASSERT_EQ(psu_link->is_connected(), 1);
  }
  // One reading from a DMM that answers with the given text.
  double reading_of(const std::string& answer, int& ok, const std::string& line_end = "\r\n") {
    ScriptedDmm dmm({answer}, "ACME,DMM9,SN123,1.0", line_end);
    attach(dmm);
    double value = dmm_read(ok);
    delete dmm_link;
    dmm_link = nullptr;
    return value;
  }
};

}  // namespace

// --- What goes on the wire

TEST_F(PrimitivesTest, DmmCommandsEndInACarriageReturnAlone) {
  real_time();
  ScriptedDmm dmm({"+1.00000000E+00"});
  attach(dmm);
  dmm_set_voltage_mode();
  dmm_set_current_mode();
  int ok = 0;
  dmm_read(ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(dmm.received(), "CONF:VOLT:DC AUTO\r*RST\rCONF:CURR:DC AUTO\rREAD?\r");
}

TEST_F(PrimitivesTest, PsuCommandIsSentAsGivenAndFollowedByADrain) {
  ScriptedPsu psu;
  attach(psu);
  const auto start = Clock::now();
  psu_command("OUTPUT CH1,ON\r\n");
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(elapsed, scaled_ms(PSU_DRAIN_MS));
  psu_command(":APPL CH2,5,2\r\n");
  ASSERT_TRUE(psu.wait_received(":APPL CH2,5,2\r\n"));
  EXPECT_EQ(psu.received(), "OUTPUT CH1,ON\r\n:APPL CH2,5,2\r\n");
}

// --- Readings

TEST_F(PrimitivesTest, GoodAnswerIsTheReading) {
  real_time();
  int ok = 0;
  EXPECT_DOUBLE_EQ(reading_of("+4.99870000E+00", ok, "\r\n"), 4.9987);
  EXPECT_EQ(ok, 1);
  ok = 0;
  EXPECT_DOUBLE_EQ(reading_of("+4.99870000E+00", ok, "\r"), 4.9987);
  EXPECT_EQ(ok, 1);
  ok = 0;
  EXPECT_DOUBLE_EQ(reading_of("-5.00000000E+00", ok), -5.0);
  EXPECT_EQ(ok, 1);
  ok = 0;
  EXPECT_DOUBLE_EQ(reading_of("+0.00000000E+00", ok), 0.0);
  EXPECT_EQ(ok, 1) << "a true zero is a reading";
}

TEST_F(PrimitivesTest, SuccessiveReadingsEachTakeTheirOwnAnswer) {
  real_time();
  ScriptedDmm dmm({"+1.00000000E+00", "+2.00000000E+00", "+3.00000000E+00"});
  attach(dmm);
  for (double expected : {1.0, 2.0, 3.0}) {
    int ok = 0;
    EXPECT_DOUBLE_EQ(dmm_read(ok), expected);
    EXPECT_EQ(ok, 1);
  }
}

TEST_F(PrimitivesTest, SilentDmmGivesAFailedReading) {
  int ok = 1;
  const auto start = Clock::now();
  EXPECT_EQ(reading_of(ScriptedDmm::SILENT, ok), FAILED_READING);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_EQ(ok, 0);
  EXPECT_GE(elapsed, scaled_ms(DMM_READ_PAUSE_MS) + scaled_ms(DMM_ANSWER_TIMEOUT_MS));
}

TEST_F(PrimitivesTest, AnswersWithoutAUsableNumberAreFailedReadings) {
  for (const char* answer : {"+9.90000000E+37", "-9.90000000E+37", "+9.91000000E+37", "ERROR", "", "+",
                             ".E+00", "nan", "inf", "-INF", "1e999"}) {
    int ok = 1;
    EXPECT_EQ(reading_of(answer, ok), FAILED_READING) << "answer '" << answer << "'";
    EXPECT_EQ(ok, 0) << "answer '" << answer << "'";
  }
}

TEST_F(PrimitivesTest, ConnectionDroppedInTheAnswerIsAFailedReading) {
  int ok = 1;
  EXPECT_EQ(reading_of(ScriptedDmm::DROP, ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
}

TEST_F(PrimitivesTest, ReadingOnAClosedLinkFails) {
  ScriptedDmm dmm({"+1.00000000E+00"});
  attach(dmm);
  dmm_link->close();
  int ok = 1;
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
}

// --- Path checks

namespace {

struct PathCase {
  char channel;
  bool voltage;
  const char* answer;
  int expected;
};

}  // namespace

namespace {

// Runs one path check against a DMM that answers with the given reading, and checks the DP832's
// command stream: on, source, off, whatever the result.
int run_path_check(const PathCase& c) {
  ScriptedDmm dmm({c.answer});
  ScriptedPsu psu;
  delete dmm_link;
  dmm_link = new TcpLink("127.0.0.1", dmm.port());
  delete psu_link;
  psu_link = new TcpLink("127.0.0.1", psu.port());
  const Channel channel = *Channel::from_key(c.channel);
  const int result = c.voltage ? check_voltage_path(channel) : check_current_path(channel);
  const std::string name = std::string("CH") + c.channel;
  const std::string expected = "OUTPUT " + name + ",ON\r\n:APPL " + name + (c.voltage ? ",5,2" : ",3,2") +
                               "\r\nOUTPUT " + name + ",OFF\r\n";
  EXPECT_TRUE(psu.wait_received("OFF\r\n"));
  EXPECT_EQ(psu.received(), expected);
  EXPECT_EQ(dmm.received(), "READ?\r");
  return result;
}

}  // namespace

TEST_F(PrimitivesTest, PathChecksPassFromTheirThresholdsUp) {
  real_time();
  const std::vector<PathCase> cases = {
      {'1', true, "+1.50000000E+00", 1},  {'1', true, "+1.49990000E+00", 0},
      {'2', true, "-5.00000000E+00", 0},  {'1', false, "+5.00000000E-01", 1},
      {'2', false, "+4.99900000E-01", 0},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string("channel ") + c.channel + (c.voltage ? " volts " : " amps ") + c.answer);
    EXPECT_EQ(run_path_check(c), c.expected);
  }
}

TEST_F(PrimitivesTest, PathChecksFailOnAFailedReadingAndStillSwitchTheOutputOff) {
  const std::vector<PathCase> cases = {
      {'3', true, ScriptedDmm::SILENT, 0},
      {'3', false, ScriptedDmm::SILENT, 0},
      {'2', true, "+9.90000000E+37", 0},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string("channel ") + c.channel + (c.voltage ? " volts " : " amps ") + c.answer);
    EXPECT_EQ(run_path_check(c), c.expected);
  }
}
