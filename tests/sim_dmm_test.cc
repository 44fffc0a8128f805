// The simulated DMM's protocol core, string in and strings out, without sockets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "sim/dmm_core.h"

namespace {

const char* const IDN = "Maker,Model,SN1,1.0";

class SimDmmCore : public ::testing::Test {
 protected:
  DmmState st = dmm_make_state(7, IDN, 200);
  // The leads see 4.9987 V and 1.25 A; each mode counts how often it was asked.
  double volts = 4.9987, amps = 1.25;
  int asks[2] = {0, 0};
  DmmMeasure measure = [this](bool in_amps) {
    ++asks[in_amps];
    return in_amps ? amps : volts;
  };

  DmmReply send(const std::string& line) { return dmm_handle_line(st, line, measure); }
  std::string all(const std::string& line) {
    DmmReply r = send(line);
    return r.now + r.later;
  }
  // A fresh meter in this style with these faults.
  void fresh(SimDmmStyle style, const SimDmmFaults& faults = {}) {
    st = dmm_make_state(7, IDN, 200, style);
    dmm_set_faults(st, faults);
  }
  // Sends each '\n'-separated line of setup.
  void setup(const std::string& lines) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) send(line);
  }
  // The number in a reading's answer text (the part before its line end).
  static double number(const DmmReply& r) { return std::atof(r.later.c_str()); }
};

TEST_F(SimDmmCore, WelcomeIsOneLineThenThePrompt) {
  std::string w = dmm_welcome(st);
  ASSERT_GE(w.size(), 7u);
  EXPECT_EQ(w.substr(w.size() - 5), "DMM> ");
  EXPECT_EQ(w.find("\r\n"), w.size() - 7) << "one line, ended by CR LF";
}

// Telnet style: the echo at once, an answer (with its wait) later, the prompt after either; the
// faults that change them. A fixed range that the value overflows reads overload, a known answer.
TEST_F(SimDmmCore, TelnetEchoAnswerAndPrompt) {
  struct Row {
    SimDmmFaults faults;
    const char *setup, *line, *now, *later;
    int delay_ms;
  };
  const char* const OVERLOAD = "+9.90000000E+37\r\nDMM> ";
  const Row rows[] = {
      {{}, "", "CONF:VOLT:DC AUTO", "CONF:VOLT:DC AUTO\r\nDMM> ", "", 0},
      {{}, "", "*RST", "*RST\r\nDMM> ", "", 0},
      {{}, "", "*IDN?", "*IDN?\r\nMaker,Model,SN1,1.0\r\nDMM> ", "", 0},
      {{}, "", "SYST:ERR?", "SYST:ERR?\r\n0,\"No error\"\r\nDMM> ", "", 0},
      {{}, "CONF:VOLT:DC 1", "READ?", "READ?\r\n", OVERLOAD, 200},
      {{.no_echo = true}, "CONF:VOLT:DC 1", "READ?", "", OVERLOAD, 200},
      {{.no_echo = true}, "", "*RST", "DMM> ", "", 0},
      {{.answer_delay_ms = 3000}, "CONF:VOLT:DC 1", "READ?", "READ?\r\n", OVERLOAD, 3200},
      {{.answer_delay_ms = 3000}, "", "*IDN?", "*IDN?\r\n", "Maker,Model,SN1,1.0\r\nDMM> ", 3000},
      {{.answer_delay_ms = 3000}, "", "*RST", "*RST\r\nDMM> ", "", 0},  // no answer, no delay
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.setup) + " then " + row.line);
    fresh(SimDmmStyle::telnet, row.faults);
    setup(row.setup);
    DmmReply r = send(row.line);
    EXPECT_EQ(r.now, row.now);
    EXPECT_EQ(r.later, row.later);
    EXPECT_EQ(r.delay_ms, row.delay_ms);
    EXPECT_FALSE(r.close);
  }
  fresh(SimDmmStyle::telnet);
  DmmReply r = send("READ?");
  EXPECT_EQ(r.now, "READ?\r\n");
  EXPECT_EQ(r.delay_ms, 200);
  ASSERT_EQ(r.later.size(), std::string("+4.99870000E+00\r\nDMM> ").size());
  EXPECT_EQ(r.later.substr(15), "\r\nDMM> ");
  EXPECT_NEAR(number(r), 4.9987, 20e-6);
  send("CONF:VOLT:DC 1");
  send("CONF:VOLT:DC 10");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
  r = send("CONF:CURR:DC;READ?;*IDN?");
  EXPECT_EQ(r.now, "CONF:CURR:DC;READ?;*IDN?\r\n");
  EXPECT_EQ(r.later.substr(15), ";Maker,Model,SN1,1.0\r\nDMM> ");
  EXPECT_NEAR(number(r), 1.25, 10e-6);
}

TEST_F(SimDmmCore, ReadingFormat) {
  EXPECT_EQ(dmm_format_reading(4.9987), "+4.99870000E+00");
  EXPECT_EQ(dmm_format_reading(-0.0012), "-1.20000000E-03");
  EXPECT_EQ(dmm_format_reading(-0.0), "+0.00000000E+00");
  EXPECT_EQ(dmm_format_reading(1e40), "+9.90000000E+37");
}

TEST_F(SimDmmCore, ReadAndMeasureFollowTheMode) {
  send("CONF:CURR:DC AUTO");
  EXPECT_NEAR(number(send("READ?")), 1.25, 10e-6);
  EXPECT_EQ(asks[1], 1);
  send("CONFIGURE:VOLTAGE:DC");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
  EXPECT_EQ(asks[0], 1);
  send("conf:curr");
  send("*RST");  // back to volts
  send("READ?");
  EXPECT_EQ(asks[0], 2);
  EXPECT_EQ(asks[1], 1);

  DmmReply r = send("MEAS:CURR:DC?");
  EXPECT_NEAR(number(r), 1.25, 10e-6);
  EXPECT_EQ(r.delay_ms, 200);
  EXPECT_TRUE(st.amps);
  EXPECT_NEAR(number(send("MEASURE:VOLTAGE:DC? AUTO")), 4.9987, 20e-6);
  EXPECT_FALSE(st.amps);
}

TEST_F(SimDmmCore, NoiseIsSmallAndTheSameForTheSameSeed) {
  DmmState same = dmm_make_state(7, "x", 200), other = dmm_make_state(8, "x", 200);
  bool differs = false;
  for (int i = 0; i < 20; ++i) {
    double a = number(send("READ?"));
    EXPECT_EQ(a, number(dmm_handle_line(same, "READ?", measure)));
    EXPECT_NEAR(a, 4.9987, 20e-6);  // a 6 1/2-digit meter on its 10 V range
    differs = differs || number(dmm_handle_line(other, "READ?", measure)) != a;
  }
  EXPECT_TRUE(differs);
}

TEST_F(SimDmmCore, ScriptedReadingsComeFirstInOrder) {
  st.scripted = {1.5, 1.4999};
  EXPECT_EQ(send("READ?").later, "+1.50000000E+00\r\nDMM> ");
  EXPECT_EQ(send("READ?").later, "+1.49990000E+00\r\nDMM> ");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
}

// Each fault at exactly the count it names.
TEST_F(SimDmmCore, Faults) {
  fresh(SimDmmStyle::telnet, {.silent_from_reading = 3});
  EXPECT_FALSE(send("READ?").later.empty());
  send("*IDN?");  // other commands do not count
  EXPECT_FALSE(send("READ?").later.empty());
  DmmReply r = send("READ?");
  EXPECT_TRUE(r.now.empty() && r.later.empty() && !r.close);
  r = send("*IDN?");
  EXPECT_TRUE(r.now.empty() && r.later.empty()) << "silent for everything from then on";
  dmm_set_faults(st, SimDmmFaults());
  EXPECT_FALSE(send("*IDN?").now.empty());

  fresh(SimDmmStyle::telnet, {.garbage_from_reading = 2});
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
  for (int i = 0; i < 2; ++i) {
    r = send("READ?");
    EXPECT_EQ(r.now, "READ?\r\n");
    std::string answer = r.later.substr(0, r.later.find("\r\n"));
    EXPECT_EQ(answer.find_first_of("0123456789"), std::string::npos) << answer;
    EXPECT_EQ(r.later.substr(r.later.size() - 7), "\r\nDMM> ");
  }

  fresh(SimDmmStyle::telnet, {.drop_at_reading = 2});
  EXPECT_FALSE(send("READ?").close);
  r = send("READ?");
  EXPECT_TRUE(r.close && r.now.empty());
  EXPECT_FALSE(send("READ?").close);
}

// ---- Raw style, and the commands a meter acts on or refuses.

TEST_F(SimDmmCore, RawHasNoWelcomeEchoOrPromptAndLfLineEnds) {
  fresh(SimDmmStyle::raw);
  EXPECT_EQ(dmm_welcome(st), "");
  DmmReply r = send("READ?");
  EXPECT_EQ(r.now, "");
  EXPECT_EQ(r.later.size(), 16u);
  EXPECT_EQ(r.later.back(), '\n');
  // Commands end in LF or CR LF; a lone CR is part of the line.
  std::string in = "*IDN?\r\nREAD?\nCONF?\r", line;
  int carry = 0;
  std::vector<std::string> lines;
  while (dmm_next_line(st, in, carry, &line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"*IDN?", "READ?"}));
  EXPECT_EQ(in, "CONF?\r");
}

TEST_F(SimDmmCore, RawFunctionSetAfterACurrentReadingReadsVolts) {
  fresh(SimDmmStyle::raw);
  send("CONF:CURR:DC");
  EXPECT_NEAR(number(send("READ?")), 1.25, 10e-6);
  send("FUNC \"VOLT\"");
  EXPECT_NEAR(number(send("READ?")), 4.9987, 20e-6);
  EXPECT_EQ(asks[0], 1);
  send("SENS:FUNC \"CURR:DC\"");
  send("FUNC \"RES\"");  // refused (see the table): nothing changes
  send("VOLT:FOO 3");
  EXPECT_NEAR(number(send("READ?")), 1.25, 10e-6);
}

// Set (each line of the setup), then query, on a fresh raw meter: an answer is one line ended by LF,
// a command without one answers nothing. The error queue keeps its order.
TEST_F(SimDmmCore, RawSetThenQuery) {
  const std::string rows[][3] = {
      {"", "*IDN?", IDN},
      {"", "*RST", ""},
      {"SENS:FUNC \"CURR:DC\"", "FUNC?", "\"CURR\""},
      {"SENS:FUNC \"CURR:DC\"\nFUNC \"RES\"", "SYST:ERR?;FUNC?", "-224,\"Illegal parameter value\";\"CURR\""},
      {"VOLT:FOO 3", "SYST:ERR?", "-113,\"Undefined header\""},
      {"", "CONF?", "\"VOLT +1.000000E+01,+3.000000E-06\""},
      {"CONF:CURR:DC 0.1", "CONF?", "\"CURR +1.000000E-01,+3.000000E-08\""},
      {"VOLT:RANG 1;VOLT:NPLC 1", "CONF?", "\"VOLT +1.000000E+00,+3.000000E-06\""},
      {"VOLT:RANG 1", "VOLT:RANG:AUTO?;VOLT:RANG?", "0;+1.00000000E+00"},
      {"VOLT:RANG 1;VOLT:RANG:AUTO ON", "VOLT:RANG:AUTO?", "1"},
      {"SENS:VOLT:DC:NPLC 5", "VOLT:NPLC?", "+1.00000000E+01"},
      {"CURR:NPLC MIN", "CURR:NPLC?;VOLT:NPLC?", "+2.00000000E-02;+1.00000000E+01"},
      {"VOLT:NPLC 1000", "SYST:ERR?", "-222,\"Data out of range\""},
      {"FOO:BAR\nCONF:VOLT:DC 5000\nREAD? 3", "SYST:ERR?;SYSTEM:ERROR?;syst:err:next?;SYST:ERR?",
       "-113,\"Undefined header\";-222,\"Data out of range\";-108,\"Parameter not allowed\";0,\"No error\""},
      {"BAD\n*CLS", "SYST:ERR?", "0,\"No error\""},
      {"FETC?", "SYST:ERR?", "-230,\"Data corrupt or stale\""},
      {"FOO", "*ESR?;*ESR?", "32;0"},
      {"*ESE 32;FOO", "*ESE?;*STB?", "32;36"},
      {"FOO;*CLS", "*STB?;*ESR?", "0;0"},
      {"VOLT:RANG 1;*RST", "CONF?", "\"VOLT +1.000000E+01,+3.000000E-06\""},
      {"", "*OPC?;SYST:VERS?", "1;1992.0"},
      {"*OPC;*WAI", "*ESR?;*ESR?", "1;0"},
      {"*ESE 1;*SRE 255;*OPC", "*SRE?;*STB?;*TST?", "191;96;0"},
      {"STAT:PRES", "SYST:ERR?", "0,\"No error\""},
      // A header without a colon continues from the previous one's level, else from the root.
      {"SENS:CURR:DC:NPLC 1;RANG 1", "CURR:RANG?;NPLC?", "+1.00000000E+00;+1.00000000E+00"},
      {"", "CONF:CURR:DC 1;CONF?;:RANG?;SYST:ERR?", "\"CURR +1.000000E+00,+3.000000E-07\";-113,\"Undefined header\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0] + " then " + row[1]);
    fresh(SimDmmStyle::raw);
    setup(row[0]);
    EXPECT_EQ(all(row[1]), row[2].empty() ? "" : row[2] + "\n");
  }
}

// Faults that change answers rather than the connection: refused commands (in any form of the header,
// with exactly the parameters given) and overloaded readings.
TEST_F(SimDmmCore, RefusedCommandsAndOverload) {
  const SimDmmFaults refuse_auto{.refuse_commands = {"CONF:CURR:DC AUTO", "*TST?"}};
  const std::string ILLEGAL = "-224,\"Illegal parameter value\"", NONE = "0,\"No error\"";
  const struct {
    SimDmmFaults faults;
    const char *setup, *query;
    std::string answer;
  } rows[] = {
      {refuse_auto, "CONF:CURR:DC AUTO", "FUNC?;SYST:ERR?", "\"VOLT\";" + ILLEGAL},
      {refuse_auto, "configure:current:dc auto", "FUNC?;SYST:ERR?", "\"VOLT\";" + ILLEGAL},
      {refuse_auto, "CONF:CURR:DC", "FUNC?;SYST:ERR?", "\"CURR\";" + NONE},
      {refuse_auto, "CONF:CURR:DC 1", "FUNC?;SYST:ERR?", "\"CURR\";" + NONE},
      {refuse_auto, "", "*TST?;*IDN?;SYST:ERR?", std::string(IDN) + ";" + ILLEGAL},
      {{.overload = true}, "", "READ?;MEAS:CURR:DC?", "+9.90000000E+37;+9.90000000E+37"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.setup) + " then " + row.query);
    fresh(SimDmmStyle::raw, row.faults);
    setup(row.setup);
    EXPECT_EQ(all(row.query), row.answer + "\n");
  }
}

// Extra noise on a range: readings differ, the same seed repeats them, and its size is as given.
// Another range reads exactly as a meter without it.
TEST_F(SimDmmCore, ExtraNoiseOnTheRangesGiven) {
  std::vector<SimDmmNoise> noise;
  std::string why;
  ASSERT_TRUE(sim_parse_dmm_noise("10V=20e-6,1A=5E-6", &noise, &why)) << why;
  st.extra_noise = noise;
  DmmState same = st;
  double sum = 0, squares = 0;
  for (int i = 0; i < 400; ++i) {
    double a = number(send("READ?")) - volts;
    EXPECT_EQ(a + volts, number(dmm_handle_line(same, "READ?", measure)));
    sum += a;
    squares += a * a;
  }
  EXPECT_NEAR(std::sqrt(squares / 400 - sum * sum / 160000), 20e-6, 3e-6);
  DmmState plain = st;
  plain.extra_noise.clear();
  for (DmmState* meter : {&st, &plain}) dmm_handle_line(*meter, "CONF:VOLT:DC 100", measure);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(number(send("READ?")), number(dmm_handle_line(plain, "READ?", measure)));

  const struct {
    const char* text;
    bool ok;
    double range;
  } lists[] = {{"100mV=1e-6", true, 0.1}, {"10mA=0", true, 0.01}, {"1000V=1e-3", true, 1000}, {"7V=1e-6", false, 0},
               {"10=1e-6", false, 0},     {"10V", false, 0},       {"10V=-1", false, 0},     {"10V=1e-6,", false, 0}};
  for (const auto& list : lists) {
    noise.clear();
    EXPECT_EQ(sim_parse_dmm_noise(list.text, &noise, &why), list.ok) << list.text;
    if (list.ok) {
      ASSERT_EQ(noise.size(), 1u);
      EXPECT_NEAR(noise[0].range, list.range, 1e-12) << list.text;
    }
  }
}

TEST_F(SimDmmCore, RawInitThenFetchReturnsTheSameReading) {
  fresh(SimDmmStyle::raw);
  send("CONF:CURR:DC");
  send("INIT");
  DmmReply first = send("FETC?");
  EXPECT_EQ(first.delay_ms, 200) << "the answer waits for the measurement";
  EXPECT_EQ(send("FETC?").later, first.later);
  EXPECT_NEAR(number(first), 1.25, 10e-6);
  EXPECT_EQ(asks[1], 1);
}

}  // namespace
