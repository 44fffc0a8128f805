// The factory current calibration: I-DAC phase, then ammeter phase.
#include "calibration/calibration_run.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"

// cppcheck-suppress constParameter
CalibrationOutcome factory_current_calibration(Bench& bench, Channel channel, ProcedureObserver& observer) {
  const ChannelGroup& group = channel_group(channel);
  return run_factory_calibration(bench,
                                 {.channel = channel,
                                  .clear_command = "CAL:CLEAR %s,C\r\n",
                                  .phases = {group.idac, group.imeter},
                                  .dac_corrections = {},
                                  .record_step = 1,
                                  .record_title = "Factory current calibration",
                                  .quantity = Quantity::current},
                                 observer);
}
