#include "records/record_page.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "records/html_escape.h"
#include "records/page_style.h"

namespace {

std::string fact(const char* label, const std::string& escaped_value) {
  return std::string("<tr><th>") + label + "</th><td>" + escaped_value + "</td></tr>";
}

std::string percent(double value) { return cell_number(value, 4) + " %"; }

std::string assumed_mark(bool assumed) {
  if (assumed) return " <span class=\"assumed\">(ASSUMED: the model is not in the table)</span>";
  return {};
}

std::string tolerance_section(const RecordTolerance& tol) {
  std::string s = "<table class=\"facts\">";
  s += fact("Tolerance row", html_escape(tol.model) + assumed_mark(tol.assumed));
  s += fact("Voltage", "\xc2\xb1(" + percent(tol.voltage.percent_of_setting) + " of setting + " +
                           cell_number(tol.voltage.offset, 4) + " V)");
  s += fact("Current", "\xc2\xb1(" + percent(tol.current.percent_of_setting) + " of setting + " +
                           cell_number(tol.current.offset, 4) + " A)");
  s += fact("Source", html_escape(tol.source));
  if (tol.voltage_readback && tol.current_readback) {
    s += fact("Voltage readback", "\xc2\xb1(" + percent(tol.voltage_readback->percent_of_setting) + " of reading + " +
                                      cell_number(tol.voltage_readback->offset, 4) + " V)");
    s += fact("Current readback", "\xc2\xb1(" + percent(tol.current_readback->percent_of_setting) + " of reading + " +
                                      cell_number(tol.current_readback->offset, 4) + " A)");
    s += fact("Readback source", html_escape(tol.readback_source));
  }
  return s + "</table>";
}

// T / U of a readback figure, from its T and T − U; none when U is 0.
// The readback's U: its own from format 2 on; a format 1 record's, the guard band T - (T - U).
double readback_u(const AssessedReadback& r) {
  return r.uncertainty_mV ? *r.uncertainty_mV : r.tolerance_mV - r.acceptance_limit_mV;
}

std::optional<double> readback_tur(const AssessedReadback& r) {
  const double u = readback_u(r);
  if (!(u > 0)) return std::nullopt;
  return r.tolerance_mV / u;
}

// A sentence on the points whose TUR is below 4, or nothing when there are none.
std::string tur_words(const RecordStep& step) {
  int programming = 0, readback = 0;
  for (const AssessedPoint& p : step.points) {
    programming += p.tur_below_4 ? 1 : 0;
    const std::optional<double> tur = p.readback ? readback_tur(*p.readback) : std::nullopt;
    readback += tur && *tur < TUR_FLAG_BELOW ? 1 : 0;
  }
  if (programming == 0 && readback == 0) return {};
  const std::string total = std::to_string(step.points.size());
  std::string which;
  if (programming > 0) which = std::to_string(programming) + " of " + total + " points of the programming";
  if (readback > 0)
    which += (which.empty() ? "" : " and at ") + std::to_string(readback) + " of " + total + " points of the readback";
  return "<p class=\"flag\">The test uncertainty ratio is below 4 at " + which +
         ": there the reference DMM's own uncertainty is more than a quarter of the tolerance, so those "
         "verdicts rest on a wide guard band and are more often INDETERMINATE. A reference with a smaller "
         "uncertainty on that range would judge them more sharply.</p>";
}

std::string accuracy_section(const RecordAccuracy& acc) {
  std::string s = "<p>Accuracy row: " + html_escape(acc.model) + assumed_mark(acc.assumed) +
                  ". Source: " + html_escape(acc.source) +
                  ".</p><div class=\"scroll\"><table class=\"points\"><thead><tr><th class=\"v\">Quantity</th>"
                  "<th>Range</th><th>% of reading</th><th>% of range</th></tr></thead><tbody>";
  for (const RecordRange& r : acc.ranges)
    s += "<tr><td class=\"v\">" + html_escape(quantity_name(r.figures.quantity)) + "</td><td>" +
         cell_number(r.figures.range, 1) + "</td><td>" + cell_number(r.figures.percent_of_reading, 4) + "</td><td>" +
         cell_number(r.figures.percent_of_range, 4) + "</td></tr>";
  return s + "</tbody></table></div>";
}

std::string calibration_step(const RecordStep& step) {
  const std::string unit = html_escape(unit_name(step.quantity));
  std::string s;
  for (const RecordPhase& phase : step.phases) {
    const auto reported = std::count_if(phase.points.begin(), phase.points.end(),
                                        [](const CalibrationPoint& p) { return p.reported_to_supply; });
    s += "<h3>Phase " + html_escape(phase.name) + "</h3><p>" + std::to_string(reported) + " of " +
         std::to_string(phase.points.size()) +
         " points reported to the supply.</p><div class=\"scroll\"><table class=\"points calibration\" "
         "data-rows=\"" +
         std::to_string(phase.points.size()) + "\"><thead><tr><th>#</th><th>Set (" + unit + ")</th><th>Reading (" +
         unit + ")</th><th>Reported (" + unit + ")</th><th class=\"v\">Reported to the supply</th></tr></thead><tbody>";
    for (const CalibrationPoint& p : phase.points) {
      const bool sent = p.reported_to_supply;
      s += std::string("<tr class=\"") + (sent ? "sent" : "no-reading") + "\"><td>" + cell_number(p.index, 0) +
           "</td><td>" + cell_number(p.set, 4) + "</td><td>" + cell_number(p.reading, 6) + "</td><td>" +
           cell_number(p.reported, 6) + "</td><td class=\"v\">" +
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
  if (key == "I") return "Current assessment (I)";
  return key.empty() ? "Unknown procedure" : "Procedure " + key;
}

const char* milli_unit(Quantity quantity) { return quantity == Quantity::voltage ? "mV" : "mA"; }

PlotSeries readback_series(const RecordStep& step, const std::string& name) {
  PlotSeries s{name, {}};
  for (const AssessedPoint& p : step.points) {
    if (!p.readback) continue;
    PlotPoint pt;
    pt.set = p.set;
    pt.error_mV = p.readback->error_mV;
    pt.tolerance_mV = p.readback->tolerance_mV;
    pt.uncertainty_mV = readback_u(*p.readback);
    pt.verdict = verdict_text(p.readback->verdict);
    s.points.push_back(pt);
  }
  return s;
}

std::string figure_plot(const std::vector<PlotSeries>& series, Quantity quantity, FigureKind kind,
                        const std::string& aria_label) {
  const std::string unit = milli_unit(quantity);
  const std::string label = kind == FigureKind::programming ? "Error, reading \xe2\x88\x92 set (" + unit + ")"
                                                            : "Error, readback \xe2\x88\x92 reading (" + unit + ")";
  return svg_error_plot(series, unit_name(quantity), aria_label, label);
}

PlotSeries assessment_series(const RecordStep& step, const std::string& name) {
  PlotSeries s{name, {}};
  for (const AssessedPoint& p : step.points) {
    PlotPoint pt;
    pt.set = p.set;
    pt.error_mV = p.error_mV;
    pt.tolerance_mV = p.tolerance_mV;
    pt.uncertainty_mV = p.uncertainty_mV;
    pt.verdict = verdict_text(p.verdict);
    s.points.push_back(pt);
  }
  return s;
}

namespace {

// "0.12 %"; "< 0.01 %" below what the record keeps.
std::string risk_percent(double risk) { return risk < 0.0001 ? "&lt; 0.01 %" : cell_number(risk * 100.0, 2) + " %"; }

// The risk that a figure's verdict is wrong, in words; flagged when a pass is above the limit.
template <typename Judged>
std::string risk_cell(const Judged& p) {
  if (p.false_accept_risk) {
    const std::string text = "false accept " + risk_percent(*p.false_accept_risk);
    return *p.false_accept_risk > FALSE_ACCEPT_RISK_LIMIT ? "<span class=\"flag\">" + text + "</span>" : text;
  }
  if (p.false_reject_risk) return "false reject " + risk_percent(*p.false_reject_risk);
  return "\xe2\x80\x94";
}

// " Largest risk of a false accept among the passes: ...", flagged above the limit; empty without a pass.
std::string largest_risk_words(std::optional<double> largest) {
  if (!largest) return "";
  std::string s = " Largest risk of a false accept among the passes: " + risk_percent(*largest);
  if (*largest > FALSE_ACCEPT_RISK_LIMIT) s += " <span class=\"flag\">(above the 2 % limit of ANSI/NCSL Z540.3)</span>";
  return s + ".";
}

// One figure's budget, u_c and U at a point; the readback's holds the supply's readback resolution.
struct BudgetRow {
  const AssessedPoint* point;
  const std::vector<RecordBudgetComponent>* budget;
  double combined;
  double expanded;
};

// A number in the point's error unit, to 1 nV or 1 nA.
std::string budget_number(std::optional<double> value) { return cell_number(value, 4); }

}  // namespace

std::string budget_table(const RecordStep& step, FigureKind kind) {
  const std::string unit = milli_unit(step.quantity);
  const bool readback = kind == FigureKind::readback;
  std::vector<BudgetRow> rows;
  for (const AssessedPoint& p : step.points) {
    if (!readback) rows.push_back({&p, &p.uncertainty_budget, p.combined_standard_uncertainty, p.uncertainty_mV});
    else if (p.readback)
      rows.push_back({&p, &p.readback->uncertainty_budget, p.readback->combined_standard_uncertainty,
                      readback_u(*p.readback)});
  }
  // The components by name in the order they first appear, each source named once.
  std::vector<std::string> names;
  std::vector<std::string> sources;
  bool repeatability = false;
  for (const BudgetRow& row : rows) {
    repeatability |= row.point->repeatability_evaluated;
    for (const RecordBudgetComponent& c : *row.budget) {
      if (std::find(names.begin(), names.end(), c.name) == names.end()) names.push_back(c.name);
      const std::string line = "<li><strong>" + html_escape(c.name) + "</strong>: Type " + html_escape(c.type) + ", " +
                               html_escape(c.distribution) + "; " + html_escape(c.source) + "</li>";
      if (std::find(sources.begin(), sources.end(), line) == sources.end()) sources.push_back(line);
    }
  }
  std::string s = std::string("<details class=\"budget\"><summary>Uncertainty budget of each point") +
                  (readback ? ": the readback" : "") + "</summary><ul>";
  for (const std::string& line : sources) s += line;
  s += "</ul><p>Each cell: the half-width a (rectangular, u = a / \xe2\x88\x9a" "3) or the standard deviation s of the "
       "readings (normal, u = s / \xe2\x88\x9a" "n), then u, in " + unit + ". u<sub>c</sub> is their root sum of squares; "
       "U = k u<sub>c</sub> with k = 2 (about 95 %), rounded up to two significant digits." +
       (repeatability ? "" : " Repeatability was not evaluated (one reading per point).") +
       "</p><div class=\"scroll\"><table class=\"points budget\" data-rows=\"" + std::to_string(rows.size()) +
       "\"><thead><tr><th>#</th>";
  for (const std::string& name : names) s += "<th>" + html_escape(name) + "</th>";
  s += "<th>u<sub>c</sub> (" + unit + ")</th><th>U (" + unit + ")</th></tr></thead><tbody>";
  for (const BudgetRow& row : rows) {
    s += "<tr><td>" + cell_number(row.point->index, 0) + "</td>";
    for (const std::string& name : names) {
      const auto c = std::find_if(row.budget->begin(), row.budget->end(),
                                  [&](const RecordBudgetComponent& component) { return component.name == name; });
      s += c == row.budget->end()
               ? std::string("<td>\xe2\x80\x94</td>")
               : "<td>" + budget_number(c->half_width ? c->half_width : c->standard_deviation) + " \xe2\x86\x92 " +
                     budget_number(c->standard_uncertainty) + "</td>";
    }
    s += "<td>" + budget_number(row.combined) + "</td><td>" + cell_number(row.expanded, 4) +
         "</td></tr>";
  }
  return s + "</tbody></table></div></details>";
}

std::string assessment_table(const RecordStep& step, bool format_1) {
  const std::string unit = html_escape(unit_name(step.quantity));
  const std::string mu = milli_unit(step.quantity);
  const bool readback = step.summary.readback.has_value();
  const std::string u_head = format_1 ? "U (" + mu + "): reference accuracy limit (format 1)" : "U (" + mu + "), k = 2";
  std::string s = "<div class=\"scroll\"><table class=\"points assessment\" data-rows=\"" +
                  std::to_string(step.points.size()) + "\"><thead><tr><th>#</th><th>Set (" + unit +
                  ")</th><th>Reading (" + unit + ")</th><th>Error (" + mu + ")</th><th>T (" + mu + ")</th><th>" +
                  u_head + "</th><th>Acceptance limit (" + mu + ")</th><th>TUR</th><th class=\"v\">Verdict</th>" +
                  (format_1 ? "" : "<th class=\"v\">Risk</th>");
  if (readback) {
    s += "<th>Readback (" + unit + ")</th><th>Readback error (" + mu + ")</th><th>Readback T (" + mu + ")</th>";
    if (!format_1) s += "<th>Readback U (" + mu + "), k = 2</th>";
    s += "<th>Readback acceptance limit (" + mu + ")</th><th>Readback TUR</th><th class=\"v\">Readback verdict</th>";
    if (!format_1) s += "<th class=\"v\">Readback risk</th>";
  }
  s += "</tr></thead><tbody>";
  for (const AssessedPoint& p : step.points) {
    const std::string verdict = verdict_text(p.verdict);
    s += "<tr class=\"" + verdict_class(verdict) + "\"><td>" + cell_number(p.index, 0) + "</td><td>" +
         cell_number(p.set, 4) + "</td><td>" + cell_number(p.reading, 6) + "</td><td>" + cell_number(p.error_mV, 3) +
         "</td><td>" + cell_number(p.tolerance_mV, 3) + "</td><td>" + cell_number(p.uncertainty_mV, 4) +
         "</td><td>" + cell_number(p.acceptance_limit_mV, 3) + "</td><td>" + cell_number(p.tur, 1) +
         (p.tur_below_4 ? " <span class=\"flag\">(below 4)</span>" : "") + "</td><td class=\"v\">" +
         verdict_badge(verdict) + "</td>" + (format_1 ? "" : "<td class=\"v\">" + risk_cell(p) + "</td>");
    if (readback && p.readback) {
      const AssessedReadback& r = *p.readback;
      const std::optional<double> tur = readback_tur(r);
      s += "<td>" + cell_number(r.value, 4) + "</td><td>" + cell_number(r.error_mV, 3) + "</td><td>" +
           cell_number(r.tolerance_mV, 3) + "</td>" + (format_1 ? "" : "<td>" + cell_number(r.uncertainty_mV, 4) + "</td>") +
           "<td>" + cell_number(r.acceptance_limit_mV, 3) + "</td><td>" + cell_number(tur, 1) +
           (tur && *tur < TUR_FLAG_BELOW ? " <span class=\"flag\">(below 4)</span>" : "") + "</td><td class=\"v\">" +
           verdict_badge(verdict_text(r.verdict)) + "</td>" +
           (format_1 ? "" : "<td class=\"v\">" + risk_cell(r) + "</td>");
    } else if (readback) {
      s += "<td></td><td></td><td></td><td></td><td></td><td class=\"v\"></td>";
      if (!format_1) s += "<td></td><td class=\"v\"></td>";
    }
    s += "</tr>";
  }
  return s + "</tbody></table></div>";
}

std::string assessment_summary(const RecordStep& step) {
  const StepSummary& sum = step.summary;
  std::string s = "<p class=\"summary\">Step verdict: " + verdict_badge(verdict_text(sum.verdict)) + ". Points: ";
  const Verdict order[] = {Verdict::pass, Verdict::fail, Verdict::indeterminate, Verdict::no_reading};
  for (std::size_t i = 0; i < sum.counts.size(); i++)
    s += std::string(i == 0 ? "" : ", ") + verdict_text(order[i]) + " " + std::to_string(sum.counts[i]);
  const std::string mu = milli_unit(step.quantity);
  s += ". Sum of squares " + cell_number(sum.sum_of_squares_mV2, 4) + " " + mu + "\xc2\xb2, RMS error " +
       cell_number(sum.rms_error_mV, 4) + " " + mu + ", largest absolute error " +
       cell_number(sum.max_abs_error_mV, 4) + " " + mu + ".";
  s += largest_risk_words(sum.max_false_accept_risk) + "</p>";
  if (sum.readback) {
    s += "<p class=\"summary\">Readback verdict: " + verdict_badge(verdict_text(sum.readback->verdict)) + ". Points: ";
    for (std::size_t i = 0; i < sum.readback->counts.size(); i++)
      s += std::string(i == 0 ? "" : ", ") + verdict_text(order[i]) + " " + std::to_string(sum.readback->counts[i]);
    s += ". RMS readback error " + cell_number(sum.readback->rms_error_mV, 4) + " " + mu +
         ", largest absolute readback error " + cell_number(sum.readback->max_abs_error_mV, 4) + " " + mu + ".";
    s += largest_risk_words(sum.readback->max_false_accept_risk) + "</p>";
  }
  return s + tur_words(step);
}

std::string decision_rule_paragraph(const Record& r) {
  if (r.format_version == 1)
    return "<p><strong>Decision rule:</strong> " + html_escape(r.decision_rule) +
           " <em>This record is of format 1: its U is the reference DMM's accuracy limit, not an expanded "
           "uncertainty.</em></p>";
  return "<p><strong>Decision rule:</strong> " + html_escape(r.decision_rule_name) + ", " +
         html_escape(r.decision_rule_reference) + ". " + html_escape(r.decision_rule) +
         " Each point's budget is shown under its step.</p>";
}

std::string rule_and_risk_sentence(const std::vector<Record>& records) {
  const Record* rated = nullptr;
  int risky = 0;
  double largest = 0.0;
  for (const Record& r : records) {
    if (r.format_version == 1) continue;
    if (rated == nullptr) rated = &r;
    for (const RecordStep& step : r.steps) {
      for (const AssessedPoint& p : step.points) {
        for (const std::optional<double>& risk : {p.false_accept_risk, p.readback ? p.readback->false_accept_risk
                                                                                   : std::optional<double>()}) {
          if (!risk || *risk <= FALSE_ACCEPT_RISK_LIMIT) continue;
          risky++;
          largest = std::max(largest, *risk);
        }
      }
    }
  }
  if (rated == nullptr) return "";
  std::string s = "<p>The verdicts follow the " + html_escape(rated->decision_rule_name) + " rule, " +
                  html_escape(rated->decision_rule_reference) + ", with U the expanded uncertainty at k = 2; ";
  if (risky == 0) return s + "no pass carries a risk of a false accept above 2 %.</p>";
  return s + "<span class=\"flag\">" + std::to_string(risky) + (risky == 1 ? " pass carries" : " passes carry") +
         " a risk of a false accept above 2 % (the ANSI/NCSL Z540.3 limit), the largest " + risk_percent(largest) +
         "</span>.</p>";
}

std::string render_record_page(const Record& r) {
  const std::string key = procedure_key(r.procedure);
  const std::string channel = std::to_string(r.channel);
  bool has_assessment = false;
  for (const RecordStep& st : r.steps) has_assessment |= st.kind == StepKind::assessment;
  const std::string& id = r.record_id;

  std::string h = page_head("Trimora record " + id);
  h += "<header><h1>" + html_escape(procedure_title(key)) + ", CH" + html_escape(channel) +
       "</h1><p class=\"id\">Record " + html_escape(id) + "</p>";
  const std::string overall = r.overall_verdict ? verdict_text(*r.overall_verdict) : "";
  if (has_assessment || !overall.empty())
    h += "<div class=\"verdict-big " + verdict_class(overall) +
         "\">Overall verdict: " + html_escape(overall.empty() ? "none" : overall) + "</div>";
  h += "</header>";
  if (has_assessment) h += decision_rule_paragraph(r);

  h += "<table class=\"facts\">" + fact("Procedure", html_escape(procedure_title(key))) +
       fact("Channel", "CH" + html_escape(channel)) + fact("Started", html_escape(r.started)) +
       fact("Ended", html_escape(r.ended)) +
       fact("Completed", r.completed ? "yes"
                                     : "<span class=\"flag\">NO</span>: " +
                                           html_escape(r.incomplete_reason.value_or(std::string()))) +
       fact("Program", html_escape(r.program_name + " " + r.program_version)) + "</table>";

  h += "<h2>Unit calibrated</h2><table class=\"facts\">" + instrument_rows(r.supply) + "</table>" +
       tolerance_section(r.tolerance);
  h += "<h2>Reference</h2><table class=\"facts\">" + instrument_rows(r.reference) + "</table>" +
       accuracy_section(r.reference_accuracy);

  // A plot per figure measured: voltage and current, programming and readback.
  const char* const caption =
      r.decision_rule_name == "simple"
          ? "<figcaption class=\"note\">Simple acceptance: within \xc2\xb1T a point passes, beyond it fails. Bars: "
            "\xc2\xb1U.</figcaption></figure>"
          : "<figcaption class=\"note\">Shaded: within \xc2\xb1(T \xe2\x88\x92 U) a point passes; between T "
            "\xe2\x88\x92 U and T + U it is indeterminate. Bars: \xc2\xb1U.</figcaption></figure>";
  for (const FigureId& figure : SUPPLY_FIGURES) {
    std::vector<PlotSeries> series;
    for (const RecordStep& st : r.steps) {
      if (st.kind != StepKind::assessment || st.quantity != figure.quantity) continue;
      const std::string name = st.title.empty() ? "Assessment" : st.title;
      if (figure.kind == FigureKind::programming) series.push_back(assessment_series(st, name));
      if (figure.kind == FigureKind::readback && st.summary.readback) series.push_back(readback_series(st, name));
    }
    if (series.empty()) continue;
    std::string title = figure_name(figure.quantity, figure.kind);
    title[0] = static_cast<char>(title[0] - 'a' + 'A');
    const bool voltage_programming = figure.quantity == Quantity::voltage && figure.kind == FigureKind::programming;
    h += "<h2>" + (voltage_programming ? std::string("Errors against the set value")
                                       : title + (figure.kind == FigureKind::programming
                                                      ? ": errors against the set value"
                                                      : ": the supply's reading against the DMM's")) +
         "</h2><figure>" +
         figure_plot(series, figure.quantity, figure.kind,
                     voltage_programming ? std::string("Error against set value") : title + " error") +
         caption;
  }

  for (const RecordStep& st : r.steps) {
    h += "<section><h2>Step " + std::to_string(st.number) + ": " + html_escape(st.title) + "</h2>";
    if (!st.completed) h += "<p class=\"flag\">This step did not complete.</p>";
    if (st.kind == StepKind::assessment) {
      h += assessment_summary(st) + assessment_table(st, r.format_version == 1);
      if (r.format_version != 1) h += budget_table(st);
      if (r.format_version != 1 && st.summary.readback) h += budget_table(st, FigureKind::readback);
    } else {
      if (st.uses_corrections) h += "<p>The readings were reported with the corrections below.</p>";
      h += calibration_step(st);
    }
    h += "</section>";
  }

  if (r.corrections && !r.corrections->empty()) {
    h += "<h2>Corrections used</h2><div class=\"scroll\"><table class=\"points\" data-rows=\"" +
         std::to_string(r.corrections->size()) +
         "\"><thead><tr><th>Set (V)</th><th>Correction (mV)</th></tr></thead><tbody>";
    for (const CorrectionEntry& c : *r.corrections)
      h += "<tr><td>" + cell_number(c.set, 4) + "</td><td>" + cell_number(c.correction_v * 1000, 3) + "</td></tr>";
    h += "</tbody></table></div>";
  }
  h += "<h2>Errors reported by the supply</h2>";
  if (r.supply_errors.empty()) {
    h += "<p>None.</p>";
  } else {
    h += "<ul>";
    for (const std::string& e : r.supply_errors) h += "<li><code>" + html_escape(e) + "</code></li>";
    h += "</ul>";
  }
  return h + page_foot("End of record " + id);
}

Result<std::filesystem::path> write_record_page(const Record& record, const std::filesystem::path& json_path) {
  try {
    auto page = json_path;
    page.replace_extension(".html");
    const Status written = write_file_atomically(page.string(), render_record_page(record));
    if (!written) return written;
    return page;
  } catch (const std::exception& e) {  // out of memory and the like: a failure, never a crash
    return Status::failure(e.what());
  }
}
