// The one test fixture: the test time scale, captured console text, scripted keys (with hooks run as a
// chosen key is read), links dropped and the correction table cleared after each test, a fresh working
// folder, and on demand the simulated instruments: in memory on the test's virtual clock, or served on
// ephemeral loopback ports with a settings file that points at them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "calibration/bench.h"
#include "platform/sleep.h"
#include "settings/program_settings.h"
#include "sim/sim.h"
#include "tests/fake_transport.h"
#include "tests/test_environment.h"

// The DCC schema set: the folder TRIMORA_DCC_SCHEMA names, else shared/dcc-schema beside the source tree;
// empty when neither holds dcc.xsd.
inline std::string dcc_schema_folder() {
  const char* named = std::getenv("TRIMORA_DCC_SCHEMA");
  const std::string folder = named != nullptr && *named != 0 ? named : TRIMORA_TEST_DATA "/../../../shared/dcc-schema";
  return std::filesystem::exists(folder + "/dcc.xsd") ? folder : std::string();
}

// What xmllint says of a DCC checked against the schema set offline: empty when it validates.
inline std::string dcc_schema_problem(const std::string& xml_path) {
  const std::string said = xml_path + ".xmllint";
  const std::string command = "xmllint --nonet --noout --schema '" + dcc_schema_folder() + "/dcc.xsd' '" + xml_path +
                              "' 2>'" + said + "'";
  if (std::system(command.c_str()) == 0) return "";
  std::ifstream in(said);
  return "xmllint: " + std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A fresh temporary folder that is the working folder while the object lives.
class WorkingFolder {
 public:
  WorkingFolder() {
    char pattern[] = "/tmp/trimora-test-XXXXXX";
    char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = made;
    old_ = std::filesystem::current_path();
    if (!path_.empty()) std::filesystem::current_path(path_);
  }
  ~WorkingFolder() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::filesystem::path old_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

// The text with every "MM/DD/YYYY HH:MM:SS" stamp replaced by "<stamp>", for exact comparisons.
inline std::string mask_stamps(const std::string& text) {
  static const char form[] = "99/99/9999 99:99:99";
  const std::size_t length = sizeof form - 1;
  auto stamp_at = [&](std::size_t at) {
    for (std::size_t i = 0; i < length; ++i) {
      char c = text[at + i];
      bool digit = c >= '0' && c <= '9';
      if (form[i] == '9' ? !digit : c != form[i]) return false;
    }
    return true;
  };
  std::string masked;
  std::size_t at = 0;
  while (at < text.size()) {
    if (at + length <= text.size() && stamp_at(at)) {
      masked += "<stamp>";
      at += length;
    } else {
      masked += text[at++];
    }
  }
  return masked;
}

// Writes a settings file that points both instruments at loopback (the simulator's own writer).
inline void write_loopback_settings(int dmm_port_number, int psu_port_number,
                                    const char* path = SETTINGS_FILE_NAME,
                                    SimDmmStyle style = SimDmmStyle::telnet) {
  ASSERT_TRUE(sim_write_settings(path, dmm_port_number, psu_port_number, style)) << path;
}

// A time scale for tests that must connect reliably on a loaded machine: the program's shortest reply
// windows (100 ms for the DMM's echo, 500 ms for the DP832's identification) stay long enough there.
constexpr double RELIABLE_TIME_SCALE = 0.5;

using Clock = std::chrono::steady_clock;

inline long long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline int occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ProgramTest : public ::testing::Test {
 protected:
  // Options of the simulated bench; fixtures and tests may change them before calling start_bench().
  SimOptions options;
  std::unique_ptr<SimBench> bench;
  std::unique_ptr<WorkingFolder> folder;
  TestEnvironment env{[this] { return next_key(); }};
  std::string& out = env.text();   // captured console text
  Console& console = env.console();
  // The program's settings (pointed at the simulated bench by start_bench) and the instruments.
  ProgramSettings settings;
  std::unique_ptr<Bench> instruments = std::make_unique<Bench>(env, TELNET_DMM);
  std::deque<int> key_queue;       // scripted keys; KEY_CLOSED once empty
  std::map<int, std::function<void()>> before_key;  // run when the key with this index is read
  int keys_read = 0;
  std::vector<std::size_t> key_waits;  // the console text's length at each key read
  // The time scale the test starts with; a fixture may set another in its constructor. Tests on the
  // in-memory links keep 1, where their virtual clock counts the program's own milliseconds.
  double scale = 0.1;

  ProgramTest() {
    options.wire = -1;                 // leads on the channel last switched on
    options.measurement_time_ms = 50;  // well inside the program's 500 ms pause
  }

  void SetUp() override {
    set_time_scale(scale);
    folder = std::make_unique<WorkingFolder>();
  }

  // The scripted keys with the hooks.
  int next_key() {
    key_waits.push_back(out.size());
    auto hook = before_key.find(keys_read++);
    if (hook != before_key.end()) hook->second();
    if (key_queue.empty()) return KEY_CLOSED;
    int key = key_queue.front();
    key_queue.pop_front();
    return key;
  }

  void TearDown() override {
    instruments.reset();
    bench.reset();
    folder.reset();
    set_time_scale(1.0);
  }

  Dmm& dmm() { return instruments->dmm; }
  Psu& psu() { return instruments->psu; }

  // Instruments framed anew (both absent), e.g. for a raw SCPI socket.
  void reframe(const DmmFraming& framing) { instruments = std::make_unique<Bench>(env, framing); }

  // Starts the simulated instruments, points the settings and the settings file at them.
  void start_bench() {
    bench = std::make_unique<SimBench>(options);
    ASSERT_TRUE(bench->ok());
    settings.dmm = {"127.0.0.1", bench->dmm_port()};
    settings.psu = {"127.0.0.1", bench->psu_port()};
    write_loopback_settings(bench->dmm_port(), bench->psu_port(), SETTINGS_FILE_NAME, options.dmm_style);
  }

  // Starts the simulated instruments in memory and links both to them, unidentified: the clock turns
  // virtual and counts the program's own milliseconds (time scale 1), and no real time passes. The
  // settings and the settings file point at loopback ports where nothing listens.
  void start_in_memory() {
    set_time_scale(1.0);
    env.virtual_clock = true;
    bench = std::make_unique<SimBench>(options, &env.clock_ms);
    settings.dmm = {"127.0.0.1", 5024};
    settings.psu = {"127.0.0.1", 5555};
    write_loopback_settings(settings.dmm.port, settings.psu.port, SETTINGS_FILE_NAME, options.dmm_style);
    std::unique_ptr<SimStream> to_dmm = bench->connect_dmm();
    std::unique_ptr<SimStream> to_psu = bench->connect_psu();
    ASSERT_TRUE(to_dmm && to_psu);
    dmm().attach(std::make_unique<SimLink>(std::move(to_dmm)));
    psu().attach(std::make_unique<SimLink>(std::move(to_psu)));
  }

  // Brings both instruments on line in memory as the program's start-up does (reset, identification,
  // the DMM's read check).
  void connect_both() {
    start_in_memory();
    ASSERT_TRUE(dmm().identify(console, settings.dmm.host, settings.dmm.port)) << out;
    ASSERT_TRUE(psu().identify(console, settings.psu.host, settings.psu.port)) << out;
    bench->clear_received();
    out.clear();
  }

  // The same over loopback TCP against the bench served in real time (under the present time scale),
  // for the runs whose pacing is under test.
  void connect_both_served() {
    start_bench();
    ASSERT_TRUE(dmm().connect(console, settings.dmm.host, settings.dmm.port)) << out;
    ASSERT_TRUE(psu().connect(console, settings.psu.host, settings.psu.port)) << out;
    bench->clear_received();
    out.clear();
  }

  void keys(const std::string& typed) {
    for (unsigned char c : typed) key_queue.push_back(c);
  }
  void key_codes(std::initializer_list<int> codes) {
    for (int c : codes) key_queue.push_back(c);
  }

  // The command lines that the DP832 received, in order.
  std::vector<std::string> psu_lines() const {
    std::vector<std::string> lines;
    for (const SimReceived& r : bench->psu_received()) lines.push_back(r.line);
    return lines;
  }

  std::vector<std::string> dmm_lines() const {
    std::vector<std::string> lines;
    for (const SimReceived& r : bench->dmm_received()) lines.push_back(r.line);
    return lines;
  }

  // READ? commands the DMM has received so far.
  int reads() const {
    int n = 0;
    for (const std::string& line : dmm_lines()) n += line == "READ?";
    return n;
  }
};
