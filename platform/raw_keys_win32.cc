// Raw single-key input on Windows: _getch on a console; bytes from standard input when it is
// redirected (a file or a pipe), a line feed then counting as Enter.
#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/raw_keys.h"
#include "platform/stop_request.h"

namespace {

int input_closed = 0;
constexpr int CTRL_C = 3;
int input_kind = -1;  // -1 not yet known, 0 redirected, 1 console

int stdin_is_console() {
  if (input_kind < 0) {
    DWORD mode = 0;
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    input_kind = handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) ? 1 : 0;
  }
  return input_kind;
}

DWORD saved_mode = 0;
int mode_changed = 0;

void put_console_mode_back() {
  if (mode_changed) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), saved_mode);
  mode_changed = 0;
}

}  // namespace

int raw_key_read() {
  if (stop_requested()) return RAW_KEY_CLOSED;  // this wait ends; input stays open
  if (input_closed) return RAW_KEY_CLOSED;
  if (stdin_is_console()) {
    // A blocking _getch, as the console wants it to take keys one by one: a console that turns keys
    // into single bytes only while a read waits (Wine's on a terminal) never shows _kbhit a key. A stop
    // that comes while a key is awaited is taken up with the next key.
    // Keys without a character come as lead code 0 or 224 and then their own code, one per call.
    int key = _getch();
    if (key == CTRL_C) {
      // _getch reads Ctrl+C as a key: the same as the control handler's Ctrl+C.
      stop_request_interrupt();
      return RAW_KEY_CLOSED;
    }
    if (key < 0 || key > 255) {
      input_closed = 1;
      return RAW_KEY_CLOSED;
    }
    return key;
  }
  // Standard input is in text mode, so a CR LF line end arrives as one line feed.
  int byte = std::getchar();
  if (byte == EOF) {
    input_closed = 1;
    return RAW_KEY_CLOSED;
  }
  return byte == '\n' ? 13 : byte;
}

void raw_keys_discard_typed_ahead() {
  if (input_closed || !stdin_is_console()) return;
  // The keys _getch has not handed out yet, then the console's own input queue.
  while (_kbhit()) _getch();
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

void raw_keys_restore() { put_console_mode_back(); }

int raw_keys_single_key_mode() {
  if (!stdin_is_console()) return 0;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return 0;
  // Ctrl+C stays the control handler's (processed input).
  if (!SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT))) return 0;
  saved_mode = mode;
  mode_changed = 1;
  std::atexit(put_console_mode_back);
  return 1;
}

void console_start() { std::setvbuf(stdout, nullptr, _IONBF, 0); }
