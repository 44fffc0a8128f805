// The stop flags shared by the POSIX and the Windows handlers.
#include "platform/stop_request.h"

volatile std::sig_atomic_t stop_interrupts = 0;
volatile std::sig_atomic_t stop_terminate = 0;
volatile std::sig_atomic_t stop_suspend = 0;
volatile std::sig_atomic_t stop_key_wait = 0;

namespace {
int cleanup_depth = 0;
}  // namespace

void stop_request_interrupt() { stop_interrupts = 1; }

int stop_requested() { return stop_interrupts != 0 || stop_terminate != 0 ? 1 : 0; }

void stop_cleanup_begin() { ++cleanup_depth; }

void stop_cleanup_end() {
  if (cleanup_depth > 0) --cleanup_depth;
}

int stop_cuts_waits() { return cleanup_depth == 0 ? stop_requested() : 0; }

void stop_interrupt_taken() { stop_interrupts = 0; }
