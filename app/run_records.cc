// Records of this run of the program: what the procedures recorded, with who, where and when, handed to
// the records folder.
#include "app/run_records.h"

#include <filesystem>
#include <string>
#include <vector>

#include "calibration/run_recording.h"
#include "console/console.h"
#include "link/instruments.h"
#include "platform/local_time.h"
#include "records/certificate.h"
#include "records/procedure_record.h"
#include "records/record_time.h"
#include "settings/program_settings.h"

namespace {

ZonedTime procedure_started{};
// The records written in this run of the program, in the order they ran.
std::vector<RunRecord> run_records_written;

InstrumentRecord instrument_record(const IdentifiedInstrument& instrument) {
  return InstrumentRecord{instrument.identity, instrument.host, instrument.port};
}

void warn(const std::string& problem) { console_print("\aWARNING: %s\n", problem.c_str()); }

}  // namespace

void begin_recorded_procedure(Procedure procedure, Channel channel) {
  begin_run(procedure, channel);
  procedure_started = zoned_time_now();
}

SavedRecord end_recorded_procedure() {
  RecordContext context;
  context.supply = instrument_record(psu_identified);
  context.reference = instrument_record(dmm_identified);
  context.started = iso8601_local(procedure_started);
  context.ended = iso8601_local(zoned_time_now());
  context.record_id = make_record_id(procedure_started, psu_identified.identity.serial,
                                     procedure_key(current_run.procedure), current_run.channel);
  SavedRecord saved = save_procedure_record(records_folder(), current_run, context);
  for (const std::string& problem : saved.problems) warn(problem);
  if (saved.json_path.empty()) return saved;
  run_records_written.push_back(RunRecord{saved.record, saved.json_path});
  console_print("Record: %s\n", saved.shown_path.c_str());
  return saved;
}

void write_run_certificates() {
  if (run_records_written.empty()) return;
  for (const auto& certificate : write_certificates(records_folder(), run_records_written)) {
    if (certificate)
      console_print("Certificate: %s\n", certificate->string().c_str());
    else
      warn("THE CERTIFICATE COULD NOT BE WRITTEN: " + certificate.reason());
  }
  run_records_written.clear();
}
