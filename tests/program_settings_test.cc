// The program's settings: defaults, the settings file's round trip, and files written by hand or left
// by faults. Everything is checked in the settings object and the saved file; nothing connects.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "settings/program_settings.h"
#include "tests/program_fixture.h"
#include "tests/settings_checks.h"

namespace {

std::string saved_now() { return mask_stamps(read_file(SETTINGS_FILE_NAME)); }

class ProgramSettingsTest : public ::testing::Test {
 protected:
  WorkingFolder folder;
  CapturedConsole console;
  // As a new start of the program: a fresh object, nothing read yet.
  std::unique_ptr<ProgramSettings> settings = std::make_unique<ProgramSettings>();

  void SetUp() override { ASSERT_FALSE(folder.path().empty()); }

  void restart() { settings = std::make_unique<ProgramSettings>(); }
  int load() { return settings->load(console); }
  int save(const LocalTime& now = LocalTime{2026, 1, 2, 3, 4, 5}) { return settings->save(now); }
  std::string addresses() const {  // "host:port host:port", the DMM's first
    const ProgramSettings& s = *settings;
    return s.dmm.host + ":" + std::to_string(s.dmm.port) + " " + s.psu.host + ":" + std::to_string(s.psu.port);
  }
};

}  // namespace

// Without a file: the built-in values, nothing written; the save writes the seven lines with a stamp.
TEST_F(ProgramSettingsTest, DefaultsWithoutAFileAndTheirSave) {
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(addresses(), "172.16.0.133:5024 172.16.0.131:5555");
  EXPECT_EQ(settings->last_run_time(), "\"NONE\"");
  EXPECT_EQ(settings->dmm_connect_method, "TCP.SCPI");
  EXPECT_EQ(settings->file_problem(), "");
  EXPECT_EQ(console.text, "");
  EXPECT_TRUE(std::filesystem::is_empty("."));

  // A second start-up on the same object declares nothing twice: the save still writes seven lines.
  EXPECT_EQ(load(), 0);
  ASSERT_EQ(save(), 1);
  EXPECT_EQ(saved_now(), saved_settings("172.16.0.133", 5024, "172.16.0.131", 5555));
  EXPECT_NE(read_file(SETTINGS_FILE_NAME).find("\nLast_Run_Time    \"01/02/2026 03:04:05\"\n"), std::string::npos);
}

TEST_F(ProgramSettingsTest, RoundTrip) {
  load();
  settings->dmm = {"127.0.0.1", 6001};
  settings->psu = {"localhost", 6002};
  ASSERT_EQ(save(LocalTime{2026, 12, 31, 23, 59, 58}), 1);

  // The next start reads everything back; the stamp comes back bare.
  restart();
  EXPECT_EQ(load(), 7);
  EXPECT_EQ(addresses(), "127.0.0.1:6001 localhost:6002");
  EXPECT_EQ(settings->last_run_time(), "12/31/2026 23:59:58");
}

TEST_F(ProgramSettingsTest, PartialFileInAnyOrderAndCase) {
  write_file(SETTINGS_FILE_NAME, "dp832_port 7000\nComment about this file\ndmm_ip,127.0.0.2\n");
  EXPECT_EQ(load(), 2);
  EXPECT_EQ(addresses(), "127.0.0.2:5024 :7000");  // a file that is there never gives a built-in address
  EXPECT_EQ(settings->last_run_time(), "\"NONE\"");
  EXPECT_EQ(settings->file_problem(), "it gives no DP832_IP");
  EXPECT_EQ(settings->save_at_exit(LocalTime{2026, 1, 2, 3, 4, 5}), 0);
  ASSERT_EQ(save(), 1);  // as after D or M
  EXPECT_EQ(saved_now(), saved_settings("127.0.0.2", 5024, "", 7000));
}

// The DMM's method as read from the file: a known one is kept and saved, an unknown one warned of and
// replaced. The DP832's method is always written as TCP.SCPI.
TEST_F(ProgramSettingsTest, KnownDmmMethodKeptUnknownRefused) {
  const std::pair<const char*, const char*> methods[] = {  // in the file ("": no such line), kept
      {"TCP.RAW", "TCP.RAW"}, {"TCP.SCPI", "TCP.SCPI"}, {"", "TCP.SCPI"}, {"TCP.FOO", "TCP.SCPI"}, {"USB", "TCP.SCPI"}};
  for (const auto& [in_file, kept] : methods) {
    SCOPED_TRACE(in_file);
    restart();
    std::string file = "DP832_Connect_Method    \"GPIB 5\"\n";
    if (in_file[0] != 0) file += std::string("DMM_Connect_Method    ") + in_file + "\n";
    write_file(SETTINGS_FILE_NAME, file);
    console.text.clear();
    load();
    EXPECT_EQ(settings->dmm_connect_method, kept);
    const bool warns = in_file[0] != 0 && std::strcmp(in_file, kept) != 0;
    EXPECT_EQ(console.text, warns ? std::string("WARNING: DMM_Connect_Method ") + in_file +
                                        " is not known (TCP.SCPI or TCP.RAW); using TCP.SCPI.\n"
                                  : "");
    ASSERT_EQ(save(), 1);
    EXPECT_EQ(saved_now(), saved_settings("", 5024, "", 5555, kept));
  }
}

// The decision rule and readings per point: read when the file gives them and kept by a save, refused
// with one line and replaced by the default when unknown, never written into a file without them.
TEST_F(ProgramSettingsTest, DecisionRuleAndReadingsPerPointReadOrRefused) {
  const struct {
    const char* lines;
    const char* rule;
    int readings;
    const char* warning;
    const char* saved;
  } cases[] = {
      {"", "guard-band", 1, "", ""},
      {"Decision_Rule    simple\nReadings_Per_Point    5\n", "simple", 5, "",
       "Decision_Rule    simple\nReadings_Per_Point    5\n"},
      {"Decision_Rule    guard-band\nReadings_Per_Point    10\n", "guard-band", 10, "",
       "Decision_Rule    guard-band\nReadings_Per_Point    10\n"},
      {"Decision_Rule    Simple\n", "guard-band", 1,
       "WARNING: Decision_Rule Simple is not known (guard-band or simple); using guard-band.\n",
       "Decision_Rule    guard-band\n"},
      {"Readings_Per_Point    11\n", "guard-band", 1, "WARNING: Readings_Per_Point 11 is not 1 to 10; using 1.\n",
       "Readings_Per_Point    1\n"},
      {"Readings_Per_Point    0\n", "guard-band", 1, "WARNING: Readings_Per_Point 0 is not 1 to 10; using 1.\n",
       "Readings_Per_Point    1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    restart();
    write_file(SETTINGS_FILE_NAME, std::string("DMM_IP    127.0.0.1\nDP832_IP    127.0.0.1\n") + c.lines);
    console.text.clear();
    load();
    EXPECT_EQ(settings->decision_rule, c.rule);
    EXPECT_EQ(settings->readings_per_point, c.readings);
    EXPECT_EQ(console.text, c.warning);
    ASSERT_EQ(save(), 1);
    EXPECT_EQ(saved_now(), saved_settings("127.0.0.1", 5024, "127.0.0.1", 5555) + c.saved);
  }
}

TEST_F(ProgramSettingsTest, HostsCutToSixtyThreeAndPortsAsRead) {
  const std::string exact(63, 'p');
  write_file(SETTINGS_FILE_NAME, "DMM_IP " + std::string(100, 'd') + "\nDP832_IP " + exact +
                                     "\nDMM_Port 99999999999\nDP832_Port -1\nLast_Run_Time \"" +
                                     std::string(80, '9') + "\"\n");
  EXPECT_EQ(load(), 5);
  EXPECT_EQ(addresses(), std::string(63, 'd') + ":2147483647 " + exact + ":-1");
  EXPECT_EQ(settings->last_run_time(), std::string(31, '9'));

  write_file(SETTINGS_FILE_NAME, "DMM_Port 0\nDP832_Port 65536\n");
  restart();
  EXPECT_EQ(load(), 2);
  EXPECT_EQ(addresses(), ":0 :65536");
}

TEST_F(ProgramSettingsTest, FolderInTheSettingsFilesPlace) {
  std::filesystem::create_directory(SETTINGS_FILE_NAME);
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(settings->dmm.host, "");
  EXPECT_EQ(settings->file_problem(), "it is a folder");
  settings->dmm.host = "127.0.0.1";
  EXPECT_EQ(settings->save_at_exit(LocalTime{2026, 1, 2, 3, 4, 5}), 0);  // the operator's, not ours
  EXPECT_EQ(save(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(SETTINGS_FILE_NAME));
  EXPECT_TRUE(std::filesystem::is_empty(SETTINGS_FILE_NAME));
  // The run goes on: the next save, once the folder is gone, writes the file.
  std::filesystem::remove(SETTINGS_FILE_NAME);
  EXPECT_EQ(save(), 1);
  EXPECT_EQ(saved_now(), saved_settings("127.0.0.1", 5024, "", 5555));
}

// A file that gives no address for an instrument names the key and what is wrong with the file.
TEST_F(ProgramSettingsTest, FileWithoutAnAddressIsRefusedWithTheKey) {
  const std::string utf16("\xff\xfe" "D\0M\0M\0_\0I\0P\0 \0" "1\0\r\0\n\0", 22);
  const std::pair<std::string, const char*> cases[] = {
      {"", "it is empty; it gives no DMM_IP and no DP832_IP"},
      {"DMM_IP 127.0.0.1\nDP832_lP 127.0.0.2\n", "it gives no DP832_IP"},
      {"DMM_IP\nDP832_IP 127.0.0.2\n", "it gives no DMM_IP"},
      {utf16, "it is UTF-16 text, which is not read (save it as plain ASCII text); it gives no DMM_IP and no DP832_IP"},
      {std::string("DMM_IP 127.0.0.1\n\0\0DP832_IP 127.0.0.2\n", 38), "it is a binary file (it holds NUL bytes); it gives no DP832_IP"},
  };
  for (const auto& [content, problem] : cases) {
    write_file(SETTINGS_FILE_NAME, content);
    restart();
    load();
    EXPECT_EQ(settings->file_problem(), problem) << testing::PrintToString(content);
  }
}

// The records go beside the settings file unless the command line names their folder.
TEST_F(ProgramSettingsTest, RecordsFolder) {
  EXPECT_EQ(settings->records_folder(), "records");
  settings->path = "/some/where/own.cfg";
  EXPECT_EQ(settings->records_folder(), "/some/where/records");
  settings->records_folder_option = "out";
  EXPECT_EQ(settings->records_folder(), "out");
}

TEST_F(ProgramSettingsTest, ReadOnlyWorkingFolder) {
  load();
  settings->dmm.host = "127.0.0.1";
  const std::string old_content = "DMM_IP    127.0.0.9\nDMM_Port    1\n";
  write_file(SETTINGS_FILE_NAME, old_content);
  chmod(".", 0500);
  int result;
  {
    HeldToPermissions held;
    if (write_file("probe", ""), std::filesystem::exists("probe")) {
      chmod(".", 0700);
      GTEST_SKIP() << "this user can write into a read-only folder";
    }
    result = save();
  }
  chmod(".", 0700);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_file(SETTINGS_FILE_NAME), old_content);
  EXPECT_EQ(folder_listing(), std::vector<std::string>{SETTINGS_FILE_NAME});
  EXPECT_EQ(load(), 2);
  EXPECT_EQ(settings->dmm.host, "127.0.0.9");
}
