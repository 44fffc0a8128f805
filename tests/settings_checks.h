// Helpers of the settings tests: the settings file as a save writes it, folder listings, and a holder
// that subjects even root to file permissions.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

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
