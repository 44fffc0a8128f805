// The calibration point tables. A point's index is the point number sent to the supply, so the order
// and the length of every table are part of the calibration dialogue.
#pragma once

inline constexpr double VDAC_POINTS_12[36] = {
    0.2,  0.5,  1.2,  2.0,  3.2,  4.1,
    5.2,  6.9,  7.5,  8.7,  10.1, 11.8,
    12.6, 13.5, 15.0, 15.8, 16.5, 17.3,
    18.5, 19.1, 19.9, 20.2, 20.8, 21.8,
    22.4, 22.7, 23.9, 24.3, 25.7, 26.9,
    27.9, 28.5, 28.9, 29.8, 30.2, 32.0};

inline constexpr double VMETER_POINTS_12[11] = {
    0.0, 0.05, 0.1, 0.5, 1.0, 5.0, 10.0, 12.8, 20.0, 30.0, 32.0};

inline constexpr double IDAC_POINTS_12[15] = {
    0.1, 0.25, 0.5, 0.8, 1.0, 1.25, 1.5, 1.75, 1.9, 2.15, 2.35, 2.5, 2.75, 3.0, 3.2};

inline constexpr double IMETER_POINTS_12[7] = {0.0, 0.01, 0.1, 1.0, 2.0, 3.0, 3.2};

inline constexpr double VDAC_POINTS_3[13] = {
    0.1, 0.2, 0.4, 0.85, 1.2, 1.8, 2.55, 3.1, 3.4, 4.1, 4.5, 5.0, 5.3};

inline constexpr double VMETER_POINTS_3[11] = {
    0.0, 0.005, 0.01, 0.02, 0.05, 0.1, 0.5, 1.0, 3.0, 5.0, 5.3};

inline constexpr double IDAC_POINTS_3[12] = {
    0.1, 0.5, 1.0, 1.25, 1.5, 1.75, 2.0, 2.25, 2.5, 2.75, 3.0, 3.2};

inline constexpr double IMETER_POINTS_3[6] = {0.0, 0.1, 1.0, 2.0, 3.0, 3.2};

// The set points of the CH3 voltage accuracy assessment: k * 0.25 V for k = 0 to 21, each exact in
// binary64.
inline constexpr double SWEEP_POINTS_3[22] = {
    0.0,  0.25, 0.5,  0.75, 1.0,  1.25, 1.5,  1.75, 2.0,  2.25, 2.5,
    2.75, 3.0,  3.25, 3.5,  3.75, 4.0,  4.25, 4.5,  4.75, 5.0,  5.25};

static_assert([] {
  for (int k = 0; k < 22; k++)
    if (SWEEP_POINTS_3[k] != k * 0.25) return false;
  return true;
}());
