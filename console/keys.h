// Single-key input: read_key and read_key_echo on top of the platform's raw keys.
#pragma once

#include <functional>

// read_key's result once the console can deliver no more keys; every later call gives it too.
constexpr int KEY_CLOSED = -1;

// A key without a character (an arrow, a function key, Home, End, Ins, Del, PgUp, PgDn) comes from
// the console as two codes, lead code 0 or 224 and then its own code; read_key gives it as one key,
// KEY_SPECIAL plus its own code, so that its second code is never taken for a letter.
constexpr int KEY_SPECIAL = 0x100;

constexpr bool is_special_key(int key) { return key >= KEY_SPECIAL; }

// Waits for one key without echo and returns its code (13 Enter, 27 Esc, 8 Backspace; a key without a
// character as KEY_SPECIAL plus its own code), or KEY_CLOSED.
int read_key();

// read_key, then shows the key itself on the console (Enter shows a carriage return); a special key
// shows nothing.
int read_key_echo();

// Keys typed before a question is shown must never answer it: on a terminal, throws away every key
// typed and not yet read. Keys from a pipe or a file (a script of keys) and a test's key source are
// kept, so that a script runs as written.
void discard_typed_ahead();

// Tests: keys come from source instead of the console; an empty function restores the console.
void set_key_source(std::function<int()> source);
