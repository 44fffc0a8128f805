// The measurement and output primitives: DP832 commands, DMM modes and readings, path checks.
#include "link/primitives.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/instruments.h"
#include "link/transport.h"
#include "platform/sleep.h"

namespace {

constexpr int REPLY_COUNT = 127;
// Lines a resynchronisation reads, at most, before it finds the identification it asked for.
constexpr int RESYNC_LINES = 8;
// SCPI's overload and not-a-number values are 9.9E37 and up; no real reading comes near.
constexpr double SCPI_OVERLOAD = 9.9e37;
constexpr double VOLTAGE_PATH_MIN = 1.5;
constexpr double CURRENT_PATH_MIN = 0.5;

// The number a DMM answer holds. 1 with the value, or 0 when the answer holds no usable number.
int parse_reading(const char* text, double* value) {
  while (*text != 0 && std::isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  bool digits = false;
  for (const char* p = text; p < end; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) digits = true;
  if (!digits || !std::isfinite(v) || std::fabs(v) >= SCPI_OVERLOAD) return 0;
  *value = v;
  return 1;
}

// A wait for the DP832's output to settle, on the DP832 link's clock (real time when it is absent).
void wait_for_output(int ms) {
  if (psu_link != nullptr)
    psu_link->pause(ms);
  else
    sleep_ms(ms);
}

// Switches the channel on, applies the test source (volts with a 2 A limit), reads the DMM and
// switches the channel off again, whatever the reading gave.
int check_path(Channel channel, int source_volts, double threshold) {
  const char* name = channel.name();
  char command[32];

  std::snprintf(command, sizeof command, "OUTPUT %s,ON\r\n", name);
  psu_command(command);
  wait_for_output(PATH_OUTPUT_ON_WAIT_MS);

  std::snprintf(command, sizeof command, ":APPL %s,%d,2\r\n", name, source_volts);
  psu_command(command);
  wait_for_output(PATH_APPLY_WAIT_MS);

  int ok = 0;
  double value = dmm_read(ok);

  std::snprintf(command, sizeof command, "OUTPUT %s,OFF\r\n", name);
  psu_command(command);
  return (ok != 0 && value >= threshold) ? 1 : 0;
}

// A raw socket has no echo to keep the readings in step. After an answer that came too late, the DMM
// is asked for its identification, whose answer (with its commas) no reading can be mistaken for, and
// everything before it, the late answer among it, is thrown away. 1 once in step again.
int resynchronise_raw_dmm(const DmmFraming& framing) {
  dmm_send("*IDN?");
  char buffer[128];
  for (int i = 0; i < RESYNC_LINES; ++i) {
    int r = read_reply(buffer, REPLY_COUNT, dmm_link.get(), framing.answer_first_ms, framing.answer_ms,
                       framing.terminator);
    if (r <= 0) return 0;
    if (std::strchr(buffer, ',') != nullptr) {
      dmm_link->reply_overdue = 0;
      return 1;
    }
  }
  return 0;
}

}  // namespace

int dmm_send(const char* command) {
  char line[64];
  std::snprintf(line, sizeof line, "%s%s", command, dmm_framing->line_end);
  return dmm_link->send_text(line);
}

void psu_command(const char* text) {
  if (psu_link == nullptr) return;
  psu_link->send_text(text);
  drain_input(psu_link.get(), PSU_DRAIN_MS);
}

int psu_connected() { return psu_link != nullptr && psu_link->is_connected() ? 1 : 0; }

void dmm_set_voltage_mode() {
  if (dmm_link == nullptr) return;
  dmm_send("CONF:VOLT:DC AUTO");
  drain_input(dmm_link.get(), dmm_framing->command_drain_ms);
}

void dmm_set_current_mode() {
  if (dmm_link == nullptr) return;
  const DmmFraming& framing = *dmm_framing;
  drain_input(dmm_link.get(), framing.mode_drain_ms);
  dmm_send("*RST");
  drain_input(dmm_link.get(), framing.command_drain_ms);
  dmm_send("CONF:CURR:DC AUTO");
  drain_input(dmm_link.get(), framing.command_drain_ms);
}

double dmm_read(int& ok) {
  ok = 0;
  if (dmm_link == nullptr) return FAILED_READING;
  const DmmFraming& framing = *dmm_framing;
  drain_input(dmm_link.get(), framing.command_drain_ms);
  if (!framing.echoes && dmm_link->reply_overdue && !resynchronise_raw_dmm(framing)) return FAILED_READING;
  dmm_send("READ?");

  char buffer[128];
  bool echoed = false;
  if (framing.echoes) {
    // On a telnet-style port the first line is not the answer; normally it is the echo of the command.
    int first = read_reply(buffer, REPLY_COUNT, dmm_link.get(), framing.echo_ms, framing.terminator);
    echoed = first > 0 && std::strstr(buffer, "READ?") != nullptr;
  }
  // The answer is taken as soon as its line is complete.
  int r = read_reply(buffer, REPLY_COUNT, dmm_link.get(), framing.answer_first_ms, framing.answer_ms,
                     framing.terminator);
  if (r == 0) {
    // The answer did not come in time, but the DMM may still send it: it must not pass for the
    // answer to a later READ?.
    dmm_link->reply_overdue = 1;
    return FAILED_READING;
  }
  // While a late answer may be on its way, only a reading whose command the DMM has echoed is in
  // step: without the echo, the line just read may be the late answer to an earlier READ?.
  if (framing.echoes && dmm_link->reply_overdue && !echoed) return FAILED_READING;
  double value = dmm_reading_from_reply(buffer, r, ok);
  if (ok) dmm_link->reply_overdue = 0;
  return value;
}

double dmm_reading_from_reply(const char* buffer, int r, int& ok) {
  ok = 0;
  double value = 0.0;
  if (r <= 0 || buffer == nullptr || !parse_reading(buffer, &value)) return FAILED_READING;
  ok = 1;
  return value;
}

int check_voltage_path(Channel channel) { return check_path(channel, 5, VOLTAGE_PATH_MIN); }

int check_current_path(Channel channel) { return check_path(channel, 3, CURRENT_PATH_MIN); }
