#include "records/certificate.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>

#include "platform/files.h"
#include "records/certificate_number.h"
#include "records/dcc.h"
#include "records/html_escape.h"
#include "records/page_style.h"
#include "records/record_page.h"
#include "records/svg_plot.h"

namespace {

// The history over the assessment steps that `measures` counts; calibration steps count always, as they
// end whatever was measured before them.
std::vector<ChannelHistory> channel_history(const std::vector<Record>& records,
                                            const std::function<bool(const RecordStep&)>& measures) {
  std::map<int, ChannelHistory> channels;
  std::map<int, bool> adjusted;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    auto& ch = channels[r.channel];
    ch.channel = r.channel;
    // V, C and F adjust the supply; the assessments (A and I) only measure it.
    if (r.procedure != Procedure::assessment && r.procedure != Procedure::current_assessment) {
      ch.adjustments.push_back(i);
      adjusted[ch.channel] = true;
      ch.as_left.reset();  // whatever was measured before no longer describes the supply
    }
    for (std::size_t s = 0; s < r.steps.size(); ++s) {
      if (r.steps[s].kind == StepKind::calibration) {
        ch.as_left.reset();
      } else if (measures(r.steps[s])) {
        const StepRef ref{i, s};
        if (!adjusted[ch.channel] && !ch.as_found) ch.as_found = ref;
        ch.as_left = ref;
      }
    }
  }
  std::vector<ChannelHistory> out;
  for (auto& [n, ch] : channels) out.push_back(ch);
  return out;
}

std::string verdict_of(const RecordStep& step) { return verdict_text(step.summary.verdict); }

// One figure of a channel as found and as left: its verdicts, empty where it was not measured.
struct FigureHistory {
  std::string as_found;
  std::string as_left;
};

// The channel's history over the assessment steps that measured the figure, chosen as for the channel.
FigureHistory figure_history(const std::vector<Record>& records, int channel, FigureId figure) {
  const auto measures = [&](const RecordStep& s) {
    return s.quantity == figure.quantity && (figure.kind == FigureKind::programming || s.summary.readback);
  };
  const auto verdict = [&](const std::optional<StepRef>& ref) {
    if (!ref) return std::string();
    const StepSummary& s = records[ref->record].steps[ref->step].summary;
    return std::string(verdict_text(figure.kind == FigureKind::readback ? s.readback->verdict : s.verdict));
  };
  FigureHistory out;
  for (const ChannelHistory& ch : channel_history(records, measures)) {
    if (ch.channel != channel) continue;
    out.as_found = verdict(ch.as_found);
    out.as_left = verdict(ch.as_left);
  }
  return out;
}

// The four figures of a channel: as found and as left with their verdicts where measured, and a line for
// each figure not measured.
std::string figure_table(const std::vector<Record>& records, int channel) {
  std::string s = "<h3>The four figures</h3><table class=\"points figures\"><thead><tr><th class=\"v\">Figure</th>"
                  "<th class=\"v\">As found</th><th class=\"v\">As left</th></tr></thead><tbody>";
  for (const FigureId& figure : SUPPLY_FIGURES) {
    const FigureHistory found = figure_history(records, channel, figure);
    std::string name = figure_name(figure.quantity, figure.kind);
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    if (found.as_found.empty() && found.as_left.empty()) {
      s += "<tr class=\"no-reading\"><td class=\"v\">" + html_escape(name) +
           "</td><td class=\"v\" colspan=\"2\">not verified in this run</td></tr>";
      continue;
    }
    const auto cell = [](const std::string& verdict) {
      return "<td class=\"v\">" + (verdict.empty() ? std::string("not measured") : verdict_badge(verdict)) + "</td>";
    };
    s += "<tr><td class=\"v\">" + html_escape(name) + "</td>" + cell(found.as_found) + cell(found.as_left) + "</tr>";
  }
  return s + "</tbody></table>";
}

// The channel's verdict as left over every figure measured after its last adjustment: FAIL when any
// fails, else the first of INDETERMINATE, NO READING and INCOMPLETE that any figure has, else PASS; empty
// when no figure was measured as left.
std::string channel_verdict_as_left(const std::vector<Record>& records, int channel) {
  std::vector<std::string> verdicts;
  for (const FigureId& figure : SUPPLY_FIGURES) {
    const std::string left = figure_history(records, channel, figure).as_left;
    if (!left.empty()) verdicts.push_back(left);
  }
  if (verdicts.empty()) return "";
  for (const char* worst : {"FAIL", "INDETERMINATE", "NO READING", "INCOMPLETE"})
    if (std::find(verdicts.begin(), verdicts.end(), worst) != verdicts.end()) return worst;
  return "PASS";
}

}  // namespace


std::vector<ChannelHistory> select_channel_history(const std::vector<Record>& records) {
  return channel_history(records, [](const RecordStep&) { return true; });
}

std::vector<ChannelHistory> select_channel_history(const std::vector<Record>& records, Quantity quantity) {
  return channel_history(records, [quantity](const RecordStep& s) { return s.quantity == quantity; });
}

std::string conformity_statement(const std::string& verdict, bool measured) {
  if (!measured) return "No statement of conformity: the channel was not assessed after its last adjustment.";
  if (verdict == "PASS")
    return "Conforms: every point as left lies within the tolerance less the measurement uncertainty.";
  if (verdict == "FAIL")
    return "Does not conform: at least one point as left lies outside the tolerance plus the "
           "measurement uncertainty.";
  if (verdict == "INDETERMINATE")
    return "Conformity cannot be stated: at least one point as left lies within the guard band around the limit.";
  if (verdict == "NO READING") return "Conformity cannot be stated: at least one point as left has no reading.";
  if (verdict == "INCOMPLETE") return "Conformity cannot be stated: the assessment as left did not complete.";
  return "Conformity cannot be stated: the assessment as left has no verdict.";
}

std::string render_certificate(const std::vector<Record>& records, const std::vector<std::string>& files,
                               const CertificateIssue& issue) {
  const Record empty;
  const Record& first = records.empty() ? empty : records.front();
  const std::string& serial = first.supply.serial;
  std::string started = first.started, ended = first.ended;
  for (const Record& r : records) {
    if (r.started < started) started = r.started;
    if (r.ended > ended) ended = r.ended;
  }
  auto link = [&](std::size_t i) {
    const std::string page = i < files.size() ? page_file_name(files[i]) : std::string();
    return "<a href=\"" + html_escape(page) + "\">" + html_escape(records[i].record_id) + "</a>";
  };
  std::string h = page_head("Trimora certificate " + (issue.number.empty() ? serial : issue.number));
  h += certificate_print_style(issue.number);
  h += certificate_front(records, issue);
  h += "<h2>Results</h2><p class=\"id\">Supply serial number " + html_escape(serial) + ", program run " +
       html_escape(started) + " to " + html_escape(ended) + "</p>";

  for (const auto& ch : select_channel_history(records)) {
    h += "<section class=\"channel\"><h2>CH" + std::to_string(ch.channel) + "</h2>";
    // The statement covers every figure measured as left, so a current assessment after a voltage one
    // does not stand in for the voltage figures, nor a passing programming figure for a failing readback.
    const std::string left = channel_verdict_as_left(records, ch.channel);
    h += "<p class=\"conformity " + verdict_class(left.empty() ? "NO READING" : left) + "\">" +
         html_escape(conformity_statement(left, !left.empty())) + "</p>";
    h += "<table class=\"facts\"><tr><th>Adjustments</th><td>";
    if (ch.adjustments.empty()) h += "none";
    for (std::size_t i : ch.adjustments) {
      const Record& r = records[i];
      h += "<div>" + html_escape(procedure_title(procedure_key(r.procedure))) + ", " +
           (r.completed ? "completed"
                        : "<span class=\"flag\">NOT completed</span>: " +
                              html_escape(r.incomplete_reason.value_or(std::string()))) +
           " (" + link(i) + ")</div>";
    }
    h += "</td></tr></table>";
    h += figure_table(records, ch.channel);
    // Each quantity measured on the channel: its assessments as found and as left, their plots and the
    // as-left points.
    for (const Quantity quantity : {Quantity::voltage, Quantity::current}) {
      const std::vector<ChannelHistory> histories = select_channel_history(records, quantity);
      const auto found = std::find_if(histories.begin(), histories.end(), [&](const ChannelHistory& q) {
        return q.channel == ch.channel && (q.as_found || q.as_left);
      });
      if (found == histories.end()) continue;
      auto step_in = [&](const StepRef& ref) -> const RecordStep& { return records[ref.record].steps[ref.step]; };
      auto step_line = [&](const char* label, const std::optional<StepRef>& ref) {
        std::string s = std::string("<tr><th>") + label + "</th><td>";
        if (!ref) return s + "<span class=\"flag\">not measured</span></td></tr>";
        const RecordStep& step = step_in(*ref);
        return s + verdict_badge(verdict_of(step)) + " " + html_escape(step.title) + ", " +
               html_escape(records[ref->record].started) + " (" + link(ref->record) + ")</td></tr>";
      };
      const std::string name = quantity == Quantity::voltage ? "Voltage" : "Current";
      const std::string where = "CH" + std::to_string(ch.channel) + " " + quantity_name(quantity);
      h += "<h3>" + name + "</h3><table class=\"facts\">" + step_line("As found", found->as_found) +
           step_line("As left", found->as_left) + "</table>";
      std::vector<PlotSeries> series, readback;
      const auto add = [&](const StepRef& ref, const char* label) {
        series.push_back(assessment_series(step_in(ref), label));
        if (step_in(ref).summary.readback) readback.push_back(readback_series(step_in(ref), label));
      };
      if (found->as_found) add(*found->as_found, "As found");
      if (found->as_left && !(found->as_found && *found->as_found == *found->as_left)) add(*found->as_left, "As left");
      if (!series.empty())
        h += "<figure>" + figure_plot(series, quantity, FigureKind::programming, where + " as found and as left") +
             "</figure>";
      if (!readback.empty())
        h += "<figure>" +
             figure_plot(readback, quantity, FigureKind::readback, where + " readback as found and as left") +
             "</figure>";
      if (found->as_left) {
        const RecordStep& step = step_in(*found->as_left);
        h += "<h3>" + name + " as left, point by point</h3>" + assessment_summary(step) + assessment_table(step);
      }
    }
    h += "</section>";
  }
  return h + certificate_authorisation(records, issue) + page_foot("End of certificate");
}

namespace {

Result<WrittenCertificate> write_certificate(const std::filesystem::path& records_dir, const std::vector<Record>& records,
                                             const std::vector<std::string>& files, const std::optional<LabFile>& lab) {
  std::string start = records.front().started, end = records.front().ended;
  for (const Record& r : records) {
    start = std::min(start, r.started);
    end = std::max(end, r.ended);
  }
  const int year = static_cast<int>(std::strtol(start.substr(0, 4).c_str(), nullptr, 10));
  const Result<std::string> number =
      allocate_certificate_number(records_dir, lab ? lab->certificate_prefix : DEFAULT_CERTIFICATE_PREFIX, year);
  if (!number) return number.status();
  const CertificateIssue issue{*number, end.substr(0, 10), lab};
  WrittenCertificate written;
  written.number = *number;
  written.missing = certificate_missing(records, lab);
  written.page = records_dir / ("certificate_" + *number + ".html");
  const Status page = write_file_atomically(written.page.string(), render_certificate(records, files, issue));
  if (!page) return page;
  if (!written.missing.empty()) {
    written.no_dcc = "a draft certificate lacks what a DCC must hold";
    return written;
  }
  const std::filesystem::path xml = records_dir / ("certificate_" + *number + ".xml");
  const Status dcc = write_file_atomically(xml.string(), render_dcc(records, issue));
  if (dcc)
    written.dcc = xml;
  else
    written.no_dcc = dcc.reason();
  return written;
}

}  // namespace

std::vector<Result<WrittenCertificate>> write_certificates(const std::filesystem::path& records_dir,
                                                           const std::vector<RunRecord>& run_records,
                                                           const std::optional<LabFile>& lab) {
  std::vector<Result<WrittenCertificate>> results;
  try {
    std::map<std::string, std::pair<std::vector<Record>, std::vector<std::string>>> by_serial;
    std::vector<std::string> order;
    for (const RunRecord& written : run_records) {
      const std::string& serial = written.record.supply.serial;
      if (!by_serial.count(serial)) order.push_back(serial);
      by_serial[serial].first.push_back(written.record);
      by_serial[serial].second.push_back(written.json_path.filename().string());
    }
    for (const auto& serial : order) {
      const auto& [records, files] = by_serial[serial];
      results.push_back(write_certificate(records_dir, records, files, lab));
    }
  } catch (const std::exception& e) {
    results.emplace_back(Status::failure(e.what()));
  }
  return results;
}
