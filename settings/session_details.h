// What the operator tells about the session (menu key S, or the options of trimora run): who calibrates,
// for whom, which item of theirs, when it came in and the room's conditions. Empty or none: not given.
#pragma once

#include <optional>
#include <string>

struct SessionDetails {
  std::string operator_name;
  std::string operator_role;
  std::string customer;
  std::string customer_address;
  std::string asset;
  std::string received;  // ISO date, YYYY-MM-DD
  std::optional<double> temperature_C;
  std::optional<double> humidity_percent;
};
