// The factory voltage calibration: V-DAC phase, then voltmeter phase.
#include "calibration/calibration_run.h"
#include "calibration/channel_groups.h"
#include "calibration/factory_calibration.h"

// cppcheck-suppress constParameter
CalibrationOutcome factory_voltage_calibration(Bench& bench, Channel channel, ProcedureObserver& observer,
                                               std::span<const double> corrections) {
  const ChannelGroup& group = channel_group(channel);
  const bool corrected = !corrections.empty() && group.corrections && corrections.size() == group.vdac.points.size();
  return run_factory_calibration(
      bench,
      {.channel = channel,
       .clear_command = "CAL:CLEAR %s,V\r\n",
       .phases = {group.vdac, group.vmeter},
       .dac_corrections = corrected ? corrections : std::span<const double>(),
       .record_step = corrected ? 2 : 1,
       .record_title = corrected ? "With corrections" : "Factory voltage calibration",
       .quantity = Quantity::voltage},
      observer);
}
