// Raw single-key console input: one key, without echo and without waiting for Enter.
// POSIX implementation in raw_keys_posix.cc, Windows (_getch) in raw_keys_win32.cc.
#pragma once

// Returned once the console can deliver no more keys (input closed or gone); every later call too.
// Also returned, without closing input, while a stop is requested (stop_request.h): Ctrl+C typed as a
// key (byte 3) requests one.
constexpr int RAW_KEY_CLOSED = -1;

// Waits for one key and returns its code 0 to 255: Enter 13, Esc 27, Backspace 8. A key without a
// character (arrow, Home, End, Delete, function key) arrives as two calls: lead code 224, then the
// key's own code (Up 72, Down 80, Left 75, Right 77, Home 71, End 79, Delete 83, ...).
// When standard input is not a terminal, bytes are read as they come, a line feed giving 13.
int raw_key_read();

// On a terminal (a console on Windows): throws away every key typed and not yet returned, those the
// system holds and those already read ahead. Standard input that is a pipe or a file is left alone.
void raw_keys_discard_typed_ahead();

// Puts the terminal back as it was before the first raw_key_read (also done at exit and on
// SIGINT, SIGTERM and SIGQUIT). Harmless when nothing was changed.
void raw_keys_restore();

// For a run that reads no keys but stops on any (stop_on_console_input): on a terminal (a console on
// Windows) that the program holds in the foreground, the mode of raw_key_read from now on, without
// echo and without waiting for Enter, put back at exit; on POSIX the keys typed during the run are
// thrown away then, so that none reaches the shell. 1 when the terminal is in that mode.
int raw_keys_single_key_mode();

// Prepares the console at program start: standard output unbuffered, so that every print reaches the
// console at once; and on a terminal, a hang-up from now on ends key input (the program then ends as
// on closed input, saving its settings) instead of killing the process in the middle of its work.
void console_start();
