// The program's command line: the menu program, or one procedure run unattended, with the files to use.
#pragma once

#include <string>

#include "calibration/run_result.h"
#include "settings/session_details.h"

// Exit codes of the program.
constexpr int EXIT_DONE_PASS = 0;       // done, every verdict PASS (and the menu program after X)
constexpr int EXIT_VERDICT = 1;         // done, some verdict FAIL, INDETERMINATE or NO READING
constexpr int EXIT_USAGE = 2;           // the command line or the settings file is wrong; nothing was started
constexpr int EXIT_INSTRUMENT = 3;      // an instrument absent or lost
constexpr int EXIT_CALIBRATION = 4;     // the run incomplete, the calibration refused, or its record not written

struct CommandLine {
  std::string settings_file;  // empty: SETTINGS_FILE_NAME in the working folder
  std::string records_dir;    // empty: records/ beside the settings file
  bool run = false;           // trimora run PROCEDURE CHANNEL
  Procedure procedure = Procedure::assessment;
  int channel = 0;            // 1 to 3
  bool yes = false;           // the operator has wired the DMM and confirms the run
  bool quiet = false;         // only the final line
  bool json = false;          // the record on standard output instead of the console text
  std::string lab_file;       // empty: trimora-lab.json beside the settings file, if it is there
  SessionDetails session;     // the session details for run's record and certificate
  bool allow_overdue = false;  // run with a reference whose calibration is overdue
};

// Reads the command line. -1: go on with what it asks for. Otherwise the exit code, after printing the
// help or the version (0) or a one-line error naming what is wrong (EXIT_USAGE).
int parse_command_line(int argc, const char* const* argv, CommandLine& line);

// The program as started from the shell: parses, then runs the menu program or the one procedure.
int trimora_command(int argc, const char* const* argv);
