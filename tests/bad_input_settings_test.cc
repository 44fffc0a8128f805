// The whole program against settings files that a person or a failing disk could leave, against ports
// outside the protocol's range (in the file and typed in the dialog) and in a read-only working folder.
// Each run must start, reach both instruments where the file says they are (or report them absent),
// keep its menu, and leave a whole settings file.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <string>

#include "app/trimora.h"
#include "tests/program_fixture.h"
#include "tests/settings_checks.h"

namespace {

const std::string UNKNOWN = "\n\a?Unknown command.\n\n";

class BadSettingsTest : public ProgramTest {
 protected:
  void write(const std::string& content) { write_file(SETTINGS_FILE_NAME, content); }

  // The lines that point both instruments at the bench.
  std::string dmm_lines_of(const std::string& end = "\n") const {
    return "DMM_IP    127.0.0.1" + end + "DMM_Port    " + std::to_string(bench->dmm_port()) + end;
  }
  std::string psu_lines_of(const std::string& end = "\n") const {
    return "DP832_IP    127.0.0.1" + end + "DP832_Port    " + std::to_string(bench->psu_port()) + end;
  }

  // Before the program may start on a file, the file must send it to loopback and nowhere else.
  void expect_loopback_only() {
    ProgramSettings read;
    CapturedConsole quiet;
    read.load(quiet);
    ASSERT_EQ(read.dmm.host.rfind("127.", 0), 0u) << read.dmm.host;
    ASSERT_EQ(read.psu.host.rfind("127.", 0), 0u) << read.psu.host;
  }

  // One run of the program on this settings file, with these keys, on a console of its own (the last
  // run's may have closed); out holds what it showed.
  void run_on(const std::string& content, const std::string& typed) {
    key_queue.clear();
    write(content);
    expect_loopback_only();
    if (HasFatalFailure()) return;  // never start the program on a file that points elsewhere
    keys(typed);
    TestEnvironment run_env{[this] { return next_key(); }};
    EXPECT_EQ(trimora_main(run_env, settings), 0);
    out = run_env.text();
  }

  // The saved file, to compare with saved_settings().
  std::string saved() const { return mask_stamps(read_file(SETTINGS_FILE_NAME)); }
};

}  // namespace

TEST_F(BadSettingsTest, ProgramRunsOnDamagedFilesAndSavesThemWhole) {
  start_bench();
  std::string ten_mb;
  ten_mb.reserve(10 * 1024 * 1024 + 4096);
  while (ten_mb.size() < 5 * 1024 * 1024) ten_mb += "Noise    " + std::string(100, 'n') + "\n";
  ten_mb += "OneLine " + std::string(5 * 1024 * 1024, 'z') + "\n";
  const std::string nul_dmm("\0DMM_Port 1\n", 12);
  const std::string nul_psu("DP832_IP 127.0.0.1\0 junk\n", 25);
  const std::pair<const char*, std::string> cases[] = {
      {"over-long lines", "Junk" + std::string(1000, 'x') + "\n" + dmm_lines_of() + "Last_Run_Time    \"" +
                              std::string(300, '9') + "\"\n" + psu_lines_of()},
      {"bytes from 128 up", "\xff\xfe\x80\n" + dmm_lines_of() + "Last_Run_Time \"caf\xc3\xa9\"\n\xe9t\xe9    \xff\n" +
                                psu_lines_of()},
      {"NUL bytes", nul_dmm + dmm_lines_of() + nul_psu + psu_lines_of()},
      {"no final newline", dmm_lines_of() + "DP832_IP 127.0.0.1\nDP832_Port    " + std::to_string(bench->psu_port())},
      {"CR LF", dmm_lines_of("\r\n") + psu_lines_of("\r\n")},
      {"CR alone", dmm_lines_of("\r") + psu_lines_of("\r")},
      {"10 MB", ten_mb + dmm_lines_of() + psu_lines_of()},
      {"duplicate keys", "DMM_Port 1\nDP832_Port 2\n" + dmm_lines_of() + psu_lines_of() + "dmm_ip,127.0.0.1\n"},
  };
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    run_on(content, "ZX");
    EXPECT_NE(out.find("Checking DMM read data......OK!\n\n"), std::string::npos);
    EXPECT_NE(out.find("Port " + std::to_string(bench->psu_port()) + "...OK!\n\n"), std::string::npos);
    EXPECT_NE(out.find("Command >Z\n" + UNKNOWN), std::string::npos);
    EXPECT_EQ(saved(), saved_settings("127.0.0.1", bench->dmm_port(), "127.0.0.1", bench->psu_port()));
  }
}

// Hosts longer than 63 characters are cut to 63; a 63-character loopback address is used whole.
TEST_F(BadSettingsTest, LongHostsInTheFile) {
  start_bench();
  // inet_addr reads 0...01 as octal 1: this is 127.0.0.1 in exactly 63 characters.
  const std::string host63 = "127.0.0." + std::string(54, '0') + "1";
  ASSERT_EQ(host63.size(), 63u);
  // 100 characters, cut to its first 63: 127.0.0.0, where nothing listens.
  const std::string host100 = "127.0.0." + std::string(91, '0') + "1";
  const std::string cut = host100.substr(0, 63);
  run_on("DMM_IP " + host63 + "\nDMM_Port " + std::to_string(bench->dmm_port()) + "\nDP832_IP " + host100 +
             "\nDP832_Port " + std::to_string(bench->psu_port()) + "\n",
         "ZX");
  EXPECT_NE(out.find("Connecting to DMM on IP " + host63 + ", Port " + std::to_string(bench->dmm_port()) + "...OK!"),
            std::string::npos);
  EXPECT_NE(out.find("Connecting to DP832 on IP " + cut + ", Port " + std::to_string(bench->psu_port()) +
                     "...\n\aWARNING: DP832 FAILED TO CONNECT."),
            std::string::npos);
  EXPECT_NE(out.find("Command >Z\n\a\nNo active DP832 connection.\n"), std::string::npos);
  EXPECT_EQ(saved(), saved_settings(host63, bench->dmm_port(), cut, bench->psu_port()));
}

// Ports that no TCP connection can use, as written and as the program holds them (a number beyond int
// held at its end).
struct BadPort {
  const char* text;
  int port;
};
class BadPortTest : public BadSettingsTest, public ::testing::WithParamInterface<BadPort> {};
INSTANTIATE_TEST_SUITE_P(OutsideTheRange, BadPortTest,
                         ::testing::Values(BadPort{"0", 0}, BadPort{"-1", -1}, BadPort{"65536", 65536},
                                           BadPort{"99999999999", 2147483647}));

// In the file, the program reports both instruments absent, keeps its menu, and writes the ports back
// as it read them; typed in the DMM dialog, the port is shown, saved, and refused by the connect.
TEST_P(BadPortTest, InTheFileAndTypedInTheDialog) {
  const BadPort& c = GetParam();
  const std::string port = std::to_string(c.port);
  start_bench();
  run_on(std::string("DMM_IP 127.0.0.1\nDMM_Port ") + c.text + "\nDP832_IP 127.0.0.1\nDP832_Port " + c.text + "\n",
         "ZX");
  EXPECT_NE(out.find("Connecting to DMM on IP 127.0.0.1, Port " + port + "...\n\n\aERROR - Failed to connect to DMM!"),
            std::string::npos);
  EXPECT_NE(out.find("Connecting to DP832 on IP 127.0.0.1, Port " + port + "...\n\aWARNING: DP832 FAILED TO CONNECT."),
            std::string::npos);
  EXPECT_NE(out.find("Command >Z\n\a\nNo active DMM connection.\n"), std::string::npos);
  EXPECT_EQ(saved(), saved_settings("127.0.0.1", c.port, "127.0.0.1", c.port));
  EXPECT_EQ(bench->dmm_connections() + bench->psu_connections(), 0);

  // M, keep the host, erase the port's digits, type the new port, confirm; then check and leave.
  run_on(dmm_lines_of() + psu_lines_of(), "M\r" + std::string(10, '\b') + c.text + "\rYZX");
  EXPECT_NE(out.find("Service Port: " + port + "\n\nAre these correct?Y\n\n"), std::string::npos);
  EXPECT_NE(out.find("Port " + port + "...\n\n\aERROR - Failed to connect to DMM!"), std::string::npos);
  EXPECT_NE(out.find("Command >Z\n\a\nNo active DMM connection.\n"), std::string::npos);
  EXPECT_EQ(saved(), saved_settings("127.0.0.1", c.port, "127.0.0.1", bench->psu_port()));
}

// A read-only working folder, with the real program: every save fails, the old file stays whole and
// no temporary file is left, and the run goes on (the dialog still reconnects, X still ends it).
TEST_F(BadSettingsTest, ReadOnlyWorkingFolder) {
  start_bench();
  const std::string path = folder->path();
  const std::string old_content = read_file(SETTINGS_FILE_NAME);
  std::filesystem::create_directory("io");
  Finished done = run_trimora({}, "M\r\rYX", "", [&path] {
    // In a mount namespace of its own, the folder is mounted over itself read-only: no write into it
    // succeeds, not even root's. Where namespaces are not allowed, a plain user's read-only folder.
    const char* p = path.c_str();
    bool read_only = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                     mount(p, p, nullptr, MS_BIND, nullptr) == 0 &&
                     mount(nullptr, p, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (!read_only && geteuid() != 0) read_only = chmod(p, 0555) == 0;
    return read_only && chdir(p) == 0;
  });
  chmod(path.c_str(), 0700);
  if (done.code == 77) GTEST_SKIP() << "no way to make a read-only folder here";
  EXPECT_EQ(done.code, 0) << done.out << done.err;
  EXPECT_EQ(read_file(SETTINGS_FILE_NAME), old_content);
  EXPECT_EQ(folder_listing(), (std::vector<std::string>{SETTINGS_FILE_NAME, "io"}));  // no temporary file
  // Start-up, then the dialog's failed save, its reconnect, and X's failed save and exit.
  EXPECT_NE(done.out.find("Are these correct?Y\n\nConnecting to DMM on IP 127.0.0.1"), std::string::npos) << done.out;
  EXPECT_EQ(occurrences(done.out, "Checking DMM read data......OK!"), 2) << done.out;
  EXPECT_NE(done.out.find("Command >X\n\n\nExiting...\n\n"), std::string::npos) << done.out;
}
