#include "records/record_page.h"

#include "records/html_escape.h"
#include "records/page_style.h"

namespace {

const nlohmann::json kEmpty = nlohmann::json::object();

const nlohmann::json& member(const nlohmann::json& j, const char* key) {
  const auto* m = json_member(j, key);
  return m ? *m : kEmpty;
}

// The list under key, or an empty list.
const nlohmann::json& list(const nlohmann::json& j, const char* key) {
  static const nlohmann::json empty = nlohmann::json::array();
  const auto* m = json_member(j, key);
  return m && m->is_array() ? *m : empty;
}

std::string fact(const char* label, const std::string& escaped_value) {
  return std::string("<tr><th>") + label + "</th><td>" + escaped_value + "</td></tr>";
}

std::string percent(const nlohmann::json& j, const char* key) { return cell_number(j, key, 4) + " %"; }

std::string assumed_mark(const nlohmann::json& row) {
  const auto* a = json_member(row, "assumed");
  if (a && a->is_boolean() && a->get<bool>())
    return " <span class=\"assumed\">(ASSUMED: the model is not in the table)</span>";
  return {};
}

std::string tolerance_section(const nlohmann::json& tol) {
  std::string s = "<table class=\"facts\">";
  s += fact("Tolerance row", html_escape(json_text(tol, "model")) + assumed_mark(tol));
  const auto& v = member(tol, "voltage");
  const auto& c = member(tol, "current");
  s += fact("Voltage",
            "\xc2\xb1(" + percent(v, "percent_of_setting") + " of setting + " + cell_number(v, "offset", 4) + " V)");
  s += fact("Current",
            "\xc2\xb1(" + percent(c, "percent_of_setting") + " of setting + " + cell_number(c, "offset", 4) + " A)");
  s += fact("Source", html_escape(json_text(tol, "source")));
  return s + "</table>";
}

std::string accuracy_section(const nlohmann::json& acc) {
  std::string s = "<p>Accuracy row: " + html_escape(json_text(acc, "model")) + assumed_mark(acc) +
                  ". Source: " + html_escape(json_text(acc, "source")) +
                  ".</p><div class=\"scroll\"><table class=\"points\"><thead><tr><th class=\"v\">Quantity</th>"
                  "<th>Range</th><th>% of reading</th><th>% of range</th></tr></thead><tbody>";
  for (const auto& r : list(acc, "ranges"))
    s += "<tr><td class=\"v\">" + html_escape(json_text(r, "quantity")) + "</td><td>" + cell_number(r, "range", 1) +
         "</td><td>" + cell_number(r, "percent_of_reading", 4) + "</td><td>" + cell_number(r, "percent_of_range", 4) +
         "</td></tr>";
  return s + "</tbody></table></div>";
}

std::string calibration_step(const nlohmann::json& step) {
  const std::string unit = html_escape(json_text(step, "unit"));
  std::string s;
  for (const auto& phase : list(step, "phases")) {
    const auto& points = list(phase, "points");
    std::size_t reported = 0;
    for (const auto& p : points) {
      const auto* r = json_member(p, "reported_to_supply");
      if (r && r->is_boolean() && r->get<bool>()) ++reported;
    }
    s += "<h3>Phase " + html_escape(json_text(phase, "name")) + "</h3><p>" + std::to_string(reported) + " of " +
         std::to_string(points.size()) +
         " points reported to the supply.</p><div class=\"scroll\"><table class=\"points calibration\" "
         "data-rows=\"" +
         std::to_string(points.size()) + "\"><thead><tr><th>#</th><th>Set (" + unit + ")</th><th>Reading (" + unit +
         ")</th><th>Reported (" + unit + ")</th><th class=\"v\">Reported to the supply</th></tr></thead><tbody>";
    for (const auto& p : points) {
      const auto* r = json_member(p, "reported_to_supply");
      const bool sent = r && r->is_boolean() && r->get<bool>();
      s += std::string("<tr class=\"") + (sent ? "sent" : "no-reading") + "\"><td>" + cell_number(p, "index", 0) +
           "</td><td>" + cell_number(p, "set", 4) + "</td><td>" + cell_number(p, "reading", 6) + "</td><td>" +
           cell_number(p, "reported", 6) + "</td><td class=\"v\">" +
           (sent ? "yes" : "<span class=\"flag\">NO, not reported</span>") + "</td></tr>";
    }
    s += "</tbody></table></div>";
  }
  return s;
}

}  // namespace

std::string procedure_title(const std::string& key) {
  if (key == "A") return "Voltage assessment (A)";
  if (key == "V") return "Factory voltage calibration (V)";
  if (key == "C") return "Factory current calibration (C)";
  if (key == "F") return "Full voltage calibration (F)";
  return key.empty() ? "Unknown procedure" : "Procedure " + key;
}

PlotSeries assessment_series(const nlohmann::json& step, const std::string& name) {
  PlotSeries s{name, {}};
  for (const auto& p : list(step, "points")) {
    PlotPoint pt;
    double v = 0;
    if (!json_number(p, "set", pt.set)) continue;
    if (json_number(p, "error_mV", v)) pt.error_mV = v;
    json_number(p, "tolerance_mV", pt.tolerance_mV);
    json_number(p, "uncertainty_mV", pt.uncertainty_mV);
    pt.verdict = json_text(p, "verdict");
    s.points.push_back(pt);
  }
  return s;
}

std::string assessment_table(const nlohmann::json& step) {
  const auto& points = list(step, "points");
  const std::string unit = html_escape(json_text(step, "unit").empty() ? "V" : json_text(step, "unit"));
  std::string s = "<div class=\"scroll\"><table class=\"points assessment\" data-rows=\"" +
                  std::to_string(points.size()) + "\"><thead><tr><th>#</th><th>Set (" + unit + ")</th><th>Reading (" +
                  unit +
                  ")</th><th>Error (mV)</th><th>T (mV)</th><th>U (mV)</th><th>T \xe2\x88\x92 U (mV)</th><th>TUR</th>"
                  "<th class=\"v\">Verdict</th></tr></thead><tbody>";
  for (const auto& p : points) {
    const std::string verdict = json_text(p, "verdict");
    const auto* low = json_member(p, "tur_below_4");
    const bool flag = low && low->is_boolean() && low->get<bool>();
    s += "<tr class=\"" + verdict_class(verdict) + "\"><td>" + cell_number(p, "index", 0) + "</td><td>" +
         cell_number(p, "set", 4) + "</td><td>" + cell_number(p, "reading", 6) + "</td><td>" +
         cell_number(p, "error_mV", 3) + "</td><td>" + cell_number(p, "tolerance_mV", 3) + "</td><td>" +
         cell_number(p, "uncertainty_mV", 4) + "</td><td>" + cell_number(p, "acceptance_limit_mV", 3) + "</td><td>" +
         cell_number(p, "tur", 1) + (flag ? " <span class=\"flag\">(below 4)</span>" : "") + "</td><td class=\"v\">" +
         verdict_badge(verdict) + "</td></tr>";
  }
  return s + "</tbody></table></div>";
}

std::string assessment_summary(const nlohmann::json& step) {
  const auto& sum = member(step, "summary");
  const auto& counts = member(sum, "counts");
  std::string s = "<p class=\"summary\">Step verdict: " + verdict_badge(json_text(sum, "verdict")) + ". Points: ";
  bool first = true;
  for (const char* v : {"PASS", "FAIL", "INDETERMINATE", "NO READING"}) {
    s += std::string(first ? "" : ", ") + v + " " +
         (json_text(counts, v).empty() ? "0" : html_escape(json_text(counts, v)));
    first = false;
  }
  s += ". Sum of squares " + cell_number(sum, "sum_of_squares_mV2", 4) + " mV\xc2\xb2, RMS error " +
       cell_number(sum, "rms_error_mV", 4) + " mV, largest absolute error " + cell_number(sum, "max_abs_error_mV", 4) +
       " mV.</p>";
  return s;
}

std::string render_record_page(const nlohmann::json& r) {
  const std::string key = json_text(r, "procedure_key");
  const std::string channel = json_text(r, "channel");
  const auto& steps = list(r, "steps");
  bool has_assessment = false;
  for (const auto& st : steps) has_assessment |= json_text(st, "kind") == "assessment";
  const std::string id = json_text(r, "record_id");

  std::string h = page_head("Trimora record " + id);
  h += "<header><h1>" + html_escape(procedure_title(key)) + ", CH" + html_escape(channel) +
       "</h1><p class=\"id\">Record " + html_escape(id) + "</p>";
  const std::string overall = json_text(r, "overall_verdict");
  if (has_assessment || !overall.empty())
    h += "<div class=\"verdict-big " + verdict_class(overall) +
         "\">Overall verdict: " + html_escape(overall.empty() ? "none" : overall) + "</div>";
  h += "</header>";
  if (has_assessment) h += "<p><strong>Decision rule:</strong> " + html_escape(json_text(r, "decision_rule")) + "</p>";

  const auto* done = json_member(r, "completed");
  const bool completed = done && done->is_boolean() && done->get<bool>();
  const auto& program = member(r, "program");
  h += "<table class=\"facts\">" + fact("Procedure", html_escape(procedure_title(key))) +
       fact("Channel", "CH" + html_escape(channel)) + fact("Started", html_escape(json_text(r, "started"))) +
       fact("Ended", html_escape(json_text(r, "ended"))) +
       fact("Completed",
            completed ? "yes" : "<span class=\"flag\">NO</span>: " + html_escape(json_text(r, "incomplete_reason"))) +
       fact("Program", html_escape(json_text(program, "name") + " " + json_text(program, "version"))) + "</table>";

  h += "<h2>Unit calibrated</h2><table class=\"facts\">" + instrument_rows(member(r, "supply")) + "</table>" +
       tolerance_section(member(r, "tolerance"));
  h += "<h2>Reference</h2><table class=\"facts\">" + instrument_rows(member(r, "reference")) + "</table>" +
       accuracy_section(member(r, "reference_accuracy"));

  std::vector<PlotSeries> series;
  for (const auto& st : steps)
    if (json_text(st, "kind") == "assessment")
      series.push_back(assessment_series(st, json_text(st, "title").empty() ? "Assessment" : json_text(st, "title")));
  if (!series.empty())
    h +=
        "<h2>Errors against the set value</h2><figure>" + svg_error_plot(series, "V", "Error against set value") +
        "<figcaption class=\"note\">Shaded: within \xc2\xb1(T \xe2\x88\x92 U) a point passes; between T \xe2\x88\x92 U "
        "and T + U it is indeterminate. Bars: \xc2\xb1U.</figcaption></figure>";

  for (const auto& st : steps) {
    h += "<section><h2>Step " + html_escape(json_text(st, "step")) + ": " + html_escape(json_text(st, "title")) +
         "</h2>";
    const auto* sc = json_member(st, "completed");
    if (sc && sc->is_boolean() && !sc->get<bool>()) h += "<p class=\"flag\">This step did not complete.</p>";
    if (json_text(st, "kind") == "assessment") {
      h += assessment_summary(st) + assessment_table(st);
    } else {
      const auto* uc = json_member(st, "uses_corrections");
      if (uc && uc->is_boolean() && uc->get<bool>())
        h += "<p>The readings were reported with the corrections below.</p>";
      h += calibration_step(st);
    }
    h += "</section>";
  }

  const auto& corrections = list(r, "corrections");
  if (!corrections.empty()) {
    h += "<h2>Corrections used</h2><div class=\"scroll\"><table class=\"points\" data-rows=\"" +
         std::to_string(corrections.size()) +
         "\"><thead><tr><th>Set (V)</th><th>Correction (mV)</th></tr></thead><tbody>";
    for (const auto& c : corrections) {
      double v = 0;
      const bool has = json_number(c, "correction_V", v);
      nlohmann::json mv = has ? nlohmann::json{{"m", v * 1000}} : nlohmann::json::object();
      h += "<tr><td>" + cell_number(c, "set", 4) + "</td><td>" + cell_number(mv, "m", 3) + "</td></tr>";
    }
    h += "</tbody></table></div>";
  }
  const auto& errors = list(r, "supply_errors");
  h += "<h2>Errors reported by the supply</h2>";
  if (errors.empty()) {
    h += "<p>None.</p>";
  } else {
    h += "<ul>";
    for (const auto& e : errors)
      h += "<li><code>" + html_escape(e.is_string() ? e.get<std::string>() : e.dump()) + "</code></li>";
    h += "</ul>";
  }
  return h + page_foot("End of record " + id);
}

PageResult write_record_page(const std::filesystem::path& json_path) {
  PageResult result;
  try {
    nlohmann::json record;
    if (!load_record_for_page(json_path, record, result.reason)) {
      result.reason = json_path.string() + ": " + result.reason;
      return result;
    }
    auto page = json_path;
    page.replace_extension(".html");
    result.reason = write_page_file(page, render_record_page(record));
    result.ok = result.reason.empty();
    if (result.ok) result.path = page;
  } catch (const std::exception& e) {  // out of memory and the like: a failure, never a crash
    result.ok = false;
    result.reason = e.what();
  }
  return result;
}
