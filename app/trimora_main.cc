// The program: start-up, the one-key main menu with its connection check and dispatch, shutdown.
#include <cctype>
#include <cstdio>
#include <optional>

#include "app/run_records.h"
#include "app/trimora.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "calibration/voltage_assessment.h"
#include "console/console.h"
#include "console/keys.h"
#include "console/stamps.h"
#include "link/channel.h"
#include "link/framing.h"
#include "link/instruments.h"
#include "link/primitives.h"
#include "platform/net.h"
#include "platform/raw_keys.h"
#include "settings/program_settings.h"
#include "settings/settings_table.h"

namespace {

const char* const EQUALS_LINE = "====================================================\n";
const char* const WEB_ADDRESS_LINE = "        https://trimora.example.org\n";

constexpr int KEY_ENTER = 13;

void print_banner() {
  char text[32];
  console_print("Trimora\n");
  console_print("Current Time and Date: %s\n", date_time_stamp(text));
  text[0] = '\0';
  settings.get_value("Last_Run_Time", text, sizeof text);
  console_print_untrusted("Last run: %s\n", text);
  console_print("Version 1.0 (Trimora)\n");
  console_print("%s", WEB_ADDRESS_LINE);
  console_print("\n I N S T R U M E N T    S E T U P\n\n");
}

void print_header_and_menu() {
  char text[32];
  console_print("%s", EQUALS_LINE);
  console_print("Trimora\n");
  console_print("Version 1.1 (Trimora)\n");
  console_print("%s", WEB_ADDRESS_LINE);
  console_print("%s", EQUALS_LINE);
  console_print("Instruments Detected: ( %s )\n", date_time_stamp(text));
  console_print_untrusted("%s\n%s\n", dmm_description, psu_description);
  console_print("%s", EQUALS_LINE);
  console_print("\n");
  console_print("A. Assess Channel Voltage Accuracy\n");
  console_print("C. Factory Current Calibration\n");
  console_print("V. Factory Voltage Calibration\n");
  console_print("F. Do FULL Voltage Calibration with Corrections\n\n");
  console_print("D. Set DP832 IP Address and Port\n");
  console_print("M. Set DMM IP Address and Port\n\n");
  console_print("X. Exit\n\nCommand >");
}

int upper_key(int key) { return key >= 0 && key <= 255 ? std::toupper(key) : key; }

void assess_command() {
  console_print("What channel (1, 2, or 3) to do voltage accuracy assessment on?");
  std::optional<Channel> channel = Channel::from_key(read_key_echo());
  if (!channel) return;
  console_print("\n\n");
  double sum_of_squares = 0.0;
  double rms_error = 0.0;
  begin_recorded_procedure(Procedure::assessment, *channel);
  assess_voltage_accuracy(*channel, sum_of_squares, rms_error, AssessMode::REPORT_ONLY);
  end_recorded_procedure();
}

// C and V: the channel, the wiring reminder and Enter, then the channel's factory calibration.
void factory_command(bool voltage) {
  if (voltage)
    console_print("What channel (1, 2 or 3) to perform regular factory voltage calibration on?");
  else
    console_print("What channel (1, 2 or 3) to perform regular factory current calibration on?");
  std::optional<Channel> channel = Channel::from_key(read_key_echo());
  if (!channel) return;
  // Keys typed before the question is shown never answer it (the keys that got here were read).
  discard_typed_ahead();
  if (voltage)
    console_print("\n\aREADY TO CALIBRATE VOLTAGES ON %s. MAKE SURE DMM IS\n", channel->name());
  else
    console_print("\a\nREADY TO CALIBRATE CURRENT ON %s. MAKE SURE DMM IS\n", channel->name());
  console_print("CONNECTED TO CHANNEL %c OUTPUT TERMINALS, THEN PRESS ENTER:", channel->key());
  if (upper_key(read_key()) != KEY_ENTER) return;
  console_print("\n\n");
  begin_recorded_procedure(voltage ? Procedure::voltage_calibration : Procedure::current_calibration, *channel);
  if (voltage)
    factory_voltage_calibration(*channel, false);
  else
    factory_current_calibration(*channel);
  end_recorded_procedure();
}

// F: only the channels that keep a corrections table.
void full_calibration_command() {
  console_print("What channel (1 or 2) to do voltage calibration with corrections on?");
  std::optional<Channel> channel = Channel::from_key(read_key_echo());
  if (!channel || !channel_group(*channel).corrections) return;
  discard_typed_ahead();
  console_print("\nPress Y to confirm calibration on channel %c:", channel->key());
  if (upper_key(read_key_echo()) != 'Y') return;
  console_print("\n\n");
  begin_recorded_procedure(Procedure::full_voltage_calibration, *channel);
  full_voltage_calibration(*channel);
  end_recorded_procedure();
}

void shut_down() {
  console_print("\n\nExiting...\n\n");
  if (dmm_link != nullptr) dmm_link->close();
  if (psu_link != nullptr) psu_link->close();
  save_program_settings_at_exit();
  write_run_certificates();
}

// A settings file that exists but cannot be read: say so, and contact nobody until the operator has
// seen the addresses. The built-in addresses are a guess at a bench that may not be this one.
void report_unreadable_settings() {
  console_print_untrusted("\a\nWARNING: THE SETTINGS FILE %s CANNOT BE READ: %s.\n", settings_path.c_str(),
                          settings_file_problem().c_str());
  console_print("THE INSTRUMENTS ARE NOT CONTACTED AT THE BUILT-IN ADDRESSES. SET THEM WITH M AND D.\n");
  console_print("THE FILE IS LEFT AS IT IS UNLESS AN ADDRESS IS CHANGED THERE.\n\n");
  std::snprintf(dmm_description, sizeof dmm_description, "%s", "No DMM detected.");
  std::snprintf(psu_description, sizeof psu_description, "%s", "No DP832 detected.");
}

}  // namespace

// Both instruments present, the DMM still reading and the DP832 link still open; otherwise the
// first failure is reported and 0 returned.
int instruments_ready() {
  if (dmm_link == nullptr) {
    console_print("\a\nNo active DMM connection.\n");
    return 0;
  }
  if (psu_link == nullptr) {
    console_print("\a\nNo active DP832 connection.\n");
    return 0;
  }
  int ok = 0;
  dmm_read(ok);
  if (ok <= 0) {
    console_print("\a\nThe connection to the DMM has been lost. Check connections/settings and retry.\n");
    return 0;
  }
  if (!psu_link->is_connected()) {
    console_print("\a\nThe connection to the DP832 has been lost. Check connections/settings and retry.\n");
    return 0;
  }
  return 1;
}

int trimora_main() {
  console_start();
  load_program_settings();
  const DmmFraming* framing = dmm_framing_for(dmm_connect_method);
  dmm_framing = framing != nullptr ? framing : &TELNET_DMM;
  if (!net_startup()) {
    console_print("Error starting Windows sockets; aborting.\n");
    return -1;
  }
  print_banner();
  if (!settings_file_problem().empty()) {
    report_unreadable_settings();
  } else {
    connect_dmm(dmm_host, dmm_port);
    connect_psu(psu_host, psu_port);
  }

  for (;;) {
    // Keys typed while the last command ran never start the next one. Thrown away before the menu
    // is shown, so that a key typed once the prompt is there always counts.
    discard_typed_ahead();
    print_header_and_menu();
    int key = read_key();
    // A key without a character is no command: it does nothing.
    while (is_special_key(key)) key = read_key();
    if (key == KEY_CLOSED) {
      // No more keys can come: end as X does rather than wait forever.
      std::fputs("trimora: console input closed; exiting as with X.\n", stderr);
      break;
    }
    key = upper_key(key);
    console_print("%c\n", key);
    if (key == 'X') break;
    if (key != 'M' && key != 'D' && !instruments_ready()) continue;
    switch (key) {
      case 'A': assess_command(); break;
      case 'C': factory_command(false); break;
      case 'V': factory_command(true); break;
      case 'F': full_calibration_command(); break;
      case 'D': set_psu_address(); break;
      case 'M': set_dmm_address(); break;
      default: console_print("\n\a?Unknown command.\n\n"); break;
    }
  }
  shut_down();
  return 0;
}
