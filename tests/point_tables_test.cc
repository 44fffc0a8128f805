// The calibration point tables: order, and the texts their values take in set-point commands (the
// point number is the index, so a lost, added or moved point changes the dialogue with the supply).
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "calibration/point_tables.h"
#include "tests/calibration_checks.h"

TEST(PointTables, AscendingWithTheirSetPointTexts) {
  struct Table {
    std::span<const double> values;
    const char* format;
    std::string texts;
  } tables[] = {
      {VDAC_POINTS_12, "%.1lf",
       "0.2 0.5 1.2 2.0 3.2 4.1 5.2 6.9 7.5 8.7 10.1 11.8 12.6 13.5 15.0 15.8 16.5 17.3 18.5 19.1 19.9 20.2 20.8 "
       "21.8 22.4 22.7 23.9 24.3 25.7 26.9 27.9 28.5 28.9 29.8 30.2 32.0"},
      {VMETER_POINTS_12, "%.1lf", "0.0 0.1 0.1 0.5 1.0 5.0 10.0 12.8 20.0 30.0 32.0"},  // 0.05 reads as 0.1
      // 0.85 and 2.55 are stored just below those decimals: correct rounding gives 0.8 and 2.5.
      {VDAC_POINTS_3, "%.1lf", "0.1 0.2 0.4 0.8 1.2 1.8 2.5 3.1 3.4 4.1 4.5 5.0 5.3"},
      {VMETER_POINTS_3, "%.1lf", "0.0 0.0 0.0 0.0 0.1 0.1 0.5 1.0 3.0 5.0 5.3"},
      // The CH3 assessment sweep, as its :APPL commands write it: 0 V up in steps of 0.25 V.
      {SWEEP_POINTS_3, "%.4lf",
       "0.0000 0.2500 0.5000 0.7500 1.0000 1.2500 1.5000 1.7500 2.0000 2.2500 2.5000 2.7500 3.0000 3.2500 3.5000 "
       "3.7500 4.0000 4.2500 4.5000 4.7500 5.0000 5.2500"},
      {IDAC_POINTS_12, "%.2lf", "0.10 0.25 0.50 0.80 1.00 1.25 1.50 1.75 1.90 2.15 2.35 2.50 2.75 3.00 3.20"},
      {IMETER_POINTS_12, "%.2lf", "0.00 0.01 0.10 1.00 2.00 3.00 3.20"},
      {IDAC_POINTS_3, "%.2lf", "0.10 0.50 1.00 1.25 1.50 1.75 2.00 2.25 2.50 2.75 3.00 3.20"},
      {IMETER_POINTS_3, "%.2lf", "0.00 0.10 1.00 2.00 3.00 3.20"},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.texts);
    std::string joined;
    for (std::size_t i = 0; i < t.values.size(); i++) {
      joined += (i == 0 ? "" : " ") + text_of(t.format, t.values[i]);
      if (i > 0) {
        EXPECT_GT(t.values[i], t.values[i - 1]) << i;
      }
    }
    EXPECT_EQ(joined, t.texts);
  }
  // Meter tables start at zero, DAC tables above it.
  for (double first : {VMETER_POINTS_12[0], IMETER_POINTS_12[0], VMETER_POINTS_3[0], IMETER_POINTS_3[0]})
    EXPECT_EQ(first, 0.0);
  for (double first : {VDAC_POINTS_12[0], IDAC_POINTS_12[0], VDAC_POINTS_3[0], IDAC_POINTS_3[0]}) EXPECT_GT(first, 0.0);
}
