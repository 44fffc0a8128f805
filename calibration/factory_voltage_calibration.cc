// The factory voltage calibration: V-DAC phase, then voltmeter phase.
#include <iterator>

#include "calibration/calibration_run.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"
#include "calibration/voltage_corrections.h"
#include "link/primitives.h"

static_assert(CH12_GROUP.vdac.points.size() == std::size(voltage_corrections));

void factory_voltage_calibration(Channel channel, bool use_corrections) {
  const ChannelGroup& group = channel_group(channel);
  const double* corrections = use_corrections && group.corrections ? voltage_corrections : nullptr;
  run_factory_calibration({.channel = channel,
                           .set_dmm_mode = dmm_set_voltage_mode,
                           .check_path = check_voltage_path,
                           .clear_command = "CAL:CLEAR %s,V\r\n",
                           .phases = {group.vdac, group.vmeter},
                           .dac_corrections = corrections,
                           .record_step = corrections != nullptr ? 2 : 1,
                           .record_title = corrections != nullptr ? "With corrections" : "Factory voltage calibration",
                           .quantity = Quantity::voltage});
}
