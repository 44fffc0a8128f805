// The reference DMM: bringing it on line, its modes and its readings.
#include "link/dmm.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
// The DMM's error queue: at most this many SYST:ERR? questions, within one answer window.
constexpr int DMM_ERRORS_MAX = 20;

// An identification answer: at least maker, model and serial number, and not the echo of the query.
bool looks_like_identification(const char* line) {
  const char* first = std::strchr(line, ',');
  return first != nullptr && std::strchr(first + 1, ',') != nullptr && std::strstr(line, "*IDN?") == nullptr;
}

// The line without the white space around it.
std::string trimmed(const char* text) {
  std::string line(text);
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!line.empty() && space(line.back())) line.pop_back();
  std::size_t start = 0;
  while (start < line.size() && space(line[start])) ++start;
  return line.substr(start);
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

void report_dmm_fault(Console& console, const std::string& reason) {
  console.print_untrusted("DMM FAULT: %s.\n", reason);
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
  check_failure_.clear();
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

  const Status function = set_voltage_mode();
  console.print("Checking DMM read data...");
  Status check = function;
  for (int i = 0; check && i < DMM_READ_CHECKS; ++i) {
    const Result<double> reading = read();
    check = reading ? Status::success() : reading.status();
    if (check) console.print(".");
  }
  if (!check) {
    console.print("\aERROR reading DMM data!\n");
    report_dmm_fault(console, check.reason());
    console.print("\n");
    identified_ = {};
    check_failure_ = check.reason();
    drop();
    return check;
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
  check_failure_.clear();
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

Status Dmm::set_voltage_mode() {
  if (link_ == nullptr) return Status::failure("no DMM connected");
  return set_function("CONF:VOLT:DC AUTO", "CONF:VOLT:DC");
}

Status Dmm::set_current_mode() {
  if (link_ == nullptr) return Status::failure("no DMM connected");
  drain_input(link_.get(), framing_->mode_drain_ms);
  send("*RST");
  drain_input(link_.get(), framing_->command_drain_ms);
  return set_function("CONF:CURR:DC AUTO", "CONF:CURR:DC");
}

// Many meters take a range, DEF, MIN or MAX, or nothing after the function, but not AUTO: a refusal of
// the first form is answered with the portable one, which every meter takes, ranging automatically.
Status Dmm::set_function(const char* command, const char* portable) {
  check_failure_.clear();
  send(command);
  drain_input(link_.get(), framing_->command_drain_ms);
  Result<std::vector<std::string>> errors = read_errors();
  if (!errors) return errors.status();
  if (errors->empty()) return Status::success();
  send(portable);
  drain_input(link_.get(), framing_->command_drain_ms);
  errors = read_errors();
  if (!errors) return errors.status();
  if (errors->empty()) return Status::success();
  check_failure_ = std::string("the DMM refused ") + portable + ": " + errors->front();
  return Status::failure(check_failure_);
}

Result<std::vector<std::string>> Dmm::read_errors() {
  std::vector<std::string> errors;
  const Transport::Clock::time_point start = link_->now();
  for (int i = 0; i < DMM_ERRORS_MAX; ++i) {
    if (i > 0 && link_->now() - start >= std::chrono::milliseconds(answer_window_ms_)) break;
    const Result<std::string> answer = query("SYST:ERR?");
    if (!answer) return answer.status();
    const char* text = answer->c_str();
    char* end = nullptr;
    const long code = std::strtol(text, &end, 10);
    if (end == text) return Status::failure("the DMM's error queue answered without a number: \"" + *answer + "\"");
    if (code == 0) return errors;
    errors.push_back(*answer);
  }
  return errors;
}

Result<std::string> Dmm::query(const char* command) {
  const DmmFraming& frame = *framing_;
  drain_input(link_.get(), frame.command_drain_ms);
  // A late answer still on its way must not pass for this one.
  if (reply_overdue_ && !resynchronise()) return Status::failure("the DMM gave no answer");
  send(command);
  char buffer[128];
  bool received_first = false;
  if (frame.echoes) {
    const int first = read_reply(buffer, REPLY_COUNT, link_.get(), frame.echo_ms, frame.terminator);
    if (first < 0) return Status::failure("the connection to the DMM was lost");
    received_first = first > 0;
    // No echo, but a line: a DMM that does not echo, and this is its answer.
    if (first > 0 && std::strstr(buffer, command) == nullptr && !trimmed(buffer).empty()) return trimmed(buffer);
  }
  const int r = read_reply(buffer, REPLY_COUNT, link_.get(), answer_window_ms_, frame.answer_ms, frame.terminator);
  if (r < 0) return Status::failure("the connection to the DMM was lost");
  if (r == 0) {
    reply_overdue_ = true;
    return late_or_silent(received_first);
  }
  return trimmed(buffer);
}

Status Dmm::late_or_silent(bool received_first) const {
  if (framing_->echoes && !received_first) return Status::failure("the DMM gave no answer");
  return Status::failure("the DMM's answer came too late (window " + std::to_string(answer_window_ms_) + " ms)");
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
    int r = read_reply(buffer, REPLY_COUNT, link_.get(), answer_window_ms_, framing_->answer_ms,
                       framing_->terminator);
    if (r <= 0) return false;
    // Two commas at least: no error-queue answer ("+0,\"No error\"") passes for it.
    if (looks_like_identification(buffer)) {
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
  if (reply_overdue_ && !resynchronise()) return Status::failure("the DMM gave no answer");
  send("READ?");

  char buffer[128];
  bool echoed = false;
  bool received_first = false;
  if (frame.echoes) {
    // On a telnet-style port the first line is not the answer; normally it is the echo of the command.
    int first = read_reply(buffer, REPLY_COUNT, link_.get(), frame.echo_ms, frame.terminator);
    if (first < 0) return Status::failure("the connection to the DMM was lost");
    echoed = first > 0 && std::strstr(buffer, "READ?") != nullptr;
    received_first = first > 0;
  }
  // The answer is taken as soon as its line is complete.
  int r = read_reply(buffer, REPLY_COUNT, link_.get(), answer_window_ms_, frame.answer_ms, frame.terminator);
  if (r == 0) {
    // The answer did not come in time, but the DMM may still send it: it must not pass for the
    // answer to a later READ?.
    reply_overdue_ = true;
    return late_or_silent(received_first);
  }
  Result<double> value = dmm_reading_from_reply(buffer, r);
  // No echo in time and no reading in its place: the line was most likely the late echo itself, and
  // the answer is still to come; the next reading resynchronises first.
  if (frame.echoes && !echoed && !value) reply_overdue_ = true;
  return value;
}
