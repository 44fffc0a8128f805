// trimora run: connect, check, one procedure, its record, the final line and the exit code.
#include "app/run_mode.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_records.h"
#include "app/trimora.h"
#include "platform/net.h"
#include "platform/raw_keys.h"
#include "platform/stop_request.h"
#include "records/record_codec.h"
#include "records/record_time.h"
#include "settings/lab_file.h"

namespace {

// What keeps the run from starting: an instrument absent or not answering; empty when both are ready.
// not_ready, when given, is set when the DMM answered but failed its function or read check: the
// reason is then the DMM's fault.
std::string instruments_missing(Bench& bench, bool* not_ready = nullptr) {
  std::string dmm_fault = bench.dmm.present() ? std::string() : bench.dmm.check_failure();
  if (!bench.dmm.present() && dmm_fault.empty()) return "no DMM connected";
  if (dmm_fault.empty() && !bench.psu.present()) return "no DP832 connected";
  if (dmm_fault.empty() && !instruments_ready(bench, &dmm_fault) && dmm_fault.empty())
    return "an instrument does not answer";
  if (not_ready != nullptr) *not_ready = !dmm_fault.empty();
  return dmm_fault;
}

// What the run leaves for its outcome: the record as written, and where it went or why it did not.
struct RecordedRun {
  std::optional<Record> record;        // none when none was written
  std::string json_path;
  std::vector<std::string> problems;  // what of it could not be written, as warned on the console
};

// The problems of writing a record, as one reason for the final line: each as its warning says it, but
// without the words the final line itself begins with.
std::string not_written_reason(const std::vector<std::string>& problems) {
  static const std::string RECORD_PREFIX = "THE RECORD COULD NOT BE WRITTEN: ";
  std::string reason;
  for (const std::string& problem : problems) {
    const bool prefixed = problem.rfind(RECORD_PREFIX, 0) == 0;
    reason += (reason.empty() ? "" : "; ") + (prefixed ? problem.substr(RECORD_PREFIX.size()) : problem);
  }
  return reason;
}

RecordedRun recorded_run(SavedRecord saved) {
  RecordedRun run;
  run.json_path = saved.json_path;
  run.problems = saved.problems;
  if (saved.json_path.empty() && run.problems.empty()) run.problems.emplace_back("no record file");
  if (!saved.json_path.empty()) run.record = std::move(saved.record);
  return run;
}

// Why the settings file keeps the run from starting, on one line of standard error: the run contacts
// nothing at an address nobody has seen.
int refuse_settings(const ProgramSettings& settings) {
  std::fprintf(stderr, "trimora: the settings file %s cannot be read: %s; nothing was contacted\n",
               console_visible_text(settings.path).c_str(), console_visible_text(settings.file_problem()).c_str());
  return EXIT_USAGE;
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
  settings.load(environment.console());
  if (!settings.file_problem().empty()) return refuse_settings(settings);
  // Ctrl+C, SIGTERM and SIGHUP stop the procedure safely: its output off, its calibration closed.
  stop_handlers_install();
  console_start();
  if (!net_startup()) {
    std::fputs("trimora: cannot start socket services\n", stderr);
    return EXIT_INSTRUMENT;
  }
  const std::string lab_path = line.lab_file.empty() ? lab_file_beside(settings.path) : line.lab_file;
  Result<std::optional<LabFile>> lab = load_lab_file(lab_path, !line.lab_file.empty());
  if (!lab) {
    std::fprintf(stderr, "trimora: %s; nothing was contacted\n", console_visible_text(lab.reason()).c_str());
    return EXIT_USAGE;
  }
  std::unique_ptr<Bench> bench = open_bench(environment, settings, true);
  RunRecords records(settings.records_folder(), *lab);
  records.session = line.session;
  records.default_session(iso8601_local(environment.local_time()).substr(0, 10));
  if (const auto [reference, overdue] = records.reference_of(*bench); overdue && !line.allow_overdue) {
    (void)records.warn_of_overdue_reference(*bench);
    bench->dmm.drop();
    bench->psu.drop();
    std::fprintf(stderr, "trimora: the DMM's calibration was due on %s; nothing was run (--allow-overdue-reference "
                 "runs all the same)\n", console_visible_text(reference->due).c_str());
    stop_program_finished();
    return EXIT_USAGE;
  }

  bool dmm_not_ready = false;
  const std::string missing = instruments_missing(*bench, &dmm_not_ready);
  // Nobody answers questions now: a key, or the end of standard input, aborts the run safely.
  if (missing.empty()) stop_on_console_input();
  const RecordedRun recorded =
      recorded_run(missing.empty() ? records.run(*bench, line.procedure, channel)
                                   : records.unfinished(*bench, line.procedure, channel, missing));
  // A run that stopped early: was it an instrument that went away?
  const bool completed = recorded.record && recorded.record->completed;
  bool not_ready_after = false;
  const std::string missing_after = missing.empty() && !completed ? instruments_missing(*bench, &not_ready_after) : "";
  const bool present = missing.empty() && missing_after.empty();
  RunOutcome outcome = run_outcome(recorded.record, present);
  // A DMM that is connected but fails its check is not absent: the outcome names what it did wrong.
  if (dmm_not_ready) outcome = {EXIT_INSTRUMENT, "INSTRUMENT NOT READY: " + missing};
  else if (not_ready_after && outcome.exit_code == EXIT_INSTRUMENT)
    outcome = {EXIT_INSTRUMENT, "INSTRUMENT NOT READY: " + missing_after};
  else if (!completed && !bench->dmm.check_failure().empty())  // it refused the procedure's function
    outcome = {EXIT_INSTRUMENT, "INSTRUMENT NOT READY: " + bench->dmm.check_failure()};

  bench->dmm.drop();
  bench->psu.drop();
  settings.save_at_exit(environment.local_time().local);
  std::vector<std::string> unwritten = recorded.problems;
  const std::vector<std::string> certificates = records.write_certificates(environment.console());
  unwritten.insert(unwritten.end(), certificates.begin(), certificates.end());
  // A record or certificate that is missing is the outcome: whatever the run found, nobody can show it.
  if (!unwritten.empty()) outcome = {EXIT_CALIBRATION, "RECORD NOT WRITTEN: " + not_written_reason(unwritten)};
  if (line.json && recorded.record) std::printf("%s\n", record_json(*recorded.record, 2).c_str());
  // The final line goes to standard error with --json, so that standard output holds the record alone.
  // Its words hold what the supply said and what the file system said: shown cleaned, as on the console.
  FILE* final_out = line.json ? stderr : stdout;
  if (unwritten.empty())
    std::fprintf(final_out, "Result: %s; record: %s\n", console_visible_text(outcome.words).c_str(),
                 console_visible_text(recorded.json_path).c_str());
  else
    std::fprintf(final_out, "Result: %s\n", console_visible_text(outcome.words).c_str());
  std::fflush(final_out);
  stop_program_finished();
  return outcome.exit_code;
}
