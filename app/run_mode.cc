// trimora run: connect, check, one procedure, its record, the final line and the exit code.
#include "app/run_mode.h"

#include <cstdio>

#include "app/run_records.h"
#include "app/trimora.h"
#include "platform/net.h"
#include "platform/raw_keys.h"
#include "platform/stop_request.h"
#include "records/record_codec.h"

namespace {

// What keeps the run from starting: an instrument absent or not answering; empty when both are ready.
std::string instruments_missing(Bench& bench) {
  if (!bench.dmm.present()) return "no DMM connected";
  if (!bench.psu.present()) return "no DP832 connected";
  if (!instruments_ready(bench)) return "an instrument does not answer";
  return "";
}

// What the run leaves for its outcome: the record as written, and where it went or why it did not.
struct RecordedRun {
  std::optional<Record> record;        // none when none was written
  std::string json_path;
  Status written = Status::success();  // or what of it could not be written
};

RecordedRun recorded_run(SavedRecord saved) {
  RecordedRun run;
  run.json_path = saved.json_path;
  std::string reason;
  for (const std::string& problem : saved.problems) reason += (reason.empty() ? "" : "; ") + problem;
  if (saved.json_path.empty() || !saved.problems.empty()) run.written = Status::failure(reason);
  if (!saved.json_path.empty()) run.record = std::move(saved.record);
  return run;
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

int run_mode(const CommandLine& line, Environment& environment, ProgramSettings& settings) {
  const Channel channel = *Channel::from_key('0' + line.channel);
  // Ctrl+C, SIGTERM and SIGHUP stop the procedure safely: its output off, its calibration closed.
  stop_handlers_install();
  console_start();
  settings.load(environment.console());
  if (!net_startup()) {
    std::fputs("trimora: cannot start socket services\n", stderr);
    return EXIT_INSTRUMENT;
  }
  std::unique_ptr<Bench> bench = open_bench(environment, settings, true);
  RunRecords records(settings.records_folder());

  const std::string missing = instruments_missing(*bench);
  // Nobody answers questions now: a key, or the end of standard input, aborts the run safely.
  if (missing.empty()) stop_on_console_input();
  const RecordedRun recorded =
      recorded_run(missing.empty() ? records.run(*bench, line.procedure, channel)
                                   : records.unfinished(*bench, line.procedure, channel, missing));
  // A run that stopped early: was it an instrument that went away?
  const bool completed = recorded.record && recorded.record->completed;
  const bool present = missing.empty() && (completed || instruments_missing(*bench).empty());
  RunOutcome outcome = run_outcome(recorded.record, present);
  if (!recorded.written && outcome.exit_code == EXIT_DONE_PASS) outcome.exit_code = EXIT_CALIBRATION;

  bench->dmm.drop();
  bench->psu.drop();
  settings.save(environment.local_time().local);
  records.write_certificates(environment.console());
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
