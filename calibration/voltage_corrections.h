// Measured-minus-set errors of the last CH1/CH2 assessment, one per point of VDAC_POINTS_12, in volts.
#pragma once

#include <iterator>

#include "calibration/point_tables.h"

extern double voltage_corrections[36];
static_assert(std::size(voltage_corrections) == std::size(VDAC_POINTS_12));
