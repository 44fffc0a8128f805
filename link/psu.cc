// The DP832: bringing it on line, its commands and its error queue.
#include "link/psu.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "link/framing.h"
#include "link/primitives.h"
#include "link/tcp_link.h"
#include "platform/sleep.h"

namespace {
constexpr int REPLY_COUNT = 127;
}  // namespace

Status Psu::identify(Console& console, const std::string& host, int port) {
  identified_ = {};
  const PsuFraming& framing = DP832_FRAMING;
  drain_input(link_.get(), framing.connect_drain_ms);
  link_->send_text("*RST\r\n");
  drain_input(link_.get(), framing.reset_drain_ms);
  link_->send_text("*IDN?\r\n");

  char reply[128];
  if (read_reply(reply, REPLY_COUNT, link_.get(), framing.identify_ms, framing.terminator) <= 0) {
    console.print("\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n");
    drop();
    return Status::failure("the DP832 failed to identify");
  }
  identified_ = {parse_identity(reply), host, port};
  description_ = instrument_description(identified_.identity, host, port);
  console.print("OK!\n\n");
  return Status::success();
}

Status Psu::connect(Console& console, const std::string& host, int port) {
  description_ = "No DP832 detected.";
  identified_ = {};
  console.print_untrusted("Connecting to DP832 on IP %s, Port %d...", host, port);
  drop();
  attach(connector(host, port, CONNECT_TIMEOUT_MS));
  if (link_ == nullptr || !link_->is_connected()) {
    console.print("\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
    drop();
    return Status::failure("no connection to the DP832");
  }
  return identify(console, host, port);
}

void Psu::command(const char* text) {
  if (link_ == nullptr) return;
  link_->send_text(text);
  drain_input(link_.get(), PSU_DRAIN_MS);
}

bool Psu::command_confirmed(const char* text) {
  if (link_ == nullptr) return false;
  command(text);
  if (!connected()) return false;
  link_->send_text("*OPC?\r\n");
  char reply[128];
  if (read_reply(reply, REPLY_COUNT, link_.get(), PSU_CONFIRM_MS, '\n') <= 0) return false;
  char* end = nullptr;
  const long done = std::strtol(reply, &end, 10);
  return end != reply && done == 1 && (*end == '\r' || *end == '\n' || *end == 0);
}

bool Psu::reconnect(int timeout_ms) {
  if (identified_.host.empty()) return false;
  std::unique_ptr<Transport> fresh = connector(identified_.host, identified_.port, timeout_ms);
  // Without a new connection the lost link stays, and with it the supply's state: lost.
  if (fresh == nullptr || !fresh->is_connected()) return false;
  attach(std::move(fresh));
  return true;
}

bool Psu::connected() { return link_ != nullptr && link_->is_connected() != 0; }

void Psu::pause(int ms) {
  if (link_ != nullptr)
    link_->pause(ms);
  else
    sleep_ms(ms);
}

Result<std::vector<std::string>> Psu::read_errors() {
  std::vector<std::string> errors;
  if (!connected()) return Status::failure("no connection to the DP832");
  const auto start = link_->now();
  const auto limit = std::chrono::milliseconds(scaled_ms(SUPPLY_ERRORS_TIME_MS));
  for (int i = 0; i < SUPPLY_ERRORS_MAX && connected() && link_->now() - start < limit; ++i) {
    link_->send_text("SYST:ERR?\r\n");
    char reply[128];
    int r = read_reply(reply, REPLY_COUNT, link_.get(), SUPPLY_ERROR_ANSWER_MS, '\n');
    if (r <= 0) {
      if (i == 0) return Status::failure("the DP832 did not answer SYST:ERR?");
      break;
    }
    std::size_t length = std::strlen(reply);
    while (length > 0 && (reply[length - 1] == '\n' || reply[length - 1] == '\r')) reply[--length] = 0;
    char* end = nullptr;
    long code = std::strtol(reply, &end, 10);
    // 0 is the empty queue; an answer without an error number is no part of the queue.
    if (end == reply || code == 0) break;
    errors.emplace_back(reply);
  }
  return errors;
}
