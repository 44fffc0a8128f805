// Reading the supply's error queue for the observers.
#include "calibration/supply_errors.h"

std::vector<std::string> report_supply_errors(Bench& bench, Channel channel, ErrorContext context,
                                              ProcedureObserver& observer) {
  std::vector<std::string> errors = bench.psu.read_errors();
  observer.supply_errors(channel, context, errors);
  return errors;
}
