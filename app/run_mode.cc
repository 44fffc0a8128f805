// trimora run: connect, check, one procedure, its record, the final line and the exit code.
#include "app/run_mode.h"

#include <cstdio>

#include "app/run_records.h"
#include "app/trimora.h"
#include "platform/net.h"
#include "platform/raw_keys.h"
#include "platform/stop_request.h"
#include "records/record_file.h"

namespace {

std::string text_of(const RecordJson& record, const char* key) {
  auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// What keeps the run from starting: an instrument absent or not answering; empty when both are ready.
std::string instruments_missing(Bench& bench) {
  if (!bench.dmm.present()) return "no DMM connected";
  if (!bench.psu.present()) return "no DP832 connected";
  if (!instruments_ready(bench)) return "an instrument does not answer";
  return "";
}

// What the run leaves for its outcome: the record as written and read back, and where it went.
struct RecordedRun {
  RecordJson record;    // null when none was written
  RecordWrite written;  // where it was written, or why it was not
};

RecordedRun read_back(const SavedRecord& saved) {
  RecordWrite written;
  written.json_path = saved.json_path;
  written.ok = !saved.json_path.empty() && saved.problems.empty();
  for (const std::string& problem : saved.problems) written.reason += (written.reason.empty() ? "" : "; ") + problem;
  if (saved.json_path.empty()) return RecordedRun{RecordJson(), std::move(written)};
  RecordRead read = read_record(saved.json_path);
  if (!read.ok) {
    written.ok = false;
    written.reason = read.error;
  }
  return RecordedRun{std::move(read.record), std::move(written)};
}

}  // namespace

RunOutcome run_outcome(const RecordJson& record, bool instruments_present) {
  if (!record.is_object()) return {EXIT_CALIBRATION, "NO RECORD"};
  // The supply's own errors, read at the end of the procedure, say first why a run did not count.
  auto errors = record.find("supply_errors");
  if (errors != record.end() && errors->is_array() && !errors->empty())
    return {EXIT_CALIBRATION, "REFUSED BY THE SUPPLY: " + (errors->front().is_string()
                                                               ? errors->front().get<std::string>()
                                                               : errors->front().dump())};
  if (!record.value("completed", false)) {
    const std::string why = text_of(record, "incomplete_reason");
    if (!instruments_present) return {EXIT_INSTRUMENT, "INSTRUMENT ABSENT OR LOST: " + why};
    return {EXIT_CALIBRATION, "INCOMPLETE: " + why};
  }
  const std::string verdict = text_of(record, "overall_verdict");
  if (verdict.empty()) return {EXIT_DONE_PASS, "DONE"};  // the factory calibrations give no verdict
  return {verdict == "PASS" ? EXIT_DONE_PASS : EXIT_VERDICT, verdict};
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
  const RecordedRun recorded = read_back(missing.empty() ? records.run(*bench, line.procedure, channel)
                                                         : records.unfinished(*bench, line.procedure, channel, missing));
  // A run that stopped early: was it an instrument that went away?
  const bool completed = recorded.record.is_object() && recorded.record.value("completed", false);
  const bool present = missing.empty() && (completed || instruments_missing(*bench).empty());
  RunOutcome outcome = run_outcome(recorded.record, present);
  if (!recorded.written.ok && outcome.exit_code == EXIT_DONE_PASS) outcome.exit_code = EXIT_CALIBRATION;

  bench->dmm.drop();
  bench->psu.drop();
  settings.save(environment.local_time().local);
  records.write_certificates(environment.console());
  if (line.json && recorded.record.is_object()) std::printf("%s\n", recorded.record.dump(2).c_str());
  // The final line goes to standard error with --json, so that standard output holds the record alone.
  FILE* final_out = line.json ? stderr : stdout;
  if (recorded.written.ok)
    std::fprintf(final_out, "Result: %s; record: %s\n", outcome.words.c_str(), recorded.written.json_path.c_str());
  else
    std::fprintf(final_out, "Result: %s; THE RECORD COULD NOT BE WRITTEN: %s\n", outcome.words.c_str(),
                 recorded.written.reason.c_str());
  std::fflush(final_out);
  stop_program_finished();
  return outcome.exit_code;
}
