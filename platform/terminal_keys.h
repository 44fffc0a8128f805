// Turning a terminal's input bytes into key codes: single bytes as they are (DEL 127 as Backspace 8,
// line feed as Enter 13), and the escape sequences of arrows, Home, End, Insert, Delete, PgUp, PgDn
// and F1 to F12 into the two-code form of raw_key_read. Pure, so that it can be tested without a
// terminal; raw_keys_posix.cc feeds it (the Windows console hands out key codes of its own).
#pragma once

// The first key found at the start of a terminal's input.
struct TerminalKey {
  int complete;  // 0: the bytes may be the start of a longer sequence whose rest could still come
  int used;      // bytes that make up the key (taken off the input), when complete
  int count;     // codes it gives: 0 (an unknown sequence, dropped whole), 1 or 2
  int codes[2];  // the codes; two for lead code (0 or 224) and the key's own code
};

// Decodes the first key of bytes[0 .. length). more_may_come says whether further bytes could still
// arrive shortly; without them an Esc standing alone is the Esc key and a cut sequence is dropped.
TerminalKey decode_terminal_key(const unsigned char* bytes, int length, int more_may_come);

// The longest escape sequence taken; a longer one is dropped in pieces of this size.
constexpr int TERMINAL_SEQUENCE_MAX = 32;
