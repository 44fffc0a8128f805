#include "records/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>

#include "records/html_escape.h"

namespace {

// SVG coordinates with two decimals: enough for the screen and print, short in the file.
// Never "inf" or "nan": a coordinate that is not finite is drawn at 0, one far outside the picture at
// the edge of what a viewer draws.
std::string num(double v) {
  if (!(std::fabs(v) <= 1e7)) v = std::isnan(v) ? 0 : (v < 0 ? -1e7 : 1e7);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// Whole numbers and powers of ten worked out here rather than by the maths library, so that the program
// needs no libm: one shared library less to map, which keeps its resident memory small.
// Doubles of 2^52 and more are whole already.
double whole_floor(double x) {
  if (!(std::fabs(x) < 4503599627370496.0)) return x;
  const double t = static_cast<double>(static_cast<long long>(x));  // toward zero
  return t > x ? t - 1 : t;
}

double whole_ceil(double x) { return -whole_floor(-x); }

// The nearest whole number, halves away from zero.
double whole_round(double x) {
  const double a = std::fabs(x);
  const double f = whole_floor(a);
  const double r = a - f >= 0.5 ? f + 1 : f;
  return x < 0 ? -r : r;
}

// floor(log10(x)) for x > 0.
int decade_exponent(double x) {
  int k = 0;
  double p = 1;
  if (x >= 1) {
    while (p * 10 <= x && k < 400) {
      p *= 10;
      ++k;
    }
  } else {
    while (x * p < 1 && k > -400) {
      p *= 10;
      --k;
    }
  }
  return k;
}

double power_of_ten(int k) {
  double p = 1;
  for (int i = 0; i < k || i < -k; ++i) p *= 10;
  return k < 0 ? 1 / p : p;
}

// A tick label with as many decimals as the step needs, and never "-0".
std::string tick_label(double v, double step) {
  if (!std::isfinite(v) || !std::isfinite(step)) return "";
  int decimals = std::max(0, -decade_exponent(step * (1 + 3e-9)));
  if (std::fabs(v) < step * 1e-6) v = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

struct Frame {
  double left, top, width, height;  // the plot area inside the SVG
  AxisScale x, y;
  double px(double v) const { return left + (v - x.lo) / (x.hi - x.lo) * width; }
  double py(double v) const { return top + height - (v - y.lo) / (y.hi - y.lo) * height; }
};

// Grid lines, tick labels and axis titles.
void draw_axes(std::string& svg, const Frame& f, std::string_view x_title, std::string_view y_title) {
  svg += "<g class=\"grid\" stroke=\"#d0d0d0\" stroke-width=\"1\">";
  for (double t : f.x.ticks)
    svg += "<line x1=\"" + num(f.px(t)) + "\" y1=\"" + num(f.top) + "\" x2=\"" + num(f.px(t)) + "\" y2=\"" +
           num(f.top + f.height) + "\"/>";
  for (double t : f.y.ticks)
    svg += "<line x1=\"" + num(f.left) + "\" y1=\"" + num(f.py(t)) + "\" x2=\"" + num(f.left + f.width) + "\" y2=\"" +
           num(f.py(t)) + "\"" + (std::fabs(t) < f.y.step * 1e-6 ? " stroke=\"#606060\"" : "") + "/>";
  svg += "</g><rect x=\"" + num(f.left) + "\" y=\"" + num(f.top) + "\" width=\"" + num(f.width) + "\" height=\"" +
         num(f.height) + "\" fill=\"none\" stroke=\"#202020\"/>";
  svg += "<g font-size=\"12\" fill=\"#202020\">";
  for (double t : f.x.ticks)
    svg += "<text x=\"" + num(f.px(t)) + "\" y=\"" + num(f.top + f.height + 16) + "\" text-anchor=\"middle\">" +
           tick_label(t, f.x.step) + "</text>";
  for (double t : f.y.ticks)
    svg += "<text x=\"" + num(f.left - 6) + "\" y=\"" + num(f.py(t) + 4) + "\" text-anchor=\"end\">" +
           tick_label(t, f.y.step) + "</text>";
  svg += "<text x=\"" + num(f.left + f.width / 2) + "\" y=\"" + num(f.top + f.height + 36) +
         "\" text-anchor=\"middle\" font-size=\"13\">" + html_escape(x_title) + "</text>";
  const std::string cx = num(f.left - 44), cy = num(f.top + f.height / 2);
  svg += "<text x=\"" + cx + "\" y=\"" + cy + "\" text-anchor=\"middle\" font-size=\"13\" transform=\"rotate(-90 " +
         cx + " " + cy + ")\">" + html_escape(y_title) + "</text></g>";
}

// A value held within ±1e12, so that sums and differences of the values stay finite (what a supply can
// show is some ten orders of magnitude less); not a number and infinities are left as they are, and
// treated as missing where they are drawn.
double held(double v) { return std::isfinite(v) ? std::clamp(v, -1e12, 1e12) : v; }
std::optional<double> held(std::optional<double> v) { return v ? std::optional<double>(held(*v)) : v; }

bool usable(const PlotPoint& p) { return p.error_mV && std::isfinite(*p.error_mV) && std::isfinite(p.set); }

// The band |e| <= limit(set) as a polygon over the x range, the limit held flat beyond the end points.
std::string band(const Frame& f, const std::map<double, double>& limit, const char* fill, bool edge = false) {
  if (limit.empty()) return {};
  std::vector<std::pair<double, double>> upper{{f.x.lo, limit.begin()->second}};
  for (const auto& [s, t] : limit) upper.emplace_back(s, t);
  upper.emplace_back(f.x.hi, limit.rbegin()->second);
  std::string pts;
  for (const auto& [s, t] : upper) pts += num(f.px(s)) + "," + num(f.py(std::max(t, 0.0))) + " ";
  for (auto it = upper.rbegin(); it != upper.rend(); ++it)
    pts += num(f.px(it->first)) + "," + num(f.py(-std::max(it->second, 0.0))) + " ";
  pts.pop_back();
  std::string out = "<polygon points=\"" + pts + "\" fill=\"" + fill + "\" stroke=\"none\"/>";
  if (edge)  // the limit itself, dashed, so that it shows where U is too small to shade
    for (double sign : {1.0, -1.0}) {
      std::string line;
      for (const auto& [s, t] : upper) line += num(f.px(s)) + "," + num(f.py(sign * std::max(t, 0.0))) + " ";
      line.pop_back();
      out += "<polyline points=\"" + line + "\" fill=\"none\" stroke=\"#8a5a00\" stroke-dasharray=\"5 3\"/>";
    }
  return out;
}

const char* const kSeriesStroke[] = {"#505050", "#0072b2", "#202020"};
const char* const kSeriesDash[] = {"6 4", "2 3", ""};

}  // namespace

AxisScale round_scale(double lo, double hi, int max_ticks) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0, hi = 1;
  lo = std::clamp(lo, -1e300, 1e300), hi = std::clamp(hi, -1e300, 1e300);  // hi − lo stays finite
  if (lo > hi) std::swap(lo, hi);
  if (hi - lo <= 1e-9 * std::max(1.0, std::fabs(lo))) {
    const double pad = lo == 0 ? 1.0 : std::fabs(lo) * 0.5;  // one value: a range around it
    lo -= pad;
    hi += pad;
  }
  max_ticks = std::max(max_ticks, 2);
  const double raw = (hi - lo) / max_ticks;
  const double mag = power_of_ten(decade_exponent(raw));
  const double mantissas[] = {1.0, 2.0, 5.0, 10.0};
  const double step = mag * *std::find_if(std::begin(mantissas), std::end(mantissas) - 1,
                                          [&](double m) { return m * mag >= raw * (1 - 1e-9); });
  AxisScale s;
  s.step = step;
  s.lo = whole_floor(lo / step + 1e-9) * step;
  s.hi = whole_ceil(hi / step - 1e-9) * step;
  const int n = static_cast<int>(whole_round((s.hi - s.lo) / step));
  for (int i = 0; i <= n; ++i) {
    double t = whole_round((s.lo + i * step) / step) * step;  // whole multiples: no 0.30000000000000004
    s.ticks.push_back(t == 0 ? 0.0 : t);
  }
  return s;
}

std::string svg_verdict_marker(std::string_view verdict, double x, double y) {
  const std::string X = num(x), Y = num(y);
  if (verdict == "PASS")  // filled circle, blue
    return "<circle cx=\"" + X + "\" cy=\"" + Y + "\" r=\"4.5\" fill=\"#0072b2\" stroke=\"#003a5c\"/>";
  if (verdict == "FAIL")  // bold cross, vermilion
    return "<path d=\"M" + num(x - 5) + " " + num(y - 5) + "L" + num(x + 5) + " " + num(y + 5) + "M" + num(x - 5) +
           " " + num(y + 5) + "L" + num(x + 5) + " " + num(y - 5) +
           "\" stroke=\"#d55e00\" stroke-width=\"3\" fill=\"none\"/>";
  if (verdict == "INDETERMINATE")  // open diamond, orange
    return "<path d=\"M" + X + " " + num(y - 6) + "L" + num(x + 6) + " " + Y + "L" + X + " " + num(y + 6) + "L" +
           num(x - 6) + " " + Y + "Z\" fill=\"#ffffff\" stroke=\"#b86e00\" stroke-width=\"2.5\"/>";
  // no reading (or anything unknown): open square, grey
  return "<rect x=\"" + num(x - 4.5) + "\" y=\"" + num(y - 4.5) +
         "\" width=\"9\" height=\"9\" fill=\"#ffffff\" stroke=\"#606060\" stroke-width=\"2\"/>";
}

std::string svg_error_plot(const std::vector<PlotSeries>& given, std::string_view set_unit,
                           std::string_view aria_label, std::string_view error_label) {
  std::vector<PlotSeries> series = given;
  for (auto& s : series)
    for (auto& p : s.points) {
      p.set = held(p.set), p.error_mV = held(p.error_mV);
      p.tolerance_mV = held(p.tolerance_mV), p.uncertainty_mV = held(p.uncertainty_mV);
    }
  double xlo = INFINITY, xhi = -INFINITY, ylo = 0, yhi = 0;
  std::map<double, double> tol, guard;  // by set value: T and T − U (the smallest T − U seen there)
  bool no_reading = false;
  for (const auto& s : series)
    for (const auto& p : s.points) {
      if (!std::isfinite(p.set)) continue;
      xlo = std::min(xlo, p.set);
      xhi = std::max(xhi, p.set);
      if (std::isfinite(p.tolerance_mV) && p.tolerance_mV > 0) {
        tol[p.set] = std::max(tol.count(p.set) ? tol[p.set] : 0.0, p.tolerance_mV);
        ylo = std::min(ylo, -p.tolerance_mV);
        yhi = std::max(yhi, p.tolerance_mV);
        const double u = std::isfinite(p.uncertainty_mV) ? std::fabs(p.uncertainty_mV) : 0;
        const double g = std::max(p.tolerance_mV - u, 0.0);
        guard[p.set] = guard.count(p.set) ? std::min(guard[p.set], g) : g;
      }
      if (usable(p)) {
        const double u = std::isfinite(p.uncertainty_mV) ? std::fabs(p.uncertainty_mV) : 0;
        ylo = std::min(ylo, *p.error_mV - u);
        yhi = std::max(yhi, *p.error_mV + u);
      } else {
        no_reading = true;
      }
    }
  if (xlo > xhi) xlo = 0, xhi = 1;  // nothing to plot: an empty frame with a note
  if (xlo == xhi) {
    const double pad = xlo == 0 ? 1.0 : std::fabs(xlo) * 0.5;
    xlo -= pad, xhi += pad;
  }
  if (xlo > 0 && xlo < 0.25 * xhi) xlo = 0;  // start the set-value axis at zero when that costs little

  Frame f{70, 16, 620, 300, round_scale(xlo, xhi, 8), round_scale(ylo, yhi, 8)};
  const double W = 720, H = 420;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"plot\" viewBox=\"0 0 " + num(W) + " " + num(H) +
                    "\" width=\"" + num(W) + "\" height=\"" + num(H) + "\" role=\"img\" aria-label=\"" +
                    html_escape(aria_label) + "\" font-family=\"sans-serif\">";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>";
  svg += band(f, tol, "#f3dca0", true);  // T − U < |e| <= T: the guard band, where the verdict can be undecided
  svg += band(f, guard, "#dcefdc");      // |e| <= T − U: the acceptance zone
  draw_axes(svg, f, "Set value (" + std::string(set_unit) + ")", std::string(error_label));

  // series: a line through the readings, error bars, markers
  for (std::size_t si = 0; si < series.size(); ++si) {
    const auto& s = series[si];
    std::vector<const PlotPoint*> pts;
    for (const auto& p : s.points)
      if (usable(p)) pts.push_back(&p);
    std::sort(pts.begin(), pts.end(), [](auto a, auto b) { return a->set < b->set; });
    const std::size_t style = series.size() == 1 ? 2 : si % 3;
    if (pts.size() > 1) {
      std::string line;
      for (auto p : pts) line += num(f.px(p->set)) + "," + num(f.py(*p->error_mV)) + " ";
      line.pop_back();
      svg += std::string("<polyline points=\"") + line + "\" fill=\"none\" stroke=\"" + kSeriesStroke[style] +
             "\" stroke-width=\"1.2\"" +
             (*kSeriesDash[style] ? std::string(" stroke-dasharray=\"") + kSeriesDash[style] + "\"" : "") + "/>";
    }
    svg += "<g class=\"series\">";
    for (const auto& p : s.points) {
      if (!std::isfinite(p.set)) continue;
      const double x = f.px(p.set);
      if (!usable(p)) {  // on the bottom edge of the frame, as an open square
        svg += svg_verdict_marker("NO READING", x, f.top + f.height);
        continue;
      }
      const double u = std::isfinite(p.uncertainty_mV) ? std::fabs(p.uncertainty_mV) : 0;
      const double y1 = f.py(*p.error_mV - u), y2 = f.py(*p.error_mV + u);
      if (y1 - y2 >= 2)
        svg += "<path d=\"M" + num(x) + " " + num(y1) + "V" + num(y2) + "M" + num(x - 3) + " " + num(y1) + "h6M" +
               num(x - 3) + " " + num(y2) + "h6\" stroke=\"#303030\" fill=\"none\"/>";
      svg += svg_verdict_marker(p.verdict, x, f.py(*p.error_mV));
    }
    svg += "</g>";
  }
  if (xlo == 0 && xhi == 1 && tol.empty() && !no_reading)
    svg += "<text x=\"" + num(f.left + f.width / 2) + "\" y=\"" + num(f.top + f.height / 2) +
           "\" text-anchor=\"middle\" font-size=\"14\">No points</text>";

  // legend: verdict markers, bands, and the series when there are several
  std::string legend = "<g class=\"legend\" font-size=\"12\" fill=\"#202020\">";
  double lx = f.left, ly = H - 42;
  auto item = [&](const std::string& symbol, std::string_view text, double width) {
    legend += symbol + "<text x=\"" + num(lx + 12) + "\" y=\"" + num(ly + 4) + "\">" + html_escape(text) + "</text>";
    lx += width;
  };
  item(svg_verdict_marker("PASS", lx, ly), "pass", 60);
  item(svg_verdict_marker("FAIL", lx, ly), "fail", 55);
  item(svg_verdict_marker("INDETERMINATE", lx, ly), "indeterminate", 110);
  item(svg_verdict_marker("NO READING", lx, ly), "no reading (on the frame)", 185);
  item("<rect x=\"" + num(lx - 6) + "\" y=\"" + num(ly - 6) + "\" width=\"12\" height=\"12\" fill=\"#dcefdc\"/>",
       "\xc2\xb1(T \xe2\x88\x92 U)", 90);
  item("<rect x=\"" + num(lx - 6) + "\" y=\"" + num(ly - 6) + "\" width=\"12\" height=\"12\" fill=\"#f3dca0\"/>",
       "to \xc2\xb1T (dashed)", 110);
  if (series.size() > 1) {
    lx = f.left, ly = H - 20;
    for (std::size_t si = 0; si < series.size(); ++si) {
      const std::size_t style = si % 3;
      const std::string dash =
          *kSeriesDash[style] ? std::string(" stroke-dasharray=\"") + kSeriesDash[style] + "\"" : "";
      legend += "<line x1=\"" + num(lx - 8) + "\" y1=\"" + num(ly) + "\" x2=\"" + num(lx + 8) + "\" y2=\"" + num(ly) +
                "\" stroke=\"" + kSeriesStroke[style] + "\" stroke-width=\"2\"" + dash + "/>";
      lx += 6;
      item("", series[si].name, 18 + 7.0 * static_cast<double>(series[si].name.size()));
    }
  }
  svg += legend + "</g></svg>";
  return svg;
}

std::string svg_trend_chart(const std::vector<TrendPoint>& given, std::string_view aria_label) {
  std::vector<TrendPoint> points = given;
  for (auto& p : points) p.rms_mV = held(p.rms_mV), p.max_abs_mV = held(p.max_abs_mV);
  double yhi = 0;
  for (const auto& p : points) {
    if (p.rms_mV && std::isfinite(*p.rms_mV)) yhi = std::max(yhi, *p.rms_mV);
    if (p.max_abs_mV && std::isfinite(*p.max_abs_mV)) yhi = std::max(yhi, *p.max_abs_mV);
  }
  const double n = static_cast<double>(points.size());
  Frame f{54, 10, 300, 100, round_scale(-0.5, std::max(n - 0.5, 0.5), 4), round_scale(0, yhi > 0 ? yhi : 1, 4)};
  f.x.lo = -0.5, f.x.hi = std::max(n - 0.5, 0.5), f.x.ticks.clear();  // the x axis counts assessments
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"trend\" viewBox=\"0 0 380 170\" "
      "width=\"380\" height=\"170\" role=\"img\" aria-label=\"" +
      html_escape(aria_label) + "\" font-family=\"sans-serif\">";
  draw_axes(svg, f, "", "mV");
  auto line = [&](auto get, const char* dash, bool square) {
    std::string pts, marks;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const auto v = get(points[i]);
      if (!v || !std::isfinite(*v)) continue;
      const double x = f.px(static_cast<double>(i)), y = f.py(*v);
      pts += num(x) + "," + num(y) + " ";
      marks += square ? "<rect x=\"" + num(x - 3) + "\" y=\"" + num(y - 3) + "\" width=\"6\" height=\"6\"/>"
                      : "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"3\"/>";
    }
    if (!pts.empty()) pts.pop_back();
    svg += std::string("<polyline points=\"") + pts + "\" fill=\"none\" stroke=\"#202020\" stroke-width=\"1.5\"" +
           (*dash ? std::string(" stroke-dasharray=\"") + dash + "\"" : "") + "/>";
    svg += std::string("<g fill=\"") + (square ? "#ffffff\" stroke=\"#d55e00\" stroke-width=\"1.5\"" : "#0072b2\"") +
           ">" + marks + "</g>";
  };
  line([](const TrendPoint& p) { return p.rms_mV; }, "", false);
  line([](const TrendPoint& p) { return p.max_abs_mV; }, "4 3", true);
  if (!points.empty()) {
    svg += "<g font-size=\"10\" fill=\"#202020\"><text x=\"" + num(f.left) + "\" y=\"" + num(f.top + f.height + 14) +
           "\">" + html_escape(points.front().label) + "</text>";
    if (points.size() > 1)
      svg += "<text x=\"" + num(f.left + f.width) + "\" y=\"" + num(f.top + f.height + 14) + "\" text-anchor=\"end\">" +
             html_escape(points.back().label) + "</text>";
    svg += "</g>";
  }
  svg +=
      "<g font-size=\"11\" fill=\"#202020\"><circle cx=\"60\" cy=\"150\" r=\"3\" fill=\"#0072b2\"/>"
      "<text x=\"68\" y=\"154\">RMS error</text><rect x=\"147\" y=\"147\" width=\"6\" height=\"6\" "
      "fill=\"#ffffff\" stroke=\"#d55e00\" stroke-width=\"1.5\"/><text x=\"158\" y=\"154\">largest |error| "
      "(dashed)</text></g></svg>";
  return svg;
}
