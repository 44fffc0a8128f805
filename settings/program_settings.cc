// The program's settings: the instruments' addresses and the time of the last run, kept in the
// settings table and its file.
#include "settings/program_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "console/stamps.h"
#include "platform/files.h"

namespace {

constexpr const char* DEFAULT_DMM_HOST = "172.16.0.133";
constexpr int DEFAULT_DMM_PORT = 5024;
constexpr const char* DEFAULT_PSU_HOST = "172.16.0.131";
constexpr int DEFAULT_PSU_PORT = 5555;
constexpr const char* PSU_CONNECT_METHOD = "TCP.SCPI";

void set_integer(SettingsTable& table, const char* name, int value) {
  std::int32_t v = value;
  table.set_value(name, &v);
}

void get_integer(SettingsTable& table, const char* name, int& value) {
  std::int32_t v = 0;
  if (table.get_value(name, &v, sizeof v) != 0) value = v;
}

// A host as the table holds it, cut to HOST_MAX_LENGTH characters.
std::string get_host(SettingsTable& table, const char* name) {
  char host[HOST_MAX_LENGTH + 1] = "";
  table.get_value(name, host, sizeof host);
  return host;
}

// What keeps a file that is there from being read as text, named for the operator: a UTF-16 file (a
// byte-order mark, or a NUL in one of its first two bytes), any other file with NUL bytes, or an empty
// one; empty when it is plain text.
std::string file_kind_problem(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[2] = {1, 1};
  in.read(head, 2);
  const std::streamsize got = in.gcount();
  if (got == 0) return "it is empty; ";
  const unsigned char a = static_cast<unsigned char>(head[0]);
  const unsigned char b = static_cast<unsigned char>(head[1]);
  if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF) || (got == 2 && (a == 0) != (b == 0)))
    return "it is UTF-16 text, which is not read (save it as plain ASCII text); ";
  in.clear();
  in.seekg(0);
  char block[4096];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    if (std::memchr(block, 0, static_cast<std::size_t>(in.gcount())) != nullptr)
      return "it is a binary file (it holds NUL bytes); ";
  }
  return "";
}

}  // namespace

ProgramSettings::ProgramSettings()
    : dmm{DEFAULT_DMM_HOST, DEFAULT_DMM_PORT}, psu{DEFAULT_PSU_HOST, DEFAULT_PSU_PORT} {
  table_.add_setting(TEXT, "DMM_IP");
  table_.add_setting(INTEGER, "DMM_Port");
  table_.add_setting(TEXT, "DMM_Connect_Method");
  table_.add_setting(QUOTED_TEXT, "Last_Run_Time");
  table_.add_setting(TEXT, "DP832_IP");
  table_.add_setting(INTEGER, "DP832_Port");
  table_.add_setting(TEXT, "DP832_Connect_Method");
}

// The DMM's connection method from the table; a value that names no framing is refused with a
// warning, and the default is used (and written back on the next save).
void ProgramSettings::take_dmm_method(Console& console) {
  char method[136] = "";
  table_.get_value("DMM_Connect_Method", method, sizeof method);
  if (std::strcmp(method, DMM_METHOD_RAW) != 0 && std::strcmp(method, DMM_METHOD_TELNET) != 0) {
    console.print_untrusted("WARNING: DMM_Connect_Method %s is not known (TCP.SCPI or TCP.RAW); using %s.\n",
                            std::string(method).substr(0, 40), DMM_METHOD_TELNET);
    std::snprintf(method, sizeof method, "%s", DMM_METHOD_TELNET);
    table_.set_value("DMM_Connect_Method", method);
  }
  dmm_connect_method = method;
}

// The settings a file may leave out: the DMM's reading window, the decision rule and the readings per
// point. Each is read from the file alone and joins the table (and so is written back, with the value in
// use) only where the file gives it, so that a file without the line is saved as it was. A value the
// program does not take is refused with a one-line warning, and the default used.
void ProgramSettings::take_optional_settings(Console& console) {
  dmm_timeout_ms = DMM_TIMEOUT_DEFAULT_MS;
  decision_rule = DECISION_RULE_GUARD_BAND;
  readings_per_point = 1;
  SettingsTable given;
  const std::int32_t absent = std::numeric_limits<std::int32_t>::min();
  given.add_setting(INTEGER, "DMM_Timeout_ms");
  given.set_value("DMM_Timeout_ms", &absent);
  given.add_setting(TEXT, "Decision_Rule");
  given.add_setting(INTEGER, "Readings_Per_Point");
  given.set_value("Readings_Per_Point", &absent);
  given.load_file(path.c_str());

  std::int32_t timeout = absent;
  given.get_value("DMM_Timeout_ms", &timeout, sizeof timeout);
  if (timeout != absent) {
    if (timeout >= DMM_TIMEOUT_MIN_MS && timeout <= DMM_TIMEOUT_MAX_MS) {
      dmm_timeout_ms = timeout;
    } else {
      console.print("WARNING: DMM_Timeout_ms %d is out of range (%d to %d); using %d.\n", static_cast<int>(timeout),
                    DMM_TIMEOUT_MIN_MS, DMM_TIMEOUT_MAX_MS, DMM_TIMEOUT_DEFAULT_MS);
    }
    if (table_.find_setting("DMM_Timeout_ms") == 0) table_.add_setting(INTEGER, "DMM_Timeout_ms");
    set_integer(table_, "DMM_Timeout_ms", dmm_timeout_ms);
  }
  char rule[136] = "";
  given.get_value("Decision_Rule", rule, sizeof rule);
  if (rule[0] != '\0') {
    if (std::strcmp(rule, DECISION_RULE_GUARD_BAND) == 0 || std::strcmp(rule, DECISION_RULE_SIMPLE) == 0) {
      decision_rule = rule;
    } else {
      console.print_untrusted("WARNING: Decision_Rule %s is not known (guard-band or simple); using %s.\n",
                              std::string(rule).substr(0, 40), DECISION_RULE_GUARD_BAND);
    }
    if (table_.find_setting("Decision_Rule") == 0) table_.add_setting(TEXT, "Decision_Rule");
    table_.set_value("Decision_Rule", decision_rule.c_str());
  }
  std::int32_t readings = absent;
  given.get_value("Readings_Per_Point", &readings, sizeof readings);
  if (readings != absent) {
    if (readings >= 1 && readings <= READINGS_PER_POINT_MAX) {
      readings_per_point = readings;
    } else {
      console.print("WARNING: Readings_Per_Point %d is not 1 to %d; using 1.\n", static_cast<int>(readings),
                    READINGS_PER_POINT_MAX);
    }
    if (table_.find_setting("Readings_Per_Point") == 0) table_.add_setting(INTEGER, "Readings_Per_Point");
    set_integer(table_, "Readings_Per_Point", readings_per_point);
  }
}

int ProgramSettings::load(Console& console) {
  load_problem_.clear();
  std::string reason;
  const int readable = file_readable(path.c_str(), reason);
  if (readable < 0) load_problem_ = reason;
  // The built-in addresses stand only where there is no settings file at all. A file that is there
  // names the operator's instruments: an address it does not give is none, never a guess at another
  // bench that would be contacted and then written into the file.
  const bool no_file = readable == 0;
  table_.set_value("Last_Run_Time", "NONE");
  table_.set_value("DMM_IP", no_file ? DEFAULT_DMM_HOST : "");
  set_integer(table_, "DMM_Port", DEFAULT_DMM_PORT);
  table_.set_value("DMM_Connect_Method", DMM_METHOD_TELNET);
  table_.set_value("DP832_IP", no_file ? DEFAULT_PSU_HOST : "");
  set_integer(table_, "DP832_Port", DEFAULT_PSU_PORT);
  table_.set_value("DP832_Connect_Method", PSU_CONNECT_METHOD);
  dmm.port = DEFAULT_DMM_PORT;
  psu.port = DEFAULT_PSU_PORT;

  int stored = table_.load_file(path.c_str());

  psu.host = get_host(table_, "DP832_IP");
  get_integer(table_, "DP832_Port", psu.port);
  dmm.host = get_host(table_, "DMM_IP");
  get_integer(table_, "DMM_Port", dmm.port);
  take_dmm_method(console);
  take_optional_settings(console);
  // A file read without an address for each instrument is handled as one that cannot be read.
  if (readable > 0 && (dmm.host.empty() || psu.host.empty())) {
    std::string missing = dmm.host.empty() ? "DMM_IP" : "";
    if (psu.host.empty()) missing += missing.empty() ? "DP832_IP" : " and no DP832_IP";
    load_problem_ = file_kind_problem(path) + "it gives no " + missing;
  }
  return stored;
}

std::string ProgramSettings::last_run_time() {
  char text[32] = "";
  table_.get_value("Last_Run_Time", text, sizeof text);
  return text;
}

int ProgramSettings::save_at_exit(const LocalTime& now) {
  if (!load_problem_.empty()) return 0;
  return save(now);
}

int ProgramSettings::save(const LocalTime& now) {
  // From now on the file holds what the operator chose.
  load_problem_.clear();
  char date[20];
  char time[20];
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%s %s", date_stamp(now, date), time_stamp(now, time));

  table_.set_value("Last_Run_Time", stamp);
  table_.set_value("DMM_IP", dmm.host.c_str());
  set_integer(table_, "DMM_Port", dmm.port);
  table_.set_value("DMM_Connect_Method", !dmm_connect_method.empty() ? dmm_connect_method.c_str() : DMM_METHOD_TELNET);
  table_.set_value("DP832_IP", psu.host.c_str());
  set_integer(table_, "DP832_Port", psu.port);
  table_.set_value("DP832_Connect_Method", PSU_CONNECT_METHOD);
  if (table_.find_setting("DMM_Timeout_ms") != 0) set_integer(table_, "DMM_Timeout_ms", dmm_timeout_ms);
  return table_.save_file(path.c_str());
}

std::string ProgramSettings::records_folder() const {
  if (!records_folder_option.empty()) return records_folder_option;
  const std::filesystem::path beside = std::filesystem::path(path).parent_path();
  return beside.empty() ? "records" : (beside / "records").string();
}
