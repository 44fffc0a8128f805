// The records of this run of the program: each procedure run with the console and the recorder
// watching, its record written at its end, and the certificates at exit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calibration/bench.h"
#include "calibration/run_result.h"
#include "link/channel.h"
#include "records/certificate.h"
#include "records/procedure_record.h"
#include "settings/lab_file.h"
#include "settings/session_details.h"

class RunRecords {
 public:
  explicit RunRecords(std::string folder, std::optional<LabFile> lab = std::nullopt)
      : folder_(std::move(folder)), lab_(std::move(lab)) {}

  // The session details every record from now on keeps (menu key S, the options of trimora run).
  SessionDetails session;
  const std::optional<LabFile>& lab() const { return lab_; }

  // Fills what the operator has not given with the defaults of the day: the lab file's responsible
  // person, today as the date of receipt.
  void default_session(const std::string& today);

  // The connected DMM in the lab file's register: its entry (none when it is not there) and whether its
  // due date lies before today.
  std::pair<std::optional<ReferenceEntry>, bool> reference_of(Bench& bench) const;

  // Says on the console when the connected DMM's calibration is overdue; true when it is.
  bool warn_of_overdue_reference(Bench& bench) const;

  // Runs the procedure on the channel (a full voltage calibration on CH1 or CH2 only), shown on the
  // console after the warning of an overdue reference, and recorded, then writes its record, page and index and names the page on the console
  // ("Record: ..."), or warns when something could not be written. Returns what was written.
  SavedRecord run(Bench& bench, Procedure procedure, Channel channel);

  // The record of a run that could not start, with the reason in words.
  SavedRecord unfinished(Bench& bench, Procedure procedure, Channel channel, const std::string& reason);

  // At exit: the certificate of every supply that had records in this run, each named on the console
  // ("Certificate: ...", or "Certificate (draft: <what is missing>): ..."), with its DCC or why it has none.
  // Returns the warnings of those that could not be written (none: all were).
  std::vector<std::string> write_certificates(Console& console);

 private:
  SavedRecord save(Bench& bench, const RunResult& run, const ZonedTime& started);

  std::string folder_;
  std::optional<LabFile> lab_;
  // The records written in this run of the program, in the order they ran.
  std::vector<RunRecord> written_;
};
