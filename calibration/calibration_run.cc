// The common course of both factory calibrations.
#include "calibration/calibration_run.h"

#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "calibration/run_recording.h"
#include "console/console.h"
#include "console/stamps.h"
#include "link/primitives.h"
#include "platform/sleep.h"

namespace {

// The supply's link went away during the run: nothing more can reach it, not even the end of the
// calibration, so the run stops here and says so instead of showing commands that go nowhere.
void report_lost_supply(const char* name) {
  console_print("\a\nERROR: THE CONNECTION TO THE DP832 HAS BEEN LOST. THE CALIBRATION OF %s IS INCOMPLETE:\n"
                "CHECK THE SUPPLY, RECONNECT IT (D) AND REPEAT THE CALIBRATION.\n\n",
                name);
}

// Runs one phase, adding the corrections (one per point) to its readings when they are given;
// returns how many of its points got no measurement. lost becomes true when the supply's link is
// gone, and the phase ends there.
int run_phase(const char* name, const CalibrationPhase& phase, const double* corrections, char* command,
              std::size_t size, bool& lost) {
  int missed = 0;
  console_print(phase.texts->banner, name);
  record_phase(phase.texts->record_name);
  for (std::size_t i = 0; i < phase.points.size(); i++) {
    int point = static_cast<int>(i);
    if (!psu_connected()) {
      lost = true;
      return missed;
    }
    std::snprintf(command, size, phase.texts->set_format, name, point, phase.points[i]);
    psu_command(command);
    console_print("[%2d] %s", point, command);
    sleep_ms(phase.settle_ms);

    const double set = value_sent(command);
    int ok = 0;
    double value = dmm_read(ok);
    const std::optional<double> reading = ok != 0 ? std::optional<double>(value) : std::nullopt;
    if (!psu_connected()) {
      record_calibration_point(set, reading, std::nullopt, false);
      lost = true;
      return missed;
    }
    if (ok != 0) {
      if (corrections != nullptr) {
        value += corrections[i];
        console_print("CORRECTION: %7.4lf mV", corrections[i] * 1000.0);
      }
      std::snprintf(command, size, phase.texts->measure_format, name, point, value);
      psu_command(command);
      console_print("[%2d] %s", point, command);
      record_calibration_point(set, reading, value_sent(command), psu_connected() != 0);
    } else {
      // No reading: reporting a made-up value would calibrate the supply to it, so the point is
      // left without a measurement.
      missed++;
      console_print("\aWARNING: DMM communication error.\n");
      record_calibration_point(set, std::nullopt, std::nullopt, false);
    }
  }
  return missed;
}

}  // namespace

void run_factory_calibration(const CalibrationRun& run) {
  char command[128];
  const char* name = run.channel.name();

  run.set_dmm_mode();
  if (run.check_path(run.channel) == 0) {
    console_print("\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
    note_incomplete(std::string(run.record_title) + ": the DMM is not reading from " + name +
                    " (path check failed)");
    return;
  }
  record_step(StepKind::calibration, run.record_step, run.record_title, run.quantity,
              run.dac_corrections != nullptr);
  if (run.dac_corrections != nullptr) record_corrections(run.phases[0].points, run.dac_corrections);

  std::snprintf(command, sizeof command, "CAL:START 27384,%s\r\n", name);
  psu_command(command);
  std::snprintf(command, sizeof command, run.clear_command, name);
  psu_command(command);
  psu_command("*RST\r\n");
  console_print("%s output ON...\n", name);
  std::snprintf(command, sizeof command, "OUTPUT %s,ON\r\n", name);
  psu_command(command);

  int missed = 0;
  int total = 0;
  bool lost = false;
  for (std::size_t p = 0; p < std::size(run.phases); p++) {
    const CalibrationPhase& phase = run.phases[p];
    const double* corrections = p == 0 ? run.dac_corrections : nullptr;
    if (!lost) missed += run_phase(name, phase, corrections, command, sizeof command, lost);
    total += static_cast<int>(phase.points.size());
  }
  if (lost) {
    report_lost_supply(name);
    note_incomplete(std::string(run.record_title) + ": the connection to the DP832 was lost");
    return;
  }

  console_print("%s output OFF...\n", name);
  std::snprintf(command, sizeof command, "OUTPUT %s,OFF\r\n", name);
  psu_command(command);

  char date[32];
  date_stamp(date);
  std::snprintf(command, sizeof command, "CAL:END %s,%s\r\n", date, name);
  psu_command(command);
  console_print("%s", command);

  if (missed > 0) {
    console_print("\aWARNING: %d OF %d POINTS HAD NO DMM MEASUREMENT AND WERE NOT REPORTED TO THE "
                  "SUPPLY.\nTHE CALIBRATION OF %s IS INCOMPLETE: REPEAT IT.\n",
                  missed, total, name);
    note_incomplete(std::string(run.record_title) + ": " + std::to_string(missed) + " of " +
                    std::to_string(total) + " points had no DMM measurement and were not reported to the supply");
  } else {
    record_step_completed();
  }
}
