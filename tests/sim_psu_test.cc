// The simulated DP832's protocol core, string in and string out, without sockets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "sim/psu_core.h"

namespace {

class SimPsuCore : public ::testing::Test {
 protected:
  PsuState st = psu_make_state(psu_model_make(3), "Maker,DP832,SN9,1.0");
  std::string send(const std::string& line) { return psu_handle_line(st, line); }
  std::string error() { return send("SYST:ERR?"); }
  // The error that a line leaves on the queue.
  std::string error_of(const std::string& line) {
    send(line);
    return error();
  }
};

TEST_F(SimPsuCore, IdentifiesAndResets) {
  EXPECT_EQ(send("*IDN?"), "Maker,DP832,SN9,1.0\n");
  send(":APPL CH2,12.5,1.5");
  send("OUTPUT CH2,ON");
  send("*RST");
  EXPECT_EQ(send(":APPL? CH2"), "CH2:30V/3A,0.000,3.200\n");
  EXPECT_EQ(send(":OUTP? CH2"), "OFF\n");
  EXPECT_EQ(send("*OPT?"), "NONE\n");
  EXPECT_EQ(send("*IDN?;*OPC?"), "Maker,DP832,SN9,1.0;1\n");
}

TEST_F(SimPsuCore, SilentToIdnAnswersNothingElseChanges) {
  st.silent_to_idn = true;
  EXPECT_EQ(send("*IDN?"), "");
  EXPECT_EQ(send(":APPL? CH1,VOLT"), "0.000\n");
  EXPECT_EQ(error(), "0,\"No error\"\n");
}

TEST_F(SimPsuCore, ApplyAndItsQueries) {
  EXPECT_EQ(send(":APPL CH1,5,2"), "");
  EXPECT_EQ(send(":APPL? CH1"), "CH1:30V/3A,5.000,2.000\n");
  EXPECT_EQ(send(":APPL? CH1,VOLT"), "5.000\n");
  EXPECT_EQ(send(":APPL? CH1,CURR"), "2.000\n");
  send(":APPL CH3,3.3");
  EXPECT_EQ(send(":APPLY? ch3"), "CH3:5V/3A,3.300,3.200\n") << "current left as it was";
  send(":APPL CH1,0.2000,2");
  EXPECT_EQ(send("APPL? CH1,VOLTAGE"), "0.200\n");
  EXPECT_EQ(error(), "0,\"No error\"\n");
}

TEST_F(SimPsuCore, OutOfRangeIsRefusedNotClamped) {
  send(":APPL CH1,5,1");
  send(":APPL CH3,2,1");
  EXPECT_EQ(error_of(":APPL CH1,32.1,1"), "-222,\"Data out of range\"\n");
  EXPECT_EQ(error_of(":APPL CH1,5,3.3"), "-222,\"Data out of range\"\n");
  EXPECT_EQ(error_of(":APPL CH3,5.4"), "-222,\"Data out of range\"\n");
  EXPECT_EQ(error_of(":APPL CH2,-0.1"), "-222,\"Data out of range\"\n");
  EXPECT_EQ(error_of(":SOUR1:VOLT 40"), "-222,\"Data out of range\"\n");
  EXPECT_EQ(send(":APPL? CH1"), "CH1:30V/3A,5.000,1.000\n");
  EXPECT_EQ(send(":APPL? CH3"), "CH3:5V/3A,2.000,1.000\n");
  // The limits themselves are in range.
  send(":APPL CH1,32,3.2");
  EXPECT_EQ(error_of(":APPL CH3,5.3,3.2"), "0,\"No error\"\n");
  send(":APPL CH1,MAX,MIN");
  EXPECT_EQ(send(":APPL? CH1"), "CH1:30V/3A,32.000,0.000\n");
}

TEST_F(SimPsuCore, OutputForms) {
  send("OUTPUT CH1,ON");
  send(":OUTP:STAT CH2,ON");
  send(":outp ch3,1");
  EXPECT_EQ(send(":OUTP? CH1;:OUTP? CH2;:OUTP? CH3"), "ON;ON;ON\n");
  send(":OUTPut:STATe CH2,OFF");
  EXPECT_EQ(send(":OUTP:STAT? CH2"), "OFF\n");
  send(":INST:NSEL 2");
  send(":OUTP ON");
  EXPECT_EQ(send(":OUTP?"), "ON\n") << "without a channel: the selected one";
  EXPECT_EQ(error_of("OUTPUT CH4,ON"), "-224,\"Illegal parameter value\"\n");
  EXPECT_EQ(error_of("OUTPUT CH1,MAYBE"), "-224,\"Illegal parameter value\"\n");
}

TEST_F(SimPsuCore, ModeFollowsTheLoad) {
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
}

TEST_F(SimPsuCore, InstrumentAndSourceForms) {
  send(":INST:NSEL 2");
  EXPECT_EQ(send(":INST?"), "CH2\n");
  send(":VOLT 7.5");
  send(":CURR 0.5");
  EXPECT_EQ(send(":APPL? CH2"), "CH2:30V/3A,7.500,0.500\n");
  send(":INSTrument:SELect CH3");
  EXPECT_EQ(send(":INST:NSEL?"), "3\n");
  send("SOURCE:VOLTAGE:LEVEL:IMMEDIATE:AMPLITUDE 1.25");
  EXPECT_EQ(send(":VOLT?"), "1.250\n");
  send(":SOUR1:VOLT:LEV 9");
  send(":SOUR1:CURR:LEV:IMM 1.1");
  EXPECT_EQ(send(":SOUR1:VOLT?;:SOUR1:CURR?"), "9.000;1.1000\n");
  EXPECT_EQ(send(":INST?"), "CH3\n") << "SOURn leaves the selection alone";
  EXPECT_EQ(error_of(":SOUR4:VOLT 1"), "-114,\"Header suffix out of range\"\n");
  EXPECT_EQ(error_of(":INST:NSEL 4"), "-224,\"Illegal parameter value\"\n");
}

TEST_F(SimPsuCore, CaseShortAndLongForms) {
  send(":apply ch1,3,1");
  EXPECT_EQ(send(":Appl? Ch1"), "CH1:30V/3A,3.000,1.000\n");
  send(":SYSTem:BEEPer:STATe OFF");
  EXPECT_EQ(send(":syst:beep?"), "OFF\n");
  send(":SYST:BEEP ON");
  EXPECT_EQ(send(":SYSTEM:BEEPER:STATE?"), "ON\n");
  EXPECT_EQ(send(":SYST:VERS?"), "1999.0\n");
  EXPECT_EQ(send(":SYST:OTP?"), "ON\n");
  send(":SYST:REM");
  EXPECT_TRUE(st.remote);
  send(":SYSTEM:LOCAL");
  EXPECT_FALSE(st.remote);
  // A form that is neither the short nor the long one is not a header.
  EXPECT_EQ(error_of(":APP CH1,1,1"), "-113,\"Undefined header\"\n");
  EXPECT_EQ(error_of(":SYSTE:VERS?"), "-113,\"Undefined header\"\n");
}

TEST_F(SimPsuCore, MeasureQueries) {
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

TEST_F(SimPsuCore, ProtectionTripsAndClears) {
  send(":OUTP:OVP:VAL CH1,6");
  send(":OUTP:OVP CH1,ON");
  EXPECT_EQ(send(":OUTP:OVP? CH1;:OUTP:OVP:VAL? CH1"), "ON;6.000\n");
  send(":APPL CH1,8,1");
  send("OUTPUT CH1,ON");
  EXPECT_EQ(send(":OUTP? CH1"), "OFF\n");
  EXPECT_EQ(send(":OUTP:OVP:QUES? CH1"), "YES\n");
  EXPECT_EQ(send(":OUTP:MODE? CH1"), "UR\n");
  EXPECT_EQ(error_of("OUTPUT CH1,ON"), "-221,\"Settings conflict\"\n") << "a tripped output stays off until cleared";
  send(":OUTP:OVP:CLEAR CH1");
  send(":APPL CH1,5,1");
  send("OUTPUT CH1,ON");
  EXPECT_EQ(send(":OUTP? CH1;:OUTP:OVP:QUES? CH1"), "ON;NO\n");
  // Current protection against a load.
  send(":OUTP:OCP:VAL CH2,0.2;:OUTP:OCP CH2,ON");
  send(":APPL CH2,5,1");
  st.load_ohms[1] = 10.0;  // 0.5 A
  send("OUTPUT CH2,ON");
  EXPECT_EQ(send(":OUTP:OCP:QUES? CH2;:OUTP? CH2"), "YES;OFF\n");
  EXPECT_EQ(send(":OUTP:OCP:VAL? CH2"), "0.2000\n");
  EXPECT_EQ(send(":SYST:ERR?"), "0,\"No error\"\n");
}

TEST_F(SimPsuCore, ErrorQueueKeepsOrderAndOverflows) {
  send("FOO");
  send(":APPL CH1,99");
  send(":APPL CH1");
  send(":APPL CH1,1,1,1");
  send(":APPL CH1,abc");
  EXPECT_EQ(send(":SYST:ERR?;:SYST:ERR?;:SYST:ERR?;:SYST:ERR?;:SYST:ERR?;:SYST:ERR?"),
            "-113,\"Undefined header\";-222,\"Data out of range\";-109,\"Missing parameter\";"
            "-108,\"Parameter not allowed\";-104,\"Data type error\";0,\"No error\"\n");
  for (int i = 0; i < 25; ++i) send("FOO");
  for (int i = 0; i < 19; ++i) EXPECT_EQ(error(), "-113,\"Undefined header\"\n");
  EXPECT_EQ(error(), "-350,\"Queue overflow\"\n");
  EXPECT_EQ(error(), "0,\"No error\"\n");
  send("FOO");
  EXPECT_EQ(error_of("*CLS"), "0,\"No error\"\n");
}

TEST_F(SimPsuCore, SeveralCommandsOnOneLineWithRelativePaths) {
  EXPECT_EQ(send(":APPL CH1,1,1;:APPL CH2,2,1;OUTP CH1,ON"), "");
  EXPECT_EQ(send(":APPL? CH1,VOLT;:APPL? CH2,VOLT;:OUTP? CH1"), "1.000;2.000;ON\n");
  // After :OUTP:OVP:VAL the next header starts under :OUTP:OVP.
  EXPECT_EQ(send(":OUTP:OVP:VAL CH2,20;VAL? CH2;QUES? CH2"), "20.000;NO\n");
  // Empty pieces are ignored; a bad piece does not stop the rest.
  EXPECT_EQ(send("*IDN?;;BOGUS;:OUTP? CH2"), "Maker,DP832,SN9,1.0;OFF\n");
  EXPECT_EQ(error(), "-113,\"Undefined header\"\n");
}

TEST_F(SimPsuCore, CalibrationCommandsAreRefusedOutsideASession) {
  CalTable before = st.model.cal[0][Q_VDAC] = {{0.0, 0.0}, {30.0, 30.1}};
  EXPECT_EQ(error_of("CAL:CLEAR CH1,V"), "-203,\"Command protected\"\n");
  EXPECT_EQ(error_of("CAL:SET CH1,V,0,0.2,1"), "-203,\"Command protected\"\n");
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,0,0.2,1"), "-203,\"Command protected\"\n");
  EXPECT_EQ(error_of("CAL:END 12/07/2024,CH1"), "-203,\"Command protected\"\n");
  EXPECT_EQ(error_of("CAL:START 12345,CH1"), "-203,\"Command protected\"\n");
  EXPECT_EQ(st.cal_channel, 0);
  send("CAL:CLEAR CH1,V");
  EXPECT_EQ(st.model.cal[0][Q_VDAC].size(), before.size()) << "nothing changed";
  EXPECT_FALSE(st.drive.active);
}

TEST_F(SimPsuCore, CalibrationCommandsCheckChannelQuantityAndPoint) {
  st.model.cal[1][Q_VDAC] = {{0.0, 0.0}, {30.0, 30.1}};
  send("CAL:START 27384,CH1");
  EXPECT_EQ(st.cal_channel, 1);
  EXPECT_EQ(error_of("CAL:CLEAR CH2,V"), "-221,\"Settings conflict\"\n");
  EXPECT_EQ(st.model.cal[1][Q_VDAC].size(), 2u);
  EXPECT_EQ(error_of("CAL:CLEAR CH1,X"), "-224,\"Illegal parameter value\"\n");
  EXPECT_EQ(error_of("CAL:SET CH1,V,0,33.0,1"), "-222,\"Data out of range\"\n");
  EXPECT_EQ(error_of("CAL:SET CH1,V,0,0.2,2"), "-224,\"Illegal parameter value\"\n");
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,0,0.2,1"), "-221,\"Settings conflict\"\n") << "no point driven yet";
  send("CAL:SET CH1,V,0,0.2,1");
  EXPECT_TRUE(st.drive.active);
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,1,0.2,1"), "-221,\"Settings conflict\"\n")
      << "another point than the one driven";
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,0,-999999999999.000000,1"), "-222,\"Data out of range\"\n")
      << "a failed reading is not taken";
  EXPECT_TRUE(st.pending[Q_VDAC].empty());
  EXPECT_EQ(error_of("CAL:MEAS CH1,V,0,0.199760,1"), "0,\"No error\"\n");
  EXPECT_EQ(st.pending[Q_VDAC].size(), 1u);
  EXPECT_EQ(error_of("CAL:END 12/07/2024,CH2"), "-221,\"Settings conflict\"\n");
  EXPECT_EQ(st.cal_channel, 1);
  send("CAL:END 12/07/2024,CH1");
  EXPECT_EQ(st.cal_channel, 0);
  EXPECT_TRUE(st.calibration_changed);
  EXPECT_EQ(send("CAL:DATE? CH1"), "12/07/2024\n");
}

TEST_F(SimPsuCore, CalibrationDataThatIsNotMonotonicIsRejected) {
  send("CAL:START 27384,CH2");
  send("CAL:CLEAR CH2,V");
  send("OUTPUT CH2,ON");
  const double points[] = {1.0, 2.0, 3.0};
  const double reported[] = {1.0, 0.5, 3.0};  // point 1 read far too low
  for (int i = 0; i < 3; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "CAL:SET CH2,V,%d,%.1f,1", i, points[i]);
    send(text);
    std::snprintf(text, sizeof text, "CAL:MEAS CH2,V,%d,%f,1", i, reported[i]);
    send(text);
  }
  EXPECT_EQ(error_of("CAL:END 01/02/2025,CH2"), "-230,\"Data corrupt or stale\"\n");
  EXPECT_TRUE(st.model.cal[1][Q_VDAC].empty()) << "left as CAL:CLEAR made it";
  EXPECT_EQ(st.cal_channel, 0);
}

}  // namespace

namespace {

struct PsuCase {
  const char* setup;
  const char* query;
  const char* answer;
};
void PrintTo(const PsuCase& c, std::ostream* os) { *os << c.setup << " then " << c.query; }

class SimPsuStatus : public SimPsuCore, public ::testing::WithParamInterface<PsuCase> {};

TEST_P(SimPsuStatus, SetThenQuery) {
  const PsuCase& c = GetParam();
  if (*c.setup != 0) send(c.setup);
  EXPECT_EQ(send(c.query), std::string(c.answer) + "\n") << c.setup;
}

INSTANTIATE_TEST_SUITE_P(
    Registers, SimPsuStatus,
    ::testing::Values(
        PsuCase{"*ESE 36;*SRE 8", "*ESE?;*SRE?", "36;8"},
        PsuCase{"FOO", "*ESR?;*ESR?;*STB?", "32;0;4"},
        PsuCase{":APPL CH1,99", "*ESR?", "16"},
        PsuCase{"FOO;*CLS", "*ESR?;*STB?", "0;0"},
        PsuCase{":STAT:QUES:ENAB 3;:STAT:OPER:ENAB 1280", ":STAT:QUES:ENAB?;:STAT:OPER:ENAB?", "3;1280"},
        PsuCase{":APPL CH1,5,1;:OUTP CH1,ON", ":STAT:OPER:COND?;:STAT:OPER?;:STAT:OPER?", "256;256;0"},
        PsuCase{":STAT:OPER:ENAB 256;*SRE 128;:APPL CH1,5,1;:OUTP CH1,ON", "*STB?", "192"},
        PsuCase{":VOLT:PROT 6;:VOLT:PROT:STAT ON;:APPL CH1,8,1;:OUTP CH1,ON",
                ":STAT:QUES:COND?;:STAT:QUES?;:STAT:QUES?;:VOLT:PROT:TRIP?;:OUTP? CH1", "1;1;0;YES;OFF"},
        PsuCase{":VOLT:PROT 6;:VOLT:PROT:STAT ON", ":VOLT:PROT?;:VOLT:PROT:STAT?;:OUTP:OVP:VAL? CH1;:OUTP:OVP? CH1",
                "6.000;ON;6.000;ON"},
        PsuCase{":SOUR2:CURR:PROT 0.5", ":SOUR2:CURR:PROT?;:OUTP:OCP:VAL? CH2;:CURR:PROT? MAX", "0.5000;0.5000;3.3000"},
        PsuCase{":SOUR3:VOLT:PROT 9", ":SYST:ERR?;:SOUR3:VOLT:PROT?", "-222,\"Data out of range\";5.500"},
        PsuCase{"", ":VOLT? MAX;:VOLT? MIN;:SOUR3:VOLT? MAX;:CURR? MAX", "32.000;0.000;5.300;3.2000"},
        PsuCase{":SOUR99999999999:VOLT 1", ":SYST:ERR?", "-114,\"Header suffix out of range\""}));

// An output that is off, or on without a load, reads a few counts at most, never below zero.
TEST_F(SimPsuCore, IdleOutputsReadNearZero) {
  send(":APPL CH2,10,1");
  send(":OUTP CH2,ON");
  for (int channel = 1; channel <= 3; ++channel) {
    for (int i = 0; i < 20; ++i) {
      std::string ch = " CH" + std::to_string(channel);
      double amps = std::atof(send(":MEAS:CURR?" + ch).c_str());
      EXPECT_GE(amps, 0.0) << channel;
      EXPECT_LE(amps, 0.0003) << channel;
      if (channel == 2) continue;
      double volts = std::atof(send(":MEAS?" + ch).c_str());
      EXPECT_GE(volts, 0.0) << channel;
      EXPECT_LE(volts, 0.0003) << channel;
    }
  }
}

}  // namespace
