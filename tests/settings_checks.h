// Helpers of the settings tests: the settings file as a save writes it, folder listings, a holder that
// subjects even root to file permissions, and a run of the real program.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/program_fixture.h"

// The settings file a save writes, its stamp masked as mask_stamps does.
inline std::string saved_settings(const std::string& dmm_ip, long dmm_port_number, const std::string& psu_ip,
                                  long psu_port_number, const std::string& dmm_method = "TCP.SCPI") {
  return "DMM_IP    " + dmm_ip + "\nDMM_Port    " + std::to_string(dmm_port_number) + "\nDMM_Connect_Method    " +
         dmm_method + "\nLast_Run_Time    \"<stamp>\"\nDP832_IP    " + psu_ip + "\nDP832_Port    " +
         std::to_string(psu_port_number) + "\nDP832_Connect_Method    TCP.SCPI\n";
}

// The names in a folder, sorted.
inline std::vector<std::string> folder_listing(const std::string& path = ".") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// While it lives, even root is held to file permissions: the capabilities that pass them by are taken
// out of the effective set (and put back after).
class HeldToPermissions {
 public:
  HeldToPermissions() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
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

struct Finished {
  int code = -1000;  // the exit code; 77 when prepare failed
  std::string out;
  std::string err;
};

// Runs the real trimora with args, its output into io/out.txt and io/err.txt (io must exist). input is
// typed and standard input then stays open until the program ends (or, with close_when, until its output
// shows that), so that only the program decides when it is done. prepare runs first in the child.
inline Finished run_trimora(const std::vector<std::string>& args, const std::string& input = "",
                            const std::string& close_when = "", const std::function<bool()>& prepare = {}) {
  int in[2];
  EXPECT_EQ(pipe(in), 0);
  const int out = open("io/out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open("io/err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_TRUE(out >= 0 && err >= 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (prepare && !prepare()) _exit(77);
    dup2(in[0], STDIN_FILENO);
    close(in[1]);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(TRIMORA_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TRIMORA_BINARY, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out);
  close(err);
  EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  Finished done;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (!close_when.empty() && in[1] >= 0 && read_file("io/out.txt").find(close_when) != std::string::npos) {
      close(in[1]);
      in[1] = -1;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "trimora did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (in[1] >= 0) close(in[1]);
  if (WIFEXITED(status)) done.code = WEXITSTATUS(status);
  done.out = read_file("io/out.txt");
  done.err = read_file("io/err.txt");
  return done;
}
