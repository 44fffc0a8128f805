// Replays the program's instrument traffic against instruments that answer at once, but for the DMM's
// measurement time before each reading's answer, and adds up the waits that remain: every sleep, every
// receive timeout that has to run out, and the wait for each answer.
//
// A drain costs one timeout when nothing is waiting. When the instrument has left bytes (the simulated
// DMM's welcome line, the echo of every command, the CR LF and "DMM> " prompt after every answer),
// the drain's first receive takes them at once, then it sleeps its interval and needs a final
// receive timeout: two intervals. A reply read finds its line already there and costs nothing.
// One more round comes when a command goes out while older bytes still wait (a mode command right
// after a reading, whose prompt is still there): the drain's first receive takes the older bytes at
// once, and the command's echo, however promptly the instrument sends it, arrives a moment later and
// is found by the second receive: three intervals.
#include "bench/floors.h"

#include <cstddef>
#include <iterator>

#include "calibration/channel_groups.h"
#include "calibration/current_assessment.h"
#include "calibration/voltage_assessment.h"
#include "link/framing.h"
#include "link/primitives.h"
#include "settings/program_settings.h"

namespace {

// The DMM of the simulated bench is a telnet-style port; every wait below is its framing's or the
// DP832's.
constexpr const DmmFraming& DMM = TELNET_DMM;
constexpr const PsuFraming& PSU = DP832_FRAMING;

struct Replay {
  double ms = 0.0;
  int reading_wait_ms = 0;  // from the echo of READ? to its answer
  int answer_window_ms = DMM_TIMEOUT_DEFAULT_MS;  // DMM_Timeout_ms
  bool dmm_left = false;    // the DMM has bytes waiting that no read has taken
  bool dmm_behind = false;  // and the echo of a command sent since then is still on its way
  bool psu_left = false;    // bytes waiting from the DP832 (it answers queries only)
};

void wait(Replay& r, int ms) { r.ms += ms; }

void drain(Replay& r, bool& left, bool& behind, int interval_ms) {
  int rounds = 1 + (left ? 1 : 0) + (left && behind ? 1 : 0);
  r.ms += static_cast<double>(rounds) * interval_ms;
  left = false;
  behind = false;
}

void dmm_drain(Replay& r, int interval_ms) { drain(r, r.dmm_left, r.dmm_behind, interval_ms); }

// Every line sent to the DMM comes back as an echo and a new prompt.
void dmm_send(Replay& r) {
  if (r.dmm_left) r.dmm_behind = true;
  r.dmm_left = true;
}

void psu_command(Replay& r) {
  bool behind = false;
  drain(r, r.psu_left, behind, PSU.command_drain_ms);
}

// A command that changes an output or a calibration point: its drain, then *OPC?, whose answer is
// already there when it is read.
void psu_confirmed(Replay& r) { psu_command(r); }

// A query: its drain, then the echo line at once and the answer after wait_ms (at most the reading
// window, past which the program gives up). The answer is read up to its CR, so the LF and the prompt
// stay behind.
void dmm_query(Replay& r, int wait_ms) {
  dmm_drain(r, DMM.command_drain_ms);
  dmm_send(r);  // the reads wait for the echo and the answer, so nothing is behind
  wait(r, wait_ms < r.answer_window_ms ? wait_ms : r.answer_window_ms);
  r.dmm_left = true;
  r.dmm_behind = false;
}

// The function set, then the error queue asked whether the DMM took it: "+0" at once.
void dmm_set_voltage_mode(Replay& r) {
  dmm_send(r);
  dmm_drain(r, DMM.command_drain_ms);
  dmm_query(r, 0);  // SYST:ERR?
}

void dmm_set_current_mode(Replay& r) {
  dmm_drain(r, DMM.mode_drain_ms);
  dmm_send(r);  // *RST
  dmm_drain(r, DMM.command_drain_ms);
  dmm_send(r);  // CONF:CURR:DC AUTO
  dmm_drain(r, DMM.command_drain_ms);
  dmm_query(r, 0);  // SYST:ERR?
}

void dmm_read(Replay& r) { dmm_query(r, r.reading_wait_ms); }

void check_path(Replay& r) {
  psu_confirmed(r);  // output on
  wait(r, PATH_OUTPUT_ON_WAIT_MS);
  psu_confirmed(r);  // the test source
  wait(r, PATH_APPLY_WAIT_MS);
  dmm_read(r);
  psu_confirmed(r);  // output off
}

void calibration_phase(Replay& r, const CalibrationPhase& phase) {
  for (std::size_t i = 0; i < phase.points.size(); ++i) {
    psu_confirmed(r);  // CAL:SET
    wait(r, phase.settle_ms);
    dmm_read(r);
    psu_command(r);  // CAL:MEAS
  }
}

void factory_calibration(Replay& r, void (*set_mode)(Replay&), const CalibrationPhase& dac,
                         const CalibrationPhase& meter) {
  set_mode(r);
  check_path(r);
  for (int i = 0; i < 3; ++i) psu_command(r);  // CAL:START, CAL:CLEAR, *RST
  psu_confirmed(r);                             // output on
  calibration_phase(r, dac);
  calibration_phase(r, meter);
  psu_confirmed(r);  // output off
  psu_command(r);    // CAL:END
}

void voltage_calibration_ch12(Replay& r) {
  factory_calibration(r, dmm_set_voltage_mode, CH12_GROUP.vdac, CH12_GROUP.vmeter);
}

void assessment(Replay& r, const ChannelGroup& group, bool recalibrate) {
  dmm_set_voltage_mode(r);
  check_path(r);
  psu_confirmed(r);  // output on
  wait(r, ASSESS_OUTPUT_ON_WAIT_MS);
  for (std::size_t i = 0; i < group.sweep.size(); ++i) {
    psu_confirmed(r);  // :APPL
    wait(r, ASSESS_SETTLE_MS);
    dmm_read(r);
    // :MEAS:VOLT?, the supply's readback: answered at once, no wait of the program's own.
  }
  psu_confirmed(r);  // output off
  if (recalibrate) voltage_calibration_ch12(r);
}

// The supply's readback after each reading is answered at once and read whole: it adds no wait.
void current_assessment(Replay& r, const ChannelGroup& group) {
  dmm_set_current_mode(r);
  check_path(r);
  psu_confirmed(r);  // output on
  for (std::size_t i = 0; i < std::size(CURRENT_SWEEP_POINTS); ++i) {
    psu_confirmed(r);  // :APPL
    wait(r, group.idac.settle_ms);
    dmm_read(r);
  }
  psu_confirmed(r);  // output off
}

void connect_dmm(Replay& r) {
  r.dmm_left = true;  // the welcome line and the first prompt
  dmm_drain(r, DMM.connect_drain_ms);
  dmm_send(r);  // *RST
  dmm_drain(r, DMM.reset_drain_ms);
  dmm_send(r);  // *IDN?: the echo and the identification are read at once, the prompt stays
  r.dmm_behind = false;
  dmm_set_voltage_mode(r);
  for (int i = 0; i < DMM_READ_CHECKS; ++i) dmm_read(r);
}

void connect_psu(Replay& r) {
  bool behind = false;
  drain(r, r.psu_left, behind, PSU.connect_drain_ms);
  drain(r, r.psu_left, behind, PSU.reset_drain_ms);  // after *RST, which has no answer
  // *IDN? is answered at once and read whole.
}

Replay after_start_up(int reading_wait_ms, int answer_window_ms) {
  Replay r;
  r.reading_wait_ms = reading_wait_ms;
  r.answer_window_ms = answer_window_ms;
  connect_dmm(r);
  connect_psu(r);
  return r;
}

// The floor of one menu command: the connection check (one DMM reading), then the command itself.
double command_floor(int reading_wait_ms, int answer_window_ms, void (*command)(Replay&)) {
  Replay r = after_start_up(reading_wait_ms, answer_window_ms);
  double before = r.ms;
  dmm_read(r);
  if (command != nullptr) command(r);
  return r.ms - before;
}

}  // namespace

Floors compute_floors(int reading_wait_ms, int answer_window_ms) {
  const int w = reading_wait_ms;
  const int a = answer_window_ms;
  Floors f;
  f.start_up_ms = after_start_up(w, a).ms;
  f.connection_check_ms = command_floor(w, a, nullptr);
  f.voltage_ch3_ms = command_floor(w, a, [](Replay& r) {
    factory_calibration(r, dmm_set_voltage_mode, CH3_GROUP.vdac, CH3_GROUP.vmeter);
  });
  f.voltage_ch1_ms = command_floor(w, a, voltage_calibration_ch12);
  f.current_ch3_ms = command_floor(w, a, [](Replay& r) {
    factory_calibration(r, dmm_set_current_mode, CH3_GROUP.idac, CH3_GROUP.imeter);
  });
  f.current_ch1_ms = command_floor(w, a, [](Replay& r) {
    factory_calibration(r, dmm_set_current_mode, CH12_GROUP.idac, CH12_GROUP.imeter);
  });
  f.assess_ch3_ms = command_floor(w, a, [](Replay& r) { assessment(r, CH3_GROUP, false); });
  f.assess_ch1_ms = command_floor(w, a, [](Replay& r) { assessment(r, CH12_GROUP, false); });
  f.full_ch1_ms = command_floor(w, a, [](Replay& r) {
    dmm_set_voltage_mode(r);
    check_path(r);
    voltage_calibration_ch12(r);
    assessment(r, CH12_GROUP, true);
    assessment(r, CH12_GROUP, false);
  });
  f.current_assess_ch1_ms = command_floor(w, a, [](Replay& r) { current_assessment(r, CH12_GROUP); });
  return f;
}
