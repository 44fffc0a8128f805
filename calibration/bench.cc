// Opening the bench.
#include "calibration/bench.h"

// The settings' default reading window is the one the framings give.
static_assert(DMM_TIMEOUT_DEFAULT_MS == TELNET_DMM.answer_first_ms && DMM_TIMEOUT_DEFAULT_MS == RAW_DMM.answer_first_ms);

std::unique_ptr<Bench> open_bench(Environment& environment, const ProgramSettings& settings, bool connect) {
  const DmmFraming* framing = dmm_framing_for(settings.dmm_connect_method.c_str());
  auto bench = std::make_unique<Bench>(environment, framing != nullptr ? *framing : TELNET_DMM);
  bench->dmm.set_answer_window_ms(settings.dmm_timeout_ms);
  bench->readings_per_point = settings.readings_per_point;
  bench->decision_rule = decision_rule_named(settings.decision_rule).value_or(DecisionRuleKind::guard_band);
  if (!connect) {
    bench->dmm.set_description("No DMM detected.");
    bench->psu.set_description("No DP832 detected.");
    return bench;
  }
  (void)bench->dmm.connect(environment.console(), settings.dmm.host, settings.dmm.port);
  (void)bench->psu.connect(environment.console(), settings.psu.host, settings.psu.port);
  return bench;
}
