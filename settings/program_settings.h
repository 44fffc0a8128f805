// The program's own settings: the two instruments' addresses and the time of the last run.
#pragma once

constexpr const char* SETTINGS_FILE_NAME = "QUELT_Trimora.cfg";

extern char dmm_host[64];
extern int dmm_port;
extern char psu_host[64];
extern int psu_port;

int load_program_settings();
int save_program_settings();
