// The program's environment for tests: the console in memory with scripted keys, and either the real
// clock (against the simulated bench on loopback) or a virtual one that waits cost nothing on.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "console/environment.h"
#include "platform/sleep.h"

class TestEnvironment final : public Environment {
 public:
  explicit TestEnvironment(std::function<int()> keys = {}) : console_(std::move(keys)) {}

  Console& console() override { return console_; }
  void sleep_ms(int ms) override {
    if (virtual_clock)
      clock_ms += ms > 0 ? ms : 0;
    else
      ::sleep_ms(ms);
  }
  Clock::time_point now() override {
    return virtual_clock ? Clock::time_point(std::chrono::milliseconds(clock_ms)) : Clock::now();
  }
  ZonedTime local_time() override { return fixed_time ? *fixed_time : zoned_time_now(); }

  std::string& text() { return console_.text; }

  bool virtual_clock = false;
  long long clock_ms = 0;
  std::optional<ZonedTime> fixed_time;  // the local time, when a test fixes it

 private:
  CapturedConsole console_;
};
