// Console output: to standard output and flushed at once, or into a test's sink.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>

namespace {
std::string* capture_sink = nullptr;
}

void console_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (capture_sink == nullptr) {
    std::vfprintf(stdout, format, args);
    std::fflush(stdout);
    va_end(args);
    return;
  }
  va_list again;
  va_copy(again, args);
  char small[256];
  int length = std::vsnprintf(small, sizeof small, format, args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
    capture_sink->append(small, static_cast<size_t>(length));
  } else if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(length));
    capture_sink->append(text);
  }
  va_end(again);
  va_end(args);
}

void console_put_char(int ch) {
  if (capture_sink != nullptr) {
    capture_sink->push_back(static_cast<char>(ch));
    return;
  }
  std::fputc(static_cast<unsigned char>(ch), stdout);
  std::fflush(stdout);
}

void console_capture(std::string* sink) { capture_sink = sink; }

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
