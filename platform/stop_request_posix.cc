// Stop requests on POSIX: SIGINT, SIGTERM and SIGHUP set a flag and nothing else.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/stop_request.h"

namespace {

void on_interrupt(int) { stop_interrupts = 1; }

void on_terminate(int) { stop_terminate = 1; }

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
  take(SIGHUP, on_terminate);
}

// Standard input raises SIGIO when a byte comes or its writer goes away; the run has no other use
// for it, so the signal is a request to stop.
void stop_on_console_input() {
  take(SIGIO, on_interrupt);
  if (fcntl(STDIN_FILENO, F_SETOWN, getpid()) != 0) return;
  const int flags = fcntl(STDIN_FILENO, F_GETFL);
  if (flags >= 0) fcntl(STDIN_FILENO, F_SETFL, flags | O_ASYNC);
}

void stop_program_finished() {}
