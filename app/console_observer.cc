// The procedures' console texts.
#include "app/console_observer.h"

#include <cmath>
#include <cstdio>
#include <string>

void ConsoleObserver::pause_for_key(const char* prompt) {
  console_.print("%s", prompt);
  console_.read_key();  // any key, or a closed console: either way the pause ends here
  console_.print("\n");
}

void ConsoleObserver::phase_begun(const PhaseTexts& texts, Channel channel) {
  console_.print(texts.banner, channel.name());
}

void ConsoleObserver::output_switched_on(Channel channel) { console_.print("%s output ON...\n", channel.name()); }

void ConsoleObserver::output_switched_off(Channel channel) { console_.print("%s output OFF...\n", channel.name()); }

void ConsoleObserver::supply_errors(Channel channel, ErrorContext context, const std::vector<std::string>& errors) {
  if (errors.empty()) return;
  for (const std::string& error : errors) console_.print_untrusted("\aERROR: THE DP832 REPORTED: %s\n", error);
  const char* name = channel.name();
  switch (context) {
    case ErrorContext::calibration:
      console_.print("THE DP832 DID NOT ACCEPT THE CALIBRATION OF %s: REPEAT THE CALIBRATION.\n\n", name);
      break;
    case ErrorContext::assessment:
      console_.print("THE DP832 REFUSED COMMANDS OF THE ASSESSMENT OF %s: ITS RESULTS DO NOT SHOW THE CHANNEL'S "
                     "ACCURACY. REPEAT IT.\n\n",
                     name);
      break;
    case ErrorContext::path_check:
      console_.print("THE DP832 REFUSED THE COMMANDS THAT SWITCH %s ON: CHECK THE SUPPLY (REMOTE CONTROL, "
                     "PROTECTION) AND REPEAT.\n\n",
                     name);
      break;
  }
}

void ConsoleObserver::path_check_failed(Channel channel, const std::vector<std::string>& errors) {
  if (!errors.empty()) {
    supply_errors(channel, ErrorContext::path_check, errors);
    return;
  }
  console_.print("\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
}

void ConsoleObserver::supply_recovered(Channel channel, const SupplyRecovery& recovery, bool calibration) {
  const char* name = channel.name();
  if (!recovery.reconnected) {
    console_.print(calibration ? "\aWARNING: THE DP832 COULD NOT BE RECONNECTED: %s OUTPUT MAY STILL BE ON AND ITS "
                                 "CALIBRATION OPEN. SWITCH THE OUTPUT OFF AT THE SUPPLY.\n\n"
                               : "\aWARNING: THE DP832 COULD NOT BE RECONNECTED: %s OUTPUT MAY STILL BE ON. SWITCH "
                                 "THE OUTPUT OFF AT THE SUPPLY.\n\n",
                   name);
    return;
  }
  if (recovery.output_off)
    console_.print("THE DP832 WAS RECONNECTED: %s OUTPUT SWITCHED OFF.\n", name);
  else
    console_.print("\aWARNING: THE DP832 WAS RECONNECTED, BUT DID NOT CONFIRM %s OUTPUT OFF. SWITCH THE OUTPUT OFF "
                   "AT THE SUPPLY.\n",
                   name);
  if (!calibration) return;
  if (recovery.calibration_ended)
    console_.print("THE CALIBRATION OF %s WAS ENDED.\n\n", name);
  else
    console_.print("\aWARNING: THE CALIBRATION OF %s COULD NOT BE ENDED.\n\n", name);
}

// The command as sent, without its line end.
void ConsoleObserver::unconfirmed(const char* command, const char* then) {
  std::string text(command);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  console_.print("\aWARNING: THE DP832 DID NOT CONFIRM \"%s\": %s\n", text.c_str(), then);
}

void ConsoleObserver::sweep_point(double set, double error_v) {
  console_.print("Correction: Setpoint %7.4lf V, Error: %7.3lf mV\n", set, error_v * 1000.0);
}

void ConsoleObserver::sweep_stopped(Channel channel) {
  console_.print("\a\nASSESSMENT ABORTED.\n%s output OFF...\n", channel.name());
}

void ConsoleObserver::sweep_supply_lost() {
  console_.print("\a\nERROR: THE CONNECTION TO THE DP832 HAS BEEN LOST. EXITING ROUTINE.\n\n");
}

void ConsoleObserver::sweep_reading_failed() { console_.print("\aERROR: FAILED TO READ FROM DMM. EXITING ROUTINE.\n\n"); }

void ConsoleObserver::sweep_point_unconfirmed(const char* command) {
  unconfirmed(command, "NO READING TAKEN. EXITING ROUTINE.\n");
}

void ConsoleObserver::sweep_reading_wrong() {
  console_.print("\a\nERROR: DMM is not reading correctly.\nIs it connected to the proper supply output?\n");
  console_.print("PROCEDURE ABORTED....PRESS ANY KEY...");
}

void ConsoleObserver::sweep_reading_wrong_acknowledge() { pause_for_key(""); }

void ConsoleObserver::sweep_readback(Verdict verdict, double largest_error_mV) {
  char line[96];
  if (std::isnan(largest_error_mV))
    std::snprintf(line, sizeof line, "Readback: %s, largest error %8s mV\n", verdict_text(verdict), "n/a");
  else
    std::snprintf(line, sizeof line, "Readback: %s, largest error %8.5lf mV\n", verdict_text(verdict), largest_error_mV);
  readback_line_ = line;
}

void ConsoleObserver::sweep_figures(double sum_of_squares, double rms_error) {
  console_.print(" SS Error: %8.5lf mV^2\n", sum_of_squares);
  console_.print("RMS Error: %8.5lf mV\n", rms_error);
  if (!readback_line_.empty()) console_.print("%s", readback_line_.c_str());
  readback_line_.clear();
  console_.print("\n");
}

void ConsoleObserver::calibration_command(int point, const char* command) { console_.print("[%2d] %s", point, command); }

void ConsoleObserver::calibration_reading_implausible(double reading, double set) {
  console_.print("\aWARNING: DMM READING %lf IS FAR FROM THE SET VALUE %g: NOT REPORTED TO THE SUPPLY.\n", reading, set);
}

void ConsoleObserver::calibration_reading_failed() { console_.print("\aWARNING: DMM communication error.\n"); }

void ConsoleObserver::calibration_point_unconfirmed(const char* command) {
  unconfirmed(command, "THE POINT IS NOT REPORTED TO THE SUPPLY.");
}

void ConsoleObserver::calibration_unconfirmed(Channel channel) {
  console_.print("\aWARNING: THE DP832 DID NOT CONFIRM THE CALIBRATION OF %s: ITS ACCEPTANCE IS UNKNOWN. REPEAT "
                 "IT.\n\n",
                 channel.name());
}

void ConsoleObserver::calibration_correction(double correction_v) {
  console_.print("CORRECTION: %7.4lf mV", correction_v * 1000.0);
}

void ConsoleObserver::calibration_supply_lost(Channel channel) {
  console_.print("\a\nERROR: THE CONNECTION TO THE DP832 HAS BEEN LOST. THE CALIBRATION OF %s IS INCOMPLETE:\n"
                 "CHECK THE SUPPLY, RECONNECT IT (D) AND REPEAT THE CALIBRATION.\n\n",
                 channel.name());
}

void ConsoleObserver::calibration_ended(const char* end_command) { console_.print("%s", end_command); }

void ConsoleObserver::calibration_stopped(Channel channel, int missed, int total) {
  console_.print("\aWARNING: THE CALIBRATION WAS ABORTED: %d OF %d POINTS WERE NOT REPORTED TO THE "
                 "SUPPLY.\nTHE CALIBRATION OF %s IS INCOMPLETE: REPEAT IT.\n",
                 missed, total, channel.name());
}

void ConsoleObserver::calibration_points_missed(Channel channel, int missed, int total) {
  console_.print("\aWARNING: %d OF %d POINTS HAD NO DMM MEASUREMENT AND WERE NOT REPORTED TO THE "
                 "SUPPLY.\nTHE CALIBRATION OF %s IS INCOMPLETE: REPEAT IT.\n",
                 missed, total, channel.name());
}

void ConsoleObserver::full_calibration_begun(Channel /*channel*/) {
  console_.print("\n\n** Full Channel Voltage Calibration **\n\nSTEPS: (1) Factory Calibration (2) "
                 "Assessment of Error and Fine Calibration (3) Final Assessment.\n\n");
}

void ConsoleObserver::full_calibration_step(int step, Channel channel) {
  const char key = channel.key();
  switch (step) {
    case 1: console_.print("STEP 1: INITIAL CALIBRATION PER FACTORY SPEC - Channel %c\n", key); break;
    case 2: console_.print("STEP 2: BUILD AND APPLY CORRECTIONS TABLE - Channel %c\n", key); break;
    default: console_.print("STEP 3: REVIEW FINAL CALIBRATION STATUS - Channel %c\n", key); break;
  }
}

void ConsoleObserver::full_calibration_step_failed() {
  pause_for_key("\n\aPROCEDURE ABORTED...Press any key to continue.");
}

// One pair of figures. An assessment that did not complete its sweep leaves its RMS unmeasured and its
// sum of squares unmeasured or partial, so both are shown as not measured then.
void ConsoleObserver::figures(double sum_of_squares, double rms_error, bool last) {
  if (std::isnan(rms_error)) {
    console_.print(" SS Error: %8s mV^2\n", "n/a");
    console_.print(last ? "RMS Error: %8s mV\n" : "RMS Error: %8s mV\n\n", "n/a");
    return;
  }
  console_.print(" SS Error: %8.5lf mV^2\n", sum_of_squares);
  if (last)
    console_.print("RMS Error: %8.5lf mV\n", rms_error);
  else
    console_.print("RMS Error: %8.5lf mV\n\n", rms_error);
}

void ConsoleObserver::full_calibration_summary(const FullCalibrationFigures& figures_found) {
  console_.print("=========================================================\n");
  console_.print("Summary of performance from Factory to Full Calibration\n\n");
  console_.print("FACTORY CALIBRATION:\n");
  figures(figures_found.factory_sum_of_squares, figures_found.factory_rms, false);
  console_.print("ACHIEVED CALIBRATION:\n");
  figures(figures_found.achieved_sum_of_squares, figures_found.achieved_rms, true);
  console_.print("=========================================================\n");
  pause_for_key("\n\aPress any key to continue...");
}
