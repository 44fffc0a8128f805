// The program: start-up, the one-key main menu with its connection check and dispatch, shutdown.
#include <cctype>
#include <cstdio>
#include <optional>

#include "app/run_records.h"
#include "app/trimora.h"
#include "calibration/channel_groups.h"
#include "console/stamps.h"
#include "link/channel.h"
#include "platform/net.h"
#include "platform/raw_keys.h"
#include "platform/stop_request.h"
#include "records/record_time.h"
#include "settings/lab_file.h"

namespace {

const char* const EQUALS_LINE = "====================================================\n";
const char* const WEB_ADDRESS_LINE = "        https://trimora.example.org\n";

constexpr int KEY_ENTER = 13;

// Everything the menu works with, for as long as the program runs.
struct Menu {
  Environment& env;
  ProgramSettings& settings;
  Bench& bench;
  RunRecords& records;
  Console& console;
};

void print_banner(Environment& env, ProgramSettings& settings) {
  Console& console = env.console();
  char text[32];
  console.print("Trimora\n");
  console.print("Current Time and Date: %s\n", date_time_stamp(env.local_time().local, text));
  console.print_untrusted("Last run: %s\n", settings.last_run_time());
  console.print("Version 1.0 (Trimora)\n");
  console.print("%s", WEB_ADDRESS_LINE);
  console.print("\n I N S T R U M E N T    S E T U P\n\n");
}

void print_header_and_menu(Menu& menu) {
  Console& console = menu.console;
  char text[32];
  console.print("%s", EQUALS_LINE);
  console.print("Trimora\n");
  console.print("Version 1.1 (Trimora)\n");
  console.print("%s", WEB_ADDRESS_LINE);
  console.print("%s", EQUALS_LINE);
  console.print("Instruments Detected: ( %s )\n", date_time_stamp(menu.env.local_time().local, text));
  console.print_untrusted("%s\n%s\n", menu.bench.dmm.description(), menu.bench.psu.description());
  console.print("%s", EQUALS_LINE);
  console.print("\n");
  console.print("A. Assess Channel Voltage Accuracy\n");
  console.print("I. Assess Channel Current Accuracy\n");
  console.print("C. Factory Current Calibration\n");
  console.print("V. Factory Voltage Calibration\n");
  console.print("F. Do FULL Voltage Calibration with Corrections\n\n");
  console.print("D. Set DP832 IP Address and Port\n");
  console.print("M. Set DMM IP Address and Port\n");
  console.print("S. Set Session Details\n\n");
  console.print("X. Exit\n\nCommand >");
}

int upper_key(int key) { return key >= 0 && key <= 255 ? std::toupper(key) : key; }

void assess_command(Menu& menu) {
  Console& console = menu.console;
  console.print("What channel (1, 2, or 3) to do voltage accuracy assessment on?");
  std::optional<Channel> channel = Channel::from_key(console.read_key_echo());
  if (!channel) return;
  console.print("\n\n");
  menu.records.run(menu.bench, Procedure::assessment, *channel);
}

// I: the channel, the reminder to wire the DMM's current input and Enter, then the assessment.
void assess_current_command(Menu& menu) {
  Console& console = menu.console;
  console.print("What channel (1, 2, or 3) to do current accuracy assessment on?");
  std::optional<Channel> channel = Channel::from_key(console.read_key_echo());
  if (!channel) return;
  console.discard_typed_ahead();
  console.print("\a\nREADY TO ASSESS CURRENT ON %s. MAKE SURE THE DMM'S CURRENT INPUT IS\n", channel->name());
  console.print("CONNECTED TO CHANNEL %c OUTPUT TERMINALS, THEN PRESS ENTER:", channel->key());
  if (upper_key(console.read_key()) != KEY_ENTER) return;
  console.print("\n\n");
  menu.records.run(menu.bench, Procedure::current_assessment, *channel);
}

// C and V: the channel, the wiring reminder and Enter, then the channel's factory calibration.
void factory_command(Menu& menu, bool voltage) {
  Console& console = menu.console;
  if (voltage)
    console.print("What channel (1, 2 or 3) to perform regular factory voltage calibration on?");
  else
    console.print("What channel (1, 2 or 3) to perform regular factory current calibration on?");
  std::optional<Channel> channel = Channel::from_key(console.read_key_echo());
  if (!channel) return;
  // Keys typed before the question is shown never answer it (the keys that got here were read).
  console.discard_typed_ahead();
  if (voltage)
    console.print("\n\aREADY TO CALIBRATE VOLTAGES ON %s. MAKE SURE DMM IS\n", channel->name());
  else
    console.print("\a\nREADY TO CALIBRATE CURRENT ON %s. MAKE SURE DMM IS\n", channel->name());
  console.print("CONNECTED TO CHANNEL %c OUTPUT TERMINALS, THEN PRESS ENTER:", channel->key());
  if (upper_key(console.read_key()) != KEY_ENTER) return;
  console.print("\n\n");
  menu.records.run(menu.bench, voltage ? Procedure::voltage_calibration : Procedure::current_calibration, *channel);
}

// F: only the channels that keep a corrections table.
void full_calibration_command(Menu& menu) {
  Console& console = menu.console;
  console.print("What channel (1 or 2) to do voltage calibration with corrections on?");
  std::optional<Channel> channel = Channel::from_key(console.read_key_echo());
  if (!channel || !channel_group(*channel).corrections) return;
  console.discard_typed_ahead();
  console.print("\nPress Y to confirm calibration on channel %c:", channel->key());
  if (upper_key(console.read_key_echo()) != 'Y') return;
  console.print("\n\n");
  menu.records.run(menu.bench, Procedure::full_voltage_calibration, *channel);
}

void shut_down(Menu& menu) {
  menu.console.print("\n\nExiting...\n\n");
  if (menu.bench.dmm.link() != nullptr) menu.bench.dmm.link()->close();
  if (menu.bench.psu.link() != nullptr) menu.bench.psu.link()->close();
  menu.settings.save_at_exit(menu.env.local_time().local);
  (void)menu.records.write_certificates(menu.console);  // each one missing is warned of on the console
}

// A settings file that exists but cannot be read, or gives no address for an instrument: say so, and
// contact nobody until the operator has set the addresses. The built-in addresses are a guess at a
// bench that may not be this one, and are not used where there is a file.
void report_unreadable_settings(Console& console, const ProgramSettings& settings) {
  console.print_untrusted("\a\nWARNING: THE SETTINGS FILE %s CANNOT BE READ: %s.\n", settings.path,
                          settings.file_problem());
  console.print("THE INSTRUMENTS ARE NOT CONTACTED AT THE BUILT-IN ADDRESSES. SET THEM WITH M AND D.\n");
  console.print("THE FILE IS LEFT AS IT IS UNLESS AN ADDRESS IS CHANGED THERE.\n\n");
}

// After a command: a Ctrl+C that came during it has aborted it (the procedure has switched its output
// off and closed its calibration); the menu comes back. false when the program must end instead.
bool command_stopped(Console& console) {
  if (stop_terminate) return false;
  if (stop_interrupts) {
    stop_interrupt_taken();
    console.print("\n\aABORTED BY THE OPERATOR (Ctrl+C).\n\n");
  }
  return true;
}

}  // namespace

// Both instruments present, the DMM still reading and the DP832 link still open; otherwise the
// first failure is reported and false returned.
// dmm_fault, when given, is set to why the DMM's reading failed, when it did.
bool instruments_ready(Bench& bench, std::string* dmm_fault) {
  Console& console = bench.console();
  if (!bench.dmm.present()) {
    console.print("\a\nNo active DMM connection.\n");
    return false;
  }
  if (!bench.psu.present()) {
    console.print("\a\nNo active DP832 connection.\n");
    return false;
  }
  if (const Result<double> reading = bench.dmm.read(); !reading) {
    console.print("\a\nThe connection to the DMM has been lost. Check connections/settings and retry.\n");
    report_dmm_fault(console, reading.reason());
    if (dmm_fault != nullptr) *dmm_fault = reading.reason();
    return false;
  }
  if (!bench.psu.link()->is_connected()) {
    console.print("\a\nThe connection to the DP832 has been lost. Check connections/settings and retry.\n");
    return false;
  }
  return true;
}

int trimora_main(Environment& env, ProgramSettings& settings) {
  Console& console = env.console();
  // Ctrl+C, SIGTERM and SIGHUP from now on only set flags: a procedure stops at its next step and
  // switches its output off, and the program ends through shut_down.
  stop_handlers_install();
  console_start();
  settings.load(console);
  if (!net_startup()) {
    console.print("Error starting Windows sockets; aborting.\n");
    return -1;
  }
  print_banner(env, settings);
  const bool readable = settings.file_problem().empty();
  if (!readable) report_unreadable_settings(console, settings);
  std::unique_ptr<Bench> bench = open_bench(env, settings, readable);
  const std::string lab_path = settings.lab_file_option.empty() ? lab_file_beside(settings.path)
                                                                 : settings.lab_file_option;
  Result<std::optional<LabFile>> lab = load_lab_file(lab_path, !settings.lab_file_option.empty());
  if (!lab) {
    console.print_untrusted("\a\nWARNING: %s.\n", lab.reason());
    console.print("THE CERTIFICATES OF THIS RUN ARE DRAFTS.\n\n");
  }
  RunRecords records(settings.records_folder(), lab ? *lab : std::nullopt);
  records.default_session(iso8601_local(env.local_time()).substr(0, 10));
  (void)records.warn_of_overdue_reference(*bench);
  Menu menu{env, settings, *bench, records, console};

  for (;;) {
    // Keys typed while the last command ran never start the next one. Thrown away before the menu
    // is shown, so that a key typed once the prompt is there always counts.
    console.discard_typed_ahead();
    print_header_and_menu(menu);
    int key = console.read_key();
    // A key without a character is no command: it does nothing.
    while (is_special_key(key)) key = console.read_key();
    if (key == KEY_CLOSED && stop_requested()) break;  // Ctrl+C at the menu ends the program as X does
    if (key == KEY_CLOSED) {
      // No more keys can come: end as X does rather than wait forever.
      std::fputs("trimora: console input closed; exiting as with X.\n", stderr);
      break;
    }
    key = upper_key(key);
    console.print("%c\n", key);
    if (key == 'X') break;
    if (key != 'M' && key != 'D' && key != 'S' && !instruments_ready(*bench)) {
      if (!command_stopped(console)) break;
      continue;
    }
    switch (key) {
      case 'A': assess_command(menu); break;
      case 'I': assess_current_command(menu); break;
      case 'C': factory_command(menu, false); break;
      case 'V': factory_command(menu, true); break;
      case 'F': full_calibration_command(menu); break;
      case 'D': set_psu_address(*bench, settings); break;
      case 'M': set_dmm_address(*bench, settings); break;
      case 'S': set_session_details(console, records.session); break;
      default: console.print("\n\a?Unknown command.\n\n"); break;
    }
    if (!command_stopped(console)) break;
  }
  shut_down(menu);
  stop_program_finished();
  return 0;
}
