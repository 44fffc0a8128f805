// The one corrections table of CH1 and CH2: all zero until an assessment sweep fills it.
#include "calibration/voltage_corrections.h"

double voltage_corrections[36] = {};
