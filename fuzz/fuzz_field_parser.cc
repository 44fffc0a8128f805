// FieldParser::token and FieldParser::field on arbitrary text, index, length limit and output size.
// Beyond memory safety (the sanitizers' part) it checks what every caller relies on: the result is -1
// or a position inside the text, and the output is zero-terminated within its size and made only of
// bytes of the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "console/field_parser.h"

namespace {

void check_output(const char* text, std::size_t text_length, const char* out, int out_size, int result) {
  if (result < -1 || result > static_cast<int>(text_length)) std::abort();
  std::size_t length = strnlen(out, static_cast<std::size_t>(out_size));
  if (length >= static_cast<std::size_t>(out_size)) std::abort();  // not terminated inside out
  if (result == -1 && length != 0) std::abort();                   // no such item: out stays empty
  for (std::size_t i = 0; i < length; ++i)
    if (std::memchr(text, out[i], text_length) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int index = data[0] % 8;
  const int max_len = data[1] % 80;       // 0: no limit beyond the output's size
  const int out_size = 1 + data[2] % 140;
  // The text is the rest, zero-terminated; a zero byte inside ends it early, as in a C text.
  std::vector<char> text(data + 3, data + size);
  text.push_back('\0');
  const std::size_t text_length = std::strlen(text.data());

  FieldParser parser;
  // Exactly sized heap buffers, so that a write one past the end is caught.
  std::vector<char> out(static_cast<std::size_t>(out_size), 'x');
  int r = parser.token(text.data(), out.data(), index, out_size);
  check_output(text.data(), text_length, out.data(), out_size, r);

  std::fill(out.begin(), out.end(), 'x');
  r = parser.field(text.data(), out.data(), index, max_len, out_size);
  check_output(text.data(), text_length, out.data(), out_size, r);
  if (max_len > 0 && std::strlen(out.data()) > static_cast<std::size_t>(max_len)) std::abort();

  // The settings loader's way: an output as large as the line.
  std::vector<char> whole(text_length + 1, 'x');
  r = parser.token(text.data(), whole.data(), index, static_cast<int>(whole.size()));
  check_output(text.data(), text_length, whole.data(), static_cast<int>(whole.size()), r);
  return 0;
}
