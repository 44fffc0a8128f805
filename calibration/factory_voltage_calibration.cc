// The factory voltage calibration: V-DAC phase, then voltmeter phase.
#include <iterator>

#include "calibration/calibration_run.h"
#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "calibration/voltage_corrections.h"
#include "link/primitives.h"

namespace {

const char* const VDAC_BANNER = "\n\n### Begin V-DAC Calibration: %s ###\n\n";
const char* const VDAC_SET = "CAL:SET %s,V,%d,%.1lf,1\r\n";
const char* const VDAC_MEASURE = "CAL:MEAS %s,V,%d,%lf,1\r\n";
const char* const VMETER_BANNER = "\n\n### Begin Voltmeter Calibration: %s ###\n\n";
const char* const VMETER_SET = "CAL:SET %s,V,%d,%.1lf,0\r\n";
const char* const VMETER_MEASURE = "CAL:MEAS %s,V,%d,%lf,0\r\n";
const char* const CLEAR_VOLTAGE = "CAL:CLEAR %s,V\r\n";

}  // namespace

void factory_voltage_calibration(const char* channel_name, int use_corrections) {
  const double* corrections = use_corrections != 0 ? voltage_corrections : nullptr;
  CalibrationRun run = {
      channel_name, channel_name[2], dmm_set_voltage_mode, check_voltage_path, CLEAR_VOLTAGE,
      {{VDAC_BANNER, VDAC_SET, VDAC_MEASURE, VDAC_POINTS_12, std::size(VDAC_POINTS_12),
        VDAC_SETTLE_MS, corrections},
       {VMETER_BANNER, VMETER_SET, VMETER_MEASURE, VMETER_POINTS_12, std::size(VMETER_POINTS_12),
        VMETER_SETTLE_MS, nullptr}}};
  run_factory_calibration(run);
}

void factory_voltage_calibration_ch3() {
  CalibrationRun run = {
      "CH3", '3', dmm_set_voltage_mode, check_voltage_path, CLEAR_VOLTAGE,
      {{VDAC_BANNER, VDAC_SET, VDAC_MEASURE, VDAC_POINTS_3, std::size(VDAC_POINTS_3),
        VDAC_SETTLE_CH3_MS, nullptr},
       {VMETER_BANNER, VMETER_SET, VMETER_MEASURE, VMETER_POINTS_3, std::size(VMETER_POINTS_3),
        VMETER_SETTLE_MS, nullptr}}};
  run_factory_calibration(run);
}
