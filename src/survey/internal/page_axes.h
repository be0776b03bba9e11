#pragma once
// The frame every chart of the survey page is drawn in: its geometry in SVG units, the axes
// along the route and of the value with their ticks and titles, the uniform sections as bands,
// and the colours the charts share.
//
//   Frame f;                                    // 960 x 330, margins for the tick labels
//   const LinearAxis xa = route_axis(layout);   // the route, sections included
//   f.x_low = xa.low; f.x_high = xa.high; f.y_low = ...; f.y_high = ...;
//   svg_open(h, f, "What the chart shows", "chart-id");
//   draw_sections(h, f, layout);                // bands first, so the points lie above them
//   draw_axes(h, f, xa, position_title(layout), "Value (unit)");
//   ... the chart's own marks ...
//   h.raw("</svg>");

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "survey/internal/page_markup.h"
#include "survey/survey_layout.h"

namespace basinfit::survey::html {

// Okabe-Ito colours: told apart by readers with any of the common colour-vision deficiencies.
constexpr std::array<const char*, 5> kLayerColour = {"#0072B2", "#E69F00", "#009E73", "#CC79A7", "#D55E00"};
constexpr const char* kPoorFit = "#D55E00";  // vermillion
constexpr const char* kGoodFit = "#0072B2";  // blue

// Layer j's colour (the palette repeats past five layers).
const char* layer_colour(std::size_t j);

// A linear axis: nice bounds and a step of 1, 2 or 5 times a power of ten.
struct LinearAxis {
  double low = 0, high = 1, step = 0.2;
  // The tick values, counted rather than accumulated (a step far below the magnitude of the
  // values could otherwise never reach the end), at most 100 of them.
  std::vector<double> ticks() const;
};
// An axis over low..high in about `target_steps` steps (low == high widens it by one each way).
LinearAxis linear_axis(double low, double high, int target_steps = 6);

// Plot geometry shared by the profiles: x along the route, y from `y_low` to `y_high`
// (logarithmic when `log_y`, which needs both positive).
struct Frame {
  double width = 960, height = 330;
  double left = 76, right = 32, top = 28, bottom = 48;
  double x_low = 0, x_high = 1;
  double y_low = 0, y_high = 1;
  bool log_y = false;
  double x(double v) const;
  double y(double v) const;
  double plot_top() const { return top; }
  double plot_bottom() const { return height - bottom; }
};

// <svg class="chart" id=...> with its accessible label and title; the caller closes it.
void svg_open(Html& h, const Frame& f, std::string_view label, std::string_view id);

// Frame, grid, ticks and labels of both axes: `xa` along the route; the value axis from the
// frame's y range, decades with 2 and 5 between them when logarithmic.
void draw_axes(Html& h, const Frame& f, const LinearAxis& xa, std::string_view x_title,
               std::string_view y_title);

// The sections as bands with their numbers (S1, S2, ...), and their boundaries as lines.
void draw_sections(Html& h, const Frame& f, const SurveyLayout& layout);

// "Chainage (m)" when the stations lie along the route, else the equal spacing of survey order.
std::string position_title(const SurveyLayout& layout);

// The route's axis: every station position and every section's ends.
LinearAxis route_axis(const SurveyLayout& layout);

}  // namespace basinfit::survey::html
