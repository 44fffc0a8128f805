// The program's own settings: the two instruments' addresses, the DMM's framing, the time of the last
// run, and where the settings file and the records are. One object, owned by whoever runs the program.
#pragma once

#include <string>

#include "console/console.h"
#include "platform/local_time.h"
#include "settings/settings_table.h"

constexpr const char* SETTINGS_FILE_NAME = "QUELT_Trimora.cfg";

// The DMM's framing as the settings file names it: TCP.SCPI (a telnet-style port, the default) or
// TCP.RAW (a raw SCPI socket).
constexpr const char* DMM_METHOD_TELNET = "TCP.SCPI";
constexpr const char* DMM_METHOD_RAW = "TCP.RAW";

// The DMM's reading window (DMM_Timeout_ms): the time a reading's answer has to its first byte, in ms.
// A value outside the accepted range is refused with a warning, and the default used.
constexpr int DMM_TIMEOUT_DEFAULT_MS = 3000;
constexpr int DMM_TIMEOUT_MIN_MS = 500;
constexpr int DMM_TIMEOUT_MAX_MS = 60000;
// The decision rule as the settings file names it (Decision_Rule): guard-band (the default) or simple.
constexpr const char* DECISION_RULE_GUARD_BAND = "guard-band";
constexpr const char* DECISION_RULE_SIMPLE = "simple";
// The DMM readings taken at each point of an assessment (Readings_Per_Point): 1 (the default) to 10.
constexpr int READINGS_PER_POINT_MAX = 10;

// Hosts hold at most this many characters (a longer one in the file is cut).
constexpr int HOST_MAX_LENGTH = 63;

struct InstrumentAddress {
  std::string host;
  int port = 0;
};

class ProgramSettings {
 public:
  ProgramSettings();

  // The settings file read at start and written at every save: SETTINGS_FILE_NAME in the working
  // folder unless the command line names another (settings_path).
  std::string path = SETTINGS_FILE_NAME;
  // The folder the command line gives for the records and pages; empty: records/ beside the settings
  // file (records_folder_option).
  std::string records_folder_option;
  // The lab file the command line names; empty: LAB_FILE_NAME beside the settings file, if it is there.
  std::string lab_file_option;

  InstrumentAddress dmm;    // dmm_host, dmm_port
  InstrumentAddress psu;    // psu_host, psu_port
  std::string dmm_connect_method = DMM_METHOD_TELNET;
  int dmm_timeout_ms = DMM_TIMEOUT_DEFAULT_MS;
  // How the points are judged and how often the DMM reads each one. Both are written to the file only
  // when the operator has put them there; a value the program does not know is refused on the console
  // at start, and the default used.
  std::string decision_rule = DECISION_RULE_GUARD_BAND;
  int readings_per_point = 1;

  // Reads the settings file over the built-in defaults (load_program_settings); a connection method
  // that names no framing, or a DMM_Timeout_ms outside its range, is refused on the console, and the
  // default used. The built-in addresses
  // stand only when there is no file: where there is one, an address it does not give stays empty.
  // The number of settings read.
  int load(Console& console);

  // Why the settings file found at start could not be read (no permission, a folder, a symbolic link
  // to nothing, ...) or gives no address for an instrument (a key missing or misspelled, an empty,
  // UTF-16 or binary file; the reason names the keys); empty when it was read whole or there was none.
  // While it is not empty, nothing is to be contacted, and the file is the operator's, not ours to
  // overwrite (settings_file_problem).
  const std::string& file_problem() const { return load_problem_; }

  // The file's Last_Run_Time as it was read.
  std::string last_run_time();

  // Writes the settings file now, stamped with now: the operator has changed an address (the dialogs
  // of M and D), so the file is written even if it could not be read at start, and again at exit
  // (save_program_settings). 1 on success.
  int save(const LocalTime& now);
  // The save at the end of the run: skipped (0) while a settings file that could not be read is kept,
  // so that the operator's file is never replaced by the built-in addresses
  // (save_program_settings_at_exit).
  int save_at_exit(const LocalTime& now);

  // Where the records and pages go: records_folder_option, or the folder records beside the settings
  // file (records_folder).
  std::string records_folder() const;

 private:
  void take_dmm_method(Console& console);
  void take_optional_settings(Console& console);

  SettingsTable table_;
  std::string load_problem_;
};
