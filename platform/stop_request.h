// The operator's and the system's requests to stop: Ctrl+C (SIGINT, or the key itself), and on POSIX
// SIGTERM, SIGQUIT (Ctrl+\) and SIGHUP, and job control's Ctrl+Z (SIGTSTP); on Windows Ctrl+C,
// Ctrl+Break and the console's close. The handlers only set flags; the procedures and the waits look
// at them. POSIX in stop_request_posix.cc, Windows in stop_request_win32.cc, the shared flags in
// stop_request.cc.
#pragma once

#include <csignal>

// Counted by the handlers, read by everyone.
extern volatile std::sig_atomic_t stop_interrupts;  // Ctrl+C presses not yet taken up
extern volatile std::sig_atomic_t stop_terminate;   // the program must end (SIGTERM, SIGQUIT, SIGHUP, close)
// POSIX job control: Ctrl+Z (SIGTSTP) has asked to stop the process. That is done only while the
// program waits for a key (raw_keys.h), the one moment where nothing is half-done; a Ctrl+Z that comes
// at any other time first stops the work under way as Ctrl+C does.
extern volatile std::sig_atomic_t stop_suspend;
extern volatile std::sig_atomic_t stop_key_wait;  // 1 while the program waits for a key

// Installs the handlers (once; a signal that whoever started the program set to be ignored stays
// ignored).
void stop_handlers_install();

// For unattended runs, which read no keys: from now on a key, or the end of standard input, that comes
// during the run stops it as Ctrl+C does. On a terminal the program holds in the foreground, the run
// puts it into single-key mode (no echo, no waiting for Enter; put back at exit) so that any key counts.
// Input already waiting, or a standard input that is a file, stops nothing.
void stop_on_console_input();

// Stops the process for job control now, as the signal's usual action does (POSIX; nothing on Windows).
void stop_suspend_now();

// Ctrl+C read as a key: the same as the signal.
void stop_request_interrupt();

// 1 while a stop of either kind waits to be taken up.
int stop_requested();

// While a clean-up runs (switching the output off, closing a calibration), waits are not cut short
// by a stop, so that a second Ctrl+C cannot skip a step of it.
void stop_cleanup_begin();
void stop_cleanup_end();

// A clean-up for as long as it lives.
class StopCleanup {
 public:
  StopCleanup() { stop_cleanup_begin(); }
  ~StopCleanup() { stop_cleanup_end(); }
  StopCleanup(const StopCleanup&) = delete;
  StopCleanup& operator=(const StopCleanup&) = delete;
};

// 1 when a wait should end early: a stop is requested and no clean-up runs.
int stop_cuts_waits();

// Takes up the pending Ctrl+C presses (the procedure has been aborted); a termination stays.
void stop_interrupt_taken();

// Windows: the program has finished its clean-up, so a console close handler may let it go.
void stop_program_finished();
