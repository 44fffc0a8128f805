// FieldParser::token: splits a settings line into blank- or comma-separated tokens.
#include "console/field_parser.h"

namespace {

// A blank is any separator but the comma; the terminating zero is neither.
int is_blank(FieldParser& parser, char ch) { return ch != '\0' && ch != ',' && parser.is_separator(ch); }

// Steps over a run of blanks and then over at most one comma.
int pass_gap(FieldParser& parser, const char* line, int pos) {
  while (is_blank(parser, line[pos])) pos++;
  if (line[pos] == ',') pos++;
  return pos;
}

// From an opening quote at pos: the position of the closing quote, or of the end of the line.
int closing_quote(const char* line, int pos) {
  char quote = line[pos];
  pos++;
  while (line[pos] != '\0' && line[pos] != quote) pos++;
  return pos;
}

}  // namespace

int FieldParser::token(const char* line, char* out, int index, int out_size) {
  int room = out_size - 1;  // characters out can take besides its terminating zero
  if (out != nullptr && out_size > 0) out[0] = '\0';
  if (line == nullptr || index < 0) return -1;

  int pos = 0;
  for (int i = 0; i < index; i++) {
    pos = pass_gap(*this, line, pos);
    if (line[pos] == '\0') return -1;
    if (line[pos] == '"' || line[pos] == '\'') {
      pos = closing_quote(line, pos);
      if (line[pos] != '\0') pos++;
    } else {
      while (line[pos] != '\0' && !is_separator(line[pos])) pos++;
    }
  }

  pos = pass_gap(*this, line, pos);
  if (line[pos] == '\0') return -1;

  // Copy the token, keeping to out's room; the position returned does not depend on that room.
  int start;
  int end;
  if (line[pos] == '"' || line[pos] == '\'') {
    start = pos + 1;
    end = closing_quote(line, pos);
  } else {
    start = pos;
    end = pos;
    while (line[end] != '\0' && !is_separator(line[end])) end++;
  }
  if (out != nullptr && out_size > 0) {
    int k = 0;
    for (int p = start; p < end && k < room; p++) out[k++] = line[p];
    out[k] = '\0';
  }
  return end;
}
