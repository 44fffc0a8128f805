// The operator's settings file is never lost: one that cannot be read is reported and left alone (the
// built-in addresses are not contacted), a symbolic link stays a link to a file that each save
// replaces in its own folder, and two programs saving at once leave one whole version.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/trimora.h"
#include "settings/settings_table.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;

// While it lives, even root is held to file permissions: the capabilities that pass them by are
// taken out of the effective set (and put back after).
class HeldToPermissions {
 public:
  HeldToPermissions() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    taken_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~HeldToPermissions() {
    if (taken_) syscall(SYS_capset, &header_, saved_);
  }
  HeldToPermissions(const HeldToPermissions&) = delete;
  HeldToPermissions& operator=(const HeldToPermissions&) = delete;

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool taken_ = false;
};

struct Unreadable {
  const char* name;
  const char* reason;  // as the start-up message gives it
  void (*make)();      // makes SETTINGS_FILE_NAME unreadable
};

const std::string OLD_CONTENT = "DMM_IP    127.0.0.1\nDMM_Port    1\n";

const Unreadable UNREADABLE[] = {
    {"NoPermission", "Permission denied",
     [] {
       std::ofstream(SETTINGS_FILE_NAME) << OLD_CONTENT;
       chmod(SETTINGS_FILE_NAME, 0);
     }},
    {"DanglingLink", "it is a symbolic link to gone.cfg, which does not exist",
     [] { fs::create_symlink("gone.cfg", SETTINGS_FILE_NAME); }},
    {"Folder", "it is a folder", [] { fs::create_directory(SETTINGS_FILE_NAME); }},
};

class UnreadableSettingsTest : public ProgramTest, public ::testing::WithParamInterface<Unreadable> {
 protected:
  // Nothing about the settings file changed: the same kind of thing with the same content.
  void expect_untouched() {
    const fs::file_status status = fs::symlink_status(SETTINGS_FILE_NAME);
    if (std::string(GetParam().name) == "DanglingLink") {
      EXPECT_TRUE(fs::is_symlink(status));
      EXPECT_FALSE(fs::exists("gone.cfg"));
    } else if (std::string(GetParam().name) == "Folder") {
      EXPECT_TRUE(fs::is_directory(status));
      EXPECT_TRUE(fs::is_empty(SETTINGS_FILE_NAME));
    } else {
      chmod(SETTINGS_FILE_NAME, 0600);
      EXPECT_EQ(read_file(SETTINGS_FILE_NAME), OLD_CONTENT);
    }
  }
};

}  // namespace

TEST_P(UnreadableSettingsTest, IsReportedNothingIsContactedAndTheFileIsLeftAlone) {
  start_bench();
  fs::remove(SETTINGS_FILE_NAME);
  GetParam().make();
  keys("ax");
  {
    HeldToPermissions held;
    ASSERT_EQ(trimora_main(), 0);
  }
  EXPECT_NE(out.find(std::string("\a\nWARNING: THE SETTINGS FILE QUELT_Trimora.cfg CANNOT BE READ: ") +
                     GetParam().reason + ".\nTHE INSTRUMENTS ARE NOT CONTACTED AT THE BUILT-IN ADDRESSES. "
                     "SET THEM WITH M AND D.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Connecting"), std::string::npos) << out;
  EXPECT_NE(out.find("No DMM detected.\nNo DP832 detected.\n"), std::string::npos);
  EXPECT_NE(out.find("Command >A\n\a\nNo active DMM connection.\n"), std::string::npos);
  expect_untouched();
}

// An address changed with M makes the file the operator's choice: it is written then and at exit.
TEST_P(UnreadableSettingsTest, AnAddressChangedWithMIsSaved) {
  if (std::string(GetParam().name) == "Folder") GTEST_SKIP() << "no file can take a folder's place";
  start_bench();
  fs::remove(SETTINGS_FILE_NAME);
  GetParam().make();
  keys("m" + std::string(20, '\b') + "127.0.0.1\r" + std::string(8, '\b') + std::to_string(bench->dmm_port()) +
       "\ryx");
  {
    HeldToPermissions held;
    ASSERT_EQ(trimora_main(), 0);
  }
  EXPECT_NE(out.find("Checking DMM read data......OK!"), std::string::npos) << out;
  chmod(SETTINGS_FILE_NAME, 0600);
  const std::string saved = read_file(SETTINGS_FILE_NAME);
  EXPECT_NE(saved.find("DMM_IP    127.0.0.1\nDMM_Port    " + std::to_string(bench->dmm_port()) + "\n"),
            std::string::npos)
      << saved;
  EXPECT_EQ(fs::is_symlink(fs::symlink_status(SETTINGS_FILE_NAME)), std::string(GetParam().name) == "DanglingLink");
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnreadableSettingsTest, ::testing::ValuesIn(UNREADABLE),
                         [](const ::testing::TestParamInfo<Unreadable>& info) { return info.param.name; });

class SettingsSaveTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    load_program_settings();
    std::strcpy(dmm_host, "127.0.0.1");
    std::strcpy(psu_host, "127.0.0.1");
  }

  static std::vector<std::string> folder_listing(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(SettingsSaveTest, ALinkToAFileInAnotherFolderStaysALink) {
  fs::create_directory("elsewhere");
  std::ofstream("elsewhere/real.cfg") << OLD_CONTENT;
  chmod("elsewhere/real.cfg", 0640);
  fs::create_symlink("elsewhere/real.cfg", SETTINGS_FILE_NAME);
  ASSERT_EQ(save_program_settings_at_exit(), 1);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(SETTINGS_FILE_NAME)));
  EXPECT_EQ(fs::read_symlink(SETTINGS_FILE_NAME), "elsewhere/real.cfg");
  EXPECT_EQ(read_file("elsewhere/real.cfg").rfind("DMM_IP    127.0.0.1\nDMM_Port    5024\n", 0), 0u);
  struct stat info;
  ASSERT_EQ(stat("elsewhere/real.cfg", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // No temporary file is left in either folder.
  EXPECT_EQ(folder_listing("."), (std::vector<std::string>{SETTINGS_FILE_NAME, "elsewhere"}));
  EXPECT_EQ(folder_listing("elsewhere"), std::vector<std::string>{"real.cfg"});
}

TEST_F(SettingsSaveTest, TwoProgramsSavingAtOnceLeaveOneWholeVersion) {
  const std::string long_host = std::string(60, 'h');
  std::vector<std::string> versions;
  for (const std::string& host : {std::string("127.0.0.1"), long_host}) {
    std::snprintf(dmm_host, sizeof dmm_host, "%s", host.c_str());
    ASSERT_EQ(save_program_settings(), 1);
    versions.push_back(mask_stamps(read_file(SETTINGS_FILE_NAME)));
  }
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
        std::snprintf(dmm_host, sizeof dmm_host, "%s", child == 0 ? "127.0.0.1" : long_host.c_str());
        _exit(save_program_settings() == 1 ? 0 : 1);
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
