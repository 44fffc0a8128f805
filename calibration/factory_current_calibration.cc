// The factory current calibration: I-DAC phase, then ammeter phase.
#include "calibration/calibration_run.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "link/primitives.h"

void factory_current_calibration(Channel channel) {
  const ChannelGroup& group = channel_group(channel);
  run_factory_calibration({.channel = channel,
                           .set_dmm_mode = dmm_set_current_mode,
                           .check_path = check_current_path,
                           .clear_command = "CAL:CLEAR %s,C\r\n",
                           .phases = {group.idac, group.imeter},
                           .dac_corrections = nullptr,
                           .record_step = 1,
                           .record_title = "Factory current calibration",
                           .quantity = Quantity::current});
}
