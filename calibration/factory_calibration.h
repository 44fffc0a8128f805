// The supply's factory voltage and current calibrations, with the DMM as the reference.
#pragma once

#include <span>

#include "calibration/bench.h"
#include "calibration/calibration_run.h"
#include "calibration/procedure_observer.h"
#include "link/channel.h"

// corrections, when given (one per V-DAC point, on the channels that keep them), are added to the
// V-DAC readings before they are reported.
CalibrationOutcome factory_voltage_calibration(Bench& bench, Channel channel, ProcedureObserver& observer,
                                               std::span<const double> corrections = {});
CalibrationOutcome factory_current_calibration(Bench& bench, Channel channel, ProcedureObserver& observer);
