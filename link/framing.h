// How each instrument frames its conversation: what ends a command and a reply line, which lines come
// before an answer, and every drain and reply window around them. The DMM has two framings (a
// telnet-style port and a raw SCPI socket), the DP832 one. The procedures and the benchmark's floors
// both read these values; nothing else holds a copy.
#pragma once

// Readings the DMM must deliver before it is accepted.
constexpr int DMM_READ_CHECKS = 3;

struct DmmFraming {
  const char* method;     // its DMM_Connect_Method value in the settings file
  const char* kind;       // how the console names it
  const char* line_end;   // ends every command
  int terminator;         // ends every reply line
  // A telnet-style port echoes every command line before it answers; a raw socket sends the answer
  // alone.
  bool echoes;
  // A telnet-style port greets on connect; a raw socket says nothing until asked.
  bool greets;
  int connect_drain_ms;   // before the reset at connect
  int reset_drain_ms;     // after the reset at connect
  int command_drain_ms;   // after each mode command and before each reading
  int mode_drain_ms;      // before the reset of the current mode
  int echo_ms;            // per byte of the echo line
  // Per byte of the identification. Without the echo's read before it, a raw socket gets the two
  // windows that a telnet-style port has for its echo and the identification together.
  int identify_ms;
  // To the first byte of a reading's answer. A reading is taken as soon as its answer line is
  // complete; the window is the whole time the DMM has for it: 500 ms for its measurement, and the
  // 2500 ms allowed for any byte.
  int answer_first_ms;
  int answer_ms;          // per byte of the answer after the first
};

inline constexpr DmmFraming TELNET_DMM{"TCP.SCPI", "telnet-style port", "\r", 13, true, true,
                                       100, 10, 10, 100, 100, 100, 3000, 2500};
inline constexpr DmmFraming RAW_DMM{"TCP.RAW", "raw SCPI socket", "\n", 10, false, false,
                                    100, 10, 10, 100, 100, 200, 3000, 2500};

struct PsuFraming {
  const char* line_end;   // ends every command
  int terminator;         // ends the identification
  int connect_drain_ms;   // before the reset at connect
  int reset_drain_ms;     // after the reset
  int command_drain_ms;   // after every command
  int identify_ms;        // per byte of the identification
};

inline constexpr PsuFraming DP832_FRAMING{"\r\n", 10, 100, 10, 100, 500};

// The framing a DMM_Connect_Method value names; null for a value that names none.
const DmmFraming* dmm_framing_for(const char* method);
