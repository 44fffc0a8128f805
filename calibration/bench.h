// The bench a procedure is handed: the reference DMM, the DP832 and the program's environment (console,
// clocks, waiting). Whoever runs the program owns it; a test builds one on in-memory links.
#pragma once

#include <memory>

#include "calibration/decision_rule.h"
#include "console/environment.h"
#include "link/dmm.h"
#include "link/psu.h"
#include "settings/program_settings.h"

class Bench {
 public:
  Bench(Environment& environment, const DmmFraming& dmm_framing) : env(environment), dmm(dmm_framing) {}

  Environment& env;
  Dmm dmm;
  Psu psu;
  // From the settings: the DMM readings taken at each assessed point (their mean is the point's
  // reading), and the rule its verdict follows.
  int readings_per_point = 1;
  DecisionRuleKind decision_rule = DecisionRuleKind::guard_band;

  Console& console() { return env.console(); }
};

// A bench framed as the settings say (the DMM's connection method), in one place for the menu program and
// trimora run. With connect, both instruments are connected and identified at the settings' addresses
// (connect_dmm, then connect_psu); without it, both stay absent.
std::unique_ptr<Bench> open_bench(Environment& environment, const ProgramSettings& settings, bool connect);
