// The pacing of the instrument traffic, and the reading a DMM answer holds.
#pragma once

#include "link/framing.h"
#include "platform/status.h"

// Pacing, in milliseconds (program time); the DMM's as on a telnet-style port (link/framing.h).
constexpr int PSU_DRAIN_MS = DP832_FRAMING.command_drain_ms;      // after every DP832 command
constexpr int DMM_DRAIN_MS = TELNET_DMM.command_drain_ms;         // around DMM commands
constexpr int DMM_FIRST_LINE_MS = TELNET_DMM.echo_ms;             // per byte of the echo line
constexpr int DMM_ANSWER_FIRST_MS = TELNET_DMM.answer_first_ms;  // to the first byte of the answer
constexpr int DMM_ANSWER_TIMEOUT_MS = TELNET_DMM.answer_ms;       // per byte of the answer after that
constexpr int PATH_OUTPUT_ON_WAIT_MS = 200;  // path check: after switching the output on
constexpr int PATH_APPLY_WAIT_MS = 100;      // path check: after applying the test source

// The supply's answer to *OPC? after a command that changes an output or a calibration point, per byte
// as for its other answers.
constexpr int PSU_CONFIRM_MS = DP832_FRAMING.identify_ms;

// A lost supply: the new connection, the output switched off and the calibration ended, all within this.
constexpr int PSU_RECOVERY_MS = 5000;
// The part of it that the connect may take; the rest is for the commands after it.
constexpr int PSU_RECONNECT_MS = 3500;

// The supply's error queue: at most this many SYST:ERR? questions, each answer awaited this long,
// and no new question once this much time has passed since the first.
constexpr int SUPPLY_ERRORS_MAX = 20;
constexpr int SUPPLY_ERROR_ANSWER_MS = 500;
constexpr int SUPPLY_ERRORS_TIME_MS = 3000;

// The last step of a reading: the answer line as read_reply left it in buffer, r being read_reply's
// result. The number the answer holds, or a failure when nothing came, the link failed or the answer
// holds no usable number.
Result<double> dmm_reading_from_reply(const char* buffer, int r);
