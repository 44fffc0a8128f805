// Console output. Everything the program shows goes through here to standard output, at once.
#pragma once

#include <string>
#include <string_view>

// printf to the console.
void console_print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// One character to the console.
void console_put_char(int ch);

// Tests: while a sink is set, console output is appended to it instead of going to standard output.
// nullptr gives the console back.
void console_capture(std::string* sink);

// Text that came from outside the program (an instrument's reply, the settings file) as it may be
// shown: every byte a terminal could take as a control (0 to 31, 127, and 128 to 159, the C1 controls
// of 8-bit consoles) becomes the four visible characters \xNN; all else is kept. A terminal never
// obeys what an instrument or a file says.
std::string console_visible_text(std::string_view text);

// How many characters console_visible_text shows for one byte: 4 for a control, else 1.
int console_visible_width(unsigned char byte);

namespace console_detail {
// One argument of console_print_untrusted: a text is made visible, anything else passes as it is.
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

// The one way to show text from outside: console_print with the program's own format (its bells,
// line ends and prompts printed as they are) and every text argument passed through
// console_visible_text. Numbers and characters are printed as console_print prints them.
template <typename... Args>
void console_print_untrusted(const char* format, const Args&... args) {
  console_print(format, console_detail::pass(console_detail::untrusted(args))...);  // NOLINT
}
