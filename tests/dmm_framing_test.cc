// The DMM's two framings: a raw SCPI socket gives the supply the same readings as a telnet-style port,
// a late raw answer is never the next reading, and a DMM set to the wrong framing is named as such.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "calibration/factory_calibration.h"
#include "calibration/voltage_assessment.h"
#include "link/framing.h"
#include "tests/fake_transport.h"
#include "tests/program_fixture.h"

namespace {

class DmmFramingTest : public ProgramTest {
 protected:
  // A DMM on an in-memory stream that answers each command by respond(f, line), in the given framing.
  FakeTransport& fake_in(const DmmFraming& framing, FakeTransport::Responder respond) {
    set_time_scale(1.0);
    env.virtual_clock = true;
    reframe(framing);
    auto fake = std::make_unique<FakeTransport>();
    fake->respond(framing.line_end[0], std::move(respond));
    return install_dmm(*instruments, std::move(fake));
  }
};

// One run on CH3, the DMM served in a style and read in a framing: what the supply and the DMM received,
// and the console text. The parameter: the factory voltage calibration (true) or the assessment.
class SameReadingsTest : public DmmFramingTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::vector<std::vector<std::string>> run_in(SimDmmStyle style, const DmmFraming& framing) {
    reframe(framing);  // the links of the last run go first
    bench.reset();
    options.dmm_style = style;
    connect_both();
    ConsoleObserver shown(console);
    if (GetParam()) factory_voltage_calibration(*instruments, CH3, shown);
    else assess_voltage_accuracy(*instruments, CH3, shown);
    return {psu_lines(), dmm_lines(), {mask_stamps(out)}};
  }
};

}  // namespace

TEST_P(SameReadingsTest, RawSocketGivesTheSupplyWhatTheTelnetPortGives) {
  options.seed = 7;
  const auto telnet = run_in(SimDmmStyle::telnet, TELNET_DMM);
  const auto raw = run_in(SimDmmStyle::raw, RAW_DMM);
  ASSERT_GT(telnet[1].size(), 5u);
  EXPECT_EQ(raw[0], telnet[0]) << "what the supply received";
  EXPECT_EQ(raw[1], telnet[1]) << "what the DMM received";
  EXPECT_EQ(raw[2], telnet[2]) << "the console";
}

INSTANTIATE_TEST_SUITE_P(Procedures, SameReadingsTest, ::testing::Bool());

// The wrong framing for the DMM's style: identification fails with a hint naming the right one, and the
// DMM hears nothing after the identification (and, from a telnet-set program, its raw probe).
// A slow telnet-style port that echoes but answers too late (4 s) is told apart: no hint, no probe.
struct WrongFraming {
  SimDmmStyle style;
  const DmmFraming* framing;
  const char* hint;  // empty: none
  std::vector<std::string> received;
  int answer_delay_ms = 0;
};

class WrongFramingTest : public DmmFramingTest, public ::testing::WithParamInterface<WrongFraming> {};

TEST_P(WrongFramingTest, HintNamesTheFramingAndNothingElseIsSent) {
  const WrongFraming& c = GetParam();
  options.dmm_style = c.style;
  options.dmm_faults.answer_delay_ms = c.answer_delay_ms;
  reframe(*c.framing);
  start_in_memory();
  EXPECT_FALSE(dmm().identify(console, settings.dmm.host, settings.dmm.port));
  EXPECT_EQ(dmm().link(), nullptr);
  const std::string warning = "WARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n";
  if (c.hint[0] != 0)
    EXPECT_NE(out.find(warning + "The DMM on port " + std::to_string(settings.dmm.port) + c.hint), std::string::npos)
        << out;
  else
    EXPECT_TRUE(out.ends_with(warning)) << out;
  EXPECT_EQ(dmm_lines(), c.received);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, WrongFramingTest,
    ::testing::Values(
        WrongFraming{SimDmmStyle::raw, &TELNET_DMM,
                     " answers as a raw SCPI socket: set DMM_Connect_Method to TCP.RAW in the settings file.\n",
                     {"*RST\r*IDN?", "*IDN?"}},
        WrongFraming{SimDmmStyle::telnet, &RAW_DMM,
                     " answers as a telnet-style port: set DMM_Connect_Method to TCP.SCPI in the settings file.\n",
                     {"*RST", "*IDN?"}},
        WrongFraming{SimDmmStyle::telnet, &TELNET_DMM, "", {"*RST", "*IDN?"}, 4000}));

// A raw DMM whose first answer comes after the answer window: that reading fails, and its answer,
// arriving while the next reading is under way, is thrown away rather than taken for that reading.
TEST_F(DmmFramingTest, RawLateAnswerIsNeverTheNextReading) {
  int reads = 0;
  fake_in(RAW_DMM, [&reads](FakeTransport& f, const std::string& line) {
    if (line == "*IDN?\n") f.arrive_after(10, "ACME,DMM9,SN123,1.0\n");
    if (line != "READ?\n") return;
    ++reads;
    // The first answer misses its window by a little and lands just after the next READ? is due.
    f.arrive_after(reads == 1 ? 3015 : 5, "+" + std::to_string(reads) + ".00000000E+00\n");
  });
  for (std::optional<double> expected : {std::optional<double>(), std::optional(2.0), std::optional(3.0)}) {
    const Result<double> reading = dmm().read();
    ASSERT_EQ(reading.ok(), expected.has_value()) << (reading ? std::to_string(*reading) : reading.reason());
    if (expected) {
      EXPECT_EQ(*reading, *expected);
    }
  }
}

// A reading is taken as soon as its answer line is complete, in both framings, within the whole window
// the DMM has for it: at once, after 400 ms, and after 2.9 s, the same value; just the wait differs.
struct AnswerTime {
  const DmmFraming* framing;
  long long delay_ms;
};

class AnswerTimeTest : public DmmFramingTest, public ::testing::WithParamInterface<AnswerTime> {};

TEST_P(AnswerTimeTest, SameReadingAsSoonAsTheAnswerIsComplete) {
  const AnswerTime c = GetParam();
  FakeTransport& fake = fake_in(*c.framing, [c](FakeTransport& f, const std::string& line) {
    if (c.framing->echoes) f.arrive_after(0, line + "\n");
    f.arrive_after(c.delay_ms, std::string("+4.99870000E+00") + (c.framing->echoes ? "\r\n" : "\n"));
  });
  const Result<double> reading = dmm().read();
  ASSERT_TRUE(reading) << reading.reason();
  EXPECT_EQ(*reading, 4.9987);
  EXPECT_EQ(fake.clock_ms, c.framing->command_drain_ms + c.delay_ms);
}

INSTANTIATE_TEST_SUITE_P(Delays, AnswerTimeTest,
                         ::testing::Values(AnswerTime{&TELNET_DMM, 0}, AnswerTime{&TELNET_DMM, 400},
                                           AnswerTime{&TELNET_DMM, 2900}, AnswerTime{&RAW_DMM, 0},
                                           AnswerTime{&RAW_DMM, 400}, AnswerTime{&RAW_DMM, 2900}));
