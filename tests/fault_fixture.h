// Fault injection against the whole program: the simulated bench with faults switched on at a chosen
// key or DMM reading, scripted keys, the console text, each instrument's commands, the run's time.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/trimora.h"
#include "tests/program_fixture.h"

// The value text that "%lf" gives.
inline std::string lf(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%lf", value);
  return text;
}

const std::string UNKNOWN_COMMAND = "\n\a?Unknown command.\n\n";
const std::string DMM_LOST =
    "\a\nThe connection to the DMM has been lost. Check connections/settings and retry.\n";
const std::string PSU_LOST =
    "\a\nThe connection to the DP832 has been lost. Check connections/settings and retry.\n";
const std::string NOT_READING_LINE = "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n";
const std::string NOT_READING = NOT_READING_LINE + "\n";
const std::string DMM_COMM_WARNING = "\aWARNING: DMM communication error.\n";
const std::string EXITING = "\n\nExiting...\n\n";

class FaultTest : public ProgramTest {
 protected:
  long long elapsed_ms = 0;  // real time of the last run()

  void TearDown() override {
    stop_trigger();
    ProgramTest::TearDown();
  }

  // Runs the whole program with the typed keys; its exit code.
  int run(const std::string& typed) {
    keys(typed);
    const auto start = Clock::now();
    int code = trimora_main(env, settings);
    elapsed_ms = ms_since(start);
    stop_trigger();
    return code;
  }

  // Another run in the same test: no links, a new bench with nothing scripted, received or faulty, no hooks.
  void fresh_run() {
    stop_trigger();
    out.clear();
    before_key.clear();
    keys_read = 0;
    key_queue.clear();
    dmm().drop();
    psu().drop();
    bench.reset();
    start_bench();
  }

  // The text of the last menu command before X: it must be the unknown command, so the check passed.
  void expect_last_check_passed(int code) {
    EXPECT_EQ(code, 0);
    const std::size_t last = out.rfind("Command >X\n");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(out.substr(last), "Command >X\n" + EXITING + certificate_line());
    const std::size_t previous = out.rfind("Command >", last - 1);
    ASSERT_NE(previous, std::string::npos);
    EXPECT_EQ(out.compare(previous, 9 + 2 + UNKNOWN_COMMAND.size(), "Command >Z\n" + UNKNOWN_COMMAND), 0)
        << out.substr(previous);
  }

  // Once the DMM has received `after` more READ? commands, its faults become `faults` (from the next
  // reading on), and a measurement time of 0 or more replaces the meter's.
  struct FaultStep {
    int after;
    SimDmmFaults faults;
    int measurement_time_ms = -1;
  };

  // Applies the steps in order while the program runs (its next READ? is a pause and a settle wait away,
  // far longer than this watcher's polling).
  void fault_schedule(const std::vector<FaultStep>& steps) {
    stop_trigger();
    const int base = reads();
    stop_ = false;
    trigger_ = std::thread([this, base, steps]() {
      for (const FaultStep& step : steps) {
        while (!stop_ && reads() < base + step.after) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (stop_) return;
        if (step.measurement_time_ms >= 0) bench->set_measurement_time_ms(step.measurement_time_ms);
        bench->set_dmm_faults(step.faults);
      }
    });
  }

  void faults_after_reading(int n, const SimDmmFaults& faults, int time_ms = -1) {
    fault_schedule({{n, faults, time_ms}});
  }

  void stop_trigger() {
    stop_ = true;
    if (trigger_.joinable()) trigger_.join();
  }

  // The longest the run may take with every wait at its timeout, for the traffic seen: each READ? 3110 ms
  // (drain, first line, pause, silent answer), each DP832 command 100 ms, each of `steps` procedure steps
  // 1200 ms of settle and pauses, plus the start-up; then the time scale, with room for a loaded machine.
  long long bound_ms(int steps) const {
    const long long program_ms = 3110LL * reads() + 100LL * static_cast<long long>(psu_lines().size()) +
                                 1200LL * steps + 8000;
    return static_cast<long long>(program_ms * time_scale() * 1.5) + 3000;
  }

  // The lines after Exiting when the run left records: the supply's certificate, a draft without a lab
  // file, the first number of the year of the run's first record (as the first Record line shows it), and
  // why it has no DCC; else empty.
  std::string certificate_line() const {
    const std::string marker = "Record: records/";
    std::size_t at = out.find(marker);
    if (at == std::string::npos) return "";
    const std::string year = out.substr(at + marker.size(), 4);
    return "Certificate (draft: laboratory, customer, responsible person, ambient conditions, reference "
           "traceability): records/certificate_TRIMORA-" + year + "-0001.html\n"
           "No DCC: a draft certificate lacks what a DCC must hold.\n";
  }
  // The certificate page's path in those lines.
  static std::string certificate_path(const std::string& lines) {
    const std::size_t at = lines.find("records/certificate_");
    return lines.substr(at, lines.find(".html", at) + 5 - at);
  }

  // The console text from the first occurrence of marker on (empty when it is missing).
  std::string after(const std::string& marker) const {
    std::size_t at = out.find(marker);
    return at == std::string::npos ? std::string() : out.substr(at);
  }

 private:
  std::thread trigger_;
  std::atomic<bool> stop_{false};
};
