// Measurement and output primitives: all instrument traffic after identification.
#pragma once

#include "link/channel.h"
#include "link/framing.h"

// Pacing, in milliseconds (program time); the DMM's as on a telnet-style port (link/framing.h).
constexpr int PSU_DRAIN_MS = DP832_FRAMING.command_drain_ms;      // after every DP832 command
constexpr int DMM_DRAIN_MS = TELNET_DMM.command_drain_ms;         // around DMM commands
constexpr int DMM_MODE_DRAIN_MS = TELNET_DMM.mode_drain_ms;       // before the reset of the current mode
constexpr int DMM_FIRST_LINE_MS = TELNET_DMM.echo_ms;             // per byte of the echo line
constexpr int DMM_ANSWER_FIRST_MS = TELNET_DMM.answer_first_ms;  // to the first byte of the answer
constexpr int DMM_ANSWER_TIMEOUT_MS = TELNET_DMM.answer_ms;       // per byte of the answer after that
constexpr int PATH_OUTPUT_ON_WAIT_MS = 200;  // path check: after switching the output on
constexpr int PATH_APPLY_WAIT_MS = 100;      // path check: after applying the test source

constexpr double FAILED_READING = -999999999999.0;

void psu_command(const char* text);
// Sends one DMM command line, ended as the DMM's framing ends it; send_text's result.
int dmm_send(const char* command);
// 1 while the DP832's link is up; 0 once it is gone (the supply closed it or it failed), after which
// no command reaches the supply.
int psu_connected();
void dmm_set_voltage_mode();
void dmm_set_current_mode();
// One DMM reading; ok becomes 1 with the DMM's value, or 0 with FAILED_READING.
double dmm_read(int& ok);
// The last step of a reading: the answer line as read_reply left it in buffer, r being read_reply's
// result. ok becomes 1 with the number the answer holds, or 0 with FAILED_READING when nothing came,
// the link failed or the answer holds no usable number.
double dmm_reading_from_reply(const char* buffer, int r, int& ok);
int check_voltage_path(Channel channel);
int check_current_path(Channel channel);
