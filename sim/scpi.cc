// SCPI text handling shared by the simulated instruments.
#include "sim/scpi.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t ERROR_QUEUE_SIZE = 20;

std::string trim(const std::string& text) {
  const char* blanks = " \t\n\v\f\r";
  std::size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

std::string unquote(const std::string& text) {
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
    return text.substr(1, text.size() - 2);
  return text;
}

// One element of a header pattern.
struct PatternNode {
  std::string short_form;  // upper-case letters of the keyword
  std::string long_form;   // the whole keyword, upper-cased
  bool optional = false;
  bool suffix = false;
};

std::vector<PatternNode> parse_pattern(const char* pattern) {
  std::vector<PatternNode> nodes;
  const char* p = pattern;
  while (*p != 0) {
    PatternNode node;
    if (*p == '[') {
      node.optional = true;
      ++p;
    }
    if (*p == ':') ++p;
    while (*p != 0 && *p != ':' && *p != '[' && *p != ']' && *p != '#') {
      char c = *p++;
      if (std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
          c == '*')
        node.short_form += c;
      node.long_form += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (*p == '#') {
      node.suffix = true;
      ++p;
    }
    if (*p == ']') ++p;
    nodes.push_back(node);
  }
  return nodes;
}

// Does one header node (upper-case, maybe with a numeric suffix) name this pattern node?
bool node_matches(const std::string& written, const PatternNode& node, int* suffix) {
  std::size_t digits = written.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(written[digits - 1]))) --digits;
  std::string word = written;
  int number = 0;
  if (digits < written.size() && digits > 0 && node.suffix) {
    word = written.substr(0, digits);
    // A long run of digits is some suffix beyond every range, never an overflow.
    number = written.size() - digits > 6 ? 1000000
                                         : static_cast<int>(std::strtol(written.c_str() + digits, nullptr, 10));
    if (number <= 0) return false;
  }
  if (word != node.short_form && word != node.long_form) return false;
  if (suffix != nullptr && node.suffix) *suffix = number;
  return true;
}

bool match_from(const std::vector<std::string>& written, std::size_t w, const std::vector<PatternNode>& pattern,
                std::size_t p, int* suffix) {
  if (p == pattern.size()) return w == written.size();
  const PatternNode& node = pattern[p];
  if (w < written.size()) {
    int number = 0;
    if (node_matches(written[w], node, &number) && match_from(written, w + 1, pattern, p + 1, suffix)) {
      if (suffix != nullptr && node.suffix) *suffix = number;
      return true;
    }
  }
  return node.optional && match_from(written, w, pattern, p + 1, suffix);
}

}  // namespace

std::string scpi_upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::vector<std::string> scpi_split_line(const std::string& line) {
  std::vector<std::string> pieces;
  std::string piece;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote) quote = 0;
      piece += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      piece += c;
    } else if (c == ';') {
      if (!trim(piece).empty()) pieces.push_back(trim(piece));
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!trim(piece).empty()) pieces.push_back(trim(piece));
  return pieces;
}

bool scpi_parse(const std::string& text, ScpiCommand* out) {
  *out = ScpiCommand();
  std::string command = trim(text);
  std::size_t space = 0;
  while (space < command.size() && !std::isspace(static_cast<unsigned char>(command[space]))) ++space;
  std::string header = command.substr(0, space);
  std::string rest = trim(command.substr(space));
  if (header.empty()) return false;

  if (header.back() == '?') {
    out->query = true;
    header.pop_back();
  }
  if (header.empty()) return false;
  if (header[0] == '*') {
    out->common = true;
    for (std::size_t i = 1; i < header.size(); ++i)
      if (!std::isalpha(static_cast<unsigned char>(header[i]))) return false;
    if (header.size() < 2) return false;
    out->nodes.push_back(scpi_upper(header));
  } else {
    std::size_t start = 0;
    if (header[0] == ':') {
      out->absolute = true;
      start = 1;
    }
    std::string node;
    for (std::size_t i = start; i <= header.size(); ++i) {
      if (i == header.size() || header[i] == ':') {
        if (node.empty()) return false;
        out->nodes.push_back(scpi_upper(node));
        node.clear();
      } else if (std::isalnum(static_cast<unsigned char>(header[i])) || header[i] == '_') {
        node += header[i];
      } else {
        return false;
      }
    }
    if (!std::isalpha(static_cast<unsigned char>(out->nodes[0][0]))) return false;
  }

  if (!rest.empty()) {
    std::string param;
    char quote = 0;
    for (char c : rest) {
      if (quote != 0) {
        if (c == quote) quote = 0;
        param += c;
      } else if (c == '"' || c == '\'') {
        quote = c;
        param += c;
      } else if (c == ',') {
        out->params.push_back(unquote(trim(param)));
        param.clear();
      } else {
        param += c;
      }
    }
    out->params.push_back(unquote(trim(param)));
  }
  return true;
}

bool scpi_match(const std::vector<std::string>& nodes, bool common, const char* pattern, int* suffix) {
  if (pattern[0] == '*') return common && nodes.size() == 1 && nodes[0] == scpi_upper(pattern);
  if (common) return false;
  std::vector<PatternNode> parsed = parse_pattern(pattern);
  if (suffix != nullptr) *suffix = 0;
  return match_from(nodes, 0, parsed, 0, suffix);
}

bool scpi_number(const std::string& text, double* value) {
  std::string t = trim(text);
  if (t.empty()) return false;
  const char* begin = t.c_str();
  // Only plain decimal forms: no hexadecimal, no infinity or NaN words.
  for (const char* p = begin; *p != 0; ++p) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    if (c == 'X' || c == 'I' || c == 'N') return false;
  }
  char* end = nullptr;
  double v = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(v)) return false;
  std::string unit = scpi_upper(trim(std::string(end)));
  if (unit == "MV" || unit == "MA") {
    v /= 1000.0;
  } else if (!unit.empty() && unit != "V" && unit != "A") {
    return false;
  }
  *value = v;
  return true;
}

namespace {

struct ErrorText {
  ScpiError error;
  const char* text;
};

const ErrorText ERROR_TEXTS[] = {
    {ScpiError::syntax, "Syntax error"},
    {ScpiError::data_type, "Data type error"},
    {ScpiError::parameter_not_allowed, "Parameter not allowed"},
    {ScpiError::missing_parameter, "Missing parameter"},
    {ScpiError::undefined_header, "Undefined header"},
    {ScpiError::suffix_out_of_range, "Header suffix out of range"},
    {ScpiError::illegal_parameter, "Illegal parameter value"},
    {ScpiError::command_protected, "Command protected"},
    {ScpiError::settings_conflict, "Settings conflict"},
    {ScpiError::out_of_range, "Data out of range"},
    {ScpiError::data_stale, "Data corrupt or stale"},
};

}  // namespace

void scpi_push_error(std::deque<std::string>* queue, ScpiError error) {
  if (queue->size() >= ERROR_QUEUE_SIZE) {
    queue->back() = "-350,\"Queue overflow\"";
    return;
  }
  const ErrorText* found = std::find_if(std::begin(ERROR_TEXTS), std::end(ERROR_TEXTS),
                                        [error](const ErrorText& e) { return e.error == error; });
  const char* message = found != std::end(ERROR_TEXTS) ? found->text : "Error";
  char text[160];
  std::snprintf(text, sizeof text, "%d,\"%s\"", static_cast<int>(error), message);
  queue->push_back(text);
}

int scpi_event_bit(ScpiError error) { return static_cast<int>(error) > -200 ? 32 : 16; }

std::string scpi_pop_error(std::deque<std::string>* queue) {
  if (queue->empty()) return "0,\"No error\"";
  std::string first = queue->front();
  queue->pop_front();
  return first;
}
