// The simulated bench over TCP: framing and timing on the wire, clients one after another, wiring,
// faults at their counts, the calibration memory across runs, and the trimora-sim executable.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "platform/sleep.h"
#include "sim/sim.h"
#include "tests/program_fixture.h"

extern char** environ;

namespace {

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int connect_local(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A plain test client on 127.0.0.1 that keeps everything it receives.
class Client {
 public:
  explicit Client(int port) : fd_(connect_local(port)) {}
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool send_text(const std::string& text) {
    return fd_ >= 0 && send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Waits (real time) until the received text holds what; returns the text received so far.
  std::string read_until(const std::string& what, int timeout_ms = 5000) {
    Clock::time_point start = Clock::now();
    while (received_.find(what) == std::string::npos && !closed_) {
      int left = timeout_ms - static_cast<int>(seconds_since(start) * 1000.0);
      if (left <= 0 || !fill(left)) break;
    }
    return received_;
  }
  // Whatever arrives within ms.
  std::string read_for(int ms) {
    Clock::time_point start = Clock::now();
    for (;;) {
      int left = ms - static_cast<int>(seconds_since(start) * 1000.0);
      if (left <= 0 || !fill(left)) break;
    }
    return received_;
  }
  // Waits until the peer closes; true when it did.
  bool wait_closed(int timeout_ms = 5000) {
    read_until(std::string(1, '\0') + "never", timeout_ms);
    return closed_;
  }
  void clear() { received_.clear(); }
  // Ends the sending side only: the peer still answers what it received.
  void half_close() { shutdown(fd_, SHUT_WR); }
  const std::string& received() const { return received_; }

 private:
  bool fill(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  int fd_;
  bool closed_ = false;
  std::string received_;
};

class SimBenchTest : public ProgramTest {
 protected:
  SimBenchTest() { options.wire = SimOptions().wire; }
  void start() {
    start_bench();
    ASSERT_GT(bench->dmm_port(), 0);
    ASSERT_GT(bench->psu_port(), 0);
    ASSERT_NE(bench->dmm_port(), bench->psu_port());
  }
  // A DMM client past its welcome.
  std::unique_ptr<Client> dmm() {
    auto c = std::make_unique<Client>(bench->dmm_port());
    EXPECT_TRUE(c->ok());
    c->read_until("DMM> ");
    c->clear();
    return c;
  }
  double reading(Client& c) {
    c.clear();
    c.send_text("READ?\r");
    std::string text = c.read_until("DMM> ");
    std::size_t at = text.find("\r\n");
    return at == std::string::npos ? NAN : std::atof(text.c_str() + at + 2);
  }
  std::string ask(Client& c, const std::string& line) {
    c.clear();
    c.send_text(line);
    return c.read_until("\n");
  }
};

TEST_F(SimBenchTest, WelcomePromptAndAnswerAfterTheMeasurementTime) {
  set_time_scale(1.0);
  options.measurement_time_ms = 800;
  start();
  Client c(bench->dmm_port());
  std::string welcome = c.read_until("DMM> ");
  ASSERT_GE(welcome.size(), 7u);
  EXPECT_EQ(welcome.find("\r\n"), welcome.size() - 7);
  EXPECT_EQ(welcome.substr(welcome.size() - 5), "DMM> ");
  c.clear();

  Clock::time_point sent = Clock::now();
  c.send_text("READ?\r");
  std::string echo = c.read_until("\r\n");
  EXPECT_EQ(echo, "READ?\r\n") << "the echo comes at once, alone";
  std::string all = c.read_until("DMM> ");
  EXPECT_GE(seconds_since(sent), 0.79) << "the answer waits for the measurement";
  ASSERT_EQ(all.size(), std::string("READ?\r\n+0.00000000E+00\r\nDMM> ").size()) << all;
  EXPECT_EQ(all.substr(0, 8), "READ?\r\n+");
  EXPECT_EQ(all.substr(all.size() - 7), "\r\nDMM> ");
  EXPECT_EQ(all.substr(all.size() - 11, 4), "E+00") << "nothing wired: near zero";

  // Line ends CR LF and LF work as well as CR; a CR LF split across packets ends one line only.
  c.clear();
  c.send_text("*IDN?\r\n*IDN?\n*IDN?\r");
  const std::string one = "*IDN?\r\nSimbench,DMM-65,SB65000001,1.02\r\nDMM> ";
  EXPECT_EQ(c.read_until(one + one + one), one + one + one);
  c.clear();
  c.send_text("*RST\r");
  c.read_until("DMM> ");
  c.send_text("\n*CLS\r");
  EXPECT_EQ(c.read_until("*CLS\r\nDMM> "), "*RST\r\nDMM> *CLS\r\nDMM> ");
  c.clear();
  c.send_text(std::string("*RST\r\0*CLS\r\0", 12));  // a telnet client's CR NUL
  EXPECT_EQ(c.read_until("*CLS\r\nDMM> "), "*RST\r\nDMM> *CLS\r\nDMM> ");
}

TEST_F(SimBenchTest, ClientsOneAfterAnotherAndTwoAtOnce) {
  start();
  {
    Client first(bench->dmm_port());
    first.read_until("DMM> ");
    first.send_text("READ?\r");  // gone before the answer comes
  }
  {
    Client p(bench->psu_port());
    EXPECT_EQ(ask(p, "*IDN?\n"), "Simbench,DP832,SB83200001,00.01.16\n");
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
  start();
  Client p(bench->psu_port());
  p.send_text(":APPL CH1,5,");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  p.send_text("2\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  p.send_text("\n*IDN?\r\n:APPL? CH1\n");
  EXPECT_EQ(p.read_until("2.000\n"), "Simbench,DP832,SB83200001,00.01.16\nCH1:30V/3A,5.000,2.000\n");
  std::vector<SimReceived> log = bench->psu_received();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].line, ":APPL CH1,5,2");
  EXPECT_EQ(log[1].line, "*IDN?");
  EXPECT_EQ(log[2].line, ":APPL? CH1");
  EXPECT_LE(log[0].time_s, log[1].time_s);
  EXPECT_GE(log[0].time_s, 0.0);

  auto d = dmm();
  d->send_text("CONF:VO");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  d->send_text("LT:DC AUTO\r");
  EXPECT_EQ(d->read_until("DMM> "), "CONF:VOLT:DC AUTO\r\nDMM> ");
  ASSERT_EQ(bench->dmm_received().size(), 1u);
  EXPECT_EQ(bench->dmm_received()[0].line, "CONF:VOLT:DC AUTO");
  bench->clear_received();
  EXPECT_TRUE(bench->psu_received().empty());
  EXPECT_TRUE(bench->dmm_received().empty());
}

// A client that writes and closes at once (or half-closes after a query) still has every complete line
// carried out, and the half-closed one its answers, before the connection ends.
TEST_F(SimBenchTest, LinesSentJustBeforeTheCloseAreCarriedOutAndAnswered) {
  options.dmm_style = SimDmmStyle::raw;
  start();
  for (int i = 1; i <= 40; ++i) {
    {
      Client p(bench->psu_port());
      p.send_text(":APPL CH2," + std::to_string(i % 30) + ",1\nOUTP CH2," + (i % 2 ? "ON" : "OFF") + "\n");
    }
    Clock::time_point start = Clock::now();
    while (bench->set_voltage(2) != i % 30 && seconds_since(start) < 5.0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(bench->set_voltage(2), i % 30) << "round " << i;
    ASSERT_EQ(bench->output_on(2), i % 2 == 1) << "round " << i;
  }
  EXPECT_EQ(bench->psu_received().size(), 80u);
  Client p(bench->psu_port());
  p.send_text("*IDN?\n:APPL? CH2,VOLT\n");
  p.half_close();
  EXPECT_TRUE(p.wait_closed());
  EXPECT_EQ(p.received(), "Simbench,DP832,SB83200001,00.01.16\n10.000\n");
  Client d(bench->dmm_port());
  d.send_text("*IDN?\nREAD?\n");  // the reading waits for its measurement time
  d.half_close();
  EXPECT_TRUE(d.wait_closed());
  ASSERT_EQ(d.received().size(), 32u + 16u) << d.received();
  EXPECT_EQ(d.received().substr(0, 32), "Simbench,DMM-65,SB65000001,1.02\n");
  EXPECT_NEAR(std::atof(d.received().c_str() + 32), 0.0, 1e-4);
}

TEST_F(SimBenchTest, RawStyleDmmHasNoWelcomeEchoOrPrompt) {
  options.dmm_style = SimDmmStyle::raw;
  options.wire = 1;
  start();
  Client p(bench->psu_port());
  p.send_text(":APPL CH1,5,1\nOUTP CH1,ON\n");
  Client d(bench->dmm_port());
  EXPECT_EQ(d.read_for(100), "") << "no welcome";
  d.send_text("*IDN?\r\nMEAS:VOLT:DC?\nSYST:ERR?\n");
  std::string all = d.read_until("No error\"\n");
  ASSERT_EQ(all.size(), 32u + 16u + 13u) << all;
  EXPECT_EQ(all.substr(0, 32), "Simbench,DMM-65,SB65000001,1.02\n");
  EXPECT_NEAR(std::atof(all.c_str() + 32), 5.0, 0.1) << all;
  EXPECT_EQ(all.substr(47), "\n0,\"No error\"\n");
}

TEST_F(SimBenchTest, TheDmmReadsTheWiredChannel) {
  options.wire = 2;
  start();
  Client p(bench->psu_port());
  auto d = dmm();
  p.send_text(":APPL CH2,5,2\nOUTPUT CH2,ON\n:APPL CH1,12,1\nOUTPUT CH1,ON\n");
  ask(p, "*OPC?\n");
  EXPECT_NEAR(reading(*d), bench->true_output_voltage(2, 5.0), 50e-6);
  EXPECT_EQ(bench->wired_channel(), 2);

  bench->set_wire(1);
  EXPECT_NEAR(reading(*d), bench->true_output_voltage(1, 12.0), 300e-6);
  bench->set_wire(0);
  EXPECT_NEAR(reading(*d), 0.0, 1e-5);

  // Auto: the channel switched on last.
  bench->set_wire(-1);
  EXPECT_EQ(bench->wired_channel(), 1);
  p.send_text(":APPL CH3,3.3,1\nOUTPUT CH3,ON\n");
  ask(p, "*OPC?\n");
  EXPECT_EQ(bench->wired_channel(), 3);
  EXPECT_NEAR(reading(*d), bench->true_output_voltage(3, 3.3), 50e-6);
  p.send_text("OUTPUT CH3,OFF\n");
  ask(p, "*OPC?\n");
  EXPECT_NEAR(reading(*d), 0.0, 1e-5) << "leads still on CH3, which is off";

  // Amps: the shunt shorts CH1, which runs in constant current at its limit.
  bench->set_wire(1);
  d->clear();
  d->send_text("CONF:CURR:DC AUTO\r");
  d->read_until("DMM> ");
  p.send_text(":APPL CH1,3,2\n");
  EXPECT_EQ(ask(p, ":OUTP:MODE? CH1\n"), "CC\n");
  EXPECT_NEAR(reading(*d), bench->true_output_current(1, 2.0), 20e-6);
  EXPECT_GT(std::fabs(bench->current_error(1, 2.0)), 1e-4) << "uncalibrated";
  p.send_text("OUTPUT CH1,OFF\n");
  ask(p, "*OPC?\n");
  EXPECT_NEAR(reading(*d), 0.0, 1e-6);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_DOUBLE_EQ(bench->set_voltage(1), 3.0);
  EXPECT_DOUBLE_EQ(bench->set_current(1), 2.0);
}

TEST_F(SimBenchTest, ScriptedReadingsOverrideTheModel) {
  options.wire = 1;
  start();
  bench->script_readings({1.5, 1.4999});
  bench->script_readings({-5.0});
  auto d = dmm();
  EXPECT_EQ(reading(*d), 1.5);
  EXPECT_EQ(reading(*d), 1.4999);
  EXPECT_EQ(reading(*d), -5.0);
  EXPECT_NEAR(reading(*d), 0.0, 1e-5);
}

TEST_F(SimBenchTest, RefusedConnectionsAndBack) {
  options.psu_faults.refuse_connections = true;
  start();
  EXPECT_LT(connect_local(bench->psu_port()), 0);
  SimDmmFaults refuse;
  refuse.refuse_connections = true;
  bench->set_dmm_faults(refuse);
  EXPECT_LT(connect_local(bench->dmm_port()), 0);
  bench->set_dmm_faults(SimDmmFaults());
  bench->set_psu_faults(SimPsuFaults());
  auto d = dmm();
  EXPECT_NEAR(reading(*d), 0.0, 1e-5);
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, "*OPC?\n"), "1\n");
}

TEST_F(SimBenchTest, DmmDropsTheConnectionAtTheNthReadingOnly) {
  options.dmm_faults.drop_at_reading = 2;
  start();
  auto d = dmm();
  EXPECT_FALSE(std::isnan(reading(*d)));
  d->clear();
  d->send_text("READ?\r");
  EXPECT_TRUE(d->wait_closed());
  EXPECT_EQ(d->received(), "") << "closed without an echo";
  auto again = dmm();
  EXPECT_FALSE(std::isnan(reading(*again))) << "the third reading on a new connection is answered";
}

TEST_F(SimBenchTest, DmmSilentFromTheNthReading) {
  start();
  SimDmmFaults f;
  f.silent_from_reading = 2;
  bench->set_dmm_faults(f);
  auto d = dmm();
  EXPECT_FALSE(std::isnan(reading(*d)));
  d->clear();
  d->send_text("READ?\r");
  EXPECT_EQ(d->read_for(200), "");
  d->send_text("*IDN?\r");
  EXPECT_EQ(d->read_for(100), "");
  EXPECT_EQ(bench->dmm_received().size(), 3u) << "received and logged, not answered";
}

TEST_F(SimBenchTest, PsuDropsAfterTheNthCommand) {
  options.psu_faults.drop_after_commands = 3;
  start();
  Client p(bench->psu_port());
  EXPECT_EQ(ask(p, "*IDN?\n").substr(0, 8), "Simbench");
  p.send_text(":APPL CH1,1,1\n");
  EXPECT_EQ(ask(p, ":APPL? CH1,VOLT\n"), "1.000\n") << "the third command is still answered";
  EXPECT_TRUE(p.wait_closed());
  Client again(bench->psu_port());
  EXPECT_EQ(ask(again, ":APPL? CH1,VOLT\n"), "1.000\n") << "only the third command drops";
}

TEST_F(SimBenchTest, PsuSilentToIdnAndUnsolicitedStream) {
  options.psu_faults.silent_to_idn = true;
  start();
  Client p(bench->psu_port());
  p.send_text("*IDN?\n");
  EXPECT_EQ(p.read_for(300), "");
  EXPECT_EQ(ask(p, ":SYST:ERR?\n"), "0,\"No error\"\n");

  SimPsuFaults stream;
  stream.unsolicited_stream = true;
  bench->set_psu_faults(stream);
  Client listener(bench->psu_port());
  std::string text = listener.read_for(300);
  EXPECT_NE(text.find("STREAM,1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("STREAM,3\n"), std::string::npos) << "several lines, unasked";
  bench->set_psu_faults(SimPsuFaults());
  listener.read_for(50);
  listener.clear();
  EXPECT_EQ(listener.read_for(100), "");
}

TEST_F(SimBenchTest, PortInUseIsNotOk) {
  start();
  SimOptions same = options;
  same.dmm_port = bench->dmm_port();
  SimBench second(same);
  EXPECT_FALSE(second.ok());
}

TEST_F(SimBenchTest, CalibrationMemorySurvivesARestart) {
  char pattern[] = "/tmp/trimora-sim-bench-XXXXXX";
  int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  std::remove(pattern);  // no file yet: the first run starts uncalibrated
  options.state_file = pattern;
  start();
  EXPECT_EQ(bench->state_message(), "");
  double uncalibrated = bench->voltage_error(1, 20.0);
  {
    Client p(bench->psu_port());
    p.send_text("CAL:START 27384,CH1\nCAL:CLEAR CH1,V\nOUTPUT CH1,ON\n");
    const double points[] = {1.0, 10.0, 30.0};
    for (int i = 0; i < 3; ++i) {
      char text[96];
      std::snprintf(text, sizeof text, "CAL:SET CH1,V,%d,%.1f,1\n", i, points[i]);
      p.send_text(text);
      ask(p, "*OPC?\n");
      std::snprintf(text, sizeof text, "CAL:MEAS CH1,V,%d,%f,1\n", i, points[i] + 0.01);
      p.send_text(text);
    }
    EXPECT_TRUE(bench->in_calibration());
    p.send_text("CAL:END 12/07/2024,CH1\n");
    EXPECT_EQ(ask(p, ":SYST:ERR?\n"), "0,\"No error\"\n");
  }
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_TRUE(bench->voltage_calibrated(1));
  EXPECT_FALSE(bench->current_calibrated(1));
  double calibrated = bench->voltage_error(1, 20.0);
  EXPECT_NE(calibrated, uncalibrated);
  bench.reset();

  start();
  EXPECT_EQ(bench->state_message(), "");
  EXPECT_TRUE(bench->voltage_calibrated(1));
  EXPECT_EQ(bench->voltage_error(1, 20.0), calibrated);
  bench.reset();

  options.seed = 2;  // another supply: the file does not fit it
  start();
  EXPECT_NE(bench->state_message().find("seed"), std::string::npos) << bench->state_message();
  EXPECT_FALSE(bench->voltage_calibrated(1));
  bench.reset();
  std::remove(pattern);
}

// ---- The executable

#ifdef TRIMORA_SIM_BINARY

// Runs the simulator with arguments; its standard output comes through a pipe.
struct Running {
  pid_t pid = -1;
  int out = -1;
  std::string text;
  bool read_until(const std::string& what, int timeout_ms = 10000) {
    Clock::time_point start = Clock::now();
    while (text.find(what) == std::string::npos) {
      int left = timeout_ms - static_cast<int>(seconds_since(start) * 1000.0);
      pollfd p{out, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) return false;
      char buffer[512];
      ssize_t n = read(out, buffer, sizeof buffer);
      if (n <= 0) return false;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
};

Running run_sim(const std::vector<std::string>& args) {
  Running r;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<char*> argv;
  std::string binary = TRIMORA_SIM_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&r.pid, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) r.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  r.out = pipe_fds[0];
  return r;
}

int port_after(const std::string& text, const std::string& label) {
  std::size_t at = text.find(label);
  if (at == std::string::npos) return 0;
  return std::atoi(text.c_str() + at + label.size());
}

TEST(SimExecutable, HelpExplainsEveryOption) {
  Running r = run_sim({"--help"});
  ASSERT_GT(r.pid, 0);
  r.read_until("\x01", 5000);
  int status = 0;
  waitpid(r.pid, &status, 0);
  close(r.out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char* option :
       {"--dmm-port", "--psu-port", "--bind", "--wire", "--dmm-style", "--write-settings", "--measurement-ms",
        "--seed", "--state", "--dmm-idn",
        "--psu-idn", "--dmm-silent-from", "--dmm-garbage-from", "--dmm-no-echo", "--dmm-answer-delay",
        "--dmm-drop-at", "--dmm-refuse", "--psu-silent-idn", "--psu-drop-after", "--psu-stream", "--psu-refuse"})
    EXPECT_NE(r.text.find(option), std::string::npos) << option;
}

TEST(SimExecutable, RefusesUnknownOptionsAndBadValues) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--frobnicate"}, {"--wire", "4"},
                                        {"--dmm-port", "70000"}, {"--seed"}, {"--seed", "-1"},
                                        {"--dmm-style", "serial"}}) {
    Running r = run_sim(args);
    ASSERT_GT(r.pid, 0);
    int status = 0;
    waitpid(r.pid, &status, 0);
    close(r.out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args[0];
  }
}

TEST(SimExecutable, ListensOnFreePortsAndStopsOnSigterm) {
  char settings[] = "/tmp/trimora-sim-settings-XXXXXX";
  close(mkstemp(settings));
  Running r = run_sim({"--dmm-port", "0", "--psu-port", "0", "--wire", "1", "--measurement-ms", "10",
                       "--write-settings", settings});
  ASSERT_GT(r.pid, 0);
  ASSERT_TRUE(r.read_until("DP832 listening on 127.0.0.1:")) << r.text;
  ASSERT_TRUE(r.read_until("\n", 1000));
  r.read_until("zzz", 200);
  int dmm_port = port_after(r.text, "DMM listening on 127.0.0.1:");
  int psu_port = port_after(r.text, "DP832 listening on 127.0.0.1:");
  ASSERT_GT(dmm_port, 0) << r.text;
  ASSERT_GT(psu_port, 0) << r.text;
  std::FILE* f = std::fopen(settings, "r");
  ASSERT_NE(f, nullptr);
  char text[512] = {};
  EXPECT_GT(std::fread(text, 1, sizeof text - 1, f), 0u);
  std::fclose(f);
  std::remove(settings);
  EXPECT_NE(std::string(text).find("DMM_Port    " + std::to_string(dmm_port) + "\n"), std::string::npos) << text;
  EXPECT_NE(std::string(text).find("DP832_Port    " + std::to_string(psu_port) + "\n"), std::string::npos);
  {
    Client p(psu_port);
    p.send_text(":APPL CH1,5,1\nOUTPUT CH1,ON\n*IDN?\n");
    EXPECT_EQ(p.read_until("\n"), "Simbench,DP832,SB83200001,00.01.16\n");
    Client d(dmm_port);
    d.read_until("DMM> ");
    d.clear();
    d.send_text("READ?\r");
    std::string text = d.read_until("DMM> ");
    EXPECT_NEAR(std::atof(text.c_str() + 7), 5.0, 0.1) << text;
  }
  kill(r.pid, SIGTERM);
  int status = 0;
  waitpid(r.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(r.out);
}

#endif

}  // namespace
