// The program's settings: the instruments' addresses and the time of the last run, kept in the
// settings table and its file.
#include "settings/program_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "console/console.h"
#include "console/stamps.h"
#include "platform/files.h"
#include "settings/settings_table.h"

std::string settings_path = SETTINGS_FILE_NAME;
std::string records_folder_option;

char dmm_host[64];
int dmm_port;
char dmm_connect_method[16];
char psu_host[64];
int psu_port;

namespace {

constexpr const char* DEFAULT_DMM_HOST = "172.16.0.133";
constexpr int DEFAULT_DMM_PORT = 5024;
constexpr const char* DEFAULT_PSU_HOST = "172.16.0.131";
constexpr int DEFAULT_PSU_PORT = 5555;
constexpr const char* PSU_CONNECT_METHOD = "TCP.SCPI";

std::string load_problem;

// Declares a setting once: a second start-up in the same process finds the table already holding it.
void declare(int type, const char* name) {
  if (settings.find_setting(name) == 0) settings.add_setting(type, name);
}

void set_integer(const char* name, int value) {
  std::int32_t v = value;
  settings.set_value(name, &v);
}

void get_integer(const char* name, int& value) {
  std::int32_t v = 0;
  if (settings.get_value(name, &v, sizeof v) != 0) value = v;
}

// The DMM's connection method from the table; a value that names no framing is refused with a
// warning, and the default is used (and written back on the next save).
void take_dmm_method() {
  char method[136] = "";
  settings.get_value("DMM_Connect_Method", method, sizeof method);
  if (std::strcmp(method, DMM_METHOD_RAW) != 0 && std::strcmp(method, DMM_METHOD_TELNET) != 0) {
    console_print("WARNING: DMM_Connect_Method %.40s is not known (TCP.SCPI or TCP.RAW); using %s.\n", method,
                  DMM_METHOD_TELNET);
    std::snprintf(method, sizeof method, "%s", DMM_METHOD_TELNET);
    settings.set_value("DMM_Connect_Method", method);
  }
  // Only the known values get here, and each fits.
  std::snprintf(dmm_connect_method, sizeof dmm_connect_method, "%.15s", method);
}

}  // namespace

int load_program_settings() {
  declare(TEXT, "DMM_IP");
  declare(INTEGER, "DMM_Port");
  declare(TEXT, "DMM_Connect_Method");
  declare(QUOTED_TEXT, "Last_Run_Time");

  settings.set_value("Last_Run_Time", "NONE");
  settings.set_value("DMM_IP", DEFAULT_DMM_HOST);
  dmm_port = DEFAULT_DMM_PORT;
  set_integer("DMM_Port", dmm_port);
  settings.set_value("DMM_Connect_Method", DMM_METHOD_TELNET);

  declare(TEXT, "DP832_IP");
  declare(INTEGER, "DP832_Port");
  declare(TEXT, "DP832_Connect_Method");

  psu_port = DEFAULT_PSU_PORT;
  settings.set_value("DP832_IP", DEFAULT_PSU_HOST);
  set_integer("DP832_Port", psu_port);
  settings.set_value("DP832_Connect_Method", PSU_CONNECT_METHOD);

  load_problem.clear();
  std::string reason;
  if (file_readable(settings_path.c_str(), reason) < 0) load_problem = reason;
  int stored = settings.load_file(settings_path.c_str());

  // The hosts are cut to the 63 characters that their globals hold.
  settings.get_value("DP832_IP", psu_host, sizeof psu_host);
  get_integer("DP832_Port", psu_port);
  settings.get_value("DMM_IP", dmm_host, sizeof dmm_host);
  get_integer("DMM_Port", dmm_port);
  take_dmm_method();
  return stored;
}

const std::string& settings_file_problem() { return load_problem; }

int save_program_settings_at_exit() {
  if (!load_problem.empty()) return 0;
  return save_program_settings();
}

int save_program_settings() {
  // From now on the file holds what the operator chose.
  load_problem.clear();
  char date[20];
  char time[20];
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%s %s", date_stamp(date), time_stamp(time));

  settings.set_value("Last_Run_Time", stamp);
  settings.set_value("DMM_IP", dmm_host);
  set_integer("DMM_Port", dmm_port);
  settings.set_value("DMM_Connect_Method", dmm_connect_method[0] != 0 ? dmm_connect_method : DMM_METHOD_TELNET);
  settings.set_value("DP832_IP", psu_host);
  set_integer("DP832_Port", psu_port);
  settings.set_value("DP832_Connect_Method", PSU_CONNECT_METHOD);
  return settings.save_file(settings_path.c_str());
}

std::string records_folder() {
  if (!records_folder_option.empty()) return records_folder_option;
  const std::filesystem::path beside = std::filesystem::path(settings_path).parent_path();
  return beside.empty() ? "records" : (beside / "records").string();
}
