// The path checks.
#include "calibration/path_checks.h"

#include <cstdio>
#include <vector>

#include "calibration/output_guard.h"
#include "link/primitives.h"

namespace {

constexpr double VOLTAGE_PATH_MIN = 1.5;
constexpr double CURRENT_PATH_MIN = 0.5;
// The current assessment's check: 0.1 A, at least half of it read.
constexpr double SMALL_CURRENT_PATH_AMPS = 0.1;
constexpr double SMALL_CURRENT_PATH_MIN = 0.05;

bool check_path(Bench& bench, Channel channel, int source_volts, double threshold, double limit_amps = 2.0) {
  OutputGuard output(bench.psu, channel);
  bool confirmed = output.on();
  bench.psu.pause(PATH_OUTPUT_ON_WAIT_MS);

  char command[32];
  std::snprintf(command, sizeof command, ":APPL %s,%d,%g\r\n", channel.name(), source_volts, limit_amps);
  confirmed = bench.psu.command_confirmed(command) && confirmed;
  bench.psu.pause(PATH_APPLY_WAIT_MS);

  const Result<double> reading = bench.dmm.read();
  output.off();
  // A source the supply did not confirm may not be what the DMM read: the check fails.
  return confirmed && reading && *reading >= threshold;
}

}  // namespace

bool check_voltage_path(Bench& bench, Channel channel) { return check_path(bench, channel, 5, VOLTAGE_PATH_MIN); }

bool check_current_path(Bench& bench, Channel channel) { return check_path(bench, channel, 3, CURRENT_PATH_MIN); }

bool check_small_current_path(Bench& bench, Channel channel) {
  return check_path(bench, channel, 3, SMALL_CURRENT_PATH_MIN, SMALL_CURRENT_PATH_AMPS);
}

void report_path_failure(Bench& bench, Channel channel, ProcedureObserver& observer) {
  const Result<std::vector<std::string>> errors = bench.psu.read_errors();
  observer.path_check_failed(channel, errors ? *errors : std::vector<std::string>());
}
