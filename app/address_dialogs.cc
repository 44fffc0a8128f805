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
#include "settings/program_settings.h"

namespace {

constexpr int FIELD_SIZE = 64;       // the edit field: at most 63 characters and the zero
constexpr int WORK_SIZE = 128;       // the field, then the edited host kept while the port is edited
constexpr int MAX_FIELD_LENGTH = FIELD_SIZE - 1;
static_assert(HOST_MAX_LENGTH == MAX_FIELD_LENGTH);

// What tells the two dialogs apart.
struct AddressTarget {
  const char* title;
  InstrumentAddress& address;
  // Drops the instrument's link and connects again at the address.
  void (*reconnect)(Bench& bench, const InstrumentAddress& address);
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

void set_instrument_address(Bench& bench, ProgramSettings& settings, const AddressTarget& target) {
  Console& console = bench.console();
  char work[WORK_SIZE] = {};
  char* field = work;
  char* new_host = work + FIELD_SIZE;

  console.print("%s", target.title);
  console.print_untrusted("IP address or hostname: %s\nService Port: %d\n\n", target.address.host,
                          target.address.port);

  std::snprintf(field, FIELD_SIZE, "%s", target.address.host.c_str());
  const char* const host_prompt = "New IP Address ([ESC] to quit): >";
  console.print("%s", host_prompt);
  // Esc, or a console that closed while editing: leave without a change.
  if (edit_line(console, field, 1, MAX_FIELD_LENGTH, "\r\033", 1, host_prompt) < 0) return;
  std::memcpy(new_host, field, FIELD_SIZE);  // the field is zero-terminated within its 64 bytes

  std::snprintf(field, FIELD_SIZE, "%d", target.address.port);
  const char* const port_prompt = "New Service Port ([ESC] to quit): >";
  console.print("%s", port_prompt);
  if (edit_line(console, field, 1, MAX_FIELD_LENGTH, "\r\033", 1, port_prompt) < 0) return;
  int new_port = port_from_text(field);

  console.discard_typed_ahead();  // keys typed before the question is shown never answer it
  console.print_untrusted(
      "\n\nProposed new values:\n\nIP Address or Hostname: %s\nService Port: %d\n\nAre these correct?", new_host,
      new_port);
  int key = console.read_key_echo();
  if (key >= 0 && key <= 255) key = std::toupper(key);
  console.print("\n\n");
  if (key != 'Y') return;

  // From here on the order is fixed: the settings, the settings file, the old link, the new connection.
  target.address.port = new_port;
  target.address.host = new_host;
  settings.save(bench.env.local_time().local);
  target.reconnect(bench, target.address);
}

}  // namespace

void set_dmm_address(Bench& bench, ProgramSettings& settings) {
  set_instrument_address(bench, settings,
                         {"Configure DMM IP Address and Port. The current settings are:\n\n", settings.dmm,
                          [](Bench& b, const InstrumentAddress& address) {
                            b.dmm.drop();
                            (void)b.dmm.connect(b.console(), address.host, address.port);
                          }});
}

void set_psu_address(Bench& bench, ProgramSettings& settings) {
  set_instrument_address(bench, settings,
                         {"Configure DP832 IP Address and Port. The current settings are:\n\n", settings.psu,
                          [](Bench& b, const InstrumentAddress& address) {
                            b.psu.drop();
                            (void)b.psu.connect(b.console(), address.host, address.port);
                          }});
}
