// The program: start-up, the main menu and shutdown; the address dialogs.
#pragma once

// Runs the whole program; its result is the exit code (0 after X, -1 when sockets cannot start).
int trimora_main();

void set_dmm_address();
void set_psu_address();
