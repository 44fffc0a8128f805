// Raw single-key input on POSIX. On a terminal: non-canonical mode without echo (signals kept, so
// Ctrl-C still stops the program), the terminal's settings put back at exit and on SIGINT/SIGTERM,
// and escape sequences decoded into the two-code form. Otherwise bytes are read as they come.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/raw_keys.h"
#include "platform/terminal_keys.h"

namespace {

constexpr int ESC = 27;
constexpr int LEAD_EXTENDED = 224;  // arrows, Home, End, Insert, Delete, PgUp, PgDn, F11, F12
constexpr int LEAD_FUNCTION = 0;    // F1 to F10
constexpr int KEY_UP = 72, KEY_DOWN = 80, KEY_LEFT = 75, KEY_RIGHT = 77;
constexpr int KEY_HOME = 71, KEY_END = 79, KEY_INSERT = 82, KEY_DELETE = 83;
constexpr int KEY_PAGE_UP = 73, KEY_PAGE_DOWN = 81;
constexpr int KEY_F1 = 59, KEY_F6 = 64, KEY_F11 = 133, KEY_F12 = 134;

// How long the rest of an escape sequence may take to arrive before an Esc counts as the Esc key.
constexpr int SEQUENCE_WAIT_MS = 50;

TerminalKey incomplete() { return TerminalKey{0, 0, 0, {0, 0}}; }
TerminalKey single(int used, int code) { return TerminalKey{1, used, 1, {code, 0}}; }
TerminalKey pair(int used, int lead, int code) { return TerminalKey{1, used, 2, {lead, code}}; }
TerminalKey dropped(int used) { return TerminalKey{1, used, 0, {0, 0}}; }

// Sequences ended by a letter: CSI (ESC [) and SS3 (ESC O), with any modifier parameters ignored.
TerminalKey letter_key(int used, int letter) {
  switch (letter) {
    case 'A': return pair(used, LEAD_EXTENDED, KEY_UP);
    case 'B': return pair(used, LEAD_EXTENDED, KEY_DOWN);
    case 'C': return pair(used, LEAD_EXTENDED, KEY_RIGHT);
    case 'D': return pair(used, LEAD_EXTENDED, KEY_LEFT);
    case 'H': return pair(used, LEAD_EXTENDED, KEY_HOME);
    case 'F': return pair(used, LEAD_EXTENDED, KEY_END);
    case 'P': case 'Q': case 'R': case 'S': return pair(used, LEAD_FUNCTION, KEY_F1 + letter - 'P');
    default: return dropped(used);
  }
}

// Sequences of the form ESC [ number ~.
TerminalKey tilde_key(int used, int number) {
  switch (number) {
    case 1: case 7: return pair(used, LEAD_EXTENDED, KEY_HOME);
    case 2: return pair(used, LEAD_EXTENDED, KEY_INSERT);
    case 3: return pair(used, LEAD_EXTENDED, KEY_DELETE);
    case 4: case 8: return pair(used, LEAD_EXTENDED, KEY_END);
    case 5: return pair(used, LEAD_EXTENDED, KEY_PAGE_UP);
    case 6: return pair(used, LEAD_EXTENDED, KEY_PAGE_DOWN);
    case 11: case 12: case 13: case 14: case 15: return pair(used, LEAD_FUNCTION, KEY_F1 + number - 11);
    case 17: case 18: case 19: case 20: case 21: return pair(used, LEAD_FUNCTION, KEY_F6 + number - 17);
    case 23: return pair(used, LEAD_EXTENDED, KEY_F11);
    case 24: return pair(used, LEAD_EXTENDED, KEY_F12);
    default: return dropped(used);
  }
}

// What is left when the input stops inside a sequence: wait for more, or drop what came.
TerminalKey cut_sequence(int length, int more_may_come) {
  if (length >= TERMINAL_SEQUENCE_MAX) return dropped(TERMINAL_SEQUENCE_MAX);
  return more_may_come ? incomplete() : dropped(length);
}

// ESC [ ... : parameter bytes, intermediate bytes, one final byte. Only plain numeric parameters are
// keys; anything else (private markers, mouse or focus reports) is dropped whole.
TerminalKey decode_csi(const unsigned char* bytes, int length, int more_may_come) {
  if (length >= 3 && bytes[2] == '[') {  // the Linux console's F1 to F5: ESC [ [ A to E
    if (length < 4) return cut_sequence(length, more_may_come);
    int letter = bytes[3];
    if (letter >= 'A' && letter <= 'E') return pair(4, LEAD_FUNCTION, KEY_F1 + letter - 'A');
    return letter >= 0x20 && letter <= 0x7e ? dropped(4) : dropped(3);
  }
  int number = 0;
  int in_first_number = 1;
  int plain = 1;
  for (int i = 2; i < length && i < TERMINAL_SEQUENCE_MAX; ++i) {
    int c = bytes[i];
    if (c >= '0' && c <= '9') {
      if (in_first_number && number < 1000) number = number * 10 + (c - '0');
    } else if (c == ';') {
      in_first_number = 0;
    } else if (c >= 0x20 && c <= 0x3f) {
      plain = 0;
    } else if (c >= 0x40 && c <= 0x7e) {
      if (!plain) return dropped(i + 1);
      return c == '~' ? tilde_key(i + 1, number) : letter_key(i + 1, c);
    } else {
      return dropped(i);  // a control or 8-bit byte ends the broken sequence and is a key of its own
    }
  }
  return cut_sequence(length, more_may_come);
}

// ESC O letter, optionally with modifier digits before the letter.
TerminalKey decode_ss3(const unsigned char* bytes, int length, int more_may_come) {
  for (int i = 2; i < length && i < TERMINAL_SEQUENCE_MAX; ++i) {
    int c = bytes[i];
    if ((c >= '0' && c <= '9') || c == ';') continue;
    if (c >= 0x40 && c <= 0x7e) return c == 'M' ? single(i + 1, 13) : letter_key(i + 1, c);
    return dropped(i);
  }
  return cut_sequence(length, more_may_come);
}

}  // namespace

TerminalKey decode_terminal_key(const unsigned char* bytes, int length, int more_may_come) {
  if (length <= 0) return incomplete();
  int first = bytes[0];
  if (first != ESC) {
    if (first == 127) return single(1, 8);  // the terminal's Backspace
    if (first == 10) return single(1, 13);
    return single(1, first);
  }
  if (length < 2) return more_may_come ? incomplete() : single(1, ESC);
  int second = bytes[1];
  if (second == '[') return decode_csi(bytes, length, more_may_come);
  if (second == 'O') return decode_ss3(bytes, length, more_may_come);
  // Esc followed at once by another Esc or a control key: the Esc key, then that key.
  if (second < 32) return single(1, ESC);
  // Esc with a character (Alt and a key): no key of this program's; dropped.
  return dropped(2);
}

namespace {

// All of this is plain data, ready before any constructor runs.
volatile sig_atomic_t raw_mode_on = 0;
volatile sig_atomic_t hung_up = 0;
termios saved_settings;
termios raw_settings;
int settings_saved = 0;
int stdin_kind = -1;  // -1 not yet known, 0 not a terminal, 1 a terminal
int input_closed = 0;

unsigned char pending[2 * TERMINAL_SEQUENCE_MAX];  // bytes read but not yet taken as keys
int pending_length = 0;
int queued[2];  // codes of the last key not yet returned
int queued_count = 0;
int queued_next = 0;

void put_terminal_back() {
  if (raw_mode_on) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    raw_mode_on = 0;
  }
}

// SIGINT, SIGTERM: terminal back as it was, then the signal's usual end of the process.
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
    take_signal(SIGHUP, on_hangup, 0);  // a blocked read returns, so the hang-up is seen at once
    take_signal(SIGCONT, on_continue, 1);
  }
  raw_mode_on = 1;
  // TCSANOW rather than TCSAFLUSH: keys typed ahead are kept.
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw_settings) != 0) raw_mode_on = 0;
}

// Reads what standard input has into pending, waiting at most wait_ms (-1: as long as it takes).
// Bytes read, 0 when the wait ran out, -1 when input has ended (end of file, error, hang-up).
int fill_pending(int wait_ms) {
  for (;;) {
    if (hung_up) return -1;
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
    unsigned char byte;
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) return byte == '\n' ? 13 : byte;
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
  if (queued_next < queued_count) return queued[queued_next++];
  if (input_closed && pending_length == 0) return RAW_KEY_CLOSED;
  if (stdin_kind < 0) stdin_kind = isatty(STDIN_FILENO) ? 1 : 0;
  if (!stdin_kind) return read_plain_byte();
  if (!raw_mode_on && !input_closed) enter_raw_mode();
  for (;;) {
    if (pending_length == 0) {
      if (input_closed || fill_pending(-1) < 0) return close_input();
    }
    TerminalKey key = decode_terminal_key(pending, pending_length, !input_closed);
    if (!key.complete) {
      int got = fill_pending(SEQUENCE_WAIT_MS);
      if (got > 0) continue;
      if (got < 0) input_closed = 1;  // the bytes already read still count; the next call reports it
      key = decode_terminal_key(pending, pending_length, 0);
    }
    pending_length -= key.used;
    std::memmove(pending, pending + key.used, static_cast<size_t>(pending_length));
    if (key.count > 0) {
      queued[0] = key.codes[0];
      queued[1] = key.codes[1];
      queued_count = key.count;
      queued_next = 1;
      return queued[0];
    }
  }
}

void raw_keys_restore() { put_terminal_back(); }

void console_start() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // Already during start-up, before the first key is read and raw mode taken.
  if (isatty(STDIN_FILENO)) take_signal(SIGHUP, on_hangup, 0);
}
