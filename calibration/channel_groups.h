// What the procedures need to know of a channel: CH1 and CH2 share one description, CH3 has its own.
// Each holds the tables and settle times of the four factory calibration phases, the set points of
// the voltage accuracy assessment, and whether the channels keep a corrections table.
#pragma once

#include <span>

#include "calibration/point_tables.h"
#include "link/channel.h"

// The texts of one calibration phase: printf formats, the channel name first in each.
struct PhaseTexts {
  const char* banner;
  const char* set_format;      // "CAL:SET ..." with the channel name, point number and set value
  const char* measure_format;  // "CAL:MEAS ..." with the channel name, point number and reading
  const char* record_name;     // the phase's name in the calibration record
};

inline constexpr PhaseTexts VDAC_TEXTS = {.banner = "\n\n### Begin V-DAC Calibration: %s ###\n\n",
                                          .set_format = "CAL:SET %s,V,%d,%.1lf,1\r\n",
                                          .measure_format = "CAL:MEAS %s,V,%d,%lf,1\r\n",
                                          .record_name = "V-DAC"};
inline constexpr PhaseTexts VMETER_TEXTS = {.banner = "\n\n### Begin Voltmeter Calibration: %s ###\n\n",
                                            .set_format = "CAL:SET %s,V,%d,%.1lf,0\r\n",
                                            .measure_format = "CAL:MEAS %s,V,%d,%lf,0\r\n",
                                            .record_name = "V-meter"};
inline constexpr PhaseTexts IDAC_TEXTS = {.banner = "\n\n### Begin I-DAC Calibration: %s ###\n\n",
                                          .set_format = "CAL:SET %s,C,%d,%.2lf,1\r\n",
                                          .measure_format = "CAL:MEAS %s,C,%d,%lf,1\r\n",
                                          .record_name = "I-DAC"};
inline constexpr PhaseTexts IMETER_TEXTS = {.banner = "\n\n### Begin Ammeter Calibration: %s ###\n\n",
                                            .set_format = "CAL:SET %s,C,%d,%.2lf,0\r\n",
                                            .measure_format = "CAL:MEAS %s,C,%d,%lf,0\r\n",
                                            .record_name = "I-meter"};

// One phase: every point of the table is set, left to settle, read on the DMM and reported back.
struct CalibrationPhase {
  const PhaseTexts* texts;
  std::span<const double> points;
  int settle_ms;  // after each set-point command
};

struct ChannelGroup {
  CalibrationPhase vdac;
  CalibrationPhase vmeter;
  CalibrationPhase idac;
  CalibrationPhase imeter;
  std::span<const double> sweep;  // the assessment's set points, in order
  // The sweep fills voltage_corrections, one entry per point, and the V-DAC phase can add them: the
  // sweep and the V-DAC table are then one table.
  bool corrections;
};

inline constexpr ChannelGroup CH12_GROUP = {
    .vdac = {.texts = &VDAC_TEXTS, .points = VDAC_POINTS_12, .settle_ms = 500},
    .vmeter = {.texts = &VMETER_TEXTS, .points = VMETER_POINTS_12, .settle_ms = 200},
    .idac = {.texts = &IDAC_TEXTS, .points = IDAC_POINTS_12, .settle_ms = 500},
    .imeter = {.texts = &IMETER_TEXTS, .points = IMETER_POINTS_12, .settle_ms = 200},
    .sweep = VDAC_POINTS_12,
    .corrections = true};

inline constexpr ChannelGroup CH3_GROUP = {
    .vdac = {.texts = &VDAC_TEXTS, .points = VDAC_POINTS_3, .settle_ms = 200},
    .vmeter = {.texts = &VMETER_TEXTS, .points = VMETER_POINTS_3, .settle_ms = 200},
    .idac = {.texts = &IDAC_TEXTS, .points = IDAC_POINTS_3, .settle_ms = 500},
    .imeter = {.texts = &IMETER_TEXTS, .points = IMETER_POINTS_3, .settle_ms = 200},
    .sweep = SWEEP_POINTS_3,
    .corrections = false};

static_assert(CH12_GROUP.sweep.data() == CH12_GROUP.vdac.points.data() &&
              CH12_GROUP.sweep.size() == CH12_GROUP.vdac.points.size());

constexpr const ChannelGroup& channel_group(Channel channel) {
  return channel == CH3 ? CH3_GROUP : CH12_GROUP;
}
