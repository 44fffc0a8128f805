// One-line text editor on top of read_key.
#pragma once

#include "console/console.h"

// edit_line's result when the console closed while editing (out of reach of any -key code).
constexpr int EDIT_CLOSED = -256;

// Edits buffer (room for max_length + 1 bytes). echo_mode 0 shows nothing, 1 shows the typed
// characters, above 1 shows that character instead of each typed one. terminators: null (Enter
// accepts) or key codes ending the edit, the first accepting and the others cancelling. preload:
// non-zero to show and continue the buffer's text. Returns the line's length on accept, the negative
// of the key code for a cancel key, 0 at once for a null buffer or max_length below 1, EDIT_CLOSED
// when the console closed. The editor takes ASCII only: a byte from 128 up rings the bell, and the first
// one of the edit also says so on a line of its own (EDIT_ASCII_ONLY), then shows the prompt (null:
// none) and the line as typed so far again.
int edit_line(Console& console, char* buffer, int echo_mode, int max_length, const char* terminators, int preload,
              const char* prompt = nullptr);

// What the editor says the first time a byte from 128 up is typed, after its bell.
constexpr const char* EDIT_ASCII_ONLY = "\nONLY ASCII LETTERS, DIGITS AND SIGNS ARE TAKEN HERE.\n";
