// DP832 faults during the whole program's run: dropped mid-procedure, silent to *IDN?, refusing
// connections, restarting between two menu commands, talking without pause (the drain bound). Each run
// checks what the operator saw, what the supply received, that the menu still worked (D reconnects) and
// the run's time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/primitives.h"
#include "platform/sleep.h"
#include "tests/fault_fixture.h"

namespace {

const std::string PSU_GONE_IN_RUN = "\a\nERROR: THE CONNECTION TO THE DP832 HAS BEEN LOST.";
const std::string NO_PSU = "\a\nNo active DP832 connection.\n";
const std::string PSU_IDENTIFY_WARNING =
    "\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n";
const std::string PSU_CONNECT_WARNING =
    "\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n";

class PsuFaultTest : public FaultTest {
 protected:
  PsuFaultTest() { scale = 0.05; }

  int commands_like(const std::string& prefix) const {
    int n = 0;
    for (const std::string& line : psu_lines()) n += line.rfind(prefix, 0) == 0;
    return n;
  }
};

}  // namespace

// The supply goes away in the middle of a calibration: the run stops at once with a clear error
// instead of printing commands that go nowhere, the menu reports the lost supply, and D reconnects.
class PsuCalibrationFault : public PsuFaultTest, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(VoltageAndCurrent, PsuCalibrationFault, ::testing::Values("V3\r", "C3\r"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param[0] == 'V' ? "Voltage" : "Current");
                         });

TEST_P(PsuCalibrationFault, DroppedMidCalibrationStopsTheRunAndDReconnects) {
  const char* procedure = GetParam();
  start_bench();
  // Path check (3 commands, each with its *OPC?), CAL:START, CAL:CLEAR, *RST, OUTPUT ON and *OPC?,
  // then points: the drop comes after the 16th line, in the middle of the first phase.
  before_key[0] = [this]() { bench->set_psu_faults({.drop_after_commands = 16}); };
  before_key[3] = [this]() { bench->set_psu_faults(SimPsuFaults()); };
  int code = run(std::string(procedure) + "ZD\r\rYZX");
  // Nothing was sent into the void and shown as sent.
  const std::string run_text = after("CH3 output ON...");
  EXPECT_NE(run_text.find(PSU_GONE_IN_RUN), std::string::npos) << run_text;
  EXPECT_EQ(after(PSU_GONE_IN_RUN).find("] CAL:"), std::string::npos) << "no command shown after the loss";
  EXPECT_EQ(run_text.find("output OFF..."), std::string::npos);
  EXPECT_EQ(occurrences(out, "CAL:END"), 0);
  // One new connection, only to switch the output off and end the calibration.
  EXPECT_NE(after(PSU_GONE_IN_RUN).find("THE DP832 WAS RECONNECTED: CH3 OUTPUT SWITCHED OFF.\n"
                                         "THE CALIBRATION OF CH3 WAS ENDED.\n"),
            std::string::npos);
  const std::vector<std::string> lines = psu_lines();
  // *RST and *IDN? at start-up, the 16 lines of the run, then the new connection's.
  ASSERT_GE(lines.size(), 21u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 18, lines.begin() + 21),
            (std::vector<std::string>{"OUTPUT CH3,OFF", "*OPC?", lines[20]}));
  EXPECT_TRUE(lines[20].starts_with("CAL:END ")) << lines[20];
  EXPECT_FALSE(bench->output_on(3));
  EXPECT_FALSE(bench->in_calibration());
  // At the menu: the check finds the supply lost; D reconnects it; the next check passes.
  EXPECT_NE(out.find("Command >Z\n" + PSU_LOST), std::string::npos);
  EXPECT_NE(after("Configure DP832 IP Address").find("Connecting to DP832 on IP 127.0.0.1"), std::string::npos);
  EXPECT_EQ(bench->psu_connections(), 3);
  expect_last_check_passed(code);
  EXPECT_LT(elapsed_ms, bound_ms(30));
}

TEST_F(PsuFaultTest, DroppedMidAssessmentStopsIt) {
  start_bench();
  // Path check (3), OUTPUT ON, then four set points, each with its *OPC?.
  before_key[0] = [this]() { bench->set_psu_faults({.drop_after_commands = 16}); };
  before_key[2] = [this]() { bench->set_psu_faults(SimPsuFaults()); };
  int code = run("A3ZD\r\rYZX");
  EXPECT_NE(out.find(PSU_GONE_IN_RUN), std::string::npos);
  EXPECT_LE(occurrences(out, "Correction: Setpoint"), 4);
  EXPECT_EQ(out.find("PROCEDURE ABORTED"), std::string::npos) << "no key wait for a wrong reading";
  EXPECT_EQ(out.find(" SS Error:"), std::string::npos);
  EXPECT_NE(after(PSU_GONE_IN_RUN).find("THE DP832 WAS RECONNECTED: CH3 OUTPUT SWITCHED OFF.\n"), std::string::npos);
  EXPECT_FALSE(bench->output_on(3));
  EXPECT_NE(out.find("Command >Z\n" + PSU_LOST), std::string::npos);
  expect_last_check_passed(code);
  EXPECT_LT(elapsed_ms, bound_ms(30));
}

// The full calibration with the supply dropping in its first calibration: each step reports the lost
// supply, the summary shows no figures, and nothing is sent after the drop.
TEST_F(PsuFaultTest, DroppedMidFullCalibration) {
  start_bench();
  // Two path checks, CAL:START, CAL:CLEAR, *RST, OUTPUT ON, points, with their *OPC? questions.
  before_key[0] = [this]() { bench->set_psu_faults({.drop_after_commands = 24}); };
  int code = run("F1Y  ZX");
  EXPECT_NE(out.find(PSU_GONE_IN_RUN), std::string::npos);
  EXPECT_NE(out.find("FACTORY CALIBRATION:\n SS Error:      n/a mV^2"), std::string::npos);
  // *RST and *IDN? at start-up, the 24 lines of the full calibration, then on a new connection only
  // the output off (confirmed) and CAL:END.
  EXPECT_EQ(psu_lines().size(), 2u + 24u + 3u) << "nothing else reaches the supply after the drop";
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_NE(out.find("Command >Z\n" + PSU_LOST), std::string::npos);
  EXPECT_EQ(code, 0);
  EXPECT_LT(elapsed_ms, bound_ms(20));
}

// Silent to *IDN? or refusing connections from the start: the warning, no supply at the menu's check, and
// D reconnects once the supply is well (a refused connection is never counted).
TEST_F(PsuFaultTest, SilentToIdentificationOrRefusingThenDReconnects) {
  const struct {
    SimPsuFaults faults;
    std::string warning;
    int connections;
  } cases[] = {{{.silent_to_idn = true}, PSU_IDENTIFY_WARNING, 2},
               {{.refuse_connections = true}, PSU_CONNECT_WARNING, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warning);
    options.psu_faults = c.faults;
    fresh_run();
    before_key[1] = [this]() { bench->set_psu_faults(SimPsuFaults()); };
    int code = run("ZD\r\rYZX");
    const std::string port = std::to_string(bench->psu_port());
    EXPECT_NE(out.find("Connecting to DP832 on IP 127.0.0.1, Port " + port + "..." + c.warning), std::string::npos);
    EXPECT_NE(out.find("No DP832 detected."), std::string::npos);
    EXPECT_NE(out.find("Command >Z\n" + NO_PSU), std::string::npos);
    EXPECT_NE(out.find("Simbench DP832 (S/N SB83200001 ) at 127.0.0.1:" + port), std::string::npos);
    EXPECT_EQ(bench->psu_connections(), c.connections);
    expect_last_check_passed(code);
    EXPECT_LT(elapsed_ms, bound_ms(4));
  }
}

// Both instruments restart while the menu waits for a key: the check reports each lost link in turn,
// and M and D bring them back at the same addresses.
TEST_F(PsuFaultTest, RestartBetweenTwoCommandsThenMAndDReconnect) {
  start_bench();
  before_key[1] = [this]() {
    options.dmm_port = bench->dmm_port();
    options.psu_port = bench->psu_port();
    bench.reset();
    bench = std::make_unique<SimBench>(options);
    ASSERT_TRUE(bench->ok());
  };
  int code = run("ZZM\r\rYZD\r\rYZX");
  EXPECT_NE(out.find("Command >Z\n" + UNKNOWN_COMMAND), std::string::npos);
  EXPECT_NE(out.find("Command >Z\n" + DMM_LOST), std::string::npos);
  EXPECT_NE(out.find("Command >Z\n" + PSU_LOST), std::string::npos);
  EXPECT_EQ(bench->dmm_connections(), 1);
  EXPECT_EQ(bench->psu_connections(), 1);
  expect_last_check_passed(code);
  EXPECT_LT(elapsed_ms, bound_ms(6));
}

// --- A supply that never stops talking: every drain ends after its bound

TEST_F(PsuFaultTest, UnsolicitedStreamBoundsEveryDrain) {
  connect_both();
  bench->set_psu_faults({.unsolicited_stream = true});
  const long long start = env.clock_ms;
  psu().command("OUTPUT CH1,ON\r\n");
  // The drain ends DRAIN_LIMIT_MS after it began, not when the stream ends (never).
  EXPECT_EQ(env.clock_ms - start, DRAIN_LIMIT_MS);
  EXPECT_EQ(psu_lines().back(), "OUTPUT CH1,ON");
  ASSERT_NE(psu().link(), nullptr);
  EXPECT_EQ(psu().link()->is_connected(), 1);
}

// The bench in memory keeps the served bench's faults: a supply that closes after its Nth command line
// is gone for the link at once, and refusing instruments give no connection.
TEST_F(PsuFaultTest, InMemoryDropAndRefusalAsServed) {
  connect_both();
  bench->set_psu_faults({.drop_after_commands = 2});
  psu().command("OUTPUT CH1,ON\r\n");
  EXPECT_TRUE(psu().connected());
  psu().command("OUTPUT CH1,OFF\r\n");
  EXPECT_FALSE(psu().connected());
  EXPECT_EQ(psu_lines(), (std::vector<std::string>{"OUTPUT CH1,ON", "OUTPUT CH1,OFF"}));
  bench->set_psu_faults({.refuse_connections = true});
  bench->set_dmm_faults({.refuse_connections = true});
  EXPECT_EQ(bench->connect_psu(), nullptr);
  EXPECT_EQ(bench->connect_dmm(), nullptr);
}

TEST_F(PsuFaultTest, UnsolicitedStreamDuringAProcedureAndTheMenu) {
  set_time_scale(0.1);
  options.wire = 0;  // the DMM on nothing: the path check fails after its three commands
  start_bench();
  before_key[0] = [this]() { bench->set_psu_faults({.unsolicited_stream = true}); };
  before_key[3] = [this]() { bench->set_psu_faults(SimPsuFaults()); };
  int code = run("V3\rZX");
  EXPECT_NE(out.find("CONNECTED TO CHANNEL 3 OUTPUT TERMINALS, THEN PRESS ENTER:\n\n" + NOT_READING),
            std::string::npos);
  EXPECT_EQ(commands_like("OUTPUT CH3,"), 2);
  EXPECT_EQ(commands_like(":APPL CH3,5,2"), 1);
  expect_last_check_passed(code);
  // Three drains of at most DRAIN_LIMIT_MS each, besides the usual waits.
  EXPECT_LT(elapsed_ms, bound_ms(4) + 3LL * scaled_ms(DRAIN_LIMIT_MS));
}
