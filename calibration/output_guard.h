// The one way a procedure switches a channel's output: whatever way the procedure ends, an output that
// it switched on is switched off again when the guard goes.
#pragma once

#include <cstdio>

#include "link/channel.h"
#include "link/psu.h"
#include "platform/stop_request.h"

class OutputGuard {
 public:
  OutputGuard(Psu& psu, Channel channel) : psu_(psu), channel_(channel) {}
  ~OutputGuard() { off(); }
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;

  void on() {
    send("ON");
    on_ = true;
  }
  // Switches the output off now, once; a second Ctrl+C cannot cut the command's drain short.
  void off() {
    if (!on_) return;
    on_ = false;
    StopCleanup cleanup;
    send("OFF");
  }

 private:
  void send(const char* state) {
    char command[32];
    std::snprintf(command, sizeof command, "OUTPUT %s,%s\r\n", channel_.name(), state);
    psu_.command(command);
  }

  Psu& psu_;
  Channel channel_;
  bool on_ = false;
};
