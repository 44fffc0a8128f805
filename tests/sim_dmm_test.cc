// The simulated DMM's protocol core, string in and strings out, without sockets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "sim/dmm_core.h"

namespace {

// A meter wired to a source that gives 4.9987 V and 1.25 A and counts how often it was asked.
struct Source {
  double volts = 4.9987;
  double amps = 1.25;
  int volt_asks = 0;
  int amp_asks = 0;
  std::function<double(bool)> fn() {
    return [this](bool in_amps) {
      if (in_amps) {
        ++amp_asks;
        return amps;
      }
      ++volt_asks;
      return volts;
    };
  }
};

class SimDmmCore : public ::testing::Test {
 protected:
  DmmState st = dmm_make_state(7, "Maker,Model,SN1,1.0", 200);
  Source source;
  DmmReply send(const std::string& line) { return dmm_handle_line(st, line, source.fn()); }
  // The number in a reading's answer text (the part before its CR LF).
  static double number(const DmmReply& r) { return std::atof(r.later.c_str()); }
};

TEST_F(SimDmmCore, WelcomeIsOneLineThenThePrompt) {
  std::string w = dmm_welcome(st);
  ASSERT_GE(w.size(), 7u);
  EXPECT_EQ(w.substr(w.size() - 5), "DMM> ");
  std::string first = w.substr(0, w.size() - 5);
  EXPECT_EQ(first.find("\r\n"), first.size() - 2) << "one line, ended by CR LF";
}

TEST_F(SimDmmCore, ReadingEchoesAtOnceAndAnswersAfterTheMeasurementTime) {
  DmmReply r = send("READ?");
  EXPECT_EQ(r.now, "READ?\r\n");
  EXPECT_EQ(r.delay_ms, 200);
  ASSERT_EQ(r.later.size(), std::string("+4.99870000E+00\r\nDMM> ").size());
  EXPECT_EQ(r.later.substr(15), "\r\nDMM> ");
  EXPECT_NEAR(number(r), 4.9987, 20e-6);
  EXPECT_FALSE(r.close);
}

TEST_F(SimDmmCore, CommandsWithoutAnswerGiveEchoAndPromptInOneText) {
  DmmReply r = send("CONF:VOLT:DC AUTO");
  EXPECT_EQ(r.now, "CONF:VOLT:DC AUTO\r\nDMM> ");
  EXPECT_TRUE(r.later.empty());
  r = send("*RST");
  EXPECT_EQ(r.now, "*RST\r\nDMM> ");
}

TEST_F(SimDmmCore, QueriesWithoutMeasurementAnswerAtOnce) {
  DmmReply r = send("*IDN?");
  EXPECT_EQ(r.now, "*IDN?\r\nMaker,Model,SN1,1.0\r\nDMM> ");
  EXPECT_TRUE(r.later.empty());
  EXPECT_EQ(r.delay_ms, 0);
}

TEST_F(SimDmmCore, ReadingFormatAndOverload) {
  EXPECT_EQ(dmm_format_reading(4.9987), "+4.99870000E+00");
  EXPECT_EQ(dmm_format_reading(-0.0012), "-1.20000000E-03");
  EXPECT_EQ(dmm_format_reading(-0.0), "+0.00000000E+00");
  EXPECT_EQ(dmm_format_reading(1e40), "+9.90000000E+37");
  // A fixed range that the value overflows reads overload.
  send("CONF:VOLT:DC 1");
  EXPECT_EQ(send("READ?").later, "+9.90000000E+37\r\nDMM> ");
  send("CONF:VOLT:DC 10");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
}

TEST_F(SimDmmCore, ReadFollowsTheMode) {
  send("CONF:CURR:DC AUTO");
  EXPECT_NEAR(number(send("READ?")), 1.25, 10e-6);
  EXPECT_EQ(source.amp_asks, 1);
  send("CONFIGURE:VOLTAGE:DC");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
  EXPECT_EQ(source.volt_asks, 1);
  // *RST goes back to volts.
  send("conf:curr");
  send("*RST");
  send("READ?");
  EXPECT_EQ(source.volt_asks, 2);
  EXPECT_EQ(source.amp_asks, 1);
}

TEST_F(SimDmmCore, MeasureQueriesSetTheModeAndRead) {
  DmmReply r = send("MEAS:CURR:DC?");
  EXPECT_NEAR(number(r), 1.25, 10e-6);
  EXPECT_EQ(r.delay_ms, 200);
  EXPECT_TRUE(st.amps);
  r = send("MEASURE:VOLTAGE:DC? AUTO");
  EXPECT_NEAR(number(r), 4.9987, 20e-6);
  EXPECT_FALSE(st.amps);
}

TEST_F(SimDmmCore, NoiseIsSmallAndTheSameForTheSameSeed) {
  DmmState other = dmm_make_state(7, "x", 200);
  double first = 0.0;
  for (int i = 0; i < 20; ++i) {
    double a = number(send("READ?"));
    double b = std::atof(dmm_handle_line(other, "READ?", source.fn()).later.c_str());
    EXPECT_EQ(a, b);
    EXPECT_NEAR(a, 4.9987, 20e-6);  // a 6 1/2-digit meter on its 10 V range
    if (i == 0) first = a;
  }
  DmmState third = dmm_make_state(8, "x", 200);
  bool differs = false;
  for (int i = 0; i < 20 && !differs; ++i)
    differs = std::atof(dmm_handle_line(third, "READ?", source.fn()).later.c_str()) != first;
  EXPECT_TRUE(differs);
}

TEST_F(SimDmmCore, ErrorQueueReportsUndefinedHeadersInOrder) {
  EXPECT_EQ(send("SYST:ERR?").now, "SYST:ERR?\r\n0,\"No error\"\r\nDMM> ");
  send("FOO:BAR");
  send("CONF:VOLT:DC 5000");
  send("READ? 3");
  EXPECT_NE(send("SYST:ERR?").now.find("-113,\"Undefined header\""), std::string::npos);
  EXPECT_NE(send("SYSTEM:ERROR?").now.find("-222,\"Data out of range\""), std::string::npos);
  EXPECT_NE(send("syst:err:next?").now.find("-108,\"Parameter not allowed\""), std::string::npos);
  EXPECT_NE(send("SYST:ERR?").now.find("0,\"No error\""), std::string::npos);
  send("BAD");
  send("*CLS");
  EXPECT_NE(send("SYST:ERR?").now.find("0,\"No error\""), std::string::npos);
}

TEST_F(SimDmmCore, SeveralCommandsOnOneLine) {
  DmmReply r = send("CONF:CURR:DC;READ?;*IDN?");
  EXPECT_EQ(r.now, "CONF:CURR:DC;READ?;*IDN?\r\n");
  EXPECT_EQ(r.later.substr(15), ";Maker,Model,SN1,1.0\r\nDMM> ");
  EXPECT_NEAR(number(r), 1.25, 10e-6);
}

TEST_F(SimDmmCore, ScriptedReadingsComeFirstInOrder) {
  st.scripted = {1.5, 1.4999};
  EXPECT_EQ(send("READ?").later, "+1.50000000E+00\r\nDMM> ");
  EXPECT_EQ(send("READ?").later, "+1.49990000E+00\r\nDMM> ");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
}

// ---- Faults, each at exactly the count it names.

TEST_F(SimDmmCore, SilentFromTheNthReading) {
  SimDmmFaults f;
  f.silent_from_reading = 3;
  dmm_set_faults(st, f);
  EXPECT_FALSE(send("READ?").later.empty());
  send("*IDN?");  // other commands do not count
  EXPECT_FALSE(send("READ?").later.empty());
  DmmReply r = send("READ?");
  EXPECT_TRUE(r.now.empty());
  EXPECT_TRUE(r.later.empty());
  EXPECT_FALSE(r.close);
  r = send("*IDN?");
  EXPECT_TRUE(r.now.empty() && r.later.empty()) << "silent for everything from then on";
  dmm_set_faults(st, SimDmmFaults());
  EXPECT_FALSE(send("*IDN?").now.empty());
}

TEST_F(SimDmmCore, GarbageFromTheNthReading) {
  SimDmmFaults f;
  f.garbage_from_reading = 2;
  dmm_set_faults(st, f);
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
  for (int i = 0; i < 2; ++i) {
    DmmReply r = send("READ?");
    EXPECT_EQ(r.now, "READ?\r\n");
    std::string answer = r.later.substr(0, r.later.find("\r\n"));
    EXPECT_EQ(answer.find_first_of("0123456789"), std::string::npos) << answer;
    EXPECT_EQ(r.later.substr(r.later.size() - 7), "\r\nDMM> ");
  }
}

TEST_F(SimDmmCore, DropAtTheNthReadingOnly) {
  SimDmmFaults f;
  f.drop_at_reading = 2;
  dmm_set_faults(st, f);
  EXPECT_FALSE(send("READ?").close);
  DmmReply r = send("READ?");
  EXPECT_TRUE(r.close);
  EXPECT_TRUE(r.now.empty());
  EXPECT_FALSE(send("READ?").close);
}

TEST_F(SimDmmCore, NoEchoKeepsAnswerAndPrompt) {
  SimDmmFaults f;
  f.no_echo = true;
  dmm_set_faults(st, f);
  DmmReply r = send("READ?");
  EXPECT_EQ(r.now, "");
  EXPECT_EQ(r.later.substr(15), "\r\nDMM> ");
  EXPECT_EQ(send("*RST").now, "DMM> ");
}

TEST_F(SimDmmCore, AnswerDelayAddsToEveryAnswer) {
  SimDmmFaults f;
  f.answer_delay_ms = 3000;
  dmm_set_faults(st, f);
  EXPECT_EQ(send("READ?").delay_ms, 3200);
  DmmReply r = send("*IDN?");
  EXPECT_EQ(r.delay_ms, 3000);
  EXPECT_EQ(r.now, "*IDN?\r\n");
  EXPECT_EQ(r.later, "Maker,Model,SN1,1.0\r\nDMM> ");
  EXPECT_EQ(send("*RST").now, "*RST\r\nDMM> ") << "no answer, no delay";
}

}  // namespace

// ---- Raw style, and the commands a meter acts on or refuses.

class SimDmmRaw : public SimDmmCore {
 protected:
  void SetUp() override { st.style = SimDmmStyle::raw; }
  // Everything the line gives, at once or later.
  std::string all(const std::string& line) {
    DmmReply r = send(line);
    return r.now + r.later;
  }
};

TEST_F(SimDmmRaw, NoWelcomeEchoOrPromptAndLfLineEnds) {
  EXPECT_EQ(dmm_welcome(st), "");
  EXPECT_EQ(all("*IDN?"), "Maker,Model,SN1,1.0\n");
  EXPECT_EQ(all("*RST"), "");
  DmmReply r = send("READ?");
  EXPECT_EQ(r.now, "");
  EXPECT_EQ(r.later.size(), 16u);
  EXPECT_EQ(r.later.back(), '\n');
  // Commands end in LF or CR LF; a lone CR is part of the line.
  std::string in = "*IDN?\r\nREAD?\nCONF?\r";
  int carry = 0;
  std::string line;
  std::vector<std::string> lines;
  while (dmm_next_line(st, in, carry, &line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"*IDN?", "READ?"}));
  EXPECT_EQ(in, "CONF?\r");
}

TEST_F(SimDmmRaw, FunctionSetAfterACurrentReadingReadsVolts) {
  send("CONF:CURR:DC");
  EXPECT_NEAR(std::atof(send("READ?").later.c_str()), 1.25, 10e-6);
  send("FUNC \"VOLT\"");
  EXPECT_NEAR(std::atof(send("READ?").later.c_str()), 4.9987, 20e-6);
  EXPECT_EQ(source.volt_asks, 1);
  send("SENS:FUNC \"CURR:DC\"");
  EXPECT_EQ(all("FUNC?"), "\"CURR\"\n");
  send("FUNC \"RES\"");  // a function the meter lacks: refused, nothing changes
  EXPECT_EQ(all("SYST:ERR?;FUNC?"), "-224,\"Illegal parameter value\";\"CURR\"\n");
  send("VOLT:FOO 3");
  EXPECT_EQ(all("SYST:ERR?"), "-113,\"Undefined header\"\n");
  EXPECT_NEAR(std::atof(send("READ?").later.c_str()), 1.25, 10e-6);
}

struct DmmCase {
  const char* setup;
  const char* query;
  const char* answer;
};
void PrintTo(const DmmCase& c, std::ostream* os) { *os << c.setup << " then " << c.query; }

class SimDmmAnswers : public SimDmmRaw, public ::testing::WithParamInterface<DmmCase> {};

TEST_P(SimDmmAnswers, SetThenQuery) {
  const DmmCase& c = GetParam();
  if (*c.setup != 0) send(c.setup);
  EXPECT_EQ(all(c.query), std::string(c.answer) + "\n") << c.setup;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SimDmmAnswers,
    ::testing::Values(DmmCase{"", "CONF?", "\"VOLT +1.000000E+01,+3.000000E-06\""},
                      DmmCase{"CONF:CURR:DC 0.1", "CONF?", "\"CURR +1.000000E-01,+3.000000E-08\""},
                      DmmCase{"VOLT:RANG 1;VOLT:NPLC 1", "CONF?", "\"VOLT +1.000000E+00,+3.000000E-06\""},
                      DmmCase{"VOLT:RANG 1", "VOLT:RANG:AUTO?;VOLT:RANG?", "0;+1.00000000E+00"},
                      DmmCase{"VOLT:RANG 1;VOLT:RANG:AUTO ON", "VOLT:RANG:AUTO?", "1"},
                      DmmCase{"SENS:VOLT:DC:NPLC 5", "VOLT:NPLC?", "+1.00000000E+01"},
                      DmmCase{"CURR:NPLC MIN", "CURR:NPLC?;VOLT:NPLC?", "+2.00000000E-02;+1.00000000E+01"},
                      DmmCase{"VOLT:NPLC 1000", "SYST:ERR?", "-222,\"Data out of range\""},
                      DmmCase{"FETC?", "SYST:ERR?", "-230,\"Data corrupt or stale\""},
                      DmmCase{"FOO", "*ESR?;*ESR?", "32;0"},
                      DmmCase{"*ESE 32;FOO", "*ESE?;*STB?", "32;36"},
                      DmmCase{"FOO;*CLS", "*STB?;*ESR?", "0;0"},
                      DmmCase{"VOLT:RANG 1;*RST", "CONF?", "\"VOLT +1.000000E+01,+3.000000E-06\""},
                      DmmCase{"", "*OPC?;SYST:VERS?", "1;1992.0"}));

TEST_F(SimDmmRaw, InitThenFetchReturnsTheSameReading) {
  send("CONF:CURR:DC");
  send("INIT");
  DmmReply first = send("FETC?");
  EXPECT_EQ(first.delay_ms, 200) << "the answer waits for the measurement";
  EXPECT_EQ(send("FETC?").later, first.later);
  EXPECT_NEAR(std::atof(first.later.c_str()), 1.25, 10e-6);
  EXPECT_EQ(source.amp_asks, 1);
}
