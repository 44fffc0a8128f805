// The simulated bench over TCP: framing and timing on the wire, clients one after another, wiring,
// faults at their counts, the calibration memory across runs, and the trimora-sim executable.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim.h"
#include "tests/program_fixture.h"

namespace {

const char* const DMM_IDN = "Simbench,DMM-65,SB65000001,1.02";
const char* const PSU_IDN_LINE = "Simbench,DP832,SB83200001,00.01.16\n";

int connect_local(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Appends what fd delivers to text until text holds what (never, when what is empty), the peer
// closes, or timeout_ms pass (real time). true when the peer closed.
bool receive(int fd, std::string& text, const std::string& what, int timeout_ms) {
  Clock::time_point start = Clock::now();
  while (what.empty() || text.find(what) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    long long left = timeout_ms - ms_since(start);
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return false;
}

// A plain test client on 127.0.0.1 that keeps everything it receives in text.
struct Client {
  explicit Client(int port) : fd(connect_local(port)) {}
  ~Client() {
    if (fd >= 0) close(fd);
  }
  void send_text(const std::string& line) { ::send(fd, line.data(), line.size(), MSG_NOSIGNAL); }
  // Waits until text holds what; an empty what waits all of timeout_ms. Returns text.
  const std::string& read(const std::string& what, int timeout_ms = 5000) {
    closed = receive(fd, text, what, timeout_ms) || closed;
    return text;
  }
  bool wait_closed() {
    read("");
    return closed;
  }
  // Ends the sending side only: the peer still answers what it received.
  void half_close() { shutdown(fd, SHUT_WR); }
  int fd;
  bool closed = false;
  std::string text;
};

class SimBenchTest : public ProgramTest {
 protected:
  SimBenchTest() { options.wire = SimOptions().wire; }
  // A DMM client past its welcome.
  std::unique_ptr<Client> dmm() {
    auto c = std::make_unique<Client>(bench->dmm_port());
    EXPECT_GE(c->fd, 0);
    c->read("DMM> ");
    c->text.clear();
    return c;
  }
  double reading(Client& c) {
    std::string text = ask(c, "READ?\r", "DMM> ");
    std::size_t at = text.find("\r\n");
    return at == std::string::npos ? NAN : std::atof(text.c_str() + at + 2);
  }
  // Sends line and returns what comes back until until (for all of timeout_ms when empty, or the close).
  std::string ask(Client& c, const std::string& line, const std::string& until = "\n", int timeout_ms = 5000) {
    c.text.clear();
    c.send_text(line);
    return c.read(until, timeout_ms);
  }
};

TEST_F(SimBenchTest, WelcomePromptAndAnswerAfterTheMeasurementTime) {
  set_time_scale(1.0);
  options.measurement_time_ms = 800;
  start_bench();
  Client c(bench->dmm_port());
  std::string welcome = c.read("DMM> ");
  ASSERT_GE(welcome.size(), 7u);
  EXPECT_EQ(welcome.find("\r\n"), welcome.size() - 7);
  EXPECT_EQ(welcome.substr(welcome.size() - 5), "DMM> ");

  Clock::time_point sent = Clock::now();
  EXPECT_EQ(ask(c, "READ?\r", "\r\n"), "READ?\r\n") << "the echo comes at once, alone";
  std::string all = c.read("DMM> ");
  EXPECT_GE(ms_since(sent), 790) << "the answer waits for the measurement";
  ASSERT_EQ(all.size(), std::string("READ?\r\n+0.00000000E+00\r\nDMM> ").size()) << all;
  EXPECT_EQ(all.substr(0, 8), "READ?\r\n+");
  EXPECT_EQ(all.substr(all.size() - 7), "\r\nDMM> ");
  EXPECT_EQ(all.substr(all.size() - 11, 4), "E+00") << "nothing wired: near zero";

  // Line ends CR LF and LF work as well as CR; a CR LF split across packets ends one line only; a
  // telnet client's CR NUL is one line end.
  const std::string one = "*IDN?\r\n" + std::string(DMM_IDN) + "\r\nDMM> ";
  EXPECT_EQ(ask(c, "*IDN?\r\n*IDN?\n*IDN?\r", one + one + one), one + one + one);
  ask(c, "*RST\r", "DMM> ");
  c.send_text("\n*CLS\r");
  EXPECT_EQ(c.read("*CLS\r\nDMM> "), "*RST\r\nDMM> *CLS\r\nDMM> ");
  EXPECT_EQ(ask(c, std::string("*RST\r\0*CLS\r\0", 12), "*CLS\r\nDMM> "), "*RST\r\nDMM> *CLS\r\nDMM> ");
}

TEST_F(SimBenchTest, ClientsOneAfterAnotherAndTwoAtOnce) {
  start_bench();
  ASSERT_TRUE(bench->dmm_port() > 0 && bench->psu_port() > 0 && bench->dmm_port() != bench->psu_port());
  {
    Client first(bench->dmm_port());
    first.read("DMM> ");
    first.send_text("READ?\r");  // gone before the answer comes
  }
  {
    Client p(bench->psu_port());
    EXPECT_EQ(ask(p, "*IDN?\n"), PSU_IDN_LINE);
  }
  auto second = dmm();
  auto third = dmm();
  EXPECT_NEAR(reading(*second), 0.0, 1e-4);
  EXPECT_NEAR(reading(*third), 0.0, 1e-4);
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, ":SYST:ERR?\n"), "0,\"No error\"\n");
  EXPECT_EQ(bench->dmm_connections(), 3);
  EXPECT_EQ(bench->psu_connections(), 2);
}

TEST_F(SimBenchTest, InputSplitAcrossPacketsAndTheReceivedLog) {
  start_bench();
  Client p(bench->psu_port());
  for (const char* part : {":APPL CH1,5,", "2\r", "\n*IDN?\r\n:APPL? CH1\n"}) {
    if (*part != ':') std::this_thread::sleep_for(std::chrono::milliseconds(30));
    p.send_text(part);
  }
  EXPECT_EQ(p.read("2.000\n"), std::string(PSU_IDN_LINE) + "CH1:30V/3A,5.000,2.000\n");
  std::vector<SimReceived> log = bench->psu_received();
  ASSERT_EQ(psu_lines(), (std::vector<std::string>{":APPL CH1,5,2", "*IDN?", ":APPL? CH1"}));
  EXPECT_LE(log[0].time_s, log[1].time_s);
  EXPECT_GE(log[0].time_s, 0.0);

  auto d = dmm();
  d->send_text("CONF:VO");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  d->send_text("LT:DC AUTO\r");
  EXPECT_EQ(d->read("DMM> "), "CONF:VOLT:DC AUTO\r\nDMM> ");
  EXPECT_EQ(dmm_lines(), std::vector<std::string>{"CONF:VOLT:DC AUTO"});
  bench->clear_received();
  EXPECT_TRUE(bench->psu_received().empty() && bench->dmm_received().empty());
}

// A client that writes and closes at once (or half-closes after a query) still has every complete line
// carried out, and the half-closed one its answers, before the connection ends.
TEST_F(SimBenchTest, LinesSentJustBeforeTheCloseAreCarriedOutAndAnswered) {
  options.dmm_style = SimDmmStyle::raw;
  start_bench();
  for (int i = 1; i <= 40; ++i) {
    Client(bench->psu_port()).send_text(":APPL CH2," + std::to_string(i % 30) + ",1\nOUTP CH2," +
                                        (i % 2 ? "ON" : "OFF") + "\n");
    Clock::time_point start = Clock::now();
    // Both lines are carried out, the second after the first: wait for the second as well.
    while ((bench->set_voltage(2) != i % 30 || bench->output_on(2) != (i % 2 == 1)) && ms_since(start) < 5000)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(bench->set_voltage(2), i % 30) << "round " << i;
    ASSERT_EQ(bench->output_on(2), i % 2 == 1) << "round " << i;
  }
  EXPECT_EQ(bench->psu_received().size(), 80u);
  Client p(bench->psu_port());
  p.send_text("*IDN?\n:APPL? CH2,VOLT\n");
  p.half_close();
  EXPECT_TRUE(p.wait_closed());
  EXPECT_EQ(p.text, std::string(PSU_IDN_LINE) + "10.000\n");
  Client d(bench->dmm_port());
  d.send_text("*IDN?\nREAD?\n");  // the reading waits for its measurement time
  d.half_close();
  EXPECT_TRUE(d.wait_closed());
  ASSERT_EQ(d.text.size(), 32u + 16u) << d.text;
  EXPECT_EQ(d.text.substr(0, 32), DMM_IDN + std::string("\n"));
  EXPECT_NEAR(std::atof(d.text.c_str() + 32), 0.0, 1e-4);
}

TEST_F(SimBenchTest, RawStyleDmmHasNoWelcomeEchoOrPrompt) {
  options.dmm_style = SimDmmStyle::raw;
  options.wire = 1;
  start_bench();
  Client p(bench->psu_port());
  p.send_text(":APPL CH1,5,1\nOUTP CH1,ON\n");
  Client d(bench->dmm_port());
  EXPECT_EQ(d.read("", 100), "") << "no welcome";
  std::string all = ask(d, "*IDN?\r\nMEAS:VOLT:DC?\nSYST:ERR?\n", "No error\"\n");
  ASSERT_EQ(all.size(), 32u + 16u + 13u) << all;
  EXPECT_EQ(all.substr(0, 32), DMM_IDN + std::string("\n"));
  EXPECT_NEAR(std::atof(all.c_str() + 32), 5.0, 0.1) << all;
  EXPECT_EQ(all.substr(47), "\n0,\"No error\"\n");
}

TEST_F(SimBenchTest, TheDmmReadsTheWiredChannel) {
  options.wire = 2;
  start_bench();
  Client p(bench->psu_port());
  auto d = dmm();
  auto psu = [&](const std::string& lines) { ask(p, lines + "*OPC?\n"); };
  psu(":APPL CH2,5,2\nOUTPUT CH2,ON\n:APPL CH1,12,1\nOUTPUT CH1,ON\n");
  EXPECT_NEAR(reading(*d), bench->true_output_voltage(2, 5.0), 50e-6);
  EXPECT_EQ(bench->wired_channel(), 2);
  bench->set_wire(1);
  EXPECT_NEAR(reading(*d), bench->true_output_voltage(1, 12.0), 300e-6);
  bench->set_wire(0);
  EXPECT_NEAR(reading(*d), 0.0, 1e-5);

  // Auto: the channel switched on last.
  bench->set_wire(-1);
  EXPECT_EQ(bench->wired_channel(), 1);
  psu(":APPL CH3,3.3,1\nOUTPUT CH3,ON\n");
  EXPECT_EQ(bench->wired_channel(), 3);
  EXPECT_NEAR(reading(*d), bench->true_output_voltage(3, 3.3), 50e-6);
  psu("OUTPUT CH3,OFF\n");
  EXPECT_NEAR(reading(*d), 0.0, 1e-5) << "leads still on CH3, which is off";

  // Amps: the shunt shorts CH1, which runs in constant current at its limit.
  bench->set_wire(1);
  ask(*d, "CONF:CURR:DC AUTO\r", "DMM> ");
  EXPECT_EQ(ask(p, ":APPL CH1,3,2\n:OUTP:MODE? CH1\n"), "CC\n");
  EXPECT_NEAR(reading(*d), bench->true_output_current(1, 2.0), 20e-6);
  EXPECT_GT(std::fabs(bench->current_error(1, 2.0)), 1e-4) << "uncalibrated";
  psu("OUTPUT CH1,OFF\n");
  EXPECT_NEAR(reading(*d), 0.0, 1e-6);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_DOUBLE_EQ(bench->set_voltage(1), 3.0);
  EXPECT_DOUBLE_EQ(bench->set_current(1), 2.0);
}

// The supply acting late answers *OPC? once it has acted; its meters report what the accessors tell,
// the voltage with its readback offset.
TEST_F(SimBenchTest, ActingLateAndTheReadback) {
  options.wire = 1;
  options.psu_readback_offset_v = 0.015;
  options.psu_faults.act_delay_ms = 300;
  start_bench();
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, ":APPL CH1,12,1;OUTP CH1,ON;:OUTP? CH1\n"), "OFF\n");
  EXPECT_EQ(ask(p, "*OPC?\n"), "1\n");
  EXPECT_TRUE(bench->output_on(1));
  EXPECT_NEAR(std::atof(ask(p, ":MEAS:VOLT? CH1\n").c_str()), bench->voltage_readback(1, 12.0), 1e-4);
  auto d = dmm();
  ask(*d, "CONF:CURR:DC\r", "DMM> ");
  EXPECT_EQ(ask(p, ":APPL CH1,1,2;*OPC?;:MEAS:CURR? CH1\n").substr(0, 2), "1;");
  EXPECT_NEAR(std::atof(p.text.c_str() + 2), bench->current_readback(1, 2.0), 1e-4);
  EXPECT_GT(std::fabs(bench->current_readback_error(1, 2.0)), 1e-4) << "uncalibrated";
}

TEST_F(SimBenchTest, ScriptedReadingsOverrideTheModel) {
  options.wire = 1;
  start_bench();
  bench->script_readings({1.5, 1.4999});
  bench->script_readings({-5.0});
  auto d = dmm();
  for (double scripted : {1.5, 1.4999, -5.0}) EXPECT_EQ(reading(*d), scripted);
  EXPECT_NEAR(reading(*d), 0.0, 1e-5);
}

TEST_F(SimBenchTest, RefusedConnectionsAndBack) {
  options.psu_faults.refuse_connections = true;
  start_bench();
  EXPECT_LT(connect_local(bench->psu_port()), 0);
  bench->set_dmm_faults({.refuse_connections = true});
  EXPECT_LT(connect_local(bench->dmm_port()), 0);
  bench->set_dmm_faults(SimDmmFaults());
  bench->set_psu_faults(SimPsuFaults());
  auto d = dmm();
  EXPECT_NEAR(reading(*d), 0.0, 1e-5);
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, "*OPC?\n"), "1\n");
}

TEST_F(SimBenchTest, DmmDropsAtTheNthReadingOnlyAndFallsSilentFromTheNth) {
  options.dmm_faults.drop_at_reading = 2;
  start_bench();
  auto d = dmm();
  EXPECT_FALSE(std::isnan(reading(*d)));
  EXPECT_EQ(ask(*d, "READ?\r", ""), "") << "closed without an echo";
  EXPECT_TRUE(d->closed);
  auto again = dmm();
  EXPECT_FALSE(std::isnan(reading(*again))) << "the third reading on a new connection is answered";

  bench->set_dmm_faults({.silent_from_reading = 2});
  bench->clear_received();
  auto s = dmm();
  EXPECT_FALSE(std::isnan(reading(*s)));
  EXPECT_EQ(ask(*s, "READ?\r", "", 200), "");
  EXPECT_EQ(ask(*s, "*IDN?\r", "", 100), "");
  EXPECT_EQ(bench->dmm_received().size(), 3u) << "received and logged, not answered";
}

TEST_F(SimBenchTest, PsuDropsAfterTheNthCommand) {
  options.psu_faults.drop_after_commands = 3;
  start_bench();
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, "*IDN?\n"), PSU_IDN_LINE);
  p.send_text(":APPL CH1,1,1\n");
  EXPECT_EQ(ask(p, ":APPL? CH1,VOLT\n"), "1.000\n") << "the third command is still answered";
  EXPECT_TRUE(p.wait_closed());
  Client again(bench->psu_port());
  EXPECT_EQ(ask(again, ":APPL? CH1,VOLT\n"), "1.000\n") << "only the third command drops";
}

TEST_F(SimBenchTest, PsuSilentToIdnAndUnsolicitedStream) {
  options.psu_faults.silent_to_idn = true;
  start_bench();
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, "*IDN?\n", "", 300), "");
  EXPECT_EQ(ask(p, ":SYST:ERR?\n"), "0,\"No error\"\n");

  bench->set_psu_faults({.unsolicited_stream = true});
  Client listener(bench->psu_port());
  std::string text = listener.read("", 300);
  EXPECT_NE(text.find("STREAM,1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("STREAM,3\n"), std::string::npos) << "several lines, unasked";
  bench->set_psu_faults(SimPsuFaults());
  listener.read("", 50);
  listener.text.clear();
  EXPECT_EQ(listener.read("", 100), "");
}

TEST_F(SimBenchTest, PortInUseIsNotOk) {
  start_bench();
  SimOptions same = options;
  same.dmm_port = bench->dmm_port();
  EXPECT_FALSE(SimBench(same).ok());
}

TEST_F(SimBenchTest, CalibrationMemorySurvivesARestart) {
  options.state_file = folder->path() + "/sim.state";  // no file yet: the first run starts uncalibrated
  start_bench();
  EXPECT_EQ(bench->state_message(), "");
  double uncalibrated = bench->voltage_error(1, 20.0);
  {
    Client p(bench->psu_port());
    p.send_text("CAL:START 27384,CH1\nCAL:CLEAR CH1,V\nOUTPUT CH1,ON\n");
    const char* const points[][2] = {{"0,1.0", "0,1.010000"}, {"1,10.0", "1,10.010000"}, {"2,30.0", "2,30.010000"}};
    for (const auto& point : points) {
      ask(p, "CAL:SET CH1,V," + std::string(point[0]) + ",1\n*OPC?\n");
      p.send_text("CAL:MEAS CH1,V," + std::string(point[1]) + ",1\n");
    }
    EXPECT_TRUE(bench->in_calibration());
    EXPECT_EQ(ask(p, "CAL:END 12/07/2024,CH1\n:SYST:ERR?\n"), "0,\"No error\"\n");
  }
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_TRUE(bench->voltage_calibrated(1));
  EXPECT_FALSE(bench->current_calibrated(1));
  double calibrated = bench->voltage_error(1, 20.0);
  EXPECT_NE(calibrated, uncalibrated);
  bench.reset();

  start_bench();
  EXPECT_EQ(bench->state_message(), "");
  EXPECT_TRUE(bench->voltage_calibrated(1));
  EXPECT_EQ(bench->voltage_error(1, 20.0), calibrated);
  bench.reset();

  options.seed = 2;  // another supply: the file does not fit it
  start_bench();
  EXPECT_NE(bench->state_message().find("seed"), std::string::npos) << bench->state_message();
  EXPECT_FALSE(bench->voltage_calibrated(1));
}

// ---- The executable

#ifdef TRIMORA_SIM_BINARY

// The simulator run by the shell with arguments; its standard output comes through a pipe, after the
// shell has told its pid, which exec keeps. Stopped at the end when still running.
struct Running {
  explicit Running(const std::string& args)
      : out(popen(("echo $$; exec '" TRIMORA_SIM_BINARY "' " + args).c_str(), "r")) {
    if (out != nullptr && read_until("\n", 5000)) pid = std::atoi(text.c_str());
    text.erase(0, text.find('\n') + 1);
  }
  ~Running() {
    if (out != nullptr && pid > 0) kill(pid, SIGTERM);
    if (out != nullptr) pclose(out);
  }
  bool read_until(const std::string& what, int timeout_ms = 10000) {
    receive(fileno(out), text, what, timeout_ms);
    return text.find(what) != std::string::npos;
  }
  int exit_code() {  // once all its output is read: pclose closes the pipe before it waits
    read_until("", 10000);
    int status = pclose(out);
    out = nullptr;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::FILE* out;
  pid_t pid = -1;
  std::string text;
};

TEST(SimExecutable, HelpExplainsEveryOption) {
  Running r("--help");
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(r.exit_code(), 0);
  for (const char* option :
       {"--dmm-port", "--psu-port", "--bind", "--wire", "--dmm-style", "--write-settings", "--measurement-ms",
        "--seed", "--state", "--dmm-idn", "--psu-idn", "--dmm-silent-from", "--dmm-garbage-from", "--dmm-no-echo",
        "--dmm-answer-delay", "--dmm-drop-at", "--dmm-refuse", "--psu-silent-idn", "--psu-drop-after",
        "--psu-stream", "--psu-refuse", "--dmm-noise", "--dmm-overload", "--dmm-delay-ms", "--psu-act-delay-ms",
        "--psu-readback-offset-mv"})
    EXPECT_NE(r.text.find(option), std::string::npos) << option;
}

TEST(SimExecutable, RefusesUnknownOptionsAndBadValues) {
  for (const char* args : {"--frobnicate", "--wire 4", "--dmm-port 70000", "--seed", "--seed -1",
                           "--dmm-style serial", "--dmm-noise 7V=1e-6", "--dmm-noise 10V=-1", "--psu-act-delay-ms -5"}) {
    Running r(args);
    ASSERT_GT(r.pid, 0);
    EXPECT_EQ(r.exit_code(), 2) << args;
  }
}

// The port a running simulator announced on the line that label starts (waited for), or 0.
int announced_port(Running& r, const std::string& label) {
  for (int i = 0; i < 250 && r.text.find('\n', r.text.find(label)) == std::string::npos; ++i) r.read_until("\x01", 20);
  std::size_t at = r.text.find(label);
  return at == std::string::npos ? 0 : std::atoi(r.text.c_str() + at + label.size());
}

// --dmm-refuse with a command refuses that command; alone it refuses connections, as it always did.
TEST(SimExecutable, DmmFaultOptions) {
  Running r("--dmm-port 0 --psu-port 0 --dmm-style raw --measurement-ms 0 --dmm-delay-ms 1 --dmm-overload "
            "--dmm-refuse '*TST?' --dmm-refuse 'CONF:CURR:DC AUTO' --dmm-noise 10V=1e-5");
  int port = announced_port(r, "DMM listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << r.text;
  Client d(port);
  d.send_text("*TST?;READ?;SYST:ERR?;CONF:CURR:DC AUTO;FUNC?;SYST:ERR?\n");
  EXPECT_EQ(d.read("\n"), "+9.90000000E+37;-224,\"Illegal parameter value\";\"VOLT\";-224,\"Illegal parameter value\"\n");
  Running refusing("--dmm-port 0 --psu-port 0 --dmm-refuse");
  port = announced_port(refusing, "DMM listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << refusing.text;
  EXPECT_LT(connect_local(port), 0);
}

TEST(SimExecutable, ListensOnFreePortsAndStopsOnSigterm) {
  WorkingFolder folder;
  Running r("--dmm-port 0 --psu-port 0 --wire 1 --measurement-ms 10 --write-settings sim.cfg");
  ASSERT_GT(r.pid, 0);
  int dmm_port = announced_port(r, "DMM listening on 127.0.0.1:");
  int psu_port = announced_port(r, "DP832 listening on 127.0.0.1:");
  ASSERT_GT(dmm_port, 0) << r.text;
  ASSERT_GT(psu_port, 0) << r.text;
  std::string settings = read_file("sim.cfg");
  EXPECT_NE(settings.find("DMM_Port    " + std::to_string(dmm_port) + "\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("DP832_Port    " + std::to_string(psu_port) + "\n"), std::string::npos) << settings;
  {
    Client p(psu_port);
    p.send_text(":APPL CH1,5,1\nOUTPUT CH1,ON\n*IDN?\n");
    EXPECT_EQ(p.read("\n"), PSU_IDN_LINE);
    Client d(dmm_port);
    d.read("DMM> ");
    d.text.clear();
    d.send_text("READ?\r");
    EXPECT_NEAR(std::atof(d.read("DMM> ").c_str() + 7), 5.0, 0.1) << d.text;
  }
  kill(r.pid, SIGTERM);
  EXPECT_EQ(r.exit_code(), 0);
}

#endif

}  // namespace
