// FieldParser::field: comma-separated fields of an identification reply.
#include "console/field_parser.h"

namespace {

// Steps over the separators in front of a field, and past at most one comma among them.
int skip_to_field(FieldParser& parser, const char* text, int pos) {
  while (text[pos] != 0) {
    if (text[pos] == ',') return pos + 1;
    if (!parser.is_separator(text[pos])) return pos;
    ++pos;
  }
  return pos;
}

// Steps from the opening quote at pos to just past its closing quote (or to the end).
int skip_quoted(const char* text, int pos, char quote) {
  ++pos;
  while (text[pos] != 0 && text[pos] != quote) ++pos;
  return text[pos] != 0 ? pos + 1 : pos;
}

}  // namespace

int FieldParser::is_separator(int ch) {
  const signed char value = static_cast<signed char>(ch);
  return (value <= 32 || value == ',') ? 1 : 0;
}

int FieldParser::field(const char* text, char* out, int index, int max_len, int out_size) {
  if (out == nullptr || out_size < 1) return -1;
  out[0] = 0;
  if (text == nullptr) return -1;

  // The most characters out can take.
  int limit = out_size - 1;
  if (max_len > 0 && max_len < limit) limit = max_len;

  int pos = 0;
  for (int skipped = 0; skipped < index; ++skipped) {
    pos = skip_to_field(*this, text, pos);
    if (text[pos] == 0) return -1;
    if (text[pos] == '"' || text[pos] == '\'') {
      pos = skip_quoted(text, pos, text[pos]);
    } else {
      while (text[pos] != 0 && text[pos] != ',') ++pos;
    }
  }

  // Empty fields are passed over: the result is the next field with something in it.
  pos = skip_to_field(*this, text, pos);
  while (text[pos] != 0 && is_separator(text[pos])) ++pos;
  if (text[pos] == 0) return -1;

  int k = 0;
  if (text[pos] == '"' || text[pos] == '\'') {
    const char quote = text[pos];
    ++pos;
    while (text[pos] != 0 && text[pos] != quote && k < limit) out[k++] = text[pos++];
    out[k] = 0;
    // Past the closing quote, but never past the end of the text.
    return text[pos] != 0 ? pos + 1 : pos;
  }
  while (text[pos] != 0 && text[pos] != ',' && k < limit) out[k++] = text[pos++];
  out[k] = 0;
  return pos;
}
