// The program's own settings: the two instruments' addresses and the time of the last run.
#pragma once

#include <string>

constexpr const char* SETTINGS_FILE_NAME = "QUELT_Trimora.cfg";

// The settings file read at start and written at every save: SETTINGS_FILE_NAME in the working folder
// unless the command line names another.
extern std::string settings_path;
// The folder the command line gives for the records and pages; empty: records/ beside the settings file.
extern std::string records_folder_option;

// Where the records and pages go: records_folder_option, or the folder records beside the settings file.
std::string records_folder();

extern char dmm_host[64];
extern int dmm_port;
// The DMM's framing as the settings file names it: TCP.SCPI (a telnet-style port, the default) or
// TCP.RAW (a raw SCPI socket).
constexpr const char* DMM_METHOD_TELNET = "TCP.SCPI";
constexpr const char* DMM_METHOD_RAW = "TCP.RAW";
extern char dmm_connect_method[16];
extern char psu_host[64];
extern int psu_port;

#include <string>

// Reads the settings file into the globals, over the built-in defaults. The number of settings read.
int load_program_settings();

// Why the settings file found at start could not be read (no permission, a folder, a symbolic link to
// nothing, ...); empty when it was read or there was none. While it is not empty, the built-in
// addresses stand in the globals but the file is the operator's, not ours to overwrite.
const std::string& settings_file_problem();

// Writes the settings file now: the operator has changed an address (the dialogs of M and D), so the
// file is written even if it could not be read at start, and again at exit. 1 on success.
int save_program_settings();

// The save at the end of the run: skipped (0) while a settings file that could not be read is kept,
// so that the operator's file is never replaced by the built-in addresses.
int save_program_settings_at_exit();
