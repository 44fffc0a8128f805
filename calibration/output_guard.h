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

  // true once the supply has confirmed it.
  bool on() {
    on_ = true;
    return send("ON");
  }
  // Switches the output off now, once; a second Ctrl+C cannot cut the command's drain short. true when
  // the output is known to be off: the supply confirmed it, or this guard never switched it on.
  bool off() {
    if (!on_) return true;
    on_ = false;
    StopCleanup cleanup;
    return send("OFF");
  }

 private:
  bool send(const char* state) {
    char command[32];
    std::snprintf(command, sizeof command, "OUTPUT %s,%s\r\n", channel_.name(), state);
    return psu_.command_confirmed(command);
  }

  Psu& psu_;
  Channel channel_;
  bool on_ = false;
};
