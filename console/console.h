// Console output. Everything the program shows goes through here to standard output, at once.
#pragma once

#include <string>

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
