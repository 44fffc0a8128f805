// The address dialogs of the main menu's keys M and D: edit an instrument's host and port, confirm,
// save the settings at once and connect again at the new address.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/trimora.h"
#include "console/console.h"
#include "console/edit_line.h"
#include "console/keys.h"
#include "link/instruments.h"
#include "settings/program_settings.h"

namespace {

constexpr int FIELD_SIZE = 64;       // the edit field: at most 63 characters and the zero
constexpr int WORK_SIZE = 128;       // the field, then the edited host kept while the port is edited
constexpr int MAX_FIELD_LENGTH = FIELD_SIZE - 1;
static_assert(sizeof dmm_host == FIELD_SIZE && sizeof psu_host == FIELD_SIZE);

// What tells the two dialogs apart.
struct AddressTarget {
  const char* title;
  char* host;           // FIELD_SIZE bytes
  int* port;
  void (*drop_link)();
  int (*connect)(const char* host, int port);
};

// The port text read as atoi does (blanks, sign, digits up to the first other character; 0 when no
// number begins the text), but without atoi's undefined result for a number beyond int: such a
// number is clamped, which leaves it outside every valid port.
int port_from_text(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void set_instrument_address(const AddressTarget& target) {
  char work[WORK_SIZE] = {};
  char* field = work;
  char* new_host = work + FIELD_SIZE;

  console_print("%s", target.title);
  console_print_untrusted("IP address or hostname: %s\nService Port: %d\n\n", target.host, *target.port);

  std::snprintf(field, FIELD_SIZE, "%s", target.host);
  console_print("New IP Address ([ESC] to quit): >");
  // Esc, or a console that closed while editing: leave without a change.
  if (edit_line(field, 1, MAX_FIELD_LENGTH, "\r\033", 1) < 0) return;
  std::memcpy(new_host, field, FIELD_SIZE);  // the field is zero-terminated within its 64 bytes

  std::snprintf(field, FIELD_SIZE, "%d", *target.port);
  console_print("New Service Port ([ESC] to quit): >");
  if (edit_line(field, 1, MAX_FIELD_LENGTH, "\r\033", 1) < 0) return;
  int new_port = port_from_text(field);

  discard_typed_ahead();  // keys typed before the question is shown never answer it
  console_print_untrusted(
      "\n\nProposed new values:\n\nIP Address or Hostname: %s\nService Port: %d\n\nAre these correct?", new_host,
      new_port);
  int key = read_key_echo();
  if (key >= 0 && key <= 255) key = std::toupper(key);
  console_print("\n\n");
  if (key != 'Y') return;

  // From here on the order is fixed: the globals, the settings file, the old link, the new connection.
  *target.port = new_port;
  std::snprintf(target.host, FIELD_SIZE, "%s", new_host);
  save_program_settings();
  target.drop_link();
  target.connect(target.host, *target.port);
}

}  // namespace

void set_dmm_address() {
  set_instrument_address({"Configure DMM IP Address and Port. The current settings are:\n\n", dmm_host,
                          &dmm_port, drop_dmm_link, connect_dmm});
}

void set_psu_address() {
  set_instrument_address({"Configure DP832 IP Address and Port. The current settings are:\n\n", psu_host,
                          &psu_port, drop_psu_link, connect_psu});
}
