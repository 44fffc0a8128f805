// The settings table: lookup, typed values, growth, and its file in every form a hand or a fault can give.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <charconv>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "settings/settings_table.h"
#include "tests/settings_checks.h"

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

  // "Host|Port|Stamp|Gain"; the real number in its shortest exact form.
  std::string values() {
    double gain = -12345.0;
    table.get_value("Gain", &gain);
    char real[32];
    *std::to_chars(real, real + sizeof real - 1, gain).ptr = '\0';
    return get_text(table, "Host") + "|" + std::to_string(get_int(table, "Port")) + "|" + get_text(table, "Stamp") +
           "|" + real;
  }
};

}  // namespace

TEST(SettingsTable, FindIgnoresLetterCaseOnly) {
  SettingsTable table;
  EXPECT_EQ(table.find_setting("DMM_IP"), 0);  // empty table
  ASSERT_EQ(table.add_setting(TEXT, "DMM_IP"), 1);
  ASSERT_EQ(table.add_setting(INTEGER, "DMM_Port"), 1);
  ASSERT_EQ(table.add_setting(TEXT, "caf\xC3\xA9"), 1);
  // Only A to Z fold: bytes above 127 must match exactly.
  const std::pair<const char*, int> lookups[] = {
      {"DMM_IP", 1}, {"dmm_ip", 1}, {"dMm_pORT", 2}, {"DMM_IP ", 0},           {" DMM_IP", 0},
      {"DMM_I", 0},  {"DMM-IP", 0}, {nullptr, 0},    {"CAF\xC3\xA9", 3}, {"CAF\xC3\x89", 0}};
  for (const auto& [name, index] : lookups) EXPECT_EQ(table.find_setting(name), index) << (name ? name : "null");
}

TEST(SettingsTable, AddRefusesBadInputAndCutsLongNames) {
  SettingsTable table;
  EXPECT_EQ(table.add_setting(TEXT, nullptr), 0);
  EXPECT_EQ(table.add_setting(0, "A"), 0);
  EXPECT_EQ(table.add_setting(5, "A"), 0);
  EXPECT_EQ(table.record_count(), 0);

  ASSERT_EQ(table.add_setting(REAL, std::string(300, 'n').c_str()), 1);
  EXPECT_EQ(std::string(table.record(0).name), std::string(127, 'n'));
  EXPECT_EQ(table.find_setting(std::string(127, 'N').c_str()), 1);
  EXPECT_EQ(table.record(0).tag, 1);
  EXPECT_EQ(table.record(0).type, REAL);
  EXPECT_EQ(table.record(0).real_value, 0.0);
  EXPECT_EQ(table.record(0).text[0], '\0');
}

// Values set before later growth must survive each move of the storage.
TEST(SettingsTable, GrowthKeepsEveryRecordInOrder) {
  SettingsTable table;
  constexpr int N = 1500;
  auto value_of = [](int i) { return i % 2 ? std::to_string(i * 7) : "text" + std::to_string(i); };
  for (int i = 0; i < N; i++) {
    const std::string name = "Key" + std::to_string(i), text = value_of(i);
    const std::int32_t number = i * 7;
    ASSERT_EQ(table.add_setting(i % 2 ? INTEGER : TEXT, name.c_str()), 1);
    ASSERT_EQ(table.set_value(name.c_str(), i % 2 ? static_cast<const void*>(&number) : text.c_str()), i + 1);
  }
  ASSERT_EQ(table.record_count(), N);
  for (int i = 0; i < N; i++) {
    const std::string name = "key" + std::to_string(i);
    ASSERT_EQ(table.find_setting(name.c_str()), i + 1);
    ASSERT_EQ(table.record(i).tag, 1);
    ASSERT_EQ(i % 2 ? std::to_string(get_int(table, name.c_str())) : get_text(table, name.c_str()), value_of(i));
  }
}

TEST(SettingsTable, SetAndGetEachTypeDuplicatesReachOnlyTheFirst) {
  SettingsTable table;
  table.add_setting(TEXT, "T");
  table.add_setting(QUOTED_TEXT, "Q");
  table.add_setting(INTEGER, "I");
  table.add_setting(REAL, "R");
  table.add_setting(TEXT, "t");  // a duplicate: never reached
  std::int32_t i = -42;
  double r = 2.5;
  EXPECT_EQ(table.set_value("T", "hello world"), 1);
  EXPECT_EQ(table.set_value("Q", "NONE"), 2);
  EXPECT_EQ(table.set_value("I", &i), 3);
  EXPECT_EQ(table.set_value("R", &r), 4);
  r = 0;
  EXPECT_EQ(get_text(table, "T"), "hello world");
  EXPECT_EQ(get_text(table, "Q"), "\"NONE\"");  // the quotes are stored
  EXPECT_EQ(get_int(table, "I"), -42);
  EXPECT_EQ(table.get_value("R", &r), 4);
  EXPECT_EQ(r, 2.5);
  EXPECT_EQ(table.find_setting("t"), 1);
  EXPECT_EQ(table.record(4).text[0], '\0');

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
  auto cut = [&table](const char* name, int size) {
    std::string buffer(size + 4, '#');
    EXPECT_EQ(table.get_value(name, buffer.data(), size), size > 0 ? table.find_setting(name) : 0);
    EXPECT_EQ(buffer.substr(size), "####");
    return std::string(buffer.c_str());
  };
  EXPECT_EQ(cut("T", 32), std::string(31, 'a'));
  EXPECT_EQ(cut("Q", 64), "\"" + std::string(62, 'b'));
  table.set_value("T", "short");
  EXPECT_EQ(cut("T", 32), "short");
  cut("T", 0);
}

TEST(SettingsTable, TruncateText) {
  char text[16] = "abcdef";
  const std::pair<int, const char*> steps[] = {{4, "abc"}, {4, "abc"}, {0, "abc"}, {1, ""}};
  for (const auto& [size, left] : steps) {
    SettingsTable::truncate_text(text, size);
    EXPECT_STREQ(text, left) << size;
  }
  SettingsTable::truncate_text(nullptr, 4);  // harmless
}

// Files loaded one after the other into the same table: the count of values read, then every value.
TEST_F(SettingsFileTest, LinesOfEveryForm) {
  const std::string stamp = "12/31/2026 23:59:58";
  static const char zeros[] = "Port 12\0 34\n\0Host lost\nHost delta\n";
  const std::string with_zeros(zeros, sizeof zeros - 1);
  const std::string first_piece = "Junk" + std::string(249, ' ');  // 253 bytes
  const struct {
    std::string content;
    int count;
    std::string values;
  } loads[] = {
      {"  \tHost    alpha\nPort,6000\nstamp \"" + stamp + "\"\nGAIN 2.5e-3xyz\n", 4, "alpha|6000|" + stamp + "|0.0025"},
      // Unknown names, a missing value, blank lines: skipped and not counted; the values stay.
      {"Unknown 1\n\n   \nHost\nPort   \nHost = other\n", 1, "=|6000|" + stamp + "|0.0025"},
      // Numbers read as far as they go; beyond int they are held at its ends.
      {"Port abc\nGain x\n", 2, "=|0|" + stamp + "|0"},
      {"Port 12ab\n", 1, "=|12|" + stamp + "|0"},
      {"Port -1\n", 1, "=|-1|" + stamp + "|0"},
      {"Port 99999999999\n", 1, "=|2147483647|" + stamp + "|0"},
      {"Port -99999999999\n", 1, "=|-2147483648|" + stamp + "|0"},
      // Unquoted, a date and time reads as the date alone; empty quotes give an empty text; a missing
      // closing quote takes the newline.
      {"Stamp " + stamp + "\n", 1, "=|-2147483648|12/31/2026|0"},
      {"Stamp \"\"\n", 1, "=|-2147483648||0"},
      {"Stamp \"open\n", 1, "=|-2147483648|open\n|0"},
      // Duplicates: each is stored and counted, the last wins.
      {"Port 1\nPort 2\nport 3\n", 3, "=|3|open\n|0"},
      // CR LF line ends and no final newline.
      {"Host beta\r\nPort 7000\r\nStamp \"x y\"\r\nGain 3", 4, "beta|7000|x y|3"},
      // Bytes from 128 up separate tokens.
      {"Host\xA0\xFFgamma\xE9rest\n", 1, "gamma|7000|x y|3"},
      // A zero byte ends what is read of its line; the lines after it are read as usual.
      {with_zeros, 2, "delta|12|x y|3"},
      {std::string(1000, '\0'), 0, "delta|12|x y|3"},
      // A text value read from a file keeps 126 characters.
      {"Host " + std::string(200, 'h') + "\n", 1, std::string(126, 'h') + "|12|x y|3"},
      {"Stamp \"" + std::string(200, 's') + "\"\n", 1, std::string(126, 'h') + "|12|" + std::string(126, 's') + "|3"},
      // A line longer than 253 bytes is read in pieces of 253, each handled as a line.
      {first_piece + "Port 77\n", 1, std::string(126, 'h') + "|77|" + std::string(126, 's') + "|3"},
      {"Host " + std::string(5000, 'k') + " Port 1\n", 1,
       std::string(126, 'k') + "|77|" + std::string(126, 's') + "|3"},
  };
  for (const auto& l : loads) {
    SCOPED_TRACE(testing::PrintToString(l.content.substr(0, 40)));
    EXPECT_EQ(load(l.content), l.count);
    EXPECT_EQ(values(), l.values);
  }
}

TEST_F(SettingsFileTest, QuotedTextHasQuotesOnlyUntilLoaded) {
  table.set_value("Stamp", "01/02/2026 03:04:05");
  EXPECT_EQ(get_text(table, "Stamp"), "\"01/02/2026 03:04:05\"");
  ASSERT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(table.load_file("test.cfg"), 4);
  EXPECT_EQ(get_text(table, "Stamp"), "01/02/2026 03:04:05");
}

TEST_F(SettingsFileTest, TenMegabytes) {
  std::string content;
  content.reserve(10u << 20);
  content += std::string(4u << 20, 'x') + "\n";  // one 4 MB line
  int lines = 0;
  for (; content.size() < (10u << 20); lines++) content += "Port " + std::to_string(lines) + "\nUnknown value\n";
  EXPECT_EQ(load(content), lines);
  EXPECT_EQ(get_int(table, "Port"), lines - 1);
}

TEST_F(SettingsFileTest, MissingFileOrEmptyTableChangesNothing) {
  EXPECT_EQ(table.load_file("absent.cfg"), 0);
  EXPECT_EQ(table.load_file(nullptr), 0);
  EXPECT_EQ(values(), "default-host|5024|\"NONE\"|1.5");

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
  EXPECT_EQ(read_file("test.cfg"), "Host    default-host\nPort    -7\nStamp    \"NONE\"\nGain    1.500000\nhost    \n");
  EXPECT_EQ(folder_listing(), std::vector<std::string>{"test.cfg"});

  // Saving again replaces the whole content.
  table.set_value("Host", "h");
  ASSERT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(read_file("test.cfg").substr(0, 10), "Host    h\n");
}

TEST_F(SettingsFileTest, FolderInTheFilesPlace) {
  std::filesystem::create_directory("test.cfg");
  EXPECT_EQ(table.load_file("test.cfg"), 0);
  EXPECT_EQ(get_text(table, "Host"), "default-host");
  EXPECT_EQ(table.save_file("test.cfg"), 0);
  EXPECT_TRUE(std::filesystem::is_directory("test.cfg"));
  EXPECT_EQ(folder_listing(), std::vector<std::string>{"test.cfg"});  // no temporary file left behind
}

// A save that fails, for want of a file descriptor or part way through the writing, leaves the old file
// whole and no temporary file; with the limits gone the same save succeeds.
TEST_F(SettingsFileTest, FailedSaveLeavesTheOldFileWhole) {
  const std::string old_content = "Host    old-host\nPort    1234\n";
  write_file("test.cfg", old_content);
  void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  for (const auto& [resource, limit] : {std::pair{RLIMIT_NOFILE, 3}, std::pair{RLIMIT_FSIZE, 16}}) {
    SCOPED_TRACE(resource);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(resource, &saved), 0);
    struct rlimit lowered = saved;
    lowered.rlim_cur = limit;
    ASSERT_EQ(setrlimit(resource, &lowered), 0);
    const int result = table.save_file("test.cfg");
    setrlimit(resource, &saved);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file("test.cfg"), old_content);
    EXPECT_EQ(folder_listing(), std::vector<std::string>{"test.cfg"});
  }
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(table.save_file("test.cfg"), 1);
  EXPECT_EQ(table.load_file("test.cfg"), 4);
}
