// Splits identification replies into fields and settings lines into tokens.
#pragma once

class FieldParser {
 public:
  virtual ~FieldParser() = default;

  // Copies comma-separated field number index (0-based) of text into out, at most max_len characters
  // (0: no limit beyond out_size) and never more than out_size - 1. Position just past the field, or
  // -1 when there is no such field (out empty).
  int field(const char* text, char* out, int index, int max_len, int out_size);

  // 1 when ch, taken as a signed 8-bit value, is at most 32, or is a comma.
  int is_separator(int ch);

  // Copies blank- or comma-separated token number index of line into out (quotes removed), never
  // more than out_size - 1 characters. A non-negative position, or -1 when there is no such token.
  int token(const char* line, char* out, int index, int out_size);
};
