// The console: formatted output and single keys, on the terminal or in memory.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/raw_keys.h"
#include "platform/stop_request.h"

namespace {
constexpr int LEAD_NUL = 0;
constexpr int LEAD_E0 = 224;
}  // namespace

void Console::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[256];
  int length = std::vsnprintf(small, sizeof small, format, args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
    write(std::string_view(small, static_cast<size_t>(length)));
  } else if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(length));
    write(text);
  }
  va_end(again);
  va_end(args);
}

void Console::put_char(int ch) {
  const char byte = static_cast<char>(ch);
  write(std::string_view(&byte, 1));
}

int Console::code() {
  if (keys_closed_) return KEY_CLOSED;
  int code = next_code();
  if (code < 0) {
    // Once closed, input stays closed: a caller looping on keys must not find a key again. A stop
    // (Ctrl+C) only ends the wait at hand: the menu reads keys again once it is taken up.
    if (!stop_requested()) keys_closed_ = true;
    return KEY_CLOSED;
  }
  return code & 0xff;
}

int Console::read_key() {
  int first = code();
  if (first != LEAD_NUL && first != LEAD_E0) return first;
  // The key's own code follows its lead code; a console that closes in between ends input.
  int own = code();
  return own == KEY_CLOSED ? KEY_CLOSED : KEY_SPECIAL + own;
}

int Console::read_key_echo() {
  int key = read_key();
  if (key != KEY_CLOSED && !is_special_key(key)) put_char(key);
  return key;
}

void TerminalConsole::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int TerminalConsole::next_code() { return raw_key_read(); }

void TerminalConsole::discard_typed_ahead() { raw_keys_discard_typed_ahead(); }

int console_visible_width(unsigned char byte) { return byte < 32 || (byte >= 127 && byte < 160) ? 4 : 1; }

std::string console_visible_text(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (console_visible_width(byte) == 1) {
      shown += c;
    } else {
      shown += "\\x";
      shown += digits[byte >> 4];
      shown += digits[byte & 15];
    }
  }
  return shown;
}
