// The page of one calibration record, drawn from the record alone.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/status.h"
#include "records/page_files.h"
#include "records/record.h"
#include "records/svg_plot.h"

// The whole self-contained HTML page of a record.
std::string render_record_page(const Record& record);

// Writes the page of record beside its JSON: records/<file>.html for records/<file>.json. Returns the
// page's path. Never throws.
Result<std::filesystem::path> write_record_page(const Record& record, const std::filesystem::path& json_path);

// The plot series of an assessment step.
PlotSeries assessment_series(const RecordStep& step, const std::string& name);
// The plot series of an assessment step's readback: readback − reading, with its T and U, at each set
// value; no points when the step did not ask the readback.
PlotSeries readback_series(const RecordStep& step, const std::string& name);
// The error plot of one figure (programming or readback) of the given series, with its axis titles.
std::string figure_plot(const std::vector<PlotSeries>& series, Quantity quantity, FigureKind kind,
                        const std::string& aria_label);
// "mV" on a voltage step, "mA" on a current step: the unit of its errors, T and U.
const char* milli_unit(Quantity quantity);
// The table of an assessment step's points: set value, reading, error, T, U, the acceptance limit, TUR,
// verdict and the risk of a wrong verdict, and the same for the readback when the step asked it; a
// format-1 record's U is labelled as what it was, and it has no risk.
std::string assessment_table(const RecordStep& step, bool format_1 = false);
// Each point's uncertainty budget of one figure of an assessment step, a collapsed table (format 2 on).
std::string budget_table(const RecordStep& step, FigureKind kind = FigureKind::programming);
// The decision-rule paragraph: which rule, its reference, and what U contains.
std::string decision_rule_paragraph(const Record& record);
// One sentence over records: the rule their verdicts follow, and whether any pass carries a risk of a
// false accept above 2 %; empty when none of them is of format 2.
std::string rule_and_risk_sentence(const std::vector<Record>& records);
// "PASS: 36, FAIL: 0 ..., RMS ... mV, largest ... mV" of an assessment step, escaped.
std::string assessment_summary(const RecordStep& step);
// The name of a procedure in words, from its key (A, V, C, F).
std::string procedure_title(const std::string& key);
