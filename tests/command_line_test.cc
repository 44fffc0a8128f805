// The real trimora's command line: what starts nothing (help, version, a wrong command line), the
// settings file and records folder it is given, and the run mode's records and exit codes against the
// simulated bench. The working folder's own settings file always points at loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_mode.h"
#include "app/run_records.h"
#include "records/record_codec.h"
#include "tests/loopback_peer.h"
#include "tests/program_fixture.h"
#include "tests/settings_checks.h"

namespace {

namespace fs = std::filesystem;

// Hands lines from one socket to the other until either end closes, each holding `from` with `to` in its place.
void pump_lines(int in, int out, const std::string& from, const std::string& to) {
  std::string pending;
  char chunk[4096];
  for (ssize_t n; (n = recv(in, chunk, sizeof chunk, 0)) > 0;) {
    pending.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      std::string line = pending.substr(0, end + 1);
      if (const std::size_t at = line.find(from); at != std::string::npos) line.replace(at, from.size(), to);
      (void)send(out, line.data(), line.size(), MSG_NOSIGNAL);
    }
  }
  shutdown(out, SHUT_RDWR);
}

// Stands between trimora and the simulated supply on a loopback port of its own: a supply whose replies
// holding `from` say `to` instead.
struct RewritingRelay {
  RewritingRelay(int supply_port, const std::string& from, const std::string& to) {
    sockaddr_in address;
    listener = bind_loopback(&port, &address);
    listen(listener, 1);
    address.sin_port = htons(static_cast<std::uint16_t>(supply_port));
    thread = std::thread([=, this] {
      client = accept(listener, nullptr, nullptr);
      if (client < 0 || connect(supply, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return;
      std::thread commands(pump_lines, client.load(), supply, std::string(), std::string());
      pump_lines(supply, client, from, to);
      commands.join();
    });
  }
  ~RewritingRelay() {
    for (int fd : {listener, client.load(), supply}) shutdown(fd, SHUT_RDWR);
    thread.join();
    for (int fd : {listener, client.load(), supply}) ::close(fd);
  }
  int port = 0;
  int listener = -1;
  std::atomic<int> client{-1};
  int supply = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::thread thread;
};

class CommandLineTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    fs::create_directory("io");  // the program's output, kept apart from what it may write itself
  }
};

// What must start nothing: no socket opened, no settings file read or written, no record. What it says
// is on standard error (code 2, one line) or standard output (code 0).
TEST_F(CommandLineTest, WhatStartsNothingPrintsAndEnds) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string says;
  } cases[] = {
      {{"--help"}, 0, "run PROCEDURE CHANNEL"},
      {{"--help"}, 0, "4  the calibration incomplete or refused by the supply"},
      {{"--version"}, 0, "trimora 1."},
      {{"run", "--help"}, 0, "--yes"},
      {{"--settings", "x.cfg", "--version"}, 0, "trimora 1."},
      {{"--bogus"}, 2, "--bogus"},
      {{"stray"}, 2, "stray"},
      {{"--settings"}, 2, "--settings"},
      {{"--records", ""}, 2, "--records"},
      {{"run", "assess"}, 2, "CHANNEL"},
      {{"run", "assess", "4"}, 2, "CHANNEL"},
      {{"run", "assess", "one"}, 2, "CHANNEL"},
      {{"run", "sweep", "1"}, 2, "PROCEDURE"},
      {{"run", "assess", "1", "--loud"}, 2, "--loud"},
      {{"run", "voltage", "3"}, 2, "--yes"},
      {{"run", "current", "1"}, 2, "--yes"},
      {{"run", "full", "1"}, 2, "--yes"},
      {{"run", "assess-current", "3"}, 2, "current input"},
      {{"run", "full", "3", "--yes"}, 2, "CHANNEL 3"},
      {{"run", "assess", "3", "--settings", "missing.cfg"}, 2, "no file missing.cfg"},
      {{"--settings", "missing.cfg"}, 2, "no file missing.cfg"},
      // A settings file without an address for each instrument: never the built-in ones instead.
      {{"run", "assess", "3", "--settings", "io/typo.cfg"}, 2,
       "trimora: the settings file io/typo.cfg cannot be read: it gives no DP832_IP; nothing was contacted\n"},
  };
  start_bench();
  const std::string typo = "DMM_IP 127.0.0.1\nDMM_Port " + std::to_string(bench->dmm_port()) + "\nDP832_lP 127.0.0.1\n";
  write_file("io/typo.cfg", typo);
  const std::string settings_before = read_file(SETTINGS_FILE_NAME);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Finished done = run_trimora(c.args);
    EXPECT_EQ(done.code, c.code) << done.out << done.err;
    EXPECT_NE((c.code == 0 ? done.out : done.err).find(c.says), std::string::npos) << done.out << done.err;
    if (c.code == 0) {
      EXPECT_EQ(done.err, "");
    } else {
      EXPECT_EQ(done.out, "");
      EXPECT_EQ(occurrences(done.err, "\n"), 1) << done.err;
      EXPECT_EQ(done.err.rfind("trimora: ", 0), 0u) << done.err;
    }
    EXPECT_EQ(bench->dmm_connections() + bench->psu_connections(), 0);
    EXPECT_EQ(read_file(SETTINGS_FILE_NAME), settings_before);
    EXPECT_EQ(folder_listing(), (std::vector<std::string>{SETTINGS_FILE_NAME, "io"}));
  }
  EXPECT_EQ(read_file("io/typo.cfg"), typo);
}

// The final line shows the supply's words cleaned (no erased line, no forged verdict), on standard output
// with --quiet and on standard error with --json; a record that cannot be written is its own outcome.
TEST_F(CommandLineTest, FinalLineIsCleanAndSaysOneOutcome) {
  options.psu_faults.refuse_calibration = true;
  options.measurement_time_ms = 0;
  start_bench();
  write_file("io/blocked", "a file where the records folder would be");
  const std::string refused = "Result: REFUSED BY THE SUPPLY: -203,\"\\x1B[2K\\x0DResult: PASS\\x07\xc2\\x9B\"; record: recs/";
  const std::pair<std::vector<std::string>, std::string> cases[] = {  // the arguments, how the final line begins
      {{"run", "voltage", "3", "--yes", "--quiet", "--records", "recs"}, refused},
      {{"run", "voltage", "3", "--yes", "--json", "--records", "recs"}, refused},
      {{"run", "assess", "3", "--quiet", "--records", "io/blocked"}, "Result: RECORD NOT WRITTEN: "},
  };
  for (const auto& [args, begins] : cases) {
    RewritingRelay relay(bench->psu_port(), "Command protected", "\x1b[2K\rResult: PASS\a\xc2\x9b");  // C1 as UTF-8
    write_loopback_settings(bench->dmm_port(), relay.port);
    Finished done = run_trimora(args);
    EXPECT_EQ(done.code, EXIT_CALIBRATION) << done.out << done.err;
    const std::string& shown = args[4] == "--json" ? done.err : done.out;  // the final line alone
    EXPECT_EQ(shown.rfind(begins, 0), 0u) << shown;
    EXPECT_EQ(shown.find('\n'), shown.size() - 1) << shown;
    EXPECT_EQ(shown.find("WRITTEN", begins.size()), std::string::npos) << shown;
  }
}

// A certificate that cannot be written is a problem the run hands on to its final line (and exit code 4).
TEST_F(CommandLineTest, CertificateNotWrittenIsAProblem) {
  RunRecords records("recs");
  ASSERT_FALSE(records.unfinished(*instruments, Procedure::assessment, CH1, "no DMM connected").json_path.empty());
  fs::rename("recs", "io/recs");
  write_file("recs", "a file where the records folder was");
  const std::vector<std::string> problems = records.write_certificates(console);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("THE CERTIFICATE COULD NOT BE WRITTEN: ", 0), 0u) << problems[0];
}

// A reference DMM past its due date stops trimora run before anything is measured, unless allowed.
TEST_F(CommandLineTest, OverdueReferenceRefusesTheRunUnlessAllowed) {
  options.measurement_time_ms = 0;
  start_bench();
  write_file("trimora-lab.json", R"({"laboratory": {"name": "L", "address": "A", "city": "C", "country": "DE"},
    "certificate_prefix": "L", "performance_location": "laboratory", "responsible_person": {"name": "N", "role": "R"},
    "references": [{"serial": "SB65000001", "certificate": "C", "calibrated": "1999-01-01", "due": "2000-01-01",
                    "traceability": "T"}]})");
  Finished refused = run_trimora({"run", "assess", "3", "--records", "recs"});
  EXPECT_EQ(refused.code, EXIT_USAGE) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("due on 2000-01-01"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists("recs"));
  Finished allowed = run_trimora({"run", "assess", "3", "--records", "recs", "--allow-overdue-reference",
                                  "--customer", "ACME", "--temperature", "23", "--humidity", "40"});
  EXPECT_EQ(allowed.code, EXIT_DONE_PASS) << allowed.out << allowed.err;
  EXPECT_NE(allowed.out.find("Certificate (draft: customer): recs/certificate_L-"), std::string::npos) << allowed.out;
}

// --settings: read from there and saved there at exit; the working folder's own file (pointing at a
// second bench) is neither read nor written, and nothing else appears beside it.
TEST_F(CommandLineTest, SettingsFileElsewhereIsReadAndSavedThere) {
  start_bench();
  SimBench decoy(options);
  ASSERT_TRUE(decoy.ok());
  write_loopback_settings(decoy.dmm_port(), decoy.psu_port());
  const std::string decoy_settings = read_file(SETTINGS_FILE_NAME);
  fs::create_directory("elsewhere");
  write_loopback_settings(bench->dmm_port(), bench->psu_port(), "elsewhere/s.cfg");

  Finished done = run_trimora({"--settings", "elsewhere/s.cfg"}, "x");
  EXPECT_EQ(done.code, 0) << done.out << done.err;
  EXPECT_NE(done.out.find("Last run: NONE"), std::string::npos) << done.out;
  EXPECT_EQ(bench->dmm_connections(), 1);
  EXPECT_EQ(decoy.dmm_connections() + decoy.psu_connections(), 0);
  EXPECT_NE(mask_stamps(read_file("elsewhere/s.cfg")).find("Last_Run_Time    \"<stamp>\"\n"), std::string::npos);
  EXPECT_EQ(read_file(SETTINGS_FILE_NAME), decoy_settings);
  EXPECT_EQ(folder_listing(), (std::vector<std::string>{SETTINGS_FILE_NAME, "elsewhere", "io"}));
}

// trimora run against the bench: the exit code, the final line naming the record, and the record.
struct RunCase {
  const char* name;
  std::vector<std::string> args;
  std::function<void(SimOptions&)> bench_setup;
  int code;
  const char* close_input_when = "";  // the end of standard input once the output shows this
  const char* result = "";            // the final line's outcome, when the case names it
};

class RunModeTest : public CommandLineTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunModeTest, EndsWithItsCodeAndLeavesItsRecord) {
  const RunCase& c = GetParam();
  if (c.bench_setup) c.bench_setup(options);
  options.measurement_time_ms = 0;
  start_bench();
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--records", "recs"});
  Finished done = run_trimora(args, "", c.close_input_when);
  EXPECT_EQ(done.code, c.code) << done.out << done.err;

  const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
  const bool quiet = std::find(args.begin(), args.end(), "--quiet") != args.end();
  const std::string& shown = json ? done.err : done.out;
  if (quiet) {
    EXPECT_EQ(occurrences(shown, "\n"), 1) << shown;
  }
  if (*c.result != 0) {
    EXPECT_NE(shown.find(std::string("Result: ") + c.result + "; record: "), std::string::npos) << shown;
  }
  const std::size_t at = shown.rfind("; record: recs/");
  ASSERT_NE(at, std::string::npos) << shown;
  ASSERT_EQ(shown.find('\n', at), shown.size() - 1) << shown;  // on the final line
  const std::string path = shown.substr(at + 10, shown.size() - at - 11);
  Result<Record> record = read_record(path);
  ASSERT_TRUE(record.ok()) << record.reason();
  EXPECT_EQ(run_outcome(*record, c.code != EXIT_INSTRUMENT).exit_code, c.code);
  if (*c.close_input_when != 0) {
    EXPECT_FALSE(bench->output_on(3));
    EXPECT_FALSE(bench->in_calibration());
    EXPECT_NE(record->incomplete_reason.value_or("").find("aborted by the operator"), std::string::npos);
  }
  if (json) {
    EXPECT_EQ(done.out, read_file(path));  // the record alone, as in its file
  }
  EXPECT_FALSE(fs::exists("records"));  // --records, not the default folder
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, RunModeTest,
    ::testing::Values(
        RunCase{"Passing", {"run", "assess", "3"}, nullptr, EXIT_DONE_PASS},
        // The settings file's TCP.RAW frames the DMM in a run as in the menu program.
        RunCase{"RawSocketDmm", {"run", "assess", "3", "--quiet"},
                [](SimOptions& o) { o.dmm_style = SimDmmStyle::raw; }, EXIT_DONE_PASS},
        // A calibration memory that puts CH3's output 100 mV above its setting, far beyond tolerance.
        RunCase{"Failing", {"run", "assess", "3"},
                [](SimOptions& o) {
                  std::ofstream("skewed.cal") << "trimora-sim calibration memory 1\nseed 1\ntable CH3 VDAC 1\n0 0.1\n";
                  o.state_file = "skewed.cal";
                },
                EXIT_VERDICT},
        RunCase{"DmmAbsent", {"run", "assess", "3", "--quiet"},
                [](SimOptions& o) { o.dmm_faults.refuse_connections = true; }, EXIT_INSTRUMENT},
        // A DMM that identifies but reads only overloads is there, and not ready.
        RunCase{"DmmNotReady", {"run", "assess", "3", "--quiet"}, [](SimOptions& o) { o.dmm_faults.overload = true; },
                EXIT_INSTRUMENT, "", "INSTRUMENT NOT READY: the DMM reports an overload (+9.9E37)"},
        RunCase{"DmmRefusesCurrent", {"run", "current", "3", "--yes", "--quiet"},
                [](SimOptions& o) { o.dmm_faults.refuse_commands = {"CONF:CURR:DC AUTO", "CONF:CURR:DC"}; },
                EXIT_INSTRUMENT, "", "INSTRUMENT NOT READY: the DMM refused CONF:CURR:DC: -224,\"Illegal parameter value\""},
        RunCase{"SupplyAbsent", {"run", "full", "1", "--yes", "--quiet"},
                [](SimOptions& o) { o.psu_faults.refuse_connections = true; }, EXIT_INSTRUMENT},
        RunCase{"CalibrationDone", {"run", "voltage", "3", "--yes"}, nullptr, EXIT_DONE_PASS},
        RunCase{"CalibrationRefused", {"run", "voltage", "3", "--yes", "--json"},
                [](SimOptions& o) { o.psu_faults.refuse_calibration = true; }, EXIT_CALIBRATION},
        // Standard input ending mid-run stops it as Ctrl+C does: output off, calibration closed.
        RunCase{"InputEndsMidRun", {"run", "voltage", "3", "--yes"}, nullptr, EXIT_CALIBRATION, "[ 5] CAL:MEAS"}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// The exit code a record shows (present: the run reached the instruments).
TEST(CommandLine, RunOutcomeFollowsTheRecord) {
  const struct {
    bool completed;
    std::optional<Verdict> verdict;
    const char* supply_error;  // "" for none
    bool present;
    int code;
  } cases[] = {
      {true, Verdict::pass, "", true, 0},
      {true, Verdict::fail, "", true, 1},
      {true, Verdict::indeterminate, "", true, 1},
      {true, Verdict::no_reading, "", true, 1},
      {true, std::nullopt, "", true, 0},
      {true, std::nullopt, "-203,\"Command protected\"", true, 4},
      {false, Verdict::pass, "", true, 4},
      {false, Verdict::pass, "", false, 3},
  };
  for (const auto& c : cases) {
    Record record;
    record.completed = c.completed;
    if (!c.completed) record.incomplete_reason = "stopped";
    record.overall_verdict = c.verdict;
    if (*c.supply_error != 0) record.supply_errors.emplace_back(c.supply_error);
    EXPECT_EQ(run_outcome(record, c.present).exit_code, c.code) << &c - cases;
  }
  EXPECT_EQ(run_outcome(std::nullopt, true).exit_code, 4);
}

}  // namespace
