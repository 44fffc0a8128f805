// The factory current calibration: I-DAC phase, then ammeter phase.
#include "calibration/calibration_run.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "calibration/path_checks.h"

// cppcheck-suppress constParameter
CalibrationOutcome factory_current_calibration(Bench& bench, Channel channel, ProcedureObserver& observer) {
  const ChannelGroup& group = channel_group(channel);
  return run_factory_calibration(bench,
                                 {.channel = channel,
                                  .set_dmm_mode = &Dmm::set_current_mode,
                                  .check_path = check_current_path,
                                  .clear_command = "CAL:CLEAR %s,C\r\n",
                                  .phases = {group.idac, group.imeter},
                                  .dac_corrections = {},
                                  .record_step = 1,
                                  .record_title = "Factory current calibration",
                                  .quantity = Quantity::current},
                                 observer);
}
