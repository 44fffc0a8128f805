// The parts of a certificate that a laboratory's signature rests on, besides the results: the issuer,
// the customer and item, the dates, the method, the conditions, the reference and its traceability,
// the uncertainty statement and the authorisation. Drawn from the supply's records (the last one holds
// the session as it stood at the end) and the lab file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records/record.h"
#include "settings/lab_file.h"

// What a certificate adds to its records when it is issued.
struct CertificateIssue {
  std::string number;  // <prefix>-<year>-<sequence>
  std::string issued;  // YYYY-MM-DD
  std::optional<LabFile> lab;
};

// What the certificate needs for a signature and lacks, in words, in this order: "laboratory", "customer",
// "responsible person", "ambient conditions", "reference traceability". Empty: it can be signed.
std::vector<std::string> certificate_missing(const std::vector<Record>& records, const std::optional<LabFile>& lab);

// The items joined with ", ".
std::string joined(const std::vector<std::string>& items);

// The responsible person's name and role: the session's operator, else the lab file's person.
std::pair<std::string, std::string> responsible_person(const Record& last, const std::optional<LabFile>& lab);

// The date of receipt: the session's, else the day the first record started.
std::string receipt_date(const std::vector<Record>& records);

// The @page rules that print the number and "Page x of y" on every page.
std::string certificate_print_style(const std::string& number);
// From the title and DRAFT mark down to the uncertainty statement and the decision rule.
std::string certificate_front(const std::vector<Record>& records, const CertificateIssue& issue);
// The authorisation: the person, the role, the date and a line to sign on.
std::string certificate_authorisation(const std::vector<Record>& records, const CertificateIssue& issue);
