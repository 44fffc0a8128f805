// The reference DMM: one instrument object that owns its link, its framing, what its identification
// found and whether an answer of its is overdue. Every DMM command of the program goes through here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "link/framing.h"
#include "link/identity.h"
#include "link/tcp_link.h"
#include "link/transport.h"
#include "platform/status.h"

// What the last identification of an instrument found: all four *IDN? fields whole, and the address it
// was reached at. Empty from the start of a connect or identification until it succeeds.
struct IdentifiedInstrument {
  Identity identity;
  std::string host;
  int port = 0;
};

class Dmm {
 public:
  // The framing is fixed for the object's life: the settings name it once, when the bench is made.
  explicit Dmm(const DmmFraming& framing = TELNET_DMM) : framing_(&framing) {}

  // How the DMM's links are opened (link/tcp_link.h).
  Connector connector = tcp_connector;

  // Connects to host:port, resets and identifies, and checks that readings come (connect_dmm). On
  // failure the link is dropped; the console has been told why.
  Status connect(Console& console, const std::string& host, int port);
  // The identification alone, on the link already attached (identify_dmm); host and port only go
  // into the description.
  Status identify(Console& console, const std::string& host, int port);

  // Takes link as the DMM's link (a new connection: nothing is overdue on it).
  void attach(std::unique_ptr<Transport> link);
  // Lets the link go: it is closed and the DMM counts as absent.
  void drop();
  bool present() const { return link_ != nullptr; }
  Transport* link() const { return link_.get(); }  // dmm_link; null while absent

  const DmmFraming& framing() const { return *framing_; }
  const IdentifiedInstrument& identified() const { return identified_; }
  const std::string& description() const { return description_; }
  void set_description(const std::string& text) { description_ = text; }
  // A reply that timed out may still arrive (kept by the readings).
  bool reply_overdue() const { return reply_overdue_; }

  // Why the DMM, once identified, failed its function or read check at connect (it is dropped then,
  // but it answered: it is not ready rather than absent), or its last function check since; empty
  // otherwise.
  const std::string& check_failure() const { return check_failure_; }

  // The window to the first byte of a reading's or an error's answer (DMM_Timeout_ms); the framing's
  // until set. The time per further byte is the framing's.
  int answer_window_ms() const { return answer_window_ms_; }
  void set_answer_window_ms(int milliseconds) { answer_window_ms_ = milliseconds; }

  // One command line, ended as the framing ends it; send_text's result (dmm_send).
  int send(const char* command);
  // Sets the function (DC volts or DC amps, range automatic) and asks the DMM's error queue whether it
  // took it. A refused function is asked for once more in the portable form without a range; a
  // failure names the DMM's error, or why its error queue could not be read.
  Status set_voltage_mode();  // dmm_set_voltage_mode
  Status set_current_mode();  // dmm_set_current_mode
  // One reading (dmm_read). A failure names what went wrong: an overload, an answer too late, no
  // answer, a lost connection or an answer without a number.
  Result<double> read();

 private:
  bool answers_as_raw_socket();
  void report_failed_identification(Console& console, bool echoed, int port);
  bool resynchronise();
  Status set_function(const char* command, const char* portable);
  // The DMM's error queue until it reports no error: the errors it held, oldest first.
  Result<std::vector<std::string>> read_errors();
  // One query's answer line on the framing (the echo before it skipped).
  Result<std::string> query(const char* command);
  // An answer that did not come in its window: on a telnet-style port an echo (or any line) tells a
  // DMM that took the command but was slow; nothing at all, one that does not answer.
  Status late_or_silent(bool received_first) const;

  std::unique_ptr<Transport> link_;
  const DmmFraming* framing_;
  IdentifiedInstrument identified_;
  std::string description_;
  bool reply_overdue_ = false;
  std::string check_failure_;
  int answer_window_ms_ = framing_->answer_first_ms;
};

// "maker model (S/N serial ) at host:port" from the fields of a *IDN? answer (the same fields that the
// record holds), each cut to 63 characters and the whole to 127, as the menu's header shows an instrument.
std::string instrument_description(const Identity& identity, const std::string& host, int port);

// The line that names a DMM failure on the console, after the line that says what failed.
void report_dmm_fault(Console& console, const std::string& reason);
