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
extern char psu_host[64];
extern int psu_port;

int load_program_settings();
int save_program_settings();
