// The measurement and output primitives over in-memory links: bytes sent, readings or their failure,
// path checks, and the time each takes on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "calibration/path_checks.h"
#include "link/primitives.h"
#include "tests/fake_transport.h"
#include "tests/program_fixture.h"

namespace {

constexpr std::optional<double> FAILS = std::nullopt;  // the reading must fail

// The reading is the expected value, or a failure where none is expected.
void expect_reading(const Result<double>& reading, std::optional<double> expected) {
  ASSERT_EQ(reading.ok(), expected.has_value()) << (reading ? std::to_string(*reading) : reading.reason());
  if (expected) {
    EXPECT_DOUBLE_EQ(*reading, *expected);
  }
}

class PrimitivesTest : public ProgramTest {
 protected:
  PrimitivesTest() {
    scale = 1.0;
    env.virtual_clock = true;
  }
  // One reading from a DMM that answers with the given text.
  Result<double> reading_of(const std::string& answer, const std::string& line_end = "\r\n") {
    install_dmm(*instruments, fake_dmm({answer}, "ACME,DMM9,SN123,1.0", line_end));
    return dmm().read();
  }
};

}  // namespace

// --- What goes on the wire, and when

TEST_F(PrimitivesTest, DmmCommandsEndInACarriageReturnAlone) {
  FakeTransport& fake =
      install_dmm(*instruments, fake_dmm({"+1.00000000E+00"}, "ACME,DMM9,SN123,1.0", "\r\n", 7));
  EXPECT_TRUE(dmm().set_voltage_mode());
  EXPECT_TRUE(dmm().set_current_mode());
  expect_reading(dmm().read(), 1.0);
  EXPECT_EQ(fake.sent, "CONF:VOLT:DC AUTO\rSYST:ERR?\r*RST\rCONF:CURR:DC AUTO\rSYST:ERR?\rREAD?\r");
  // Each command follows the drains before it: 10 after each function, 10 before each question (its
  // answer taken 7 ms later, as soon as it comes), 100 + 10 for the current mode's drains before its
  // function. A drain that finds the line feed left after an answer waits its interval twice.
  EXPECT_EQ(fake.sent_at, (std::vector<long long>{0, 20, 227, 237, 257, 284}));
  EXPECT_EQ(fake.clock_ms, 284 + 7);
}

TEST_F(PrimitivesTest, PsuCommandIsSentAsGivenAndFollowedByADrain) {
  FakeTransport& fake = install_psu(*instruments, fake_psu());
  psu().command("OUTPUT CH1,ON\r\n");
  EXPECT_EQ(fake.clock_ms, PSU_DRAIN_MS);
  psu().command(":APPL CH2,5,2\r\n");
  EXPECT_EQ(fake.sent, "OUTPUT CH1,ON\r\n:APPL CH2,5,2\r\n");
}

// --- Readings: a number is the reading (a true zero too); an answer without a usable one fails.

struct ReadingCase {
  std::string answer;
  std::optional<double> value;  // FAILS: the reading fails
  const char* line_end = "\r\n";
};

class ReadingTest : public PrimitivesTest, public ::testing::WithParamInterface<ReadingCase> {};

TEST_P(ReadingTest, AnswerIsTheReadingOrFails) {
  const ReadingCase& c = GetParam();
  expect_reading(reading_of(c.answer, c.line_end), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadingTest,
    ::testing::Values(ReadingCase{"+4.99870000E+00", 4.9987}, ReadingCase{"+4.99870000E+00", 4.9987, "\r"},
                      ReadingCase{"-5.00000000E+00", -5.0}, ReadingCase{"+0.00000000E+00", 0.0},
                      ReadingCase{"+9.90000000E+37", FAILS}, ReadingCase{"-9.90000000E+37", FAILS},
                      ReadingCase{"+9.91000000E+37", FAILS}, ReadingCase{"ERROR", FAILS}, ReadingCase{"", FAILS},
                      ReadingCase{"+", FAILS}, ReadingCase{".E+00", FAILS}, ReadingCase{"nan", FAILS},
                      ReadingCase{"inf", FAILS}, ReadingCase{"-INF", FAILS}, ReadingCase{"1e999", FAILS},
                      ReadingCase{DMM_SILENT, FAILS}, ReadingCase{DMM_DROP, FAILS}));

TEST_F(PrimitivesTest, SuccessiveReadingsEachTakeTheirOwnAnswer) {
  install_dmm(*instruments, fake_dmm({"+1.00000000E+00", "+2.00000000E+00", "+3.00000000E+00"}));
  for (double expected : {1.0, 2.0, 3.0}) expect_reading(dmm().read(), expected);
}

TEST_F(PrimitivesTest, SilentDmmCostsEveryWindowOfTheReading) {
  FakeTransport& fake = install_dmm(*instruments, fake_dmm({DMM_SILENT}));
  expect_reading(dmm().read(), FAILS);
  EXPECT_EQ(fake.clock_ms, DMM_DRAIN_MS + DMM_FIRST_LINE_MS + DMM_ANSWER_FIRST_MS);
  EXPECT_TRUE(dmm().reply_overdue());
}

TEST_F(PrimitivesTest, ReadingOnAClosedOrMissingLinkFails) {
  install_dmm(*instruments, fake_dmm({"+1.00000000E+00"})).close();
  for (int link_dropped = 0; link_dropped < 2; ++link_dropped) {
    expect_reading(dmm().read(), FAILS);
    dmm().drop();
  }
}

// A late answer arrives while the next reading waits for its own answer, before that reading's echo.
// It must not be taken for the second reading's answer; the next reading that the DMM echoes is in
// step again, and a DMM without an echo is read as usual while it owes nothing.
// A telnet-style DMM that falls behind: the first READ?'s echo comes 400 ms late, its answer 900 ms
// late, and everything after in order behind them. Neither may pass for the second reading's answer:
// once late, the link resynchronises on an identification before it trusts a reading again.
TEST_F(PrimitivesTest, LateEchoAndAnswerNeverPassForTheNextReading) {
  int reads = 0;
  long long free_at = 0;  // the DMM answers in order: nothing before what it owes already
  FakeTransport& fake = install_dmm(*instruments, std::make_unique<FakeTransport>());
  fake.respond('\r', [&](FakeTransport& link, const std::string& line) {
    const bool read = line == "READ?\r";
    const long long echo_at = std::max(free_at, link.clock_ms + (read && reads == 0 ? 400 : 1));
    free_at = std::max(echo_at, link.clock_ms + (read && reads == 0 ? 900 : 1));
    link.arrive(echo_at, line + "\n");
    if (read) link.arrive(free_at, "+" + std::to_string(++reads) + ".00000000E+00\r\n");
    if (line == "*IDN?\r") link.arrive(free_at, "ACME,DMM9,SN123,1.0\r\n");
  });
  expect_reading(dmm().read(), FAILS);
  expect_reading(dmm().read(), 2.0);
  expect_reading(dmm().read(), 3.0);
  EXPECT_EQ(fake.sent, "READ?\r*IDN?\rREAD?\rREAD?\r");
}

// A command that changes an output or a calibration point counts once the supply has answered *OPC?
// with 1 within its answer window.
struct ConfirmCase {
  const char* name;
  const char* answer;  // null: none
  long long after_ms;
  bool confirmed;
};

class ConfirmTest : public PrimitivesTest, public ::testing::WithParamInterface<ConfirmCase> {};

TEST_P(ConfirmTest, OnlyATimelyOneConfirms) {
  const ConfirmCase& c = GetParam();
  FakeTransport& fake = install_psu(*instruments, std::make_unique<FakeTransport>());
  fake.respond('\n', [&c](FakeTransport& link, const std::string& line) {
    if (line == "*OPC?\r\n" && c.answer != nullptr) link.arrive_after(c.after_ms, c.answer);
  });
  EXPECT_EQ(psu().command_confirmed("CAL:SET CH3,V,8,3.4,1\r\n"), c.confirmed);
  EXPECT_EQ(fake.sent, "CAL:SET CH3,V,8,3.4,1\r\n*OPC?\r\n");
  EXPECT_LE(fake.clock_ms, PSU_DRAIN_MS + PSU_CONFIRM_MS);
}

INSTANTIATE_TEST_SUITE_P(Answers, ConfirmTest,
                         ::testing::Values(ConfirmCase{"Prompt", "1\n", 1, true},
                                           ConfirmCase{"InTheWindow", "1\r\n", PSU_CONFIRM_MS, true},
                                           ConfirmCase{"TooLate", "1\n", PSU_CONFIRM_MS + 100, false},
                                           ConfirmCase{"Silent", nullptr, 0, false},
                                           ConfirmCase{"NotOne", "0\n", 1, false},
                                           ConfirmCase{"Garbage", "10\n", 1, false}),
                         [](const ::testing::TestParamInfo<ConfirmCase>& info) { return std::string(info.param.name); });

// --- Path checks

struct PathCase {
  char channel;
  bool voltage;
  const char* answer;
  bool expected;
};

class PathCheckTest : public PrimitivesTest, public ::testing::WithParamInterface<PathCase> {};

// The result follows the plausible band, and the DP832 gets on, source and off, whatever the reading gave.
TEST_P(PathCheckTest, ResultAndCommandStream) {
  const PathCase& c = GetParam();
  FakeTransport& dmm_fake = install_dmm(*instruments, fake_dmm({c.answer}));
  FakeTransport& psu_fake = install_psu(*instruments, fake_psu());
  const Channel channel = *Channel::from_key(c.channel);
  const PathCheck path =
      c.voltage ? check_voltage_path(*instruments, channel) : check_current_path(*instruments, channel);
  EXPECT_EQ(static_cast<bool>(path), c.expected) << path.status.reason();
  const std::string name = std::string("CH") + c.channel;
  EXPECT_EQ(psu_fake.sent, "OUTPUT " + name + ",ON\r\n*OPC?\r\n:APPL " + name + (c.voltage ? ",5,2" : ",3,2") +
                               "\r\n*OPC?\r\nOUTPUT " + name + ",OFF\r\n*OPC?\r\n");
  EXPECT_EQ(dmm_fake.sent, "READ?\r");
  // The source follows the switch-on's drain, its confirmation (1 ms on the fake) and the settling wait.
  EXPECT_EQ(psu_fake.sent_at[2], PSU_DRAIN_MS + 1 + PATH_OUTPUT_ON_WAIT_MS);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, PathCheckTest,
                         ::testing::Values(PathCase{'1', true, "+3.00000000E+00", true},
                                           PathCase{'1', true, "+2.99990000E+00", false},
                                           PathCase{'3', true, "+7.00000000E+00", true},
                                           PathCase{'3', true, "+7.00010000E+00", false},
                                           PathCase{'2', true, "-5.00000000E+00", false},
                                           PathCase{'2', true, "+2.00000000E+00", false},
                                           PathCase{'1', false, "+1.20000000E+00", true},
                                           PathCase{'2', false, "+1.19990000E+00", false},
                                           PathCase{'3', false, "+2.80000000E+00", true},
                                           // The DMM left on volts reads the 3 V source.
                                           PathCase{'3', false, "+3.00000000E+00", false},
                                           PathCase{'3', false, "+5.30000000E+00", false},
                                           PathCase{'3', true, DMM_SILENT, false},
                                           PathCase{'3', false, DMM_SILENT, false},
                                           PathCase{'2', true, "+9.90000000E+37", false}));
