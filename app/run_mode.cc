// trimora run: connect, check, one procedure, its record, the final line and the exit code.
#include "app/run_mode.h"

#include <cstdio>

#include "app/recorded_run.h"
#include "app/run_records.h"
#include "app/trimora.h"
#include "console/console.h"
#include "link/instruments.h"
#include "platform/net.h"
#include "platform/raw_keys.h"
#include "platform/stop_request.h"
#include "records/record_codec.h"
#include "settings/program_settings.h"

namespace {

// What keeps the run from starting: an instrument absent or not answering; empty when both are ready.
std::string instruments_missing() {
  if (dmm_link == nullptr) return "no DMM connected";
  if (psu_link == nullptr) return "no DP832 connected";
  if (!instruments_ready()) return "an instrument does not answer";
  return "";
}

}  // namespace

RunOutcome run_outcome(const std::optional<Record>& record, bool instruments_present) {
  if (!record) return {EXIT_CALIBRATION, "NO RECORD"};
  // The supply's own errors, read at the end of the procedure, say first why a run did not count.
  if (!record->supply_errors.empty())
    return {EXIT_CALIBRATION, "REFUSED BY THE SUPPLY: " + record->supply_errors.front()};
  if (!record->completed) {
    const std::string why = record->incomplete_reason.value_or(std::string());
    if (!instruments_present) return {EXIT_INSTRUMENT, "INSTRUMENT ABSENT OR LOST: " + why};
    return {EXIT_CALIBRATION, "INCOMPLETE: " + why};
  }
  if (!record->overall_verdict) return {EXIT_DONE_PASS, "DONE"};  // the factory calibrations give no verdict
  const Verdict verdict = *record->overall_verdict;
  return {verdict == Verdict::pass ? EXIT_DONE_PASS : EXIT_VERDICT, verdict_text(verdict)};
}

int run_mode(const CommandLine& line) {
  const Channel channel = *Channel::from_key('0' + line.channel);
  // --quiet and --json keep the procedure's console text off standard output.
  std::string hidden;
  if (line.quiet || line.json) console_capture(&hidden);
  // Ctrl+C, SIGTERM and SIGHUP stop the procedure safely: its output off, its calibration closed.
  stop_handlers_install();
  console_start();
  load_program_settings();
  if (!net_startup()) {
    console_capture(nullptr);
    std::fputs("trimora: cannot start socket services\n", stderr);
    return EXIT_INSTRUMENT;
  }
  connect_dmm(dmm_host, dmm_port);
  connect_psu(psu_host, psu_port);

  const std::string missing = instruments_missing();
  // Nobody answers questions now: a key, or the end of standard input, aborts the run safely.
  if (missing.empty()) stop_on_console_input();
  const RecordedRun recorded = missing.empty() ? run_recorded(line.procedure, channel)
                                               : record_unfinished_run(line.procedure, channel, missing);
  // A run that stopped early: was it an instrument that went away?
  const bool completed = recorded.record && recorded.record->completed;
  const bool present = missing.empty() && (completed || instruments_missing().empty());
  RunOutcome outcome = run_outcome(recorded.record, present);
  if (!recorded.written && outcome.exit_code == EXIT_DONE_PASS) outcome.exit_code = EXIT_CALIBRATION;

  drop_links();
  save_program_settings();
  write_run_certificates();
  console_capture(nullptr);
  if (line.json && recorded.record) std::printf("%s\n", record_json(*recorded.record, 2).c_str());
  // The final line goes to standard error with --json, so that standard output holds the record alone.
  FILE* final_out = line.json ? stderr : stdout;
  if (recorded.written)
    std::fprintf(final_out, "Result: %s; record: %s\n", outcome.words.c_str(), recorded.json_path.c_str());
  else
    std::fprintf(final_out, "Result: %s; THE RECORD COULD NOT BE WRITTEN: %s\n", outcome.words.c_str(),
                 recorded.written.reason().c_str());
  std::fflush(final_out);
  stop_program_finished();
  return outcome.exit_code;
}
