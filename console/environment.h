// What the program needs of the world around it, as one small interface: the console, the clocks and
// waiting. The program runs on ProgramEnvironment (the terminal, the system's clocks, real sleeps);
// tests hand the same code an environment in memory on a virtual clock.
#pragma once

#include <chrono>

#include "console/console.h"
#include "platform/local_time.h"

class Environment {
 public:
  using Clock = std::chrono::steady_clock;

  Environment() = default;
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  virtual ~Environment() = default;

  virtual Console& console() = 0;
  // Waits ms milliseconds of program time; a stop request may cut the wait short.
  virtual void sleep_ms(int ms) = 0;
  // The clock that such waits advance.
  virtual Clock::time_point now() = 0;
  // The local date and time, with the offset from UTC.
  virtual ZonedTime local_time() = 0;
};

// The real world: the terminal (or a captured console for --quiet and --json), the system's clocks.
class ProgramEnvironment final : public Environment {
 public:
  explicit ProgramEnvironment(Console& console) : console_(console) {}

  Console& console() override { return console_; }
  void sleep_ms(int ms) override;
  Clock::time_point now() override { return Clock::now(); }
  ZonedTime local_time() override { return zoned_time_now(); }

 private:
  Console& console_;
};
