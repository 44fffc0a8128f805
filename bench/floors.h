// The floor of each measured procedure: the sum of the sleeps and receive timeouts that the program
// itself prescribes, and of the DMM's measurement time for each reading, against instruments that
// otherwise answer at once. Worked out by replaying the program's instrument traffic step by step with
// the same constants and point tables that the program uses.
#pragma once

#include "settings/program_settings.h"

struct Floors {
  double start_up_ms;          // program start to the first menu (both connect routines)
  double connection_check_ms;  // an unknown key: the connection check and the message
  double voltage_ch3_ms;       // V on CH3, connection check included
  double voltage_ch1_ms;
  double current_ch3_ms;       // C on CH3
  double current_ch1_ms;
  double assess_ch3_ms;        // A on CH3
  double assess_ch1_ms;
  double full_ch1_ms;          // F on CH1
  double current_assess_ch1_ms;  // I on CH1
};

// The pause before every DMM answer that readings once had; the former floors put it back.
constexpr int FORMER_ANSWER_PAUSE_MS = 500;

// The floors when each reading waits reading_wait_ms for its answer after the echo: the DMM's
// measurement time now, or the larger of that and FORMER_ANSWER_PAUSE_MS for the former floors. No
// answer is waited for longer than answer_window_ms, the DMM's reading window (DMM_Timeout_ms).
Floors compute_floors(int reading_wait_ms, int answer_window_ms = DMM_TIMEOUT_DEFAULT_MS);
