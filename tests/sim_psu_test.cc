// The simulated DP832's protocol core, string in and string out, without sockets.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "sim/psu_core.h"

namespace {

const char* const RANGE = "-222,\"Data out of range\"";
const char* const ILLEGAL = "-224,\"Illegal parameter value\"";
const char* const UNDEFINED = "-113,\"Undefined header\"";
const char* const CONFLICT = "-221,\"Settings conflict\"";
const char* const PROTECTED = "-203,\"Command protected\"";
const char* const NO_ERROR = "0,\"No error\"";

class SimPsuCore : public ::testing::Test {
 protected:
  PsuState st = psu_make_state(psu_model_make(3), "Maker,DP832,SN9,1.0");
  std::string send(const std::string& line) { return psu_handle_line(st, line); }
  // The error that a line leaves on the queue.
  std::string error_of(const std::string& line) {
    send(line);
    return send("SYST:ERR?");
  }
};

// Set (each line of the setup, which answers nothing), then query, on a fresh supply. An empty
// answer: the query line must answer nothing either.
TEST_F(SimPsuCore, SetThenQuery) {
  std::string ch1_5_1 = "CH1:30V/3A,5.000,1.000";
  const std::string rows[][3] = {
      {"", "*IDN?", "Maker,DP832,SN9,1.0"},
      {"", "*IDN?;*OPC?", "Maker,DP832,SN9,1.0;1"},
      {"", "*OPT?", "NONE"},
      {":APPL CH2,12.5,1.5\nOUTPUT CH2,ON\n*RST", ":APPL? CH2;:OUTP? CH2", "CH2:30V/3A,0.000,3.200;OFF"},
      // Apply and its queries; out of range is refused, not clamped; the limits are in range.
      {":APPL CH1,5,2", ":APPL? CH1;:APPL? CH1,VOLT;:APPL? CH1,CURR;:SYST:ERR?",
       std::string("CH1:30V/3A,5.000,2.000;5.000;2.000;") + NO_ERROR},
      {":APPL CH3,3.3", ":APPLY? ch3", "CH3:5V/3A,3.300,3.200"},  // current left as it was
      {":APPL CH1,0.2000,2", "APPL? CH1,VOLTAGE", "0.200"},
      {":APPL CH1,5,1\n:APPL CH1,32.1,1", ":SYST:ERR?;:APPL? CH1", RANGE + (";" + ch1_5_1)},
      {":APPL CH1,5,1\n:APPL CH1,5,3.3", ":SYST:ERR?;:APPL? CH1", RANGE + (";" + ch1_5_1)},
      {":APPL CH3,2,1\n:APPL CH3,5.4", ":SYST:ERR?;:APPL? CH3", RANGE + std::string(";CH3:5V/3A,2.000,1.000")},
      {":APPL CH2,-0.1", ":SYST:ERR?", RANGE},
      {":SOUR1:VOLT 40", ":SYST:ERR?", RANGE},
      {":APPL CH1,32,3.2\n:APPL CH3,5.3,3.2", ":SYST:ERR?", NO_ERROR},
      {":APPL CH1,MAX,MIN", ":APPL? CH1", "CH1:30V/3A,32.000,0.000"},
      // Output forms; without a channel, the selected one.
      {"OUTPUT CH1,ON\n:OUTP:STAT CH2,ON\n:outp ch3,1", ":OUTP? CH1;:OUTP? CH2;:OUTP? CH3", "ON;ON;ON"},
      {":OUTP:STAT CH2,ON\n:OUTPut:STATe CH2,OFF", ":OUTP:STAT? CH2", "OFF"},
      {":INST:NSEL 2\n:OUTP ON", ":OUTP?;:OUTP? CH1", "ON;OFF"},
      {"OUTPUT CH4,ON", ":SYST:ERR?", ILLEGAL},
      {"OUTPUT CH1,MAYBE", ":SYST:ERR?", ILLEGAL},
      // Instrument and source forms; SOURn leaves the selection alone.
      {":INST:NSEL 2\n:VOLT 7.5\n:CURR 0.5", ":INST?;:APPL? CH2", "CH2;CH2:30V/3A,7.500,0.500"},
      {":INSTrument:SELect CH3\nSOURCE:VOLTAGE:LEVEL:IMMEDIATE:AMPLITUDE 1.25", ":INST:NSEL?;:VOLT?", "3;1.250"},
      {":INST:NSEL 3\n:SOUR1:VOLT:LEV 9\n:SOUR1:CURR:LEV:IMM 1.1", ":SOUR1:VOLT?;:SOUR1:CURR?;:INST?",
       "9.000;1.1000;CH3"},
      {":SOUR4:VOLT 1", ":SYST:ERR?", "-114,\"Header suffix out of range\""},
      {":SOUR99999999999:VOLT 1", ":SYST:ERR?", "-114,\"Header suffix out of range\""},
      {":INST:NSEL 4", ":SYST:ERR?", ILLEGAL},
      // Case, short and long forms; a form that is neither is not a header.
      {":apply ch1,3,1", ":Appl? Ch1", "CH1:30V/3A,3.000,1.000"},
      {":SYSTem:BEEPer:STATe OFF", ":syst:beep?", "OFF"},
      {":SYSTem:BEEPer:STATe OFF\n:SYST:BEEP ON", ":SYSTEM:BEEPER:STATE?", "ON"},
      {"", ":SYST:VERS?;:SYST:OTP?", "1999.0;ON"},
      {":APP CH1,1,1", ":SYST:ERR?", UNDEFINED},
      {":SYSTE:VERS?", ":SYST:ERR?", UNDEFINED},
      // Several commands on one line: relative paths; empty pieces ignored; a bad piece stops nothing.
      {"", ":APPL CH1,1,1;:APPL CH2,2,1;OUTP CH1,ON", ""},
      {":APPL CH1,1,1;:APPL CH2,2,1;OUTP CH1,ON", ":APPL? CH1,VOLT;:APPL? CH2,VOLT;:OUTP? CH1", "1.000;2.000;ON"},
      {"", ":OUTP:OVP:VAL CH2,20;VAL? CH2;QUES? CH2", "20.000;NO"},
      {"", "*IDN?;;BOGUS;:OUTP? CH2;:SYST:ERR?", std::string("Maker,DP832,SN9,1.0;OFF;") + UNDEFINED},
      // The error queue keeps its order; *CLS empties it.
      {"FOO\n:APPL CH1,99\n:APPL CH1\n:APPL CH1,1,1,1\n:APPL CH1,abc",
       ":SYST:ERR?;:SYST:ERR?;:SYST:ERR?;:SYST:ERR?;:SYST:ERR?;:SYST:ERR?",
       "-113,\"Undefined header\";-222,\"Data out of range\";-109,\"Missing parameter\";"
       "-108,\"Parameter not allowed\";-104,\"Data type error\";0,\"No error\""},
      {"FOO\n*CLS", ":SYST:ERR?", NO_ERROR},
      // Status registers.
      {"*ESE 36;*SRE 8", "*ESE?;*SRE?", "36;8"},
      {"FOO", "*ESR?;*ESR?;*STB?", "32;0;4"},
      {":APPL CH1,99", "*ESR?", "16"},
      {"FOO;*CLS", "*ESR?;*STB?", "0;0"},
      {":STAT:QUES:ENAB 3;:STAT:OPER:ENAB 1280", ":STAT:QUES:ENAB?;:STAT:OPER:ENAB?", "3;1280"},
      {":APPL CH1,5,1;:OUTP CH1,ON", ":STAT:OPER:COND?;:STAT:OPER?;:STAT:OPER?", "256;256;0"},
      {":STAT:OPER:ENAB 256;*SRE 128;:APPL CH1,5,1;:OUTP CH1,ON", "*STB?", "192"},
      {":VOLT:PROT 6;:VOLT:PROT:STAT ON;:APPL CH1,8,1;:OUTP CH1,ON",
       ":STAT:QUES:COND?;:STAT:QUES?;:STAT:QUES?;:VOLT:PROT:TRIP?;:OUTP? CH1", "1;1;0;YES;OFF"},
      {":VOLT:PROT 6;:VOLT:PROT:STAT ON", ":VOLT:PROT?;:VOLT:PROT:STAT?;:OUTP:OVP:VAL? CH1;:OUTP:OVP? CH1",
       "6.000;ON;6.000;ON"},
      {":SOUR2:CURR:PROT 0.5", ":SOUR2:CURR:PROT?;:OUTP:OCP:VAL? CH2;:CURR:PROT? MAX", "0.5000;0.5000;3.3000"},
      {":SOUR3:VOLT:PROT 9", ":SYST:ERR?;:SOUR3:VOLT:PROT?", std::string(RANGE) + ";5.500"},
      {"", ":VOLT? MAX;:VOLT? MIN;:SOUR3:VOLT? MAX;:CURR? MAX", "32.000;0.000;5.300;3.2000"},
      {"*OPC;*WAI", "*ESR?;*ESR?", "1;0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0] + " then " + row[1]);
    st = psu_make_state(psu_model_make(3), "Maker,DP832,SN9,1.0");
    std::istringstream setup(row[0]);
    for (std::string line; std::getline(setup, line);) EXPECT_EQ(send(line), "") << line;
    EXPECT_EQ(send(row[1]), row[2].empty() ? "" : row[2] + "\n");
  }
}

TEST_F(SimPsuCore, SilentToIdnAnswersNothingElseChanges) {
  st.silent_to_idn = true;
  EXPECT_EQ(send("*IDN?"), "");
  EXPECT_EQ(send(":APPL? CH1,VOLT"), "0.000\n");
  EXPECT_EQ(send("SYST:ERR?"), "0,\"No error\"\n");
  send(":SYST:REM");
  EXPECT_TRUE(st.remote);
  send(":SYSTEM:LOCAL");
  EXPECT_FALSE(st.remote);
}

TEST_F(SimPsuCore, ModeAndMeasurementsFollowTheLoad) {
  send(":APPL CH1,5,2");
  send("OUTPUT CH1,ON");
  EXPECT_EQ(send(":OUTP:MODE? CH1"), "CV\n");
  st.load_ohms[0] = 0.1;  // a current shunt across the terminals: 50 A wanted, 2 A allowed
  EXPECT_EQ(send(":OUTP:MODE? CH1"), "CC\n");
  PsuTerminal t = psu_terminal(st, 1);
  EXPECT_NEAR(t.amps, 2.0, 0.03);
  EXPECT_NEAR(t.volts, t.amps * 0.1, 1e-12);
  st.load_ohms[0] = 1000.0;
  EXPECT_EQ(send(":OUTP:MODE? CH1"), "CV\n");
  send("OUTPUT CH1,OFF");
  t = psu_terminal(st, 1);
  EXPECT_EQ(t.volts, 0.0);
  EXPECT_EQ(t.amps, 0.0);

  // The supply's own meter on CH2: 10 V, then 0.5 A into 20 ohms.
  send(":APPL CH2,10,1");
  send("OUTPUT CH2,ON");
  double v = std::atof(send(":MEAS? CH2").c_str());
  EXPECT_NEAR(v, 10.0, 0.2);
  EXPECT_NEAR(std::atof(send(":MEAS:VOLT? CH2").c_str()), v, 1e-9);
  EXPECT_NEAR(std::atof(send(":MEAS:CURR? CH2").c_str()), 0.0, 0.02);
  st.load_ohms[1] = 20.0;  // 0.5 A at 10 V
  std::string all = send(":MEAS:ALL? CH2");
  double volts = 0, amps = 0, watts = 0;
  ASSERT_EQ(std::sscanf(all.c_str(), "%lf,%lf,%lf", &volts, &amps, &watts), 3) << all;
  EXPECT_NEAR(volts, 10.0, 0.2);
  EXPECT_NEAR(amps, 0.5, 0.02);
  EXPECT_NEAR(watts, volts * amps, 0.001);
  EXPECT_NEAR(std::atof(send(":MEAS:POWE? CH2").c_str()), watts, 0.001);
}

// An output that is off, or on without a load, reads a few counts at most, never below zero.
TEST_F(SimPsuCore, IdleOutputsReadNearZero) {
  send(":APPL CH2,10,1;:OUTP CH2,ON");
  for (int channel = 1; channel <= 3; ++channel) {
    std::string ch = " CH" + std::to_string(channel);
    for (int i = 0; i < 20; ++i) {
      for (const char* query : {":MEAS:CURR?", ":MEAS?"}) {
        if (channel == 2 && std::string(query) == ":MEAS?") continue;  // CH2 is on at 10 V
        double value = std::atof(send(query + ch).c_str());
        EXPECT_GE(value, 0.0) << query << ch;
        EXPECT_LE(value, 0.0003) << query << ch;
      }
    }
  }
}

TEST_F(SimPsuCore, ProtectionTripsAndClears) {
  send(":OUTP:OVP:VAL CH1,6;:OUTP:OVP CH1,ON");
  EXPECT_EQ(send(":OUTP:OVP? CH1;:OUTP:OVP:VAL? CH1"), "ON;6.000\n");
  send(":APPL CH1,8,1;OUTPUT CH1,ON");
  EXPECT_EQ(send(":OUTP? CH1;:OUTP:OVP:QUES? CH1;:OUTP:MODE? CH1"), "OFF;YES;UR\n");
  EXPECT_EQ(error_of("OUTPUT CH1,ON"), std::string(CONFLICT) + "\n") << "a tripped output stays off until cleared";
  send(":OUTP:OVP:CLEAR CH1");
  send(":APPL CH1,5,1;OUTPUT CH1,ON");
  EXPECT_EQ(send(":OUTP? CH1;:OUTP:OVP:QUES? CH1"), "ON;NO\n");
  // Current protection against a load.
  send(":OUTP:OCP:VAL CH2,0.2;:OUTP:OCP CH2,ON;:APPL CH2,5,1");
  st.load_ohms[1] = 10.0;  // 0.5 A
  send("OUTPUT CH2,ON");
  EXPECT_EQ(send(":OUTP:OCP:QUES? CH2;:OUTP? CH2;:OUTP:OCP:VAL? CH2;:SYST:ERR?"),
            std::string("YES;OFF;0.2000;") + NO_ERROR + "\n");
}

// Acting late (on the core's own clock): output changes wait for their time, each under the channel
// selected when it came; *OPC? tells when the last is due, *OPC sets its event bit then.
TEST_F(SimPsuCore, OutputChangesActLateAndOpcWaitsForThem) {
  st.act_delay_ms = 50;
  EXPECT_EQ(send(":APPL CH1,5,1;OUTPUT CH1,ON;:INST:NSEL 2;:VOLT 7;:INST:NSEL 3;*OPC"), "");
  st.now_ms = 49;
  EXPECT_EQ(send(":APPL? CH1;:OUTP? CH1;:APPL? CH2,VOLT;*ESR?"), "CH1:30V/3A,0.000,3.200;OFF;0.000;0\n");
  EXPECT_EQ(send("*OPC?"), "1\n");
  EXPECT_EQ(st.answer_at_ms, 50.0);
  EXPECT_EQ(send("*OPC?;:OUTP? CH1"), "1;ON\n") << "what follows *OPC? on its line comes after it";
  EXPECT_EQ(send(":APPL? CH1;:APPL? CH2,VOLT;:APPL? CH3,VOLT;*ESR?"), "CH1:30V/3A,5.000,1.000;7.000;0.000;1\n");
  send("*OPC?");
  EXPECT_EQ(st.answer_at_ms, 0.0) << "nothing waits: at once";
  // A calibration point is driven late too: measured before then, it is no point driven yet.
  send("CAL:START 27384,CH1;CAL:SET CH1,V,0,1.0,1");
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,0,1.0,1"), std::string(CONFLICT) + "\n");
  st.now_ms = 200;
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,0,1.0,1"), std::string(NO_ERROR) + "\n");
  send(":APPL CH2,3;*RST");
  st.now_ms = 300;
  EXPECT_EQ(send(":APPL? CH2,VOLT"), "0.000\n") << "*RST drops what waited";
}

TEST_F(SimPsuCore, ErrorQueueOverflows) {
  for (int i = 0; i < 25; ++i) send("FOO");
  for (int i = 0; i < 19; ++i) EXPECT_EQ(send("SYST:ERR?"), std::string(UNDEFINED) + "\n");
  EXPECT_EQ(send("SYST:ERR?"), "-350,\"Queue overflow\"\n");
  EXPECT_EQ(send("SYST:ERR?"), std::string(NO_ERROR) + "\n");
}

TEST_F(SimPsuCore, CalibrationCommandsAreRefusedOutsideASession) {
  CalTable before = st.model.cal[0][Q_VDAC] = {{0.0, 0.0}, {30.0, 30.1}};
  for (const char* line : {"CAL:CLEAR CH1,V", "CAL:SET CH1,V,0,0.2,1", "CAL:MEAS CH1,V,0,0.2,1",
                           "CAL:END 12/07/2024,CH1", "CAL:START 12345,CH1"})
    EXPECT_EQ(error_of(line), std::string(PROTECTED) + "\n") << line;
  EXPECT_EQ(st.cal_channel, 0);
  send("CAL:CLEAR CH1,V");
  EXPECT_EQ(st.model.cal[0][Q_VDAC].size(), before.size()) << "nothing changed";
  EXPECT_FALSE(st.drive.active);
}

TEST_F(SimPsuCore, CalibrationCommandsCheckChannelQuantityAndPoint) {
  st.model.cal[1][Q_VDAC] = {{0.0, 0.0}, {30.0, 30.1}};
  send("CAL:START 27384,CH1");
  EXPECT_EQ(st.cal_channel, 1);
  auto expect_error = [&](const char* line, const std::string& error) { EXPECT_EQ(error_of(line), error + "\n"); };
  expect_error("CAL:CLEAR CH2,V", CONFLICT);
  EXPECT_EQ(st.model.cal[1][Q_VDAC].size(), 2u);
  expect_error("CAL:CLEAR CH1,X", ILLEGAL);
  expect_error("CAL:SET CH1,V,0,33.0,1", RANGE);
  expect_error("CAL:SET CH1,V,0,0.2,2", ILLEGAL);
  expect_error("CAL:MEAS CH1,V,0,0.2,1", CONFLICT);  // no point driven yet
  send("CAL:SET CH1,V,0,0.2,1");
  EXPECT_TRUE(st.drive.active);
  expect_error("CAL:MEAS CH1,V,1,0.2,1", CONFLICT);  // another point than the one driven
  expect_error("CAL:MEAS CH1,V,0,-999999999999.000000,1", RANGE);  // a failed reading is not taken
  EXPECT_TRUE(st.pending[Q_VDAC].empty());
  expect_error("CAL:MEAS CH1,V,0,0.199760,1", NO_ERROR);
  EXPECT_EQ(st.pending[Q_VDAC].size(), 1u);
  expect_error("CAL:END 12/07/2024,CH2", CONFLICT);
  EXPECT_EQ(st.cal_channel, 1);
  send("CAL:END 12/07/2024,CH1");
  EXPECT_EQ(st.cal_channel, 0);
  EXPECT_TRUE(st.calibration_changed);
  EXPECT_EQ(send("CAL:DATE? CH1"), "12/07/2024\n");
}

TEST_F(SimPsuCore, CalibrationDataThatIsNotMonotonicIsRejected) {
  for (const char* line : {"CAL:START 27384,CH2", "CAL:CLEAR CH2,V", "OUTPUT CH2,ON", "CAL:SET CH2,V,0,1.0,1",
                           "CAL:MEAS CH2,V,0,1.000000,1", "CAL:SET CH2,V,1,2.0,1",
                           "CAL:MEAS CH2,V,1,0.500000,1",  // point 1 read far too low
                           "CAL:SET CH2,V,2,3.0,1", "CAL:MEAS CH2,V,2,3.000000,1"})
    send(line);
  EXPECT_EQ(error_of("CAL:END 01/02/2025,CH2"), "-230,\"Data corrupt or stale\"\n");
  EXPECT_TRUE(st.model.cal[1][Q_VDAC].empty()) << "left as CAL:CLEAR made it";
  EXPECT_EQ(st.cal_channel, 0);
}

}  // namespace
