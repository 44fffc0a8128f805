// Raw single-key input on POSIX. On a terminal: non-canonical mode without echo (signals kept, so
// Ctrl-C still stops the program), the terminal's settings put back at exit and on SIGINT, SIGTERM and
// SIGQUIT, a job-control stop carried out while a key is awaited, and escape sequences decoded
// (terminal_keys.cc) into the two-code form. Otherwise bytes are read as they come.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/raw_keys.h"
#include "platform/stop_request.h"
#include "platform/terminal_keys.h"

namespace {

// How long the rest of an escape sequence may take to arrive before an Esc counts as the Esc key.
constexpr int SEQUENCE_WAIT_MS = 50;
constexpr int CTRL_C = 3;
constexpr int FILL_STOPPED = -2;

// All of this is plain data, ready before any constructor runs.
volatile sig_atomic_t raw_mode_on = 0;
volatile sig_atomic_t hung_up = 0;
termios saved_settings;
termios raw_settings;
int settings_saved = 0;
int discard_at_restore = 0;  // the unattended run's mode: a key typed during it is not left to the shell
int stdin_kind = -1;  // -1 not yet known, 0 not a terminal, 1 a terminal
int input_closed = 0;

unsigned char pending[2 * TERMINAL_SEQUENCE_MAX];  // bytes read but not yet taken as keys
int pending_length = 0;
int queued[2];  // codes of the last key not yet returned
int queued_count = 0;
int queued_next = 0;

void put_terminal_back() {
  if (raw_mode_on) {
    if (discard_at_restore) tcflush(STDIN_FILENO, TCIFLUSH);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    raw_mode_on = 0;
  }
}

// SIGINT, SIGTERM, SIGQUIT, when the program has not taken them itself (stop_request.h): terminal back
// as it was, then the signal's usual end of the process.
void on_stop_signal(int signal_number) {
  put_terminal_back();
  struct sigaction usual;
  std::memset(&usual, 0, sizeof usual);
  usual.sa_handler = SIG_DFL;
  sigemptyset(&usual.sa_mask);
  sigaction(signal_number, &usual, nullptr);
  raise(signal_number);
}

// SIGHUP: the terminal has gone. Key input ends (the program then ends as it does on closed input)
// instead of the process being killed in the middle of its work.
void on_hangup(int) { hung_up = 1; }

// SIGCONT: back from a stop (Ctrl-Z, then fg), whose shell has set the terminal to its own liking.
// Raw mode again, when the program holds the terminal in the foreground.
void on_continue(int) {
  int saved_errno = errno;
  if (raw_mode_on && tcgetpgrp(STDIN_FILENO) == getpgrp())
    tcsetattr(STDIN_FILENO, TCSANOW, &raw_settings);
  errno = saved_errno;
}

// Installs handler for signal_number unless the program (or whoever started it) chose another one.
// restart: interrupted system calls go on; otherwise they return (a blocked read ends at once).
void take_signal(int signal_number, void (*handler)(int), int restart) {
  struct sigaction current;
  if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_handler = handler;
  sigemptyset(&ours.sa_mask);
  ours.sa_flags = restart ? SA_RESTART : 0;
  sigaction(signal_number, &ours, nullptr);
}

void enter_raw_mode() {
  if (!settings_saved) {
    if (tcgetattr(STDIN_FILENO, &saved_settings) != 0) return;
    settings_saved = 1;
    std::atexit(raw_keys_restore);
    raw_settings = saved_settings;
    raw_settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    raw_settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    raw_settings.c_cc[VMIN] = 1;
    raw_settings.c_cc[VTIME] = 0;
    take_signal(SIGINT, on_stop_signal, 0);
    take_signal(SIGTERM, on_stop_signal, 0);
    take_signal(SIGQUIT, on_stop_signal, 0);
    take_signal(SIGHUP, on_hangup, 0);  // a blocked read returns, so the hang-up is seen at once
    take_signal(SIGCONT, on_continue, 1);
  }
  raw_mode_on = 1;
  // TCSANOW rather than TCSAFLUSH: keys typed ahead are kept.
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw_settings) != 0) raw_mode_on = 0;
}

// Marks a wait for a key (stop_request.h): a Ctrl+Z that comes meanwhile stops the process at once.
struct KeyWait {
  KeyWait() { stop_key_wait = 1; }
  ~KeyWait() { stop_key_wait = 0; }
  KeyWait(const KeyWait&) = delete;
  KeyWait& operator=(const KeyWait&) = delete;
};

// Carries out a pending job-control stop: the terminal as it was while the process is stopped (the
// shell's prompt comes back to a terminal it can use), raw mode again once it goes on.
void suspend_if_asked() {
  if (!stop_suspend) return;
  const int was_raw = raw_mode_on;
  put_terminal_back();
  stop_suspend_now();
  if (was_raw) enter_raw_mode();
}

// Reads what standard input has into pending, waiting at most wait_ms (-1: as long as it takes).
// Bytes read, 0 when the wait ran out, -1 when input has ended (end of file, error, hang-up),
// FILL_STOPPED when a stop was requested.
int fill_pending(int wait_ms) {
  for (;;) {
    if (hung_up) return -1;
    // A stop that the program has taken (stop_request.h) ends this wait for a key, not key input.
    if (stop_requested()) return FILL_STOPPED;
    suspend_if_asked();
    pollfd watch;
    watch.fd = STDIN_FILENO;
    watch.events = POLLIN;
    watch.revents = 0;
    int ready = poll(&watch, 1, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (ready == 0) return 0;
    // Readable, or hung up or failed: read tells which.
    ssize_t got = read(STDIN_FILENO, pending + pending_length,
                       sizeof pending - static_cast<size_t>(pending_length));
    if (got > 0) {
      pending_length += static_cast<int>(got);
      return static_cast<int>(got);
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return -1;
  }
}

int close_input() {
  input_closed = 1;
  return RAW_KEY_CLOSED;
}

// Standard input that is not a terminal: one byte per key, a line feed as Enter.
int read_plain_byte() {
  for (;;) {
    suspend_if_asked();
    unsigned char byte;
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) return byte == '\n' ? 13 : byte;
    if (stop_requested()) return RAW_KEY_CLOSED;  // this wait ends; input stays open
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd watch;
      watch.fd = STDIN_FILENO;
      watch.events = POLLIN;
      watch.revents = 0;
      if (poll(&watch, 1, -1) >= 0 || errno == EINTR) continue;
    }
    return close_input();
  }
}

}  // namespace

int raw_key_read() {
  const KeyWait waiting;
  if (stop_requested()) return RAW_KEY_CLOSED;  // this wait ends; input stays open
  if (queued_next < queued_count) return queued[queued_next++];
  if (input_closed && pending_length == 0) return RAW_KEY_CLOSED;
  if (stdin_kind < 0) stdin_kind = isatty(STDIN_FILENO) ? 1 : 0;
  if (!stdin_kind) return read_plain_byte();
  if (!raw_mode_on && !input_closed) enter_raw_mode();
  for (;;) {
    if (pending_length == 0) {
      int got = input_closed ? -1 : fill_pending(-1);
      if (got == FILL_STOPPED) return RAW_KEY_CLOSED;  // this wait ends; input stays open
      if (got < 0) return close_input();
    }
    TerminalKey key = decode_terminal_key(pending, pending_length, !input_closed);
    if (!key.complete) {
      int got = fill_pending(SEQUENCE_WAIT_MS);
      if (got > 0) continue;
      if (got == -1) input_closed = 1;  // the bytes already read still count; the next call reports it
      key = decode_terminal_key(pending, pending_length, 0);
    }
    pending_length -= key.used;
    std::memmove(pending, pending + key.used, static_cast<size_t>(pending_length));
    if (key.count == 1 && key.codes[0] == CTRL_C) {
      // Ctrl+C as a byte (the terminal's signals turned off): the same as the signal.
      stop_request_interrupt();
      return RAW_KEY_CLOSED;
    }
    if (key.count > 0) {
      queued[0] = key.codes[0];
      queued[1] = key.codes[1];
      queued_count = key.count;
      queued_next = 1;
      return queued[0];
    }
  }
}

void raw_keys_discard_typed_ahead() {
  if (stdin_kind < 0) stdin_kind = isatty(STDIN_FILENO) ? 1 : 0;
  if (!stdin_kind) return;
  // The part of a key already handed out (its second code) goes too: it was typed ahead as well.
  queued_count = 0;
  queued_next = 0;
  pending_length = 0;
  tcflush(STDIN_FILENO, TCIFLUSH);
}

void raw_keys_restore() { put_terminal_back(); }

int raw_keys_single_key_mode() {
  if (stdin_kind < 0) stdin_kind = isatty(STDIN_FILENO) ? 1 : 0;
  // A job in the background leaves the terminal to the shell.
  if (!stdin_kind || tcgetpgrp(STDIN_FILENO) != getpgrp()) return 0;
  discard_at_restore = 1;
  enter_raw_mode();
  return raw_mode_on;
}

void console_start() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // Already during start-up, before the first key is read and raw mode taken.
  if (isatty(STDIN_FILENO)) take_signal(SIGHUP, on_hangup, 0);
}
