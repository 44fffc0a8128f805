// The program's settings: defaults, the settings file's round trip, and files written by hand or left
// by faults. Everything is checked in the table and the globals; nothing connects.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "settings/program_settings.h"
#include "settings/settings_table.h"

namespace {

const char* const KEYS[7] = {"DMM_IP",   "DMM_Port",   "DMM_Connect_Method",  "Last_Run_Time",
                             "DP832_IP", "DP832_Port", "DP832_Connect_Method"};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string table_text(const char* name, int size = 136) {
  char out[136];
  if (settings.get_value(name, out, size) == 0) return "<none>";
  return out;
}

// A quoted date and time as the program stamps it.
const std::regex QUOTED_STAMP("\"[01][0-9]/[0-3][0-9]/[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\"");

class ProgramSettingsTest : public ::testing::Test {
 protected:
  WorkingFolder folder;

  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    settings.clear_for_tests();
    std::strcpy(dmm_host, "unset");
    std::strcpy(psu_host, "unset");
    dmm_port = -5;
    psu_port = -5;
  }
  void TearDown() override { settings.clear_for_tests(); }

  bool folder_is_empty() { return std::filesystem::is_empty("."); }

  // The file after a save: the seven lines, each split into key and value at the four spaces.
  std::vector<std::pair<std::string, std::string>> saved_lines() {
    std::vector<std::pair<std::string, std::string>> result;
    for (const std::string& line : lines_of(read_file(SETTINGS_FILE_NAME))) {
      std::size_t gap = line.find("    ");
      result.emplace_back(line.substr(0, gap), gap == std::string::npos ? "" : line.substr(gap + 4));
    }
    return result;
  }
};

}  // namespace

TEST_F(ProgramSettingsTest, DefaultsWithoutAFile) {
  EXPECT_EQ(load_program_settings(), 0);
  EXPECT_STREQ(dmm_host, "172.16.0.133");
  EXPECT_EQ(dmm_port, 5024);
  EXPECT_STREQ(psu_host, "172.16.0.131");
  EXPECT_EQ(psu_port, 5555);

  ASSERT_EQ(settings.record_count(), 7);
  const int types[7] = {TEXT, INTEGER, TEXT, QUOTED_TEXT, TEXT, INTEGER, TEXT};
  for (int i = 0; i < 7; i++) {
    EXPECT_STREQ(settings.record(i).name, KEYS[i]);
    EXPECT_EQ(settings.record(i).type, types[i]);
  }
  EXPECT_EQ(table_text("Last_Run_Time", 32), "\"NONE\"");
  EXPECT_EQ(table_text("DMM_Connect_Method"), "TCP.SCPI");
  EXPECT_EQ(table_text("DP832_Connect_Method"), "TCP.SCPI");
  EXPECT_TRUE(folder_is_empty());

  // A second start-up in the same process declares nothing twice.
  EXPECT_EQ(load_program_settings(), 0);
  EXPECT_EQ(settings.record_count(), 7);
}

TEST_F(ProgramSettingsTest, SaveWritesTheSevenLines) {
  load_program_settings();
  ASSERT_EQ(save_program_settings(), 1);
  std::string content = read_file(SETTINGS_FILE_NAME);
  std::vector<std::string> lines = lines_of(content);
  ASSERT_EQ(lines.size(), 7u) << content;
  EXPECT_EQ(content.back(), '\n');
  EXPECT_EQ(lines[0], "DMM_IP    172.16.0.133");
  EXPECT_EQ(lines[1], "DMM_Port    5024");
  EXPECT_EQ(lines[2], "DMM_Connect_Method    TCP.SCPI");
  EXPECT_EQ(lines[3].substr(0, 17), "Last_Run_Time    ");
  EXPECT_TRUE(std::regex_match(lines[3].substr(17), QUOTED_STAMP)) << lines[3];
  EXPECT_EQ(lines[4], "DP832_IP    172.16.0.131");
  EXPECT_EQ(lines[5], "DP832_Port    5555");
  EXPECT_EQ(lines[6], "DP832_Connect_Method    TCP.SCPI");
}

TEST_F(ProgramSettingsTest, RoundTrip) {
  load_program_settings();
  std::strcpy(dmm_host, "127.0.0.1");
  dmm_port = 6001;
  std::strcpy(psu_host, "localhost");
  psu_port = 6002;
  ASSERT_EQ(save_program_settings(), 1);

  // The next start reads everything back; the stamp comes back bare.
  settings.clear_for_tests();
  std::strcpy(dmm_host, "unset");
  std::strcpy(psu_host, "unset");
  dmm_port = psu_port = 0;
  EXPECT_EQ(load_program_settings(), 7);
  EXPECT_STREQ(dmm_host, "127.0.0.1");
  EXPECT_EQ(dmm_port, 6001);
  EXPECT_STREQ(psu_host, "localhost");
  EXPECT_EQ(psu_port, 6002);
  std::string stamp = table_text("Last_Run_Time", 32);
  EXPECT_TRUE(std::regex_match("\"" + stamp + "\"", QUOTED_STAMP)) << stamp;
}

TEST_F(ProgramSettingsTest, PartialFileInAnyOrderAndCase) {
  write_file(SETTINGS_FILE_NAME,
             "dp832_port 7000\n"
             "Comment about this file\n"
             "dmm_ip,127.0.0.2\n");
  EXPECT_EQ(load_program_settings(), 2);
  EXPECT_STREQ(dmm_host, "127.0.0.2");
  EXPECT_EQ(dmm_port, 5024);
  EXPECT_STREQ(psu_host, "172.16.0.131");
  EXPECT_EQ(psu_port, 7000);
  EXPECT_EQ(table_text("Last_Run_Time"), "\"NONE\"");

  ASSERT_EQ(save_program_settings(), 1);
  auto lines = saved_lines();
  ASSERT_EQ(lines.size(), 7u);
  for (int i = 0; i < 7; i++) EXPECT_EQ(lines[i].first, KEYS[i]);
  EXPECT_EQ(lines[0].second, "127.0.0.2");
  EXPECT_EQ(lines[1].second, "5024");
  EXPECT_EQ(lines[4].second, "172.16.0.131");
  EXPECT_EQ(lines[5].second, "7000");
}

// The DMM's method as read from the file (empty: no such line), what is kept and saved, and whether
// the load warns. The DP832's method is always written as TCP.SCPI.
struct MethodCase {
  const char* in_file;
  const char* kept;
  bool warns;
};

class DmmMethodTest : public ProgramSettingsTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(DmmMethodTest, KnownMethodKeptUnknownRefused) {
  const MethodCase& c = GetParam();
  std::string file = "DP832_Connect_Method    \"GPIB 5\"\n";
  if (c.in_file[0] != 0) file += std::string("DMM_Connect_Method    ") + c.in_file + "\n";
  write_file(SETTINGS_FILE_NAME, file);
  std::string out;
  console_capture(&out);
  load_program_settings();
  console_capture(nullptr);
  EXPECT_STREQ(dmm_connect_method, c.kept);
  EXPECT_EQ(out, c.warns ? std::string("WARNING: DMM_Connect_Method ") + c.in_file +
                               " is not known (TCP.SCPI or TCP.RAW); using TCP.SCPI.\n"
                         : "");
  ASSERT_EQ(save_program_settings(), 1);
  auto lines = saved_lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[2].second, c.kept);
  EXPECT_EQ(lines[6].second, "TCP.SCPI");
}

INSTANTIATE_TEST_SUITE_P(Methods, DmmMethodTest,
                         ::testing::Values(MethodCase{"TCP.RAW", "TCP.RAW", false},
                                           MethodCase{"TCP.SCPI", "TCP.SCPI", false},
                                           MethodCase{"", "TCP.SCPI", false},
                                           MethodCase{"TCP.FOO", "TCP.SCPI", true},
                                           MethodCase{"USB", "TCP.SCPI", true}));

TEST_F(ProgramSettingsTest, HostsCutToSixtyThreeAndPortsAsRead) {
  std::string exact(63, 'p');
  write_file(SETTINGS_FILE_NAME,
             "DMM_IP " + std::string(100, 'd') + "\n" +
             "DP832_IP " + exact + "\n" +
             "DMM_Port 99999999999\n"
             "DP832_Port -1\n"
             "Last_Run_Time \"" + std::string(80, '9') + "\"\n");
  EXPECT_EQ(load_program_settings(), 5);
  EXPECT_EQ(std::string(dmm_host), std::string(63, 'd'));
  EXPECT_EQ(std::string(psu_host), exact);
  EXPECT_EQ(dmm_port, INT_MAX);
  EXPECT_EQ(psu_port, -1);
  EXPECT_EQ(table_text("Last_Run_Time", 32), std::string(31, '9'));

  write_file(SETTINGS_FILE_NAME, "DMM_Port 0\nDP832_Port 65536\n");
  settings.clear_for_tests();
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
  EXPECT_EQ(lines_of(read_file(SETTINGS_FILE_NAME))[0], "DMM_IP    127.0.0.1");
}

TEST_F(ProgramSettingsTest, ReadOnlyWorkingFolder) {
  load_program_settings();
  std::strcpy(dmm_host, "127.0.0.1");
  const std::string old_content = "DMM_IP    127.0.0.9\nDMM_Port    1\n";
  write_file(SETTINGS_FILE_NAME, old_content);
  std::filesystem::permissions(".", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  std::FILE* probe = std::fopen("probe", "w");
  if (probe != nullptr) {  // chmod has no effect here (running as root)
    std::fclose(probe);
    std::filesystem::permissions(".", std::filesystem::perms::owner_all);
    GTEST_SKIP() << "this user can write into a read-only folder";
  }
  int result = save_program_settings();
  std::filesystem::permissions(".", std::filesystem::perms::owner_all);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_file(SETTINGS_FILE_NAME), old_content);
  EXPECT_EQ(load_program_settings(), 2);
  EXPECT_STREQ(dmm_host, "127.0.0.9");
}
