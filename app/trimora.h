// The program: start-up, the main menu and shutdown; the address dialogs.
#pragma once

#include "calibration/bench.h"
#include "console/environment.h"
#include "settings/program_settings.h"
#include "settings/session_details.h"

// Runs the menu program with the settings whose path and records folder the command line gave; its
// result is the exit code (0 after X, -1 when sockets cannot start).
int trimora_main(Environment& environment, ProgramSettings& settings);

// The connection check before a command: true when both instruments are present, the DMM still reads
// and the DP832 link is open; otherwise the first failure is printed and false returned.
bool instruments_ready(Bench& bench, std::string* dmm_fault = nullptr);

// The dialogs of M and D: edit the instrument's address, save the settings, connect again.
void set_dmm_address(Bench& bench, ProgramSettings& settings);
void set_psu_address(Bench& bench, ProgramSettings& settings);

// The dialog of S: edits the session details field by field; Esc keeps a field as it was.
void set_session_details(Console& console, SessionDetails& session);
