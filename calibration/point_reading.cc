#include "calibration/point_reading.h"

#include <numeric>

#include "platform/stop_request.h"

PointReading read_point(Bench& bench) {
  PointReading point{bench.dmm.read(), {}};
  while (point.value && static_cast<int>(point.readings.size()) + 1 < bench.readings_per_point && !stop_requested()) {
    point.readings.push_back(*point.value);
    point.value = bench.dmm.read();
  }
  if (point.value && !point.readings.empty()) {
    point.readings.push_back(*point.value);
    point.value = std::accumulate(point.readings.begin(), point.readings.end(), 0.0) /
                  static_cast<double>(point.readings.size());
  }
  return point;
}
