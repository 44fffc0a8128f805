// The procedures as the run mode calls them, and the record of their run.
#include "app/recorded_run.h"

#include <utility>

#include "calibration/factory_calibration.h"
#include "calibration/voltage_assessment.h"
#include "link/identity.h"
#include "platform/local_time.h"
#include "records/record_time.h"
#include "settings/program_settings.h"

// The procedures report only on the console so far; the record wiring hands their RunResult over here.
const bool PROCEDURES_HAND_OVER_RESULTS = false;

namespace {

RecordContext context_of_run(const std::string& started, const std::string& serial, Procedure procedure,
                             Channel channel) {
  RecordContext context;
  context.supply.identity.serial = serial;
  context.supply.address = psu_host;
  context.supply.port = psu_port;
  context.reference.address = dmm_host;
  context.reference.port = dmm_port;
  const ZonedTime now = zoned_time_now();
  context.started = started.empty() ? iso8601_local(now) : started;
  context.ended = iso8601_local(now);
  context.record_id = make_record_id(now, serial, procedure_key(procedure), static_cast<int>(channel.index()) + 1);
  return context;
}

}  // namespace

RecordedRun record_unfinished_run(Procedure procedure, Channel channel, const std::string& reason,
                                  const std::string& started) {
  RunResult run;
  run.procedure = procedure;
  run.channel = static_cast<int>(channel.index()) + 1;
  mark_incomplete(run, reason);
  RecordJson record = build_record(run, context_of_run(started, "", procedure, channel));
  RecordWrite written = write_record(records_folder(), record);
  return RecordedRun{std::move(record), std::move(written)};
}

RecordedRun run_recorded(Procedure procedure, Channel channel) {
  const std::string started = iso8601_local(zoned_time_now());
  double sum_of_squares = 0.0;
  double rms_error = 0.0;
  switch (procedure) {
    case Procedure::assessment:
      assess_voltage_accuracy(channel, sum_of_squares, rms_error, AssessMode::REPORT_ONLY);
      break;
    case Procedure::voltage_calibration: factory_voltage_calibration(channel, false); break;
    case Procedure::current_calibration: factory_current_calibration(channel); break;
    case Procedure::full_voltage_calibration: full_voltage_calibration(channel); break;
  }
  return record_unfinished_run(procedure, channel, "the procedure handed over no measurements", started);
}
