// The test-only time scale shared by every sleep and socket timeout.
#include <algorithm>
#include <atomic>

#include "platform/sleep.h"

namespace {
std::atomic<double> scale{1.0};
constexpr int SHORTEST_SCALED_MS = 10;
constexpr int SHORTEST_REPLY_WINDOW_MS = 100;

int scale_down(int ms, int shortest) {
  double s = scale;
  if (ms <= 0 || s >= 1.0) return ms;
  const double exact = ms * s;
  int scaled = static_cast<int>(exact);  // both positive: toward zero, then up from a half
  if (exact - scaled >= 0.5) ++scaled;
  return std::max(scaled, std::min(ms, shortest));
}
}  // namespace

void set_time_scale(double value) { scale = value > 0.0 ? value : 1.0; }

double time_scale() { return scale; }

int scaled_ms(int ms) { return scale_down(ms, SHORTEST_SCALED_MS); }

int scaled_reply_ms(int ms) { return scale_down(ms, SHORTEST_REPLY_WINDOW_MS); }
