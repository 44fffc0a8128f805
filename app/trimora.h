// The program: start-up, the main menu and shutdown; the address dialogs.
#pragma once

// Runs the whole program; its result is the exit code (0 after X, -1 when sockets cannot start).
int trimora_main();

// The connection check before a command: 1 when both instruments are present, the DMM still reads and
// the DP832 link is open; otherwise the first failure is printed and 0 returned.
int instruments_ready();

void set_dmm_address();
void set_psu_address();
