// The settings table: lookup, typed values, growth, and its file in every form a hand or a fault can give.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "program_fixture.h"
#include "settings/settings_table.h"

namespace {

std::string get_text(SettingsTable& table, const char* name) {
  char out[136];
  std::memset(out, '#', sizeof out);
  if (table.get_value(name, out) == 0) return "<none>";
  return out;
}

std::int32_t get_int(SettingsTable& table, const char* name) {
  std::int32_t v = -12345;
  table.get_value(name, &v);
  return v;
}

double get_real(SettingsTable& table, const char* name) {
  double v = -12345.0;
  table.get_value(name, &v);
  return v;
}

// The names of the files in the working folder.
std::string folder_listing() {
  std::string names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    names += entry.path().filename().string() + " ";
  }
  return names;
}

// A table of one setting of each type, as loaded and saved in the file tests.
class SettingsFileTest : public ::testing::Test {
 protected:
  WorkingFolder folder;
  SettingsTable table;

  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    table.add_setting(TEXT, "Host");
    table.add_setting(INTEGER, "Port");
    table.add_setting(QUOTED_TEXT, "Stamp");
    table.add_setting(REAL, "Gain");
    table.set_value("Host", "default-host");
    std::int32_t port = 5024;
    table.set_value("Port", &port);
    table.set_value("Stamp", "NONE");
    double gain = 1.5;
    table.set_value("Gain", &gain);
  }

  int load(const std::string& content) {
    write_file("test.cfg", content);
    return table.load_file("test.cfg");
  }
};

}  // namespace

TEST(SettingsTable, FindIgnoresLetterCaseOnly) {
  SettingsTable table;
  EXPECT_EQ(table.find_setting("DMM_IP"), 0);  // empty table
  ASSERT_EQ(table.add_setting(TEXT, "DMM_IP"), 1);
  ASSERT_EQ(table.add_setting(INTEGER, "DMM_Port"), 1);
  EXPECT_EQ(table.find_setting("DMM_IP"), 1);
  EXPECT_EQ(table.find_setting("dmm_ip"), 1);
  EXPECT_EQ(table.find_setting("dMm_pORT"), 2);
  EXPECT_EQ(table.find_setting("DMM_IP "), 0);
  EXPECT_EQ(table.find_setting(" DMM_IP"), 0);
  EXPECT_EQ(table.find_setting("DMM_I"), 0);
  EXPECT_EQ(table.find_setting("DMM-IP"), 0);
  EXPECT_EQ(table.find_setting(nullptr), 0);

  // Only A to Z fold: bytes above 127 must match exactly.
  table.add_setting(TEXT, "caf\xC3\xA9");
  EXPECT_EQ(table.find_setting("CAF\xC3\xA9"), 3);
  EXPECT_EQ(table.find_setting("CAF\xC3\x89"), 0);
}

TEST(SettingsTable, AddRefusesBadInputAndCutsLongNames) {
  SettingsTable table;
  EXPECT_EQ(table.add_setting(TEXT, nullptr), 0);
  EXPECT_EQ(table.add_setting(0, "A"), 0);
  EXPECT_EQ(table.add_setting(5, "A"), 0);
  EXPECT_EQ(table.record_count(), 0);

  std::string long_name(300, 'n');
  ASSERT_EQ(table.add_setting(REAL, long_name.c_str()), 1);
  EXPECT_EQ(std::string(table.record(0).name), std::string(127, 'n'));
  EXPECT_EQ(table.find_setting(std::string(127, 'N').c_str()), 1);
  EXPECT_EQ(table.record(0).tag, 1);
  EXPECT_EQ(table.record(0).type, REAL);
  EXPECT_EQ(table.record(0).real_value, 0.0);
  EXPECT_EQ(table.record(0).text[0], '\0');
}

TEST(SettingsTable, GrowthKeepsEveryRecordInOrder) {
  SettingsTable table;
  constexpr int N = 1500;
  for (int i = 0; i < N; i++) {
    std::string name = "Key" + std::to_string(i);
    ASSERT_EQ(table.add_setting(i % 2 ? INTEGER : TEXT, name.c_str()), 1);
    // Values set before later growth must survive each move of the storage.
    if (i % 2) {
      std::int32_t v = i * 7;
      ASSERT_EQ(table.set_value(name.c_str(), &v), i + 1);
    } else {
      ASSERT_EQ(table.set_value(name.c_str(), ("text" + std::to_string(i)).c_str()), i + 1);
    }
  }
  ASSERT_EQ(table.record_count(), N);
  for (int i = 0; i < N; i++) {
    std::string name = "key" + std::to_string(i);
    ASSERT_EQ(table.find_setting(name.c_str()), i + 1);
    ASSERT_EQ(table.record(i).tag, 1);
    if (i % 2) {
      ASSERT_EQ(get_int(table, name.c_str()), i * 7);
    } else {
      ASSERT_EQ(get_text(table, name.c_str()), "text" + std::to_string(i));
    }
  }
}

TEST(SettingsTable, DuplicatesReachOnlyTheFirst) {
  SettingsTable table;
  table.add_setting(TEXT, "Name");
  table.add_setting(TEXT, "NAME");
  EXPECT_EQ(table.find_setting("name"), 1);
  EXPECT_EQ(table.set_value("Name", "first"), 1);
  EXPECT_EQ(get_text(table, "Name"), "first");
  EXPECT_EQ(table.record(1).text[0], '\0');
}

TEST(SettingsTable, SetAndGetEachType) {
  SettingsTable table;
  table.add_setting(TEXT, "T");
  table.add_setting(QUOTED_TEXT, "Q");
  table.add_setting(INTEGER, "I");
  table.add_setting(REAL, "R");

  EXPECT_EQ(table.set_value("T", "hello world"), 1);
  EXPECT_EQ(table.set_value("Q", "NONE"), 2);
  std::int32_t i = -42;
  EXPECT_EQ(table.set_value("I", &i), 3);
  double r = 2.5;
  EXPECT_EQ(table.set_value("R", &r), 4);

  EXPECT_EQ(get_text(table, "T"), "hello world");
  EXPECT_EQ(get_text(table, "Q"), "\"NONE\"");  // the quotes are stored
  EXPECT_EQ(get_int(table, "I"), -42);
  EXPECT_EQ(get_real(table, "R"), 2.5);

  // An unknown name or a missing value writes nothing.
  char out[16] = "untouched";
  EXPECT_EQ(table.get_value("X", out), 0);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(table.set_value("X", "v"), 0);
  EXPECT_EQ(table.set_value("T", nullptr), 0);
  EXPECT_EQ(get_text(table, "T"), "hello world");
}

TEST(SettingsTable, TextsBoundedByTheirField) {
  SettingsTable table;
  table.add_setting(TEXT, "T");
  table.add_setting(QUOTED_TEXT, "Q");
  std::string long_text(500, 'a');
  table.set_value("T", long_text.c_str());
  table.set_value("Q", long_text.c_str());
  EXPECT_EQ(std::string(table.record(0).text), std::string(135, 'a'));
  EXPECT_EQ(std::string(table.record(1).text), "\"" + std::string(133, 'a') + "\"");
  table.set_value("Q", std::string(133, 'b').c_str());
  EXPECT_EQ(std::string(table.record(1).text), "\"" + std::string(133, 'b') + "\"");

  // get_value cuts to the buffer it is told of, and writes nothing beyond it.
  char small[32 + 4];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(table.get_value("T", small, 32), 1);
  EXPECT_EQ(std::string(small), std::string(31, 'a'));
  EXPECT_EQ(std::string(small + 32, 4), "####");

  char host[64 + 4];
  std::memset(host, '#', sizeof host);
  EXPECT_EQ(table.get_value("Q", host, 64), 2);
  EXPECT_EQ(std::string(host), "\"" + std::string(62, 'b'));
  EXPECT_EQ(std::string(host + 64, 4), "####");

  table.set_value("T", "short");
  EXPECT_EQ(table.get_value("T", small, 32), 1);
  EXPECT_STREQ(small, "short");
  EXPECT_EQ(table.get_value("T", small, 0), 0);
}

TEST(SettingsTable, TruncateText) {
  char text[16] = "abcdef";
  SettingsTable::truncate_text(text, 4);
  EXPECT_STREQ(text, "abc");
  SettingsTable::truncate_text(text, 4);  // already 3 characters
  EXPECT_STREQ(text, "abc");
  SettingsTable::truncate_text(text, 0);
  EXPECT_STREQ(text, "abc");
  SettingsTable::truncate_text(text, 1);
  EXPECT_STREQ(text, "");
  SettingsTable::truncate_text(nullptr, 4);  // harmless
}

TEST_F(SettingsFileTest, LineForms) {
  EXPECT_EQ(load("  \tHost    alpha\n"
                 "Port,6000\n"
                 "stamp \"12/31/2026 23:59:58\"\n"
                 "GAIN 2.5e-3xyz\n"),
            4);
  EXPECT_EQ(get_text(table, "Host"), "alpha");
  EXPECT_EQ(get_int(table, "Port"), 6000);
  EXPECT_EQ(get_text(table, "Stamp"), "12/31/2026 23:59:58");
  EXPECT_EQ(get_real(table, "Gain"), 0.0025);

  // Unknown names, a missing value, blank lines: skipped and not counted; the values stay.
  EXPECT_EQ(load("Unknown 1\n\n   \nHost\nPort   \nHost = other\n"), 1);
  EXPECT_EQ(get_text(table, "Host"), "=");
  EXPECT_EQ(get_int(table, "Port"), 6000);

  // Numbers read as far as they go.
  EXPECT_EQ(load("Port abc\nGain x\n"), 2);
  EXPECT_EQ(get_int(table, "Port"), 0);
  EXPECT_EQ(get_real(table, "Gain"), 0.0);
  EXPECT_EQ(load("Port 12ab\n"), 1);
  EXPECT_EQ(get_int(table, "Port"), 12);
  EXPECT_EQ(load("Port -1\n"), 1);
  EXPECT_EQ(get_int(table, "Port"), -1);
  EXPECT_EQ(load("Port 99999999999\n"), 1);
  EXPECT_EQ(get_int(table, "Port"), INT_MAX);
  EXPECT_EQ(load("Port -99999999999\n"), 1);
  EXPECT_EQ(get_int(table, "Port"), INT_MIN);

  // Unquoted, a date and time reads as the date alone; empty quotes give an empty text; a missing
  // closing quote takes the newline.
  EXPECT_EQ(load("Stamp 12/31/2026 23:59:58\n"), 1);
  EXPECT_EQ(get_text(table, "Stamp"), "12/31/2026");
  EXPECT_EQ(load("Stamp \"\"\n"), 1);
  EXPECT_EQ(get_text(table, "Stamp"), "");
  EXPECT_EQ(load("Stamp \"open\n"), 1);
  EXPECT_EQ(get_text(table, "Stamp"), "open\n");

  // Duplicates: each is stored and counted, the last wins.
  EXPECT_EQ(load("Port 1\nPort 2\nport 3\n"), 3);
  EXPECT_EQ(get_int(table, "Port"), 3);
}

TEST_F(SettingsFileTest, QuotedTextHasQuotesOnlyUntilLoaded) {
  table.set_value("Stamp", "01/02/2026 03:04:05");
  EXPECT_EQ(get_text(table, "Stamp"), "\"01/02/2026 03:04:05\"");
  ASSERT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(table.load_file("test.cfg"), 4);
  EXPECT_EQ(get_text(table, "Stamp"), "01/02/2026 03:04:05");
}

TEST_F(SettingsFileTest, BadBytesAndLineEnds) {
  // CR LF line ends and no final newline.
  EXPECT_EQ(load("Host beta\r\nPort 7000\r\nStamp \"x y\"\r\nGain 3"), 4);
  EXPECT_EQ(get_text(table, "Host"), "beta");
  EXPECT_EQ(get_int(table, "Port"), 7000);
  EXPECT_EQ(get_text(table, "Stamp"), "x y");
  EXPECT_EQ(get_real(table, "Gain"), 3.0);

  // Bytes from 128 up separate tokens.
  EXPECT_EQ(load("Host\xA0\xFFgamma\xE9rest\n"), 1);
  EXPECT_EQ(get_text(table, "Host"), "gamma");

  // A zero byte ends what is read of its line; the lines after it are read as usual.
  static const char with_zeros[] = "Port 12\0 34\n\0Host lost\nHost delta\n";
  EXPECT_EQ(load(std::string(with_zeros, sizeof with_zeros - 1)), 2);
  EXPECT_EQ(get_int(table, "Port"), 12);
  EXPECT_EQ(get_text(table, "Host"), "delta");
  EXPECT_EQ(load(std::string(1000, '\0')), 0);
}

TEST_F(SettingsFileTest, LongValuesAndLines) {
  // A text value read from a file keeps 126 characters.
  EXPECT_EQ(load("Host " + std::string(200, 'h') + "\n"), 1);
  EXPECT_EQ(get_text(table, "Host"), std::string(126, 'h'));
  EXPECT_EQ(load("Stamp \"" + std::string(200, 's') + "\"\n"), 1);
  EXPECT_EQ(get_text(table, "Stamp"), std::string(126, 's'));

  // A line longer than 253 bytes is read in pieces of 253, each handled as a line.
  std::string first_piece = "Junk" + std::string(249, ' ');
  ASSERT_EQ(first_piece.size(), 253u);
  EXPECT_EQ(load(first_piece + "Port 77\n"), 1);
  EXPECT_EQ(get_int(table, "Port"), 77);
  EXPECT_EQ(load("Host " + std::string(5000, 'k') + " Port 1\n"), 1);
  EXPECT_EQ(get_text(table, "Host"), std::string(126, 'k'));
  EXPECT_EQ(get_int(table, "Port"), 77);
}

TEST_F(SettingsFileTest, TenMegabytes) {
  std::string content;
  content.reserve(10u << 20);
  content += std::string(4u << 20, 'x');  // one 4 MB line
  content += "\n";
  int lines = 0;
  while (content.size() < (10u << 20)) {
    content += "Port " + std::to_string(lines) + "\nUnknown value\n";
    lines++;
  }
  EXPECT_EQ(load(content), lines);
  EXPECT_EQ(get_int(table, "Port"), lines - 1);
}

TEST_F(SettingsFileTest, MissingFileOrEmptyTableChangesNothing) {
  EXPECT_EQ(table.load_file("absent.cfg"), 0);
  EXPECT_EQ(get_text(table, "Host"), "default-host");
  EXPECT_EQ(table.load_file(nullptr), 0);

  SettingsTable empty;
  write_file("test.cfg", "Host x\n");
  EXPECT_EQ(empty.load_file("test.cfg"), 0);
  EXPECT_EQ(empty.save_file("test.cfg"), 0);
  EXPECT_EQ(read_file("test.cfg"), "Host x\n");
}

TEST_F(SettingsFileTest, SaveWritesEveryRecordInOrder) {
  table.add_setting(TEXT, "host");  // a duplicate: written too
  std::int32_t port = -7;
  table.set_value("Port", &port);
  ASSERT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(read_file("test.cfg"),
            "Host    default-host\n"
            "Port    -7\n"
            "Stamp    \"NONE\"\n"
            "Gain    1.500000\n"
            "host    \n");
  EXPECT_EQ(folder_listing(), "test.cfg ");

  // Saving again replaces the whole content.
  table.set_value("Host", "h");
  ASSERT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(read_file("test.cfg").substr(0, 8), "Host    ");
  EXPECT_EQ(read_file("test.cfg").substr(8, 2), "h\n");
}

TEST_F(SettingsFileTest, FolderInTheFilesPlace) {
  std::filesystem::create_directory("test.cfg");
  EXPECT_EQ(table.load_file("test.cfg"), 0);
  EXPECT_EQ(get_text(table, "Host"), "default-host");
  EXPECT_EQ(table.save_file("test.cfg"), 0);
  EXPECT_TRUE(std::filesystem::is_directory("test.cfg"));
  EXPECT_EQ(folder_listing(), "test.cfg ");  // no temporary file left behind
}

TEST_F(SettingsFileTest, FailedSaveLeavesTheOldFileWhole) {
  const std::string old_content = "Host    old-host\nPort    1234\n";
  write_file("test.cfg", old_content);

  // The temporary file cannot be made: no file descriptor is free.
  struct rlimit files;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  struct rlimit none = files;
  none.rlim_cur = 3;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  int refused = table.save_file("test.cfg");
  setrlimit(RLIMIT_NOFILE, &files);
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(read_file("test.cfg"), old_content);
  EXPECT_EQ(folder_listing(), "test.cfg ");

  // Writing fails part way: the file size limit stops the temporary file after 16 bytes.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = table.save_file("test.cfg");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_file("test.cfg"), old_content);
  EXPECT_EQ(folder_listing(), "test.cfg ");

  // And with the limit gone the same save succeeds.
  EXPECT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(table.load_file("test.cfg"), 4);
}
