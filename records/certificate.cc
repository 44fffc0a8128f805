#include "records/certificate.h"

#include <algorithm>
#include <exception>
#include <map>

#include "platform/files.h"
#include "records/html_escape.h"
#include "records/page_style.h"
#include "records/record_page.h"
#include "records/svg_plot.h"

namespace {

// 2026-12-08T19:57:44+00:00 -> 20261208T195744
std::string compact_time(const std::string& iso) {
  std::string out;
  for (char c : iso.substr(0, 19))
    if ((c >= '0' && c <= '9') || c == 'T') out += c;
  return out.size() == 15 ? out : "unknown-time";
}

std::string verdict_of(const RecordStep& step) { return verdict_text(step.summary.verdict); }

// One figure of a channel as found and as left: its verdicts, empty where it was not measured.
struct FigureHistory {
  std::string as_found;
  std::string as_left;
};

// The channel's history over the assessment steps that measured the figure, chosen as for the channel.
FigureHistory figure_history(const std::vector<Record>& records, int channel, FigureId figure) {
  std::vector<Record> kept = records;
  for (Record& r : kept) {
    std::erase_if(r.steps, [&](const RecordStep& s) {
      return s.kind == StepKind::assessment &&
             (s.quantity != figure.quantity || (figure.kind == FigureKind::readback && !s.summary.readback));
    });
  }
  const auto verdict = [&](const std::optional<StepRef>& ref) {
    if (!ref) return std::string();
    const StepSummary& s = kept[ref->record].steps[ref->step].summary;
    return std::string(verdict_text(figure.kind == FigureKind::readback ? s.readback->verdict : s.verdict));
  };
  FigureHistory out;
  for (const ChannelHistory& ch : select_channel_history(kept)) {
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

}  // namespace

std::vector<ChannelHistory> select_channel_history(const std::vector<Record>& records) {
  std::map<int, ChannelHistory> channels;
  std::map<int, bool> adjusted;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    auto& ch = channels[r.channel];
    ch.channel = r.channel;
    if (r.procedure != Procedure::assessment) {  // V, C and F adjust the supply
      ch.adjustments.push_back(i);
      adjusted[ch.channel] = true;
      ch.as_left.reset();  // whatever was measured before no longer describes the supply
    }
    for (std::size_t s = 0; s < r.steps.size(); ++s) {
      if (r.steps[s].kind == StepKind::calibration) {
        ch.as_left.reset();
      } else {
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

std::string render_certificate(const std::vector<Record>& records, const std::vector<std::string>& files) {
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
  auto step_of = [&](const StepRef& ref) -> const RecordStep& { return records[ref.record].steps[ref.step]; };
  auto step_line = [&](const char* label, const std::optional<StepRef>& ref) {
    std::string s = std::string("<tr><th>") + label + "</th><td>";
    if (!ref) return s + "<span class=\"flag\">not measured</span></td></tr>";
    const RecordStep& step = step_of(*ref);
    return s + verdict_badge(verdict_of(step)) + " " + html_escape(step.title) + ", " +
           html_escape(records[ref->record].started) + " (" + link(ref->record) + ")</td></tr>";
  };

  std::string h = page_head("Trimora certificate " + serial);
  h += "<header><h1>Calibration certificate</h1><p class=\"id\">Supply serial number " + html_escape(serial) +
       ", program run " + html_escape(started) + " to " + html_escape(ended) + "</p></header>";
  h += "<h2>Unit calibrated</h2><table class=\"facts\">" + instrument_rows(first.supply) + "</table>";
  h += "<h2>Reference</h2><table class=\"facts\">" + instrument_rows(first.reference) + "</table>";
  h += "<p><strong>Decision rule:</strong> " + html_escape(first.decision_rule) + "</p>";
  h += rule_and_risk_sentence(records);

  for (const auto& ch : select_channel_history(records)) {
    h += "<section class=\"channel\"><h2>CH" + std::to_string(ch.channel) + "</h2>";
    const std::string left = ch.as_left ? verdict_of(step_of(*ch.as_left)) : "";
    h += "<p class=\"conformity " + verdict_class(ch.as_left ? left : "NO READING") + "\">" +
         html_escape(conformity_statement(left, ch.as_left.has_value())) + "</p>";
    h += "<table class=\"facts\">" + step_line("As found", ch.as_found);
    h += "<tr><th>Adjustments</th><td>";
    if (ch.adjustments.empty()) h += "none";
    for (std::size_t i : ch.adjustments) {
      const Record& r = records[i];
      h += "<div>" + html_escape(procedure_title(procedure_key(r.procedure))) + ", " +
           (r.completed ? "completed"
                        : "<span class=\"flag\">NOT completed</span>: " +
                              html_escape(r.incomplete_reason.value_or(std::string()))) +
           " (" + link(i) + ")</div>";
    }
    h += "</td></tr>" + step_line("As left", ch.as_left) + "</table>";
    h += figure_table(records, ch.channel);
    std::vector<PlotSeries> series;
    if (ch.as_found) series.push_back(assessment_series(step_of(*ch.as_found), "As found"));
    if (ch.as_left && !(ch.as_found && *ch.as_found == *ch.as_left))
      series.push_back(assessment_series(step_of(*ch.as_left), "As left"));
    if (!series.empty())
      h += "<figure>" + svg_error_plot(series, "V", "CH" + std::to_string(ch.channel) + " as found and as left") +
           "</figure>";
    std::vector<PlotSeries> readback;
    if (ch.as_found && step_of(*ch.as_found).summary.readback)
      readback.push_back(readback_series(step_of(*ch.as_found), "As found"));
    if (ch.as_left && !(ch.as_found && *ch.as_found == *ch.as_left) && step_of(*ch.as_left).summary.readback)
      readback.push_back(readback_series(step_of(*ch.as_left), "As left"));
    if (!readback.empty())
      h += "<figure>" +
           figure_plot(readback, step_of(ch.as_left ? *ch.as_left : *ch.as_found).quantity, FigureKind::readback,
                       "CH" + std::to_string(ch.channel) + " readback as found and as left") +
           "</figure>";
    if (ch.as_left) {
      const RecordStep& step = step_of(*ch.as_left);
      h += "<h3>As left, point by point</h3>" + assessment_summary(step) + assessment_table(step);
    }
    h += "</section>";
  }
  return h + page_foot("End of certificate");
}

std::vector<Result<std::filesystem::path>> write_certificates(const std::filesystem::path& records_dir,
                                                              const std::vector<RunRecord>& run_records) {
  std::vector<Result<std::filesystem::path>> results;
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
      std::string start = records.front().started;
      for (const Record& r : records) start = std::min(start, r.started);
      const auto path = records_dir / ("certificate_" + safe_serial(serial) + "_" + compact_time(start) + ".html");
      const Status written = write_file_atomically(path.string(), render_certificate(records, files));
      if (written)
        results.emplace_back(path);
      else
        results.emplace_back(written);
    }
  } catch (const std::exception& e) {
    results.emplace_back(Status::failure(e.what()));
  }
  return results;
}
