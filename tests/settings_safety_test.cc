// The operator's settings file is never lost: one that cannot be read is reported and left alone (the
// built-in addresses are not contacted), a symbolic link stays a link to a file that each save
// replaces in its own folder, and two programs saving at once leave one whole version.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/trimora.h"
#include "tests/program_fixture.h"
#include "tests/settings_checks.h"

namespace {

namespace fs = std::filesystem;

struct Unreadable {
  const char* name;
  const char* reason;  // as the start-up message gives it
  void (*make)();      // makes SETTINGS_FILE_NAME unreadable
};

const std::string OLD_CONTENT = "DMM_IP    127.0.0.1\nDMM_Port    1\n";
const LocalTime NOW{2026, 3, 4, 5, 6, 7};

const Unreadable UNREADABLE[] = {
    {"NoPermission", "Permission denied",
     [] {
       std::ofstream(SETTINGS_FILE_NAME) << OLD_CONTENT;
       chmod(SETTINGS_FILE_NAME, 0);
     }},
    {"DanglingLink", "it is a symbolic link to gone.cfg, which does not exist",
     [] { fs::create_symlink("gone.cfg", SETTINGS_FILE_NAME); }},
    {"Folder", "it is a folder", [] { fs::create_directory(SETTINGS_FILE_NAME); }},
    // Files that are read but give no address: never the built-in ones instead.
    {"Misspelled", "it gives no DMM_IP and no DP832_IP", [] { std::ofstream(SETTINGS_FILE_NAME) << "DMM_lP 1\nDP832_lP 1\n"; }},
    {"Utf16", "it is UTF-16 text, which is not read (save it as plain ASCII text); it gives no DMM_IP and no DP832_IP",
     [] { std::ofstream(SETTINGS_FILE_NAME) << std::string("\xff\xfe" "D\0M\0M\0_\0I\0P\0", 14); }},
};

class UnreadableSettingsTest : public ProgramTest, public ::testing::WithParamInterface<Unreadable> {
 protected:
  bool is(const char* kind) const { return std::string(GetParam().name) == kind; }

  // The program run on the unreadable file with these keys, held to file permissions.
  void run_with(const std::string& typed) {
    fs::remove(SETTINGS_FILE_NAME);
    GetParam().make();
    if (fs::is_regular_file(SETTINGS_FILE_NAME)) before = read_file(SETTINGS_FILE_NAME);
    keys(typed);
    HeldToPermissions held;
    ASSERT_EQ(trimora_main(env, settings), 0);
  }
  std::string before;  // the file's content as made, when it is one
};

}  // namespace

TEST_P(UnreadableSettingsTest, IsReportedNothingIsContactedAndTheFileIsLeftAlone) {
  start_bench();
  run_with("ax");
  EXPECT_NE(out.find(std::string("\a\nWARNING: THE SETTINGS FILE QUELT_Trimora.cfg CANNOT BE READ: ") +
                     GetParam().reason + ".\nTHE INSTRUMENTS ARE NOT CONTACTED AT THE BUILT-IN ADDRESSES. "
                     "SET THEM WITH M AND D.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Connecting"), std::string::npos) << out;
  EXPECT_EQ(bench->dmm_connections() + bench->psu_connections(), 0);
  EXPECT_NE(out.find("No DMM detected.\nNo DP832 detected.\n"), std::string::npos);
  EXPECT_NE(out.find("Command >A\n\a\nNo active DMM connection.\n"), std::string::npos);
  // The same kind of thing with the same content.
  EXPECT_EQ(fs::is_symlink(fs::symlink_status(SETTINGS_FILE_NAME)), is("DanglingLink"));
  EXPECT_FALSE(fs::exists("gone.cfg"));
  EXPECT_TRUE(!is("Folder") || (fs::is_directory(SETTINGS_FILE_NAME) && fs::is_empty(SETTINGS_FILE_NAME)));
  if (is("NoPermission")) chmod(SETTINGS_FILE_NAME, 0600);
  if (!is("DanglingLink") && !is("Folder")) {
    EXPECT_EQ(read_file(SETTINGS_FILE_NAME), before);
  }
}

// An address changed with M makes the file the operator's choice: it is written then and at exit.
TEST_P(UnreadableSettingsTest, AnAddressChangedWithMIsSaved) {
  if (is("Folder")) GTEST_SKIP() << "no file can take a folder's place";
  start_bench();
  run_with("m" + std::string(20, '\b') + "127.0.0.1\r" + std::string(8, '\b') + std::to_string(bench->dmm_port()) +
           "\ryx");
  EXPECT_NE(out.find("Checking DMM read data......OK!"), std::string::npos) << out;
  chmod(SETTINGS_FILE_NAME, 0600);
  EXPECT_EQ(mask_stamps(read_file(SETTINGS_FILE_NAME)), saved_settings("127.0.0.1", bench->dmm_port(), "", 5555));
  EXPECT_EQ(fs::is_symlink(fs::symlink_status(SETTINGS_FILE_NAME)), is("DanglingLink"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnreadableSettingsTest, ::testing::ValuesIn(UNREADABLE),
                         [](const ::testing::TestParamInfo<Unreadable>& info) { return info.param.name; });

class SettingsSaveTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    settings.load(console);
    settings.dmm.host = "127.0.0.1";
    settings.psu.host = "127.0.0.1";
  }
};

TEST_F(SettingsSaveTest, ALinkToAFileInAnotherFolderStaysALink) {
  fs::create_directory("elsewhere");
  std::ofstream("elsewhere/real.cfg") << OLD_CONTENT;
  chmod("elsewhere/real.cfg", 0640);
  fs::create_symlink("elsewhere/real.cfg", SETTINGS_FILE_NAME);
  ASSERT_EQ(settings.save_at_exit(NOW), 1);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(SETTINGS_FILE_NAME)));
  EXPECT_EQ(fs::read_symlink(SETTINGS_FILE_NAME), "elsewhere/real.cfg");
  EXPECT_EQ(mask_stamps(read_file("elsewhere/real.cfg")), saved_settings("127.0.0.1", 5024, "127.0.0.1", 5555));
  struct stat info;
  ASSERT_EQ(stat("elsewhere/real.cfg", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // No temporary file is left in either folder.
  EXPECT_EQ(folder_listing("."), (std::vector<std::string>{SETTINGS_FILE_NAME, "elsewhere"}));
  EXPECT_EQ(folder_listing("elsewhere"), std::vector<std::string>{"real.cfg"});
}

TEST_F(SettingsSaveTest, TwoProgramsSavingAtOnceLeaveOneWholeVersion) {
  const std::string long_host = std::string(60, 'h');
  const std::string versions[2] = {saved_settings("127.0.0.1", 5024, "127.0.0.1", 5555),
                                   saved_settings(long_host, 5024, "127.0.0.1", 5555)};
  for (int round = 0; round < 30; ++round) {
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
      children[child] = fork();
      ASSERT_GE(children[child], 0);
      if (children[child] == 0) {
        close(start[1]);
        char ignored;
        (void)!read(start[0], &ignored, 1);  // both wait here until the pipe closes
        settings.dmm.host = child == 0 ? "127.0.0.1" : long_host;
        _exit(settings.save(NOW) == 1 ? 0 : 1);
      }
    }
    close(start[0]);
    close(start[1]);
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
    const std::string saved = mask_stamps(read_file(SETTINGS_FILE_NAME));
    EXPECT_TRUE(saved == versions[0] || saved == versions[1]) << "round " << round << ":\n" << saved;
    EXPECT_EQ(folder_listing("."), std::vector<std::string>{SETTINGS_FILE_NAME}) << "round " << round;
  }
}
