// The console: what the program shows and the keys it reads. Everything shown goes through a Console;
// the terminal's goes to standard output at once, a captured one into a text (tests, --quiet, --json).
#pragma once

#include <functional>
#include <string>
#include <string_view>

// read_key's result once the console can deliver no more keys; every later call gives it too. Also the
// result, for as long as it lasts, of a stop request (Ctrl+C, SIGTERM; platform/stop_request.h).
constexpr int KEY_CLOSED = -1;

// A key without a character (an arrow, a function key, Home, End, Ins, Del, PgUp, PgDn) comes from
// the console as two codes, lead code 0 or 224 and then its own code; read_key gives it as one key,
// KEY_SPECIAL plus its own code, so that its second code is never taken for a letter.
constexpr int KEY_SPECIAL = 0x100;

constexpr bool is_special_key(int key) { return key >= KEY_SPECIAL; }

// Text that came from outside the program (an instrument's reply, the settings file) as it may be
// shown: every byte a terminal could take as a control (0 to 31, 127, and 128 to 159, the C1 controls
// of 8-bit consoles) becomes the four visible characters \xNN; all else is kept. A terminal never
// obeys what an instrument or a file says.
std::string console_visible_text(std::string_view text);

// How many characters console_visible_text shows for one byte: 4 for a control, else 1.
int console_visible_width(unsigned char byte);

namespace console_detail {
// One argument of print_untrusted: a text is made visible, anything else passes as it is.
// The made text lives until the end of the print's full expression.
inline std::string untrusted(const char* text) { return console_visible_text(text == nullptr ? "" : text); }
inline std::string untrusted(char* text) { return untrusted(static_cast<const char*>(text)); }
inline std::string untrusted(const std::string& text) { return console_visible_text(text); }
template <typename T>
T untrusted(T value) {
  return value;
}
inline const char* pass(const std::string& text) { return text.c_str(); }
template <typename T>
T pass(T value) {
  return value;
}
}  // namespace console_detail

class Console {
 public:
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  virtual ~Console() = default;

  // printf to the console.
  void print(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // The one way to show text from outside: print with the program's own format (its bells, line ends
  // and prompts printed as they are) and every text argument passed through console_visible_text.
  template <typename... Args>
  void print_untrusted(const char* format, const Args&... args) {
    print(format, console_detail::pass(console_detail::untrusted(args))...);  // NOLINT
  }

  // One character.
  void put_char(int ch);

  // Waits for one key without echo and returns its code (13 Enter, 27 Esc, 8 Backspace; a key
  // without a character as KEY_SPECIAL plus its own code), or KEY_CLOSED.
  int read_key();
  // read_key, then shows the key itself (Enter shows a carriage return); a special key shows nothing.
  int read_key_echo();

  // Keys typed before a question is shown must never answer it: on a terminal, throws away every key
  // typed and not yet read. Keys from a pipe or a file (a script of keys) and a test's keys are kept,
  // so that a script runs as written.
  virtual void discard_typed_ahead() {}

 protected:
  virtual void write(std::string_view text) = 0;
  // The console's next code, 0 to 255, or a negative value once it has no more.
  virtual int next_code() = 0;

 private:
  int code();
  bool keys_closed_ = false;
};

// The terminal: standard output, flushed at every print, and the platform's raw keys.
class TerminalConsole final : public Console {
 public:
  void discard_typed_ahead() override;

 protected:
  void write(std::string_view text) override;
  int next_code() override;
};

// A console held in memory: what is shown is appended to text; keys come from the function given
// (none: the console has no keys).
class CapturedConsole final : public Console {
 public:
  CapturedConsole() = default;
  explicit CapturedConsole(std::function<int()> keys) : keys_(std::move(keys)) {}

  std::string text;

 protected:
  void write(std::string_view shown) override { text.append(shown); }
  int next_code() override { return keys_ ? keys_() : KEY_CLOSED; }

 private:
  std::function<int()> keys_;
};
