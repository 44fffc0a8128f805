// The supply's own meters: what it reads back on a channel's output.
#pragma once

#include "calibration/run_result.h"
#include "link/channel.h"
#include "link/psu.h"

// Asks the supply once for the channel's output as its own meter reads it (":MEAS:VOLT? CH3" or
// ":MEAS:CURR? CH3") and waits for nothing but the answer. The value in V or A; NaN when the supply is
// absent or gave no usable answer.
double supply_readback(Psu& psu, Channel channel, Quantity quantity);
