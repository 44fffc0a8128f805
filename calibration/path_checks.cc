// The path checks.
#include "calibration/path_checks.h"

#include <cstdio>

#include "calibration/output_guard.h"
#include "link/primitives.h"

namespace {

constexpr double VOLTAGE_PATH_MIN = 1.5;
constexpr double CURRENT_PATH_MIN = 0.5;

bool check_path(Bench& bench, Channel channel, int source_volts, double threshold) {
  OutputGuard output(bench.psu, channel);
  output.on();
  bench.psu.pause(PATH_OUTPUT_ON_WAIT_MS);

  char command[32];
  std::snprintf(command, sizeof command, ":APPL %s,%d,2\r\n", channel.name(), source_volts);
  bench.psu.command(command);
  bench.psu.pause(PATH_APPLY_WAIT_MS);

  const Result<double> reading = bench.dmm.read();
  output.off();
  return reading && *reading >= threshold;
}

}  // namespace

bool check_voltage_path(Bench& bench, Channel channel) { return check_path(bench, channel, 5, VOLTAGE_PATH_MIN); }

bool check_current_path(Bench& bench, Channel channel) { return check_path(bench, channel, 3, CURRENT_PATH_MIN); }

void report_path_failure(Bench& bench, Channel channel, ProcedureObserver& observer) {
  observer.path_check_failed(channel, bench.psu.read_errors());
}
