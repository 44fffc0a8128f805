// Reading the supply's error queue for the observers, and what is done for a supply that was lost.
#include "calibration/supply_errors.h"

#include "link/primitives.h"

Result<std::vector<std::string>> report_supply_errors(Bench& bench, Channel channel, ErrorContext context,
                                                      ProcedureObserver& observer) {
  Result<std::vector<std::string>> errors = bench.psu.read_errors();
  if (errors)
    observer.supply_errors(channel, context, *errors);
  else if (context == ErrorContext::calibration)
    observer.calibration_unconfirmed(channel);
  return errors;
}

std::string recover_lost_supply(Bench& bench, Channel channel, OutputGuard& output, const char* end_command,
                                ProcedureObserver& observer) {
  SupplyRecovery recovery;
  recovery.reconnected = bench.psu.reconnect(PSU_RECONNECT_MS);
  if (recovery.reconnected) {
    recovery.output_off = output.off();
    if (end_command != nullptr && bench.psu.connected()) {
      bench.psu.command(end_command);
      recovery.calibration_ended = bench.psu.connected();
    }
  }
  // The new link was for this alone: the supply stays lost to the program until it is connected anew.
  if (bench.psu.link() != nullptr) bench.psu.link()->close();
  observer.supply_recovered(channel, recovery, end_command != nullptr);
  if (!recovery.reconnected)
    return end_command != nullptr ? "could not reconnect: the output may still be on and the calibration open"
                                  : "could not reconnect: the output may still be on";
  std::string done = "reconnected: ";
  done += recovery.output_off ? "output switched off" : "the output was not confirmed off";
  if (end_command != nullptr) done += recovery.calibration_ended ? ", calibration ended" : ", calibration not ended";
  return done;
}
