// The reference DMM: bringing it on line, its modes and its readings.
#include "link/dmm.h"

#include <cstdio>
#include <cstring>

#include "link/primitives.h"
#include "link/tcp_link.h"

namespace {

constexpr int REPLY_COUNT = 127;
constexpr int FIELD_MAX = 63;
// Lines a framing probe looks at, at most, for an identification.
constexpr int PROBE_LINES = 3;
// Lines a resynchronisation reads, at most, before it finds the identification it asked for.
constexpr int RESYNC_LINES = 8;

// An identification answer: at least maker, model and serial number, and not the echo of the query.
bool looks_like_identification(const char* line) {
  const char* first = std::strchr(line, ',');
  return first != nullptr && std::strchr(first + 1, ',') != nullptr && std::strstr(line, "*IDN?") == nullptr;
}

// The DMM answered, but its lines end in a line feed alone: a raw SCPI socket (or a port that frames
// like one) rather than the telnet-style port that TCP.SCPI expects.
void report_raw_answer(Console& console) {
  console.print("\n\aWARNING: THE DMM ANSWERED, BUT ITS LINES END IN A LINE FEED ALONE (A RAW SCPI SOCKET).\n"
                "SET DMM_Connect_Method TO TCP.RAW IN THE SETTINGS FILE, OR USE THE DMM'S TELNET PORT.\n");
}

}  // namespace

std::string instrument_description(const Identity& identity, const std::string& host, int port) {
  // Each field as it is shown: cut to FIELD_MAX characters.
  auto shown = [](const std::string& field) { return field.substr(0, FIELD_MAX); };
  char description[128];
  int length = std::snprintf(description, sizeof description, "%s %s (S/N %s ) at %s:%d", shown(identity.maker).c_str(),
                             shown(identity.model).c_str(), shown(identity.serial).c_str(), host.c_str(), port);
  // A longer description is cut to fit; a failed format leaves it empty.
  if (length < 0) description[0] = 0;
  return description;
}

void Dmm::attach(std::unique_ptr<Transport> link) {
  link_ = std::move(link);
  reply_overdue_ = false;
}

void Dmm::drop() { link_.reset(); }

// Called once a telnet-style identification has failed: does the port answer as a raw SCPI socket?
// The line that the carriage returns left open is ended first, then the query goes out as a raw
// socket wants it.
bool Dmm::answers_as_raw_socket() {
  link_->send_text("\n*IDN?\n");
  char line[128];
  for (int i = 0; i < PROBE_LINES; ++i) {
    if (read_reply(line, REPLY_COUNT, link_.get(), RAW_DMM.identify_ms, RAW_DMM.terminator) <= 0) return false;
    if (looks_like_identification(line)) return true;
  }
  return false;
}

// The identification has failed: say so, and when the port answers as the other framing would, what to
// set. echoed: the DMM echoed the query, as only a telnet-style port does (one that did so is merely
// slow or confused, and is not probed). Nothing more is sent once the verdict is in.
void Dmm::report_failed_identification(Console& console, bool echoed, int port) {
  console.print("\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
  const DmmFraming* other = nullptr;
  if (framing_->echoes && !echoed && answers_as_raw_socket()) other = &RAW_DMM;
  if (!framing_->echoes && echoed) other = &TELNET_DMM;
  if (other != nullptr)
    console.print("The DMM on port %d answers as a %s: set DMM_Connect_Method to %s in the settings file.\n", port,
                  other->kind, other->method);
}

Status Dmm::identify(Console& console, const std::string& host, int port) {
  identified_ = {};
  const DmmFraming& frame = *framing_;
  drain_input(link_.get(), frame.connect_drain_ms);
  send("*RST");
  drain_input(link_.get(), frame.reset_drain_ms);
  send("*IDN?");

  char reply[128];
  // On a telnet-style port the first line back is not the identification; it is the echo.
  // Read as read_reply does, but what came is kept even when no carriage return ended it: lines ended
  // by a line feed alone tell a DMM that answered in the raw frame.
  bool echoed = false;
  bool answered_lf = false;
  if (frame.echoes) {
    link_->set_timeout(frame.echo_ms, 1);
    const int first = link_->read_line(reply, REPLY_COUNT, frame.terminator);
    answered_lf = first == LINK_TIMED_OUT && std::strchr(reply, '\n') != nullptr;
    echoed = first > 0 && std::strstr(reply, "*IDN?") != nullptr;
    if (first == 0 || first == LINK_TIMED_OUT) reply[0] = 0;
  }
  if (answered_lf) {
    report_raw_answer(console);
    drop();
    return Status::failure("the DMM answers as a raw SCPI socket");
  }
  int r = read_reply(reply, REPLY_COUNT, link_.get(), frame.identify_ms, frame.terminator);
  // On a raw socket an echo of the query in its place means a telnet-style port.
  if (!frame.echoes) echoed = r > 0 && std::strstr(reply, "*IDN?") != nullptr;
  if (r <= 0 || (!frame.echoes && echoed)) {
    report_failed_identification(console, echoed, port);
    drop();
    return Status::failure("the DMM failed to identify");
  }
  identified_ = {parse_identity(reply), host, port};
  description_ = instrument_description(identified_.identity, host, port);

  set_voltage_mode();
  console.print("Checking DMM read data...");
  for (int i = 0; i < DMM_READ_CHECKS; ++i) {
    if (!read()) {
      console.print("\aERROR reading DMM data!\n\n");
      identified_ = {};
      drop();
      return Status::failure("the DMM gave no reading");
    }
    console.print(".");
  }
  console.print("OK!\n\n");
  return Status::success();
}

Status Dmm::connect(Console& console, const std::string& host, int port) {
  console.print_untrusted("Connecting to DMM on IP %s, Port %d...", host, port);
  drop();
  attach(connector(host, port, CONNECT_TIMEOUT_MS));
  description_ = "No DMM detected.";
  identified_ = {};
  if (link_ == nullptr || !link_->is_connected()) {
    console.print("\n\n\aERROR - Failed to connect to DMM!\n\n");
    drop();
    return Status::failure("no connection to the DMM");
  }
  console.print("OK!\n");
  return identify(console, host, port);
}

int Dmm::send(const char* command) {
  if (link_ == nullptr) return 0;
  char line[64];
  std::snprintf(line, sizeof line, "%s%s", command, framing_->line_end);
  return link_->send_text(line);
}

void Dmm::set_voltage_mode() {
  if (link_ == nullptr) return;
  send("CONF:VOLT:DC AUTO");
  drain_input(link_.get(), framing_->command_drain_ms);
}

void Dmm::set_current_mode() {
  if (link_ == nullptr) return;
  drain_input(link_.get(), framing_->mode_drain_ms);
  send("*RST");
  drain_input(link_.get(), framing_->command_drain_ms);
  send("CONF:CURR:DC AUTO");
  drain_input(link_.get(), framing_->command_drain_ms);
}

// After an answer that came too late (on a telnet-style port: also an echo that came too late), the
// DMM is asked for its identification, whose answer (with its commas) no reading can be mistaken for,
// and everything before it, the late echo and answer among it, is thrown away. true once in step
// again. A raw socket has no echo to keep the readings in step; on a telnet-style port a late echo
// and its answer would otherwise be taken for the next reading's.
bool Dmm::resynchronise() {
  send("*IDN?");
  char buffer[128];
  for (int i = 0; i < RESYNC_LINES; ++i) {
    int r = read_reply(buffer, REPLY_COUNT, link_.get(), framing_->answer_first_ms, framing_->answer_ms,
                       framing_->terminator);
    if (r <= 0) return false;
    if (std::strchr(buffer, ',') != nullptr) {
      reply_overdue_ = false;
      return true;
    }
  }
  return false;
}

Result<double> Dmm::read() {
  if (link_ == nullptr) return Status::failure("no DMM connected");
  const DmmFraming& frame = *framing_;
  drain_input(link_.get(), frame.command_drain_ms);
  if (reply_overdue_ && !resynchronise()) return Status::failure("the DMM did not answer in step");
  send("READ?");

  char buffer[128];
  bool echoed = false;
  if (frame.echoes) {
    // On a telnet-style port the first line is not the answer; normally it is the echo of the command.
    int first = read_reply(buffer, REPLY_COUNT, link_.get(), frame.echo_ms, frame.terminator);
    echoed = first > 0 && std::strstr(buffer, "READ?") != nullptr;
  }
  // The answer is taken as soon as its line is complete.
  int r = read_reply(buffer, REPLY_COUNT, link_.get(), frame.answer_first_ms, frame.answer_ms,
                     frame.terminator);
  if (r == 0) {
    // The answer did not come in time, but the DMM may still send it: it must not pass for the
    // answer to a later READ?.
    reply_overdue_ = true;
    return Status::failure("the DMM's answer did not come in time");
  }
  Result<double> value = dmm_reading_from_reply(buffer, r);
  // No echo in time and no reading in its place: the line was most likely the late echo itself, and
  // the answer is still to come; the next reading resynchronises first.
  if (frame.echoes && !echoed && !value) reply_overdue_ = true;
  return value;
}
