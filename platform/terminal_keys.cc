// Decoding of a terminal's input bytes into key codes: bytes in, codes out, no I/O and no timing.
#include "platform/terminal_keys.h"

namespace {

constexpr int ESC = 27;
constexpr int LEAD_EXTENDED = 224;  // arrows, Home, End, Insert, Delete, PgUp, PgDn, F11, F12
constexpr int LEAD_FUNCTION = 0;    // F1 to F10
constexpr int KEY_UP = 72, KEY_DOWN = 80, KEY_LEFT = 75, KEY_RIGHT = 77;
constexpr int KEY_HOME = 71, KEY_END = 79, KEY_INSERT = 82, KEY_DELETE = 83;
constexpr int KEY_PAGE_UP = 73, KEY_PAGE_DOWN = 81;
constexpr int KEY_F1 = 59, KEY_F6 = 64, KEY_F11 = 133, KEY_F12 = 134;

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
