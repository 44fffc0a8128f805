// Records of this run of the program: what the procedures recorded, with who, where and when, handed to
// the records folder.
#include "app/run_records.h"

#include "app/console_observer.h"
#include "calibration/current_assessment.h"
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
    case Procedure::current_assessment: assess_current_accuracy(bench, channel, observer); break;
  }
}

}  // namespace

void RunRecords::default_session(const std::string& today) {
  if (session.operator_name.empty() && lab_) {
    session.operator_name = lab_->person_name;
    session.operator_role = lab_->person_role;
  }
  if (session.received.empty()) session.received = today;
}

std::pair<std::optional<ReferenceEntry>, bool> RunRecords::reference_of(Bench& bench) const {
  if (!lab_ || !bench.dmm.present()) return {std::nullopt, false};
  const ReferenceEntry* entry = find_reference(*lab_, bench.dmm.identified().identity.serial);
  if (entry == nullptr) return {std::nullopt, false};
  const std::string today = iso8601_local(bench.env.local_time()).substr(0, 10);
  return {*entry, entry->due < today};
}

bool RunRecords::warn_of_overdue_reference(Bench& bench) const {
  const auto [entry, overdue] = reference_of(bench);
  if (overdue) bench.console().print_untrusted("\aWARNING: THE DMM'S CALIBRATION WAS DUE ON %s.\n", entry->due);
  return overdue;
}

SavedRecord RunRecords::run(Bench& bench, Procedure procedure, Channel channel) {
  (void)warn_of_overdue_reference(bench);
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
  context.session = session;
  const auto [reference, overdue] = reference_of(bench);
  context.reference_calibration = reference;
  context.reference_overdue = overdue;
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
  for (const Result<WrittenCertificate>& certificate : ::write_certificates(folder_, written_, lab_)) {
    if (certificate) {
      if (certificate->missing.empty())
        console.print_untrusted("Certificate: %s\n", certificate->page.string());
      else
        console.print_untrusted("Certificate (draft: %s): %s\n", joined(certificate->missing),
                                certificate->page.string());
      if (certificate->dcc) {
        console.print_untrusted("DCC: %s\n", certificate->dcc->string());
      } else if (certificate->missing.empty()) {  // a certificate to sign, and its DCC is lost
        problems.push_back("THE DCC COULD NOT BE WRITTEN: " + certificate->no_dcc);
        console.print_untrusted("\aWARNING: %s\n", problems.back());
      } else {
        console.print_untrusted("No DCC: %s.\n", certificate->no_dcc);
      }
    } else {
      problems.push_back("THE CERTIFICATE COULD NOT BE WRITTEN: " + certificate.reason());
      console.print_untrusted("\aWARNING: %s\n", problems.back());
    }
  }
  written_.clear();
  return problems;
}
