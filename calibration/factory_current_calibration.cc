// The factory current calibration: I-DAC phase, then ammeter phase.
#include <iterator>

#include "calibration/calibration_run.h"
#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "link/primitives.h"

namespace {

const char* const IDAC_BANNER = "\n\n### Begin I-DAC Calibration: %s ###\n\n";
const char* const IDAC_SET = "CAL:SET %s,C,%d,%.2lf,1\r\n";
const char* const IDAC_MEASURE = "CAL:MEAS %s,C,%d,%lf,1\r\n";
const char* const IMETER_BANNER = "\n\n### Begin Ammeter Calibration: %s ###\n\n";
const char* const IMETER_SET = "CAL:SET %s,C,%d,%.2lf,0\r\n";
const char* const IMETER_MEASURE = "CAL:MEAS %s,C,%d,%lf,0\r\n";
const char* const CLEAR_CURRENT = "CAL:CLEAR %s,C\r\n";

}  // namespace

void factory_current_calibration(const char* channel_name) {
  CalibrationRun run = {
      channel_name, channel_name[2], dmm_set_current_mode, check_current_path, CLEAR_CURRENT,
      {{IDAC_BANNER, IDAC_SET, IDAC_MEASURE, IDAC_POINTS_12, std::size(IDAC_POINTS_12),
        IDAC_SETTLE_MS, nullptr},
       {IMETER_BANNER, IMETER_SET, IMETER_MEASURE, IMETER_POINTS_12, std::size(IMETER_POINTS_12),
        IMETER_SETTLE_MS, nullptr}}};
  run_factory_calibration(run);
}

void factory_current_calibration_ch3() {
  CalibrationRun run = {
      "CH3", '3', dmm_set_current_mode, check_current_path, CLEAR_CURRENT,
      {{IDAC_BANNER, IDAC_SET, IDAC_MEASURE, IDAC_POINTS_3, std::size(IDAC_POINTS_3),
        IDAC_SETTLE_MS, nullptr},
       {IMETER_BANNER, IMETER_SET, IMETER_MEASURE, IMETER_POINTS_3, std::size(IMETER_POINTS_3),
        IMETER_SETTLE_MS, nullptr}}};
  run_factory_calibration(run);
}
