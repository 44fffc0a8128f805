// The path checks.
#include "calibration/path_checks.h"

#include <cstdio>
#include <string>
#include <vector>

#include "calibration/output_guard.h"
#include "link/primitives.h"

namespace {

// What the test source should show on the DMM, within a band wide enough for an uncalibrated
// channel and narrow enough that the other quantity never passes (3 V read in place of 2 A, 2 A in
// place of 5 V).
struct PathTest {
  int source_volts;
  double low;
  double high;
  const char* expected;
  double limit_amps = 2.0;
};

constexpr PathTest VOLTAGE_PATH = {5, 3.0, 7.0, "about 5 V"};
constexpr PathTest CURRENT_PATH = {3, 1.2, 2.8, "about 2 A"};
// The current assessment's check: 0.1 A, at least half of it read.
constexpr PathTest SMALL_CURRENT_PATH = {3, 0.05, 0.14, "about 0.1 A", 0.1};

PathCheck check_path(Bench& bench, Channel channel, const PathTest& test) {
  OutputGuard output(bench.psu, channel);
  bool confirmed = output.on();
  bench.psu.pause(PATH_OUTPUT_ON_WAIT_MS);

  char command[32];
  std::snprintf(command, sizeof command, ":APPL %s,%d,%g\r\n", channel.name(), test.source_volts, test.limit_amps);
  confirmed = bench.psu.command_confirmed(command) && confirmed;
  bench.psu.pause(PATH_APPLY_WAIT_MS);

  const Result<double> reading = bench.dmm.read();
  output.off();
  // A source the supply did not confirm may not be what the DMM read: the check fails.
  if (!confirmed) return {Status::failure("the supply did not confirm the test source")};
  if (!reading) return {reading.status(), true};
  if (*reading < test.low || *reading > test.high) {
    char text[96];
    std::snprintf(text, sizeof text, "the DMM read %g where %s was expected", *reading, test.expected);
    return {Status::failure(text)};
  }
  return {Status::success()};
}

}  // namespace

PathCheck check_voltage_path(Bench& bench, Channel channel) { return check_path(bench, channel, VOLTAGE_PATH); }

PathCheck check_current_path(Bench& bench, Channel channel) { return check_path(bench, channel, CURRENT_PATH); }

PathCheck check_small_current_path(Bench& bench, Channel channel) {
  return check_path(bench, channel, SMALL_CURRENT_PATH);
}

PathCheck checked_path(Bench& bench, Channel channel, Quantity quantity) {
  const bool amps = quantity == Quantity::current;
  const Status function = amps ? bench.dmm.set_current_mode() : bench.dmm.set_voltage_mode();
  if (!function) return {function, true, true};
  return amps ? check_current_path(bench, channel) : check_voltage_path(bench, channel);
}

std::string path_failure_reason(Channel channel, const PathCheck& path) {
  if (path.function_failed) return "the DMM could not be set to its function: " + path.status.reason();
  return std::string("the DMM is not reading from ") + channel.name() + " (path check failed: " +
         path.status.reason() + ")";
}

void report_path_failure(Bench& bench, Channel channel, const PathCheck& path, ProcedureObserver& observer) {
  if (path.function_failed) {
    // Nothing was sent to the supply: its error queue has nothing to say about this.
    observer.dmm_function_failed(path.status.reason());
    return;
  }
  const Result<std::vector<std::string>> errors = bench.psu.read_errors();
  observer.path_check_failed(channel, errors ? *errors : std::vector<std::string>(),
                             path.dmm_failed ? path.status.reason() : std::string());
}
