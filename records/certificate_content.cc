#include "records/certificate_content.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "records/html_escape.h"
#include "records/page_style.h"
#include "records/record_page.h"

namespace {

const char* const DASH = "\xe2\x80\x94";

std::string shown(const std::string& text) { return text.empty() ? std::string(DASH) : html_escape(text); }

std::string row(const char* label, const std::string& html) {
  return std::string("<tr><th>") + label + "</th><td>" + html + "</td></tr>";
}

std::string figure(std::optional<double> value, const char* unit) {
  if (!value) return "<span class=\"flag\">not recorded</span>";
  char text[48];
  std::snprintf(text, sizeof text, "%.1f %s", *value, unit);
  return text;
}

const Record& last_of(const std::vector<Record>& records) {
  static const Record empty;
  return records.empty() ? empty : records.back();
}

}  // namespace

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::pair<std::string, std::string> responsible_person(const Record& last, const std::optional<LabFile>& lab) {
  std::string name = last.session.operator_name, role = last.session.operator_role;
  if (name.empty() && lab) name = lab->person_name;
  if (role.empty() && lab && name == lab->person_name) role = lab->person_role;
  return {name, role};
}

std::string receipt_date(const std::vector<Record>& records) {
  const Record& last = last_of(records);
  if (!last.session.received.empty()) return last.session.received;
  return records.empty() ? std::string() : records.front().started.substr(0, 10);
}

std::vector<std::string> certificate_missing(const std::vector<Record>& records, const std::optional<LabFile>& lab) {
  const Record& last = last_of(records);
  std::vector<std::string> missing;
  if (!lab) missing.emplace_back("laboratory");
  if (last.session.customer.empty() || last.session.customer_address.empty()) missing.emplace_back("customer");
  if (responsible_person(last, lab).first.empty()) missing.emplace_back("responsible person");
  if (!last.session.temperature_C || !last.session.humidity_percent) missing.emplace_back("ambient conditions");
  if (!last.reference_calibration) missing.emplace_back("reference traceability");
  return missing;
}

std::string certificate_print_style(const std::string& number) {
  // The number holds letters, digits and hyphens only, so it stands in a CSS string as it is.
  return "<style>@page{@top-left{content:\"Calibration certificate " + html_escape(number) +
         "\";font:9pt sans-serif}@bottom-right{content:\"Page \" counter(page) \" of \" counter(pages);"
         "font:9pt sans-serif}}.draft{border:4px solid #b33c00;color:#b33c00;padding:.3rem .6rem;margin:.4rem 0}"
         ".draft strong{font-size:2rem;letter-spacing:.3em}.signature{margin-top:2.5rem;border-top:1px solid #111;"
         "width:18rem;padding-top:.2rem}.overdue{color:#b33c00;font-weight:bold}"
         "@media print{.authorisation{break-inside:avoid;page-break-inside:avoid}}</style>\n";
}

std::string certificate_front(const std::vector<Record>& records, const CertificateIssue& issue) {
  const Record& last = last_of(records);
  const Record& first = records.empty() ? last : records.front();
  const SessionDetails& session = last.session;
  const std::vector<std::string> missing = certificate_missing(records, issue.lab);
  std::string h = "<header>";
  if (!missing.empty())
    h += "<div class=\"draft\"><strong>DRAFT</strong><br>Not to be signed: missing " + html_escape(joined(missing)) +
         ".</div>";
  h += "<h1>Calibration certificate</h1><p class=\"id\">Certificate number <strong>" + html_escape(issue.number) +
       "</strong></p></header>";

  h += "<h2>Issued by</h2><table class=\"facts\">";
  if (issue.lab) {
    const LabFile& lab = *issue.lab;
    h += row("Laboratory", html_escape(lab.name)) + row("Address", html_escape(lab.address)) +
         row("City", html_escape(lab.city)) + row("Country", html_escape(lab.country));
    if (lab.accreditation) h += row("Accreditation", html_escape(*lab.accreditation));
    h += row("Performed at", html_escape(lab.performance_location));
  } else {
    h += row("Laboratory", "<span class=\"flag\">not stated (no lab file)</span>");
  }
  h += "</table>";

  h += "<h2>Customer</h2><table class=\"facts\">" + row("Name", shown(session.customer)) +
       row("Address", shown(session.customer_address)) + "</table>";

  h += "<h2>Item calibrated</h2><table class=\"facts\">" + row("Description", "Three-channel DC power supply") +
       row("Maker", shown(first.supply.maker)) + row("Model", shown(first.supply.model)) +
       row("Serial number", shown(first.supply.serial)) + row("Asset number", shown(session.asset)) +
       row("Firmware", shown(first.supply.firmware)) + "</table>";

  std::string begun = first.started, ended = first.ended;
  for (const Record& r : records) {
    begun = std::min(begun, r.started);
    ended = std::max(ended, r.ended);
  }
  h += "<h2>Dates</h2><table class=\"facts\">" + row("Received", shown(receipt_date(records))) +
       row("Calibrated", shown(begun.substr(0, 10)) + (ended.substr(0, 10) != begun.substr(0, 10)
                                                            ? " to " + shown(ended.substr(0, 10))
                                                            : std::string()) +
                             " (" + shown(begun) + " to " + shown(ended) + ")") +
       row("Issued", shown(issue.issued)) + "</table>";

  std::set<std::string> seen;
  std::string procedures;
  for (const Record& r : records) {
    const std::string title = procedure_title(procedure_key(r.procedure));
    if (seen.insert(title).second) procedures += "<div>" + html_escape(title) + "</div>";
  }
  h += "<h2>Method</h2><table class=\"facts\">" + row("Procedures", procedures) +
       row("Program", html_escape(last.program_name + " " + last.program_version)) +
       row("Method", "Each output set to the points of the procedure and measured at its terminals with the "
                     "reference DMM; the error is the reading less the set value.") +
       "</table>";

  h += "<h2>Environmental conditions</h2><table class=\"facts\">" +
       row("Ambient temperature", figure(session.temperature_C, "\xc2\xb0" "C")) +
       row("Relative humidity", figure(session.humidity_percent, "%")) + "</table>";

  h += "<h2>Reference standard</h2><table class=\"facts\">" + instrument_rows(first.reference);
  if (last.reference_calibration) {
    const ReferenceEntry& ref = *last.reference_calibration;
    h += row("Calibration certificate", html_escape(ref.certificate)) + row("Calibrated", html_escape(ref.calibrated));
    h += row("Calibration due", last.reference_overdue
                                    ? "<span class=\"overdue\">" + html_escape(ref.due) +
                                          ": THE REFERENCE'S CALIBRATION WAS DUE ON " + html_escape(ref.due) +
                                          ", BEFORE THIS CALIBRATION.</span>"
                                    : html_escape(ref.due));
    h += row("Traceability", html_escape(ref.traceability));
  } else {
    h += row("Traceability", "<span class=\"flag\">The traceability of the reference is not stated: its serial "
                             "number is not in the laboratory's register.</span>");
  }
  h += "</table>";

  h += "<h2>Measurement uncertainty</h2><p>The expanded uncertainty U of each point is the standard uncertainty "
       "multiplied by the coverage factor k = 2, which for a normal distribution gives a coverage probability "
       "of about 95 %. It is stated with each point below.</p>";
  h += decision_rule_paragraph(last) + rule_and_risk_sentence(records);
  return h;
}

std::string certificate_authorisation(const std::vector<Record>& records, const CertificateIssue& issue) {
  const auto [name, role] = responsible_person(last_of(records), issue.lab);
  return "<section class=\"authorisation\"><h2>Authorisation</h2><table class=\"facts\">" +
         row("Responsible person", shown(name)) + row("Role", shown(role)) + row("Date of issue", shown(issue.issued)) +
         "</table><p class=\"signature\">Signature</p></section>";
}
