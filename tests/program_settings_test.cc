// The program's settings: defaults, the settings file's round trip, and files written by hand or left
// by faults. Everything is checked in the table and the globals; nothing connects.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "console/stamps.h"
#include "program_fixture.h"
#include "settings/program_settings.h"
#include "settings/settings_table.h"
#include "tests/settings_checks.h"

namespace {

std::string table_text(const char* name, int size = 136) {
  char out[136];
  if (settings.get_value(name, out, size) == 0) return "<none>";
  return out;
}

std::string saved_now() { return mask_stamps(read_file(SETTINGS_FILE_NAME)); }

class ProgramSettingsTest : public ::testing::Test {
 protected:
  WorkingFolder folder;

  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    restart();
  }
  void TearDown() override {
    settings.clear_for_tests();
    set_stamp_clock(nullptr);
  }

  // As a new start of the program: nothing declared, the globals unset.
  void restart() {
    settings.clear_for_tests();
    std::strcpy(dmm_host, "unset");
    std::strcpy(psu_host, "unset");
    dmm_port = psu_port = -5;
  }
};

}  // namespace

// Without a file: the built-in values, nothing written; the save writes the seven lines with a stamp.
TEST_F(ProgramSettingsTest, DefaultsWithoutAFileAndTheirSave) {
  EXPECT_EQ(load_program_settings(), 0);
  EXPECT_STREQ(dmm_host, "172.16.0.133");
  EXPECT_EQ(dmm_port, 5024);
  EXPECT_STREQ(psu_host, "172.16.0.131");
  EXPECT_EQ(psu_port, 5555);
  const char* const keys[7] = {"DMM_IP",   "DMM_Port",   "DMM_Connect_Method",  "Last_Run_Time",
                               "DP832_IP", "DP832_Port", "DP832_Connect_Method"};
  const int types[7] = {TEXT, INTEGER, TEXT, QUOTED_TEXT, TEXT, INTEGER, TEXT};
  ASSERT_EQ(settings.record_count(), 7);
  for (int i = 0; i < 7; i++) {
    EXPECT_STREQ(settings.record(i).name, keys[i]);
    EXPECT_EQ(settings.record(i).type, types[i]);
  }
  EXPECT_EQ(table_text("Last_Run_Time", 32), "\"NONE\"");
  EXPECT_EQ(table_text("DMM_Connect_Method"), "TCP.SCPI");
  EXPECT_EQ(table_text("DP832_Connect_Method"), "TCP.SCPI");
  EXPECT_TRUE(std::filesystem::is_empty("."));

  // A second start-up in the same process declares nothing twice.
  EXPECT_EQ(load_program_settings(), 0);
  EXPECT_EQ(settings.record_count(), 7);

  set_stamp_clock([] { return LocalTime{2026, 1, 2, 3, 4, 5}; });
  ASSERT_EQ(save_program_settings(), 1);
  EXPECT_EQ(saved_now(), saved_settings("172.16.0.133", 5024, "172.16.0.131", 5555));
  EXPECT_NE(read_file(SETTINGS_FILE_NAME).find("\nLast_Run_Time    \"01/02/2026 03:04:05\"\n"), std::string::npos);
}

TEST_F(ProgramSettingsTest, RoundTrip) {
  load_program_settings();
  std::strcpy(dmm_host, "127.0.0.1");
  dmm_port = 6001;
  std::strcpy(psu_host, "localhost");
  psu_port = 6002;
  set_stamp_clock([] { return LocalTime{2026, 12, 31, 23, 59, 58}; });
  ASSERT_EQ(save_program_settings(), 1);

  // The next start reads everything back; the stamp comes back bare.
  restart();
  EXPECT_EQ(load_program_settings(), 7);
  EXPECT_STREQ(dmm_host, "127.0.0.1");
  EXPECT_EQ(dmm_port, 6001);
  EXPECT_STREQ(psu_host, "localhost");
  EXPECT_EQ(psu_port, 6002);
  EXPECT_EQ(table_text("Last_Run_Time", 32), "12/31/2026 23:59:58");
}

TEST_F(ProgramSettingsTest, PartialFileInAnyOrderAndCase) {
  write_file(SETTINGS_FILE_NAME, "dp832_port 7000\nComment about this file\ndmm_ip,127.0.0.2\n");
  EXPECT_EQ(load_program_settings(), 2);
  EXPECT_STREQ(dmm_host, "127.0.0.2");
  EXPECT_EQ(dmm_port, 5024);
  EXPECT_STREQ(psu_host, "172.16.0.131");
  EXPECT_EQ(psu_port, 7000);
  EXPECT_EQ(table_text("Last_Run_Time"), "\"NONE\"");
  ASSERT_EQ(save_program_settings(), 1);
  EXPECT_EQ(saved_now(), saved_settings("127.0.0.2", 5024, "172.16.0.131", 7000));
}

// The DMM's method as read from the file: a known one is kept and saved, an unknown one warned of and
// replaced. The DP832's method is always written as TCP.SCPI.
TEST_F(ProgramSettingsTest, KnownDmmMethodKeptUnknownRefused) {
  const struct {
    const char* in_file;  // empty: no such line
    const char* kept;
  } methods[] = {{"TCP.RAW", "TCP.RAW"}, {"TCP.SCPI", "TCP.SCPI"}, {"", "TCP.SCPI"},
                 {"TCP.FOO", "TCP.SCPI"}, {"USB", "TCP.SCPI"}};
  for (const auto& m : methods) {
    SCOPED_TRACE(m.in_file);
    restart();
    std::string file = "DP832_Connect_Method    \"GPIB 5\"\n";
    if (m.in_file[0] != 0) file += std::string("DMM_Connect_Method    ") + m.in_file + "\n";
    write_file(SETTINGS_FILE_NAME, file);
    std::string out;
    console_capture(&out);
    load_program_settings();
    console_capture(nullptr);
    EXPECT_STREQ(dmm_connect_method, m.kept);
    const bool warns = m.in_file[0] != 0 && std::strcmp(m.in_file, m.kept) != 0;
    EXPECT_EQ(out, warns ? std::string("WARNING: DMM_Connect_Method ") + m.in_file +
                               " is not known (TCP.SCPI or TCP.RAW); using TCP.SCPI.\n"
                         : "");
    ASSERT_EQ(save_program_settings(), 1);
    EXPECT_EQ(saved_now(), saved_settings("172.16.0.133", 5024, "172.16.0.131", 5555, m.kept));
  }
}

TEST_F(ProgramSettingsTest, HostsCutToSixtyThreeAndPortsAsRead) {
  const std::string exact(63, 'p');
  write_file(SETTINGS_FILE_NAME, "DMM_IP " + std::string(100, 'd') + "\nDP832_IP " + exact +
                                     "\nDMM_Port 99999999999\nDP832_Port -1\nLast_Run_Time \"" +
                                     std::string(80, '9') + "\"\n");
  EXPECT_EQ(load_program_settings(), 5);
  EXPECT_EQ(std::string(dmm_host), std::string(63, 'd'));
  EXPECT_EQ(std::string(psu_host), exact);
  EXPECT_EQ(dmm_port, INT_MAX);
  EXPECT_EQ(psu_port, -1);
  EXPECT_EQ(table_text("Last_Run_Time", 32), std::string(31, '9'));

  write_file(SETTINGS_FILE_NAME, "DMM_Port 0\nDP832_Port 65536\n");
  restart();
  EXPECT_EQ(load_program_settings(), 2);
  EXPECT_EQ(dmm_port, 0);
  EXPECT_EQ(psu_port, 65536);
}

TEST_F(ProgramSettingsTest, FolderInTheSettingsFilesPlace) {
  std::filesystem::create_directory(SETTINGS_FILE_NAME);
  EXPECT_EQ(load_program_settings(), 0);
  EXPECT_STREQ(dmm_host, "172.16.0.133");
  std::strcpy(dmm_host, "127.0.0.1");
  EXPECT_EQ(save_program_settings(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(SETTINGS_FILE_NAME));
  EXPECT_TRUE(std::filesystem::is_empty(SETTINGS_FILE_NAME));
  // The run goes on: the next save, once the folder is gone, writes the file.
  std::filesystem::remove(SETTINGS_FILE_NAME);
  EXPECT_EQ(save_program_settings(), 1);
  EXPECT_EQ(saved_now(), saved_settings("127.0.0.1", 5024, "172.16.0.131", 5555));
}

TEST_F(ProgramSettingsTest, ReadOnlyWorkingFolder) {
  load_program_settings();
  std::strcpy(dmm_host, "127.0.0.1");
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
    result = save_program_settings();
  }
  chmod(".", 0700);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_file(SETTINGS_FILE_NAME), old_content);
  EXPECT_EQ(folder_listing(), std::vector<std::string>{SETTINGS_FILE_NAME});
  EXPECT_EQ(load_program_settings(), 2);
  EXPECT_STREQ(dmm_host, "127.0.0.9");
}
