// The calibration point tables: lengths, order, and the texts their values take in set-point commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>

#include "calibration/point_tables.h"

namespace {

// A table's values joined as the set-point commands write them.
template <std::size_t N>
std::string texts(const double (&table)[N], const char* format) {
  std::string joined;
  for (double value : table) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    if (!joined.empty()) joined += ' ';
    joined += text;
  }
  return joined;
}

template <std::size_t N>
bool strictly_ascending(const double (&table)[N]) {
  for (std::size_t i = 1; i < N; i++)
    if (!(table[i] > table[i - 1])) return false;
  return true;
}

}  // namespace

TEST(PointTables, LengthsOrderAndStart) {
  EXPECT_EQ(std::size(VDAC_POINTS_12), 36u);
  EXPECT_EQ(std::size(VMETER_POINTS_12), 11u);
  EXPECT_EQ(std::size(IDAC_POINTS_12), 15u);
  EXPECT_EQ(std::size(IMETER_POINTS_12), 7u);
  EXPECT_EQ(std::size(VDAC_POINTS_3), 13u);
  EXPECT_EQ(std::size(VMETER_POINTS_3), 11u);
  EXPECT_EQ(std::size(IDAC_POINTS_3), 12u);
  EXPECT_EQ(std::size(IMETER_POINTS_3), 6u);
  EXPECT_EQ(std::size(SWEEP_POINTS_3), 22u);

  EXPECT_TRUE(strictly_ascending(VDAC_POINTS_12));
  EXPECT_TRUE(strictly_ascending(VMETER_POINTS_12));
  EXPECT_TRUE(strictly_ascending(IDAC_POINTS_12));
  EXPECT_TRUE(strictly_ascending(IMETER_POINTS_12));
  EXPECT_TRUE(strictly_ascending(VDAC_POINTS_3));
  EXPECT_TRUE(strictly_ascending(VMETER_POINTS_3));
  EXPECT_TRUE(strictly_ascending(IDAC_POINTS_3));
  EXPECT_TRUE(strictly_ascending(IMETER_POINTS_3));
  EXPECT_TRUE(strictly_ascending(SWEEP_POINTS_3));

  // Meter tables start at zero, DAC tables above it.
  EXPECT_EQ(VMETER_POINTS_12[0], 0.0);
  EXPECT_EQ(IMETER_POINTS_12[0], 0.0);
  EXPECT_EQ(VMETER_POINTS_3[0], 0.0);
  EXPECT_EQ(IMETER_POINTS_3[0], 0.0);
  EXPECT_GT(VDAC_POINTS_12[0], 0.0);
  EXPECT_GT(IDAC_POINTS_12[0], 0.0);
  EXPECT_GT(VDAC_POINTS_3[0], 0.0);
  EXPECT_GT(IDAC_POINTS_3[0], 0.0);

  // Stored values keep their full decimals; only the command text rounds.
  EXPECT_EQ(VMETER_POINTS_3[1], 0.005);
  EXPECT_EQ(VDAC_POINTS_3[3], 0.85);
}

TEST(PointTables, VoltageSetPointTexts) {
  EXPECT_EQ(texts(VDAC_POINTS_12, "%.1lf"),
            "0.2 0.5 1.2 2.0 3.2 4.1 5.2 6.9 7.5 8.7 10.1 11.8 12.6 13.5 15.0 15.8 16.5 17.3 "
            "18.5 19.1 19.9 20.2 20.8 21.8 22.4 22.7 23.9 24.3 25.7 26.9 27.9 28.5 28.9 29.8 "
            "30.2 32.0");
  // Point 1 (0.05) reads like point 2.
  EXPECT_EQ(texts(VMETER_POINTS_12, "%.1lf"), "0.0 0.1 0.1 0.5 1.0 5.0 10.0 12.8 20.0 30.0 32.0");
  // 0.85 and 2.55 are stored just below those decimals: correct rounding gives 0.8 and 2.5.
  EXPECT_EQ(texts(VDAC_POINTS_3, "%.1lf"), "0.1 0.2 0.4 0.8 1.2 1.8 2.5 3.1 3.4 4.1 4.5 5.0 5.3");
  EXPECT_EQ(texts(VMETER_POINTS_3, "%.1lf"), "0.0 0.0 0.0 0.0 0.1 0.1 0.5 1.0 3.0 5.0 5.3");
  // The CH3 assessment sweep, as its :APPL commands write it: 0 V up in steps of 0.25 V.
  EXPECT_EQ(texts(SWEEP_POINTS_3, "%.4lf"),
            "0.0000 0.2500 0.5000 0.7500 1.0000 1.2500 1.5000 1.7500 2.0000 2.2500 2.5000 2.7500 "
            "3.0000 3.2500 3.5000 3.7500 4.0000 4.2500 4.5000 4.7500 5.0000 5.2500");
}

TEST(PointTables, CurrentSetPointTexts) {
  EXPECT_EQ(texts(IDAC_POINTS_12, "%.2lf"),
            "0.10 0.25 0.50 0.80 1.00 1.25 1.50 1.75 1.90 2.15 2.35 2.50 2.75 3.00 3.20");
  EXPECT_EQ(texts(IMETER_POINTS_12, "%.2lf"), "0.00 0.01 0.10 1.00 2.00 3.00 3.20");
  EXPECT_EQ(texts(IDAC_POINTS_3, "%.2lf"),
            "0.10 0.50 1.00 1.25 1.50 1.75 2.00 2.25 2.50 2.75 3.00 3.20");
  EXPECT_EQ(texts(IMETER_POINTS_3, "%.2lf"), "0.00 0.10 1.00 2.00 3.00 3.20");
}
