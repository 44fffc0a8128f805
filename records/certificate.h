// The certificate of one supply for one run of the program: per channel as found, adjustments, as left.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "records/certificate_content.h"
#include "records/page_files.h"
#include "records/record.h"

// One assessment step: records[record].steps[step].
struct StepRef {
  std::size_t record = 0;
  std::size_t step = 0;
  bool operator==(const StepRef&) const = default;
};

struct ChannelHistory {
  int channel = 0;
  std::optional<StepRef> as_found;       // the first assessment before the first adjustment
  std::vector<std::size_t> adjustments;  // records of V, C and F, in run order
  std::optional<StepRef> as_left;        // the last assessment after the last adjustment
};

// The choice of as found and as left per channel, from one supply's records in the order they ran. Every
// V, C or F record is an adjustment, and so is each calibration step inside F. Without any adjustment, as
// found is the first assessment and as left the last. Channels in ascending order.
std::vector<ChannelHistory> select_channel_history(const std::vector<Record>& records);
// The same over the assessments of one quantity only: a current assessment is neither the as found nor
// the as left of the voltage figures. The step references index the records given.
std::vector<ChannelHistory> select_channel_history(const std::vector<Record>& records, Quantity quantity);

// The statement of conformity of a channel from its as-left verdict, in words.
std::string conformity_statement(const std::string& as_left_verdict, bool measured);

// The certificate page of one supply; files[i] is the file name of records[i]'s JSON.
std::string render_certificate(const std::vector<Record>& records, const std::vector<std::string>& files,
                               const CertificateIssue& issue = {});

// A record written in this run of the program, and its JSON file.
struct RunRecord {
  Record record;
  std::filesystem::path json_path;
};

// A certificate as written: its page, its number, what it lacks for a signature (a draft when anything),
// and its DCC beside it, or why there is none.
struct WrittenCertificate {
  std::filesystem::path page;
  std::string number;
  std::vector<std::string> missing;
  std::optional<std::filesystem::path> dcc;
  std::string no_dcc;  // why there is no DCC
};

// Writes records/certificate_<number>.html for every supply among the records written in this run, in
// the order they ran, each under a number newly taken in the folder (prefix from the lab file, year of
// the supply's first record), and beside each one that is no draft its DCC, certificate_<number>.xml.
// One result per supply, the certificate or why it is missing; never throws.
std::vector<Result<WrittenCertificate>> write_certificates(const std::filesystem::path& records_dir,
                                                           const std::vector<RunRecord>& run_records,
                                                           const std::optional<LabFile>& lab = std::nullopt);
