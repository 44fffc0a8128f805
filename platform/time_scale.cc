// The test-only time scale shared by every sleep and socket timeout.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/sleep.h"

namespace {
std::atomic<double> scale{1.0};
constexpr int SHORTEST_SCALED_MS = 10;
}  // namespace

void set_time_scale(double value) { scale = value > 0.0 ? value : 1.0; }

double time_scale() { return scale; }

int scaled_ms(int ms) {
  double s = scale;
  if (ms <= 0 || s >= 1.0) return ms;
  int scaled = static_cast<int>(std::lround(ms * s));
  return std::max(scaled, std::min(ms, SHORTEST_SCALED_MS));
}
