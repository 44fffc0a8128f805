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
// when the console closed.
int edit_line(Console& console, char* buffer, int echo_mode, int max_length, const char* terminators, int preload);
