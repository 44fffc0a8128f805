#include "records/certificate.h"

#include <map>

#include "records/html_escape.h"
#include "records/page_style.h"
#include "records/record.h"
#include "records/record_page.h"
#include "records/svg_plot.h"

namespace {

const nlohmann::json& steps_of(const nlohmann::json& r) {
  static const nlohmann::json empty = nlohmann::json::array();
  const auto* s = json_member(r, "steps");
  return s && s->is_array() ? *s : empty;
}

int channel_of(const nlohmann::json& r) {
  const auto* c = json_member(r, "channel");
  return c && c->is_number_integer() ? c->get<int>() : 0;
}

// 2026-12-08T19:57:44+00:00 -> 20261208T195744
std::string compact_time(const std::string& iso) {
  std::string out;
  for (char c : iso.substr(0, 19))
    if ((c >= '0' && c <= '9') || c == 'T') out += c;
  return out.size() == 15 ? out : "unknown-time";
}

std::string verdict_of(const nlohmann::json& step) {
  const auto* s = json_member(step, "summary");
  return s ? json_text(*s, "verdict") : std::string();
}

}  // namespace

std::vector<ChannelHistory> select_channel_history(const std::vector<nlohmann::json>& records) {
  std::map<int, ChannelHistory> channels;
  std::map<int, bool> adjusted;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    auto& ch = channels[channel_of(r)];
    ch.channel = channel_of(r);
    const std::string key = json_text(r, "procedure_key");
    const bool adjustment = key == "V" || key == "C" || key == "F";
    if (adjustment) {
      ch.adjustments.push_back(i);
      adjusted[ch.channel] = true;
      ch.as_left.reset();  // whatever was measured before no longer describes the supply
    }
    const auto& steps = steps_of(r);
    for (std::size_t s = 0; s < steps.size(); ++s) {
      const std::string kind = json_text(steps[s], "kind");
      if (kind == "calibration") {
        ch.as_left.reset();
      } else if (kind == "assessment") {
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

std::string render_certificate(const std::vector<nlohmann::json>& records, const std::vector<std::string>& files) {
  const nlohmann::json empty = nlohmann::json::object();
  const auto& first = records.empty() ? empty : records.front();
  const auto* supply = json_member(first, "supply");
  const std::string serial = supply ? json_text(*supply, "serial") : std::string();
  std::string started = json_text(first, "started"), ended = json_text(first, "ended");
  for (const auto& r : records) {
    if (json_text(r, "started") < started) started = json_text(r, "started");
    if (json_text(r, "ended") > ended) ended = json_text(r, "ended");
  }
  auto link = [&](std::size_t i) {
    const std::string page = i < files.size() ? page_file_name(files[i]) : std::string();
    return "<a href=\"" + html_escape(page) + "\">" + html_escape(json_text(records[i], "record_id")) + "</a>";
  };
  auto step_line = [&](const char* label, const std::optional<StepRef>& ref) {
    std::string s = std::string("<tr><th>") + label + "</th><td>";
    if (!ref) return s + "<span class=\"flag\">not measured</span></td></tr>";
    const auto& step = steps_of(records[ref->record])[ref->step];
    return s + verdict_badge(verdict_of(step)) + " " + html_escape(json_text(step, "title")) + ", " +
           html_escape(json_text(records[ref->record], "started")) + " (" + link(ref->record) + ")</td></tr>";
  };

  std::string h = page_head("Trimora certificate " + serial);
  h += "<header><h1>Calibration certificate</h1><p class=\"id\">Supply serial number " + html_escape(serial) +
       ", program run " + html_escape(started) + " to " + html_escape(ended) + "</p></header>";
  h += "<h2>Unit calibrated</h2><table class=\"facts\">" + instrument_rows(supply ? *supply : empty) + "</table>";
  const auto* reference = json_member(first, "reference");
  h += "<h2>Reference</h2><table class=\"facts\">" + instrument_rows(reference ? *reference : empty) + "</table>";
  h += "<p><strong>Decision rule:</strong> " + html_escape(json_text(first, "decision_rule")) + "</p>";

  for (const auto& ch : select_channel_history(records)) {
    h += "<section class=\"channel\"><h2>CH" + std::to_string(ch.channel) + "</h2>";
    const std::string left = ch.as_left ? verdict_of(steps_of(records[ch.as_left->record])[ch.as_left->step]) : "";
    h += "<p class=\"conformity " + verdict_class(ch.as_left ? left : "NO READING") + "\">" +
         html_escape(conformity_statement(left, ch.as_left.has_value())) + "</p>";
    h += "<table class=\"facts\">" + step_line("As found", ch.as_found);
    h += "<tr><th>Adjustments</th><td>";
    if (ch.adjustments.empty()) h += "none";
    for (std::size_t i : ch.adjustments) {
      const auto* done = json_member(records[i], "completed");
      const bool completed = done && done->is_boolean() && done->get<bool>();
      h += "<div>" + html_escape(procedure_title(json_text(records[i], "procedure_key"))) + ", " +
           (completed ? "completed"
                      : "<span class=\"flag\">NOT completed</span>: " +
                            html_escape(json_text(records[i], "incomplete_reason"))) +
           " (" + link(i) + ")</div>";
    }
    h += "</td></tr>" + step_line("As left", ch.as_left) + "</table>";
    std::vector<PlotSeries> series;
    if (ch.as_found)
      series.push_back(assessment_series(steps_of(records[ch.as_found->record])[ch.as_found->step], "As found"));
    if (ch.as_left && !(ch.as_found && *ch.as_found == *ch.as_left))
      series.push_back(assessment_series(steps_of(records[ch.as_left->record])[ch.as_left->step], "As left"));
    if (!series.empty())
      h += "<figure>" + svg_error_plot(series, "V", "CH" + std::to_string(ch.channel) + " as found and as left") +
           "</figure>";
    if (ch.as_left) {
      const auto& step = steps_of(records[ch.as_left->record])[ch.as_left->step];
      h += "<h3>As left, point by point</h3>" + assessment_summary(step) + assessment_table(step);
    }
    h += "</section>";
  }
  return h + page_foot("End of certificate");
}

std::vector<PageResult> write_certificates(const std::filesystem::path& records_dir,
                                           const std::vector<std::filesystem::path>& run_records) {
  std::vector<PageResult> results;
  try {
    std::map<std::string, std::pair<std::vector<nlohmann::json>, std::vector<std::string>>> by_serial;
    std::vector<std::string> order;
    for (const auto& path : run_records) {
      nlohmann::json r;
      std::string reason;
      if (!load_record_for_page(path, r, reason)) {
        results.push_back({false, {}, path.string() + ": " + reason});
        continue;
      }
      const auto* supply = json_member(r, "supply");
      const std::string serial = supply ? json_text(*supply, "serial") : std::string();
      if (!by_serial.count(serial)) order.push_back(serial);
      by_serial[serial].first.push_back(std::move(r));
      by_serial[serial].second.push_back(path.filename().string());
    }
    for (const auto& serial : order) {
      const auto& [records, files] = by_serial[serial];
      std::string start = json_text(records.front(), "started");
      for (const auto& r : records) start = std::min(start, json_text(r, "started"));
      const auto path = records_dir / ("certificate_" + safe_serial(serial) + "_" + compact_time(start) + ".html");
      PageResult res;
      res.reason = write_page_file(path, render_certificate(records, files));
      res.ok = res.reason.empty();
      if (res.ok) res.path = path;
      results.push_back(res);
    }
  } catch (const std::exception& e) {
    results.push_back({false, {}, e.what()});
  }
  return results;
}
