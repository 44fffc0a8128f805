// The program's own settings: the two instruments' addresses and the time of the last run.
#pragma once

constexpr const char* SETTINGS_FILE_NAME = "QUELT_Trimora.cfg";

extern char dmm_host[64];
extern int dmm_port;
// The DMM's framing as the settings file names it: TCP.SCPI (a telnet-style port, the default) or
// TCP.RAW (a raw SCPI socket).
constexpr const char* DMM_METHOD_TELNET = "TCP.SCPI";
constexpr const char* DMM_METHOD_RAW = "TCP.RAW";
extern char dmm_connect_method[16];
extern char psu_host[64];
extern int psu_port;

int load_program_settings();
int save_program_settings();
