// Records of this run of the program: what the procedures recorded, with who, where and when, handed to
// the records folder.
#include "app/run_records.h"

#include "app/console_observer.h"
#include "calibration/factory_calibration.h"
#include "calibration/run_recording.h"
#include "calibration/voltage_assessment.h"
#include "records/certificate.h"
#include "records/record_time.h"

namespace {

InstrumentRecord instrument_record(const IdentifiedInstrument& instrument) {
  return InstrumentRecord{instrument.identity, instrument.host, instrument.port};
}

void run_procedure(Bench& bench, Procedure procedure, Channel channel, ProcedureObserver& observer) {
  switch (procedure) {
    case Procedure::assessment: assess_voltage_accuracy(bench, channel, observer); break;
    case Procedure::voltage_calibration: factory_voltage_calibration(bench, channel, observer); break;
    case Procedure::current_calibration: factory_current_calibration(bench, channel, observer); break;
    case Procedure::full_voltage_calibration: full_voltage_calibration(bench, channel, observer); break;
  }
}

}  // namespace

SavedRecord RunRecords::run(Bench& bench, Procedure procedure, Channel channel) {
  const ZonedTime started = bench.env.local_time();
  RunRecorder recorder(procedure, channel);
  ConsoleObserver console(bench.console());
  ObserverPair observers(console, recorder);
  run_procedure(bench, procedure, channel, observers);
  return save(bench, recorder.run(), started);
}

SavedRecord RunRecords::unfinished(Bench& bench, Procedure procedure, Channel channel, const std::string& reason) {
  const ZonedTime started = bench.env.local_time();
  RunRecorder recorder(procedure, channel);
  recorder.incomplete(reason);
  return save(bench, recorder.run(), started);
}

SavedRecord RunRecords::save(Bench& bench, const RunResult& run, const ZonedTime& started) {
  RecordContext context;
  context.supply = instrument_record(bench.psu.identified());
  context.reference = instrument_record(bench.dmm.identified());
  context.decision_rule = bench.decision_rule;
  context.started = iso8601_local(started);
  context.ended = iso8601_local(bench.env.local_time());
  context.record_id =
      make_record_id(started, bench.psu.identified().identity.serial, procedure_key(run.procedure), run.channel);
  SavedRecord saved = save_procedure_record(folder_, run, context);
  Console& console = bench.console();
  // Paths hold the supply's serial number and the reasons the file system's words: shown cleaned.
  for (const std::string& problem : saved.problems) console.print_untrusted("\aWARNING: %s\n", problem);
  if (saved.json_path.empty()) return saved;
  written_.push_back(RunRecord{saved.record, saved.json_path});
  console.print_untrusted("Record: %s\n", saved.shown_path);
  return saved;
}

std::vector<std::string> RunRecords::write_certificates(Console& console) {
  std::vector<std::string> problems;
  if (written_.empty()) return problems;
  for (const Result<std::filesystem::path>& certificate : ::write_certificates(folder_, written_)) {
    if (certificate) {
      console.print_untrusted("Certificate: %s\n", certificate->string());
    } else {
      problems.push_back("THE CERTIFICATE COULD NOT BE WRITTEN: " + certificate.reason());
      console.print_untrusted("\aWARNING: %s\n", problems.back());
    }
  }
  written_.clear();
  return problems;
}
