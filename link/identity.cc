// Splitting a *IDN? answer into its four fields.
#include "link/identity.h"

#include <string>
#include <string_view>

namespace {

bool is_blank(char ch) { return static_cast<unsigned char>(ch) <= 32; }

// Trims spaces and control characters, then one pair of surrounding quotes and what they enclosed.
std::string trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  }
  return std::string(text);
}

}  // namespace

Identity parse_identity(std::string_view answer) {
  Identity identity;
  std::string* fields[] = {&identity.maker, &identity.model, &identity.serial, &identity.firmware};
  for (int index = 0; index < 3; index++) {
    std::size_t comma = answer.find(',');
    *fields[index] = trimmed(answer.substr(0, comma));
    if (comma == std::string_view::npos) return identity;
    answer.remove_prefix(comma + 1);
  }
  identity.firmware = trimmed(answer);  // the rest, commas and all
  return identity;
}
