#include "records/page_style.h"

#include <cstdio>

#include "records/html_escape.h"
#include "records/svg_plot.h"

namespace {

const char kStyle[] = R"css(
*{box-sizing:border-box}
body{font-family:sans-serif;color:#111;background:#fff;max-width:62rem;margin:0 auto;padding:.5rem 1rem;line-height:1.35}
h1{font-size:1.5rem;margin:.6rem 0 .2rem}h2{font-size:1.2rem;margin:1.2rem 0 .4rem;border-bottom:1px solid #999}
h3{font-size:1.05rem;margin:1rem 0 .3rem}
.id{font-family:monospace;word-break:break-all;color:#333}
.scroll{overflow-x:auto;max-width:100%}
table{border-collapse:collapse;margin:.3rem 0}
th,td{border:1px solid #999;padding:.2rem .45rem;vertical-align:top}
table.points td,table.points th{text-align:right;white-space:nowrap}
table.points td.v,table.points th.v{text-align:left}
table.facts th{text-align:left;background:#f2f2f2;font-weight:normal}
thead th{background:#e8e8e8}
figure{margin:.5rem 0}
svg.plot{width:100%;max-width:720px;height:auto;display:block}
svg.trend{width:100%;max-width:380px;height:auto}
.verdict-big{display:inline-block;font-size:2rem;font-weight:bold;padding:.2rem .9rem;border:4px solid;margin:.4rem 0}
.conformity{font-size:1.2rem;font-weight:bold;border:3px solid;padding:.3rem .6rem}
.badge{white-space:nowrap;font-weight:bold}
.badge svg{vertical-align:middle;margin-right:.25rem}
.pass{color:#004f80}.fail{color:#b33c00}.indeterminate{color:#7a4a00}.no-reading,.incomplete{color:#444}
tr.fail td{background:#fbe3d6}tr.indeterminate td{background:#fdf0d5}tr.no-reading td{background:#eeeeee}
.assumed{font-weight:bold;color:#7a4a00}
.flag{font-weight:bold}
.scope{margin-top:1.5rem;font-style:italic}
.end{margin:1rem 0 2rem;text-align:center;font-weight:bold;letter-spacing:.1em;border-top:3px double #111;padding-top:.4rem}
.note{color:#444}
@page{margin:14mm 12mm}
@media print{
 body{max-width:none;padding:0;font-size:10pt}
 .scroll{overflow:visible}
 figure,svg,tr,table.facts,.verdict-big,.conformity,.summary{break-inside:avoid;page-break-inside:avoid}
 h1,h2,h3{break-after:avoid;page-break-after:avoid}
 thead{display:table-header-group}
 table.points{font-size:7.5pt}
 table.points th{white-space:normal}
 table.points td,table.points th{padding:.1rem .2rem}
 a{color:#111;text-decoration:none}
 tr.fail td,tr.indeterminate td,tr.no-reading td{-webkit-print-color-adjust:exact;print-color-adjust:exact}
}
@media (max-width:40rem){body{padding:.3rem .5rem}.verdict-big{font-size:1.5rem}}
)css";

}  // namespace

std::string page_head(std::string_view title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
         html_escape(title) + "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string page_foot(std::string_view end_mark) {
  return "<p class=\"scope\">The results relate only to the item calibrated.</p>\n<p class=\"end\">" +
         html_escape(end_mark) + "</p>\n</body></html>\n";
}

std::string cell_number(std::optional<double> value, int decimals) {
  if (!value) return "\xe2\x80\x94";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, *value);
  std::string s = buf;
  if (s[0] == '-') s = "\xe2\x88\x92" + s.substr(1);  // a real minus sign
  return s;
}

std::string verdict_class(std::string_view verdict) {
  std::string c;
  for (char ch : verdict) c += ch == ' ' ? '-' : static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
  return c.empty() ? "none" : html_escape(c);
}

std::string verdict_badge(std::string_view verdict) {
  if (verdict.empty()) return "<span class=\"badge\">\xe2\x80\x94</span>";
  std::string marker;
  if (verdict != "INCOMPLETE")
    marker = "<svg width=\"14\" height=\"14\" viewBox=\"0 0 14 14\" aria-hidden=\"true\">" +
             svg_verdict_marker(verdict, 7, 7) + "</svg>";
  return "<span class=\"badge " + verdict_class(verdict) + "\">" + marker + html_escape(verdict) + "</span>";
}

std::string instrument_rows(const RecordInstrument& ins) {
  std::string rows;
  auto row = [&](const char* label, const std::string& value) {
    rows += std::string("<tr><th>") + label + "</th><td>" + (value.empty() ? "\xe2\x80\x94" : html_escape(value)) +
            "</td></tr>";
  };
  row("Maker", ins.maker);
  row("Model", ins.model);
  row("Serial number", ins.serial);
  row("Firmware", ins.firmware);
  row("Address", ins.address + ":" + std::to_string(ins.port));
  return rows;
}
