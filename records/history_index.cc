#include "records/history_index.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>

#include "platform/files.h"
#include "records/record_codec.h"

#include "records/html_escape.h"
#include "records/page_style.h"
#include "records/record_page.h"
#include "records/svg_plot.h"

namespace {

// Words beside a verdict whose passes carry more than the limit's risk of a false accept.
std::string risk_note(const IndexEntry& e) {
  if (!e.max_false_accept_risk || *e.max_false_accept_risk <= FALSE_ACCEPT_RISK_LIMIT) return "";
  return " <span class=\"flag\">a pass carries a " + cell_number(*e.max_false_accept_risk * 100.0, 2) +
         " % risk of a false accept, above 2 %</span>";
}

}  // namespace

IndexEntry index_entry(const Record& r, const std::string& file) {
  IndexEntry e;
  e.file = file;
  e.record_id = r.record_id;
  e.started = r.started;
  e.serial = r.supply.serial;
  e.model = r.supply.model;
  e.procedure_key = procedure_key(r.procedure);
  e.overall_verdict = r.overall_verdict ? verdict_text(*r.overall_verdict) : "";
  e.channel = r.channel;
  e.completed = r.completed;
  for (const RecordStep& step : r.steps) {
    const std::optional<double>& risk = step.summary.max_false_accept_risk;
    if (risk && (!e.max_false_accept_risk || *risk > *e.max_false_accept_risk)) e.max_false_accept_risk = risk;
  }
  // The errors of the record's last assessment: A's only one, F's final one.
  for (auto it = r.steps.rbegin(); it != r.steps.rend(); ++it) {
    // The index's errors and trend are in mV: a current assessment's (in mA) stays on its own page.
    if (it->kind != StepKind::assessment || it->quantity != Quantity::voltage) continue;
    e.assessed = true;
    const StepSummary& sum = it->summary;
    e.has_errors = sum.rms_error_mV.has_value() && sum.max_abs_error_mV.has_value();
    if (e.has_errors) e.rms_mV = *sum.rms_error_mV, e.max_abs_mV = *sum.max_abs_error_mV;
    break;
  }
  return e;
}

std::string render_history_index(std::vector<IndexEntry> entries, const std::vector<SkippedRecord>& skipped) {
  // newest first; the same start time in file-name order, so the page does not change between rebuilds
  std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) {
    return a.started != b.started ? a.started > b.started : a.file > b.file;
  });
  std::map<std::string, std::map<int, std::vector<const IndexEntry*>>> groups;
  for (const auto& e : entries) groups[e.serial][e.channel].push_back(&e);

  std::string h = page_head("Trimora calibration records");
  h += "<header><h1>Calibration records</h1><p>" + std::to_string(entries.size()) +
       (entries.size() == 1 ? " record, " : " records, ") + std::to_string(groups.size()) +
       (groups.size() == 1 ? " supply" : " supplies") + ", newest first.</p>";
  const auto risky = std::count_if(entries.begin(), entries.end(), [](const IndexEntry& e) {
    return e.max_false_accept_risk && *e.max_false_accept_risk > FALSE_ACCEPT_RISK_LIMIT;
  });
  if (risky > 0)
    h += "<p class=\"flag\">" + std::to_string(risky) + (risky == 1 ? " record holds" : " records hold") +
         " a pass whose risk of a false accept is above 2 % (the ANSI/NCSL Z540.3 limit); each is marked "
         "below.</p>";
  h += "</header>";
  for (const auto& [serial, channels] : groups) {
    const std::string model = channels.begin()->second.front()->model;
    h += "<section class=\"supply\"><h2>Supply " + html_escape(serial.empty() ? "(no serial number)" : serial) +
         (model.empty() ? "" : " (" + html_escape(model) + ")") + "</h2>";
    for (const auto& [channel, list] : channels) {
      h += "<h3>CH" + std::to_string(channel) + "</h3>";
      std::vector<TrendPoint> trend;
      for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->assessed) {
          TrendPoint p{(*it)->started.substr(0, 10), {}, {}};
          if ((*it)->has_errors) p.rms_mV = (*it)->rms_mV, p.max_abs_mV = (*it)->max_abs_mV;
          trend.push_back(p);
        }
      if (!trend.empty())
        h += "<figure>" + svg_trend_chart(trend, "Errors of CH" + std::to_string(channel) + " over time") + "</figure>";
      h += "<div class=\"scroll\"><table class=\"points records\" data-rows=\"" + std::to_string(list.size()) +
           "\"><thead><tr><th class=\"v\">Started</th><th class=\"v\">Procedure</th><th class=\"v\">Completed</th>"
           "<th class=\"v\">Verdict</th><th>RMS (mV)</th><th>Largest (mV)</th></tr></thead><tbody>";
      for (const auto* e : list) {
        const std::string page = page_file_name(e->file);
        const std::optional<double> rms = e->has_errors ? std::optional<double>(e->rms_mV) : std::nullopt;
        const std::optional<double> largest = e->has_errors ? std::optional<double>(e->max_abs_mV) : std::nullopt;
        h += "<tr><td class=\"v\"><a href=\"" + html_escape(page) + "\">" + html_escape(e->started) +
             "</a></td><td class=\"v\">" + html_escape(procedure_title(e->procedure_key)) + "</td><td class=\"v\">" +
             (e->completed ? "yes" : "<span class=\"flag\">no</span>") + "</td><td class=\"v\">" +
             verdict_badge(e->overall_verdict) + risk_note(*e) + "</td><td>" + cell_number(rms, 3) + "</td><td>" +
             cell_number(largest, 3) + "</td></tr>";
      }
      h += "</tbody></table></div>";
    }
    h += "</section>";
  }
  if (!skipped.empty()) {
    h += "<h2>Files not listed</h2><ul class=\"skipped\">";
    for (const auto& s : skipped) h += "<li>" + html_escape(s.file) + ": " + html_escape(s.reason) + "</li>";
    h += "</ul>";
  }
  h += "<p class=\"end\">End of the list</p></body></html>\n";
  return h;
}

Result<std::filesystem::path> write_history_index(const std::filesystem::path& records_dir) {
  try {
    std::vector<IndexEntry> entries;
    std::vector<SkippedRecord> skipped;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(records_dir, ec), end; !ec && it != end; it.increment(ec)) {
      const auto& path = it->path();
      if (path.extension() != ".json" || path.filename().string().front() == '.') continue;
      const Result<Record> r = load_record(path.string());
      if (r)
        entries.push_back(index_entry(*r, path.filename().string()));
      else
        skipped.push_back({path.filename().string(), r.reason()});
    }
    if (ec) return Status::failure("cannot list " + records_dir.string() + ": " + ec.message());
    std::sort(skipped.begin(), skipped.end(), [](const auto& a, const auto& b) { return a.file < b.file; });
    const auto path = records_dir / "index.html";
    const Status written = write_file_atomically(path.string(), render_history_index(std::move(entries), skipped));
    if (!written) return written;
    return path;
  } catch (const std::exception& e) {
    return Status::failure(e.what());
  }
}
