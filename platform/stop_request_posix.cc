// Stop requests on POSIX: SIGINT, SIGTERM, SIGQUIT, SIGHUP and SIGTSTP set a flag and nothing else.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/raw_keys.h"
#include "platform/stop_request.h"

namespace {

void on_interrupt(int) { stop_interrupts = 1; }

void on_terminate(int) { stop_terminate = 1; }

// Ctrl+Z. Stopped half-way, a procedure would leave the supply's output on and its calibration session
// open for as long as the job stays stopped. Turning the terminal's suspend key off while a procedure
// runs would need every procedure to say when it starts and ends, and would still leave `kill -TSTP`;
// the signal itself is simpler to make safe: while the program waits for a key nothing is half-done,
// so the key wait stops the process (raw_keys_posix.cc); at any other time the work under way is
// first stopped as by Ctrl+C (output off, calibration closed, record marked), and the process stops
// at the next key wait, the menu's. An unattended run waits for no key: it ends as stopped.
void on_suspend(int) {
  stop_suspend = 1;
  if (!stop_key_wait) stop_interrupts = 1;
}

// Without SA_RESTART: a blocked read or wait returns at once, and its caller sees the flag.
void take(int signal_number, void (*handler)(int)) {
  struct sigaction current;
  if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_handler = handler;
  sigemptyset(&ours.sa_mask);
  ours.sa_flags = 0;
  sigaction(signal_number, &ours, nullptr);
}

}  // namespace

void stop_handlers_install() {
  static int installed = 0;
  if (installed) return;
  installed = 1;
  take(SIGINT, on_interrupt);
  take(SIGTERM, on_terminate);
  take(SIGQUIT, on_terminate);  // Ctrl+\: no core dump in the middle of a procedure, but its clean-up
  take(SIGHUP, on_terminate);
  take(SIGTSTP, on_suspend);
}

void stop_suspend_now() {
  stop_suspend = 0;
  struct sigaction ours;
  if (sigaction(SIGTSTP, nullptr, &ours) != 0) return;
  struct sigaction usual = ours;
  usual.sa_handler = SIG_DFL;
  sigaction(SIGTSTP, &usual, nullptr);
  // The usual action, which the system skips for a process group that no shell could continue. (kill
  // rather than raise, which the static checks take for a function that never returns.)
  kill(getpid(), SIGTSTP);
  sigaction(SIGTSTP, &ours, nullptr);
}

// Standard input raises SIGIO when a byte comes or its writer goes away; the run has no other use
// for it, so the signal is a request to stop. A terminal in line mode would raise it only at Enter.
void stop_on_console_input() {
  // A run started in the background (`&`) on a terminal set to `stty tostop` would otherwise be
  // stopped by its next line of output, its supply's output on.
  struct sigaction current;
  if (sigaction(SIGTTOU, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    std::signal(SIGTTOU, SIG_IGN);
  const int single_keys = raw_keys_single_key_mode();
  take(SIGIO, on_interrupt);
  if (fcntl(STDIN_FILENO, F_SETOWN, getpid()) != 0) return;
  const int flags = fcntl(STDIN_FILENO, F_GETFL);
  if (flags >= 0) fcntl(STDIN_FILENO, F_SETFL, flags | O_ASYNC);
  // Keys typed before the run began stop nothing.
  if (single_keys) raw_keys_discard_typed_ahead();
}

void stop_program_finished() {}
