// The dialog of the main menu's key S: the session details, one field after the other with the line
// editor. Enter takes the field as edited, Esc keeps what was there.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/trimora.h"
#include "console/edit_line.h"
#include "settings/lab_file.h"

namespace {

constexpr int FIELD_SIZE = 128;

// Edits text in place; false when the console closed.
bool edit_text(Console& console, const char* prompt, std::string& text) {
  char field[FIELD_SIZE] = {};
  std::snprintf(field, FIELD_SIZE, "%s", text.c_str());
  console.print("%s", prompt);
  const int edited = edit_line(console, field, 1, FIELD_SIZE - 1, "\r\033", 1, prompt);
  console.print("\n");
  if (edited == EDIT_CLOSED) return false;
  if (edited >= 0) {
    std::string taken = field;
    while (!taken.empty() && taken.back() == ' ') taken.pop_back();
    text = taken.substr(std::min(taken.size(), taken.find_first_not_of(' ')));
  }
  return true;
}

bool edit_date(Console& console, const char* prompt, std::string& date) {
  std::string text = date;
  if (!edit_text(console, prompt, text)) return false;
  if (text.empty() || is_iso_date(text))
    date = text;
  else
    console.print("\aNOT A DATE YYYY-MM-DD: KEPT AS IT WAS.\n");
  return true;
}

bool edit_figure(Console& console, const char* prompt, std::optional<double>& value, double low, double high) {
  char shown[32] = {};
  if (value) std::snprintf(shown, sizeof shown, "%g", *value);
  std::string text = shown;
  if (!edit_text(console, prompt, text)) return false;
  if (text.empty()) {
    value.reset();
    return true;
  }
  char* end = nullptr;
  const double read = std::strtod(text.c_str(), &end);
  if (end != nullptr && *end == '\0' && read >= low && read <= high)
    value = read;
  else
    console.print("\aNOT A NUMBER FROM %g TO %g: KEPT AS IT WAS.\n", low, high);
  return true;
}

}  // namespace

void set_session_details(Console& console, SessionDetails& session) {
  console.print("Session details ([ESC] keeps a field as it is):\n\n");
  (void)(edit_text(console, "Operator (responsible person): >", session.operator_name) &&
         edit_text(console, "Operator's role: >", session.operator_role) &&
         edit_text(console, "Customer: >", session.customer) &&
         edit_text(console, "Customer's address: >", session.customer_address) &&
         edit_text(console, "Customer's asset number: >", session.asset) &&
         edit_date(console, "Date of receipt (YYYY-MM-DD): >", session.received) &&
         edit_figure(console, "Ambient temperature (deg C): >", session.temperature_C, -40, 80) &&
         edit_figure(console, "Relative humidity (%): >", session.humidity_percent, 0, 100));
  console.print("\n");
}
