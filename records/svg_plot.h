// Inline SVG charts drawn by Trimora itself: no script, no external file, no font fetched.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One point of an error plot: error (mV) against the set value, with its tolerance T and uncertainty U.
struct PlotPoint {
  double set = 0;
  std::optional<double> error_mV;  // none: the reading failed
  double tolerance_mV = 0;
  double uncertainty_mV = 0;
  std::string verdict;  // PASS, FAIL, INDETERMINATE, NO READING
};

struct PlotSeries {
  std::string name;  // shown in the legend; escaped here
  std::vector<PlotPoint> points;
};

// An axis from lo to hi with ticks every step, all at round values (1, 2 or 5 times a power of ten).
struct AxisScale {
  double lo = 0;
  double hi = 1;
  double step = 1;
  std::vector<double> ticks;
};

// The round scale that holds [lo, hi] with at most about max_ticks intervals. A zero-width or reversed
// range and non-finite bounds still give a usable scale.
AxisScale round_scale(double lo, double hi, int max_ticks = 7);

// The error plot of one or more series, with the tolerance band ±T and the guard band ±(T − U) shaded,
// markers by verdict (shape and colour), error bars ±U, and a legend. set_unit names the x axis' unit;
// error_label names the y axis (escaped here).
std::string svg_error_plot(const std::vector<PlotSeries>& series, std::string_view set_unit,
                           std::string_view aria_label,
                           std::string_view error_label = "Error, reading \xe2\x88\x92 set (mV)");

// One point of a trend chart: an assessment's RMS and largest absolute error, oldest first.
struct TrendPoint {
  std::string label;  // date shown under the axis; escaped here
  std::optional<double> rms_mV;
  std::optional<double> max_abs_mV;
};

// A small chart of the RMS and the largest absolute error over successive assessments.
std::string svg_trend_chart(const std::vector<TrendPoint>& points, std::string_view aria_label);

// The marker of a verdict at (x, y), as SVG: the shape and colour differ for every verdict.
std::string svg_verdict_marker(std::string_view verdict, double x, double y);
