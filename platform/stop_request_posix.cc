// Stop requests on POSIX: SIGINT, SIGTERM and SIGHUP set a flag and nothing else.
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

void stop_program_finished() {}
