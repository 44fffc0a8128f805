// The DP832 power supply: one instrument object that owns its link and what its identification found.
// Every command to the supply goes through here.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "link/dmm.h"
#include "link/tcp_link.h"
#include "link/transport.h"
#include "platform/status.h"

class Psu {
 public:
  // How the supply's links are opened (link/tcp_link.h).
  Connector connector = tcp_connector;

  // Connects to host:port, resets and identifies (connect_psu). On failure the link is dropped; the
  // console has been told why.
  Status connect(Console& console, const std::string& host, int port);
  // The identification alone, on the link already attached (identify_psu).
  Status identify(Console& console, const std::string& host, int port);

  void attach(std::unique_ptr<Transport> link) { link_ = std::move(link); }
  // Lets the link go: it is closed and the supply counts as absent.
  void drop() { link_.reset(); }
  bool present() const { return link_ != nullptr; }
  Transport* link() const { return link_.get(); }  // psu_link; null while absent

  const IdentifiedInstrument& identified() const { return identified_; }
  const std::string& description() const { return description_; }
  void set_description(const std::string& text) { description_ = text; }

  // One command, then the drain after it (psu_command); nothing is sent while the supply is absent.
  void command(const char* text);
  // A command that changes an output or a calibration point: the command and its drain, then *OPC?,
  // whose answer 1 says that the supply has acted on it. true once confirmed; false when the supply
  // did not confirm in time (or is absent, or its link went meanwhile).
  bool command_confirmed(const char* text);
  // A lost link: one new connection to the address the supply was identified at, the connect bounded
  // by timeout_ms; nothing is sent on it. true once the new link is up (it replaces the lost one).
  bool reconnect(int timeout_ms);
  // true while the link is up; false once it is gone (the supply closed it or it failed), after which
  // no command reaches the supply (psu_connected).
  bool connected();
  // Waits for the output to settle, on the link's clock (real time when the supply is absent).
  void pause(int ms);
  // Empties the supply's error queue: asks SYST:ERR? until it answers 0 (no error), nothing, or no
  // error number, within the bounds of link/primitives.h. Every error, as the supply gave it (line end
  // removed), none for an empty queue (read_supply_errors); a failure when the supply gave no answer at
  // all (no link, a lost link, silence), so that nothing is known of its queue.
  Result<std::vector<std::string>> read_errors();

 private:
  std::unique_ptr<Transport> link_;
  IdentifiedInstrument identified_;
  std::string description_;
};
