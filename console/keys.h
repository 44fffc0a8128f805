// Single-key input: read_key and read_key_echo on top of the platform's raw keys.
#pragma once

#include <functional>

// read_key's result once the console can deliver no more keys; every later call gives it too. Also the
// result, for as long as it lasts, of a stop request (Ctrl+C, SIGTERM; platform/stop_request.h).
constexpr int KEY_CLOSED = -1;

// Waits for one key without echo and returns its code (13 Enter, 27 Esc, 8 Backspace; a key without a
// character arrives as lead code 224 and then its own code), or KEY_CLOSED.
int read_key();

// read_key, then shows the key itself on the console (Enter shows a carriage return).
int read_key_echo();

// Tests: keys come from source instead of the console; an empty function restores the console.
void set_key_source(std::function<int()> source);
