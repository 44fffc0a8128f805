// Showing the supply's error queue.
#include "calibration/supply_errors.h"

#include "console/console.h"
#include "link/primitives.h"

std::vector<std::string> report_supply_errors(Channel channel, ErrorContext context) {
  std::vector<std::string> errors = read_supply_errors();
  if (errors.empty()) return errors;
  for (const std::string& error : errors) console_print("\aERROR: THE DP832 REPORTED: %s\n", error.c_str());
  const char* name = channel.name();
  switch (context) {
    case ErrorContext::calibration:
      console_print("THE DP832 DID NOT ACCEPT THE CALIBRATION OF %s: REPEAT THE CALIBRATION.\n\n", name);
      break;
    case ErrorContext::assessment:
      console_print("THE DP832 REFUSED COMMANDS OF THE ASSESSMENT OF %s: ITS RESULTS DO NOT SHOW THE CHANNEL'S "
                    "ACCURACY. REPEAT IT.\n\n",
                    name);
      break;
    case ErrorContext::path_check:
      console_print("THE DP832 REFUSED THE COMMANDS THAT SWITCH %s ON: CHECK THE SUPPLY (REMOTE CONTROL, "
                    "PROTECTION) AND REPEAT.\n\n",
                    name);
      break;
  }
  return errors;
}

void report_path_failure(Channel channel) {
  if (!report_supply_errors(channel, ErrorContext::path_check).empty()) return;
  console_print("\aERROR: DMM NOT READING FROM TARGET CHANNEL.\n\n");
}
