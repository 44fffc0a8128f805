// The supply's factory voltage and current calibrations, with the DMM as the reference.
#pragma once

#include "link/channel.h"

// use_corrections adds voltage_corrections to the V-DAC readings, on the channels that keep them.
void factory_voltage_calibration(Channel channel, bool use_corrections);
void factory_current_calibration(Channel channel);
