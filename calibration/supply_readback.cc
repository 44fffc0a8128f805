// The supply's readback query.
#include "calibration/supply_readback.h"

#include <cstdio>
#include <limits>

#include "link/primitives.h"
#include "link/transport.h"

double supply_readback(Psu& psu, Channel channel, Quantity quantity) {
  constexpr double NONE = std::numeric_limits<double>::quiet_NaN();
  Transport* link = psu.link();
  if (link == nullptr || !psu.connected()) return NONE;
  char query[32];
  std::snprintf(query, sizeof query, ":MEAS:%s? %s\r\n", quantity == Quantity::voltage ? "VOLT" : "CURR",
                channel.name());
  link->send_text(query);
  char reply[128];
  const int r = read_reply(reply, static_cast<int>(sizeof reply), link, PSU_CONFIRM_MS, '\n');
  // The answer is a plain number, as a DMM's reading is.
  const Result<double> value = dmm_reading_from_reply(reply, r);
  return value ? *value : NONE;
}
