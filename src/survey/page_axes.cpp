#include "survey/internal/page_axes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/round_step.h"
#include "survey/internal/page_numbers.h"

namespace basinfit::survey::html {
namespace {

void x_ticks(Html& h, const Frame& f, const LinearAxis& xa) {
  for (const double v : xa.ticks()) {
    const std::string x = px(f.x(v));
    h.raw("<line class=\"grid\" x1=\"" + x + "\" y1=\"" + px(f.top) + "\" x2=\"" + x + "\" y2=\"" +
          px(f.plot_bottom()) + "\"/>");
    // A label that would reach past the chart's edge is anchored at its end (or start).
    const std::string label = tick_text(v, xa.step);
    const double half = 3.4 * static_cast<double>(label.size());
    const char* anchor = f.x(v) + half > f.width - 2 ? "end" : f.x(v) - half < 2 ? "start" : "middle";
    h.raw("<text class=\"tick\" x=\"" + x + "\" y=\"" + px(f.plot_bottom() + 16) + "\" text-anchor=\"" +
          anchor + "\">")
        .text(label)
        .raw("</text>");
  }
}

void y_ticks(Html& h, const Frame& f) {
  // Y ticks: decades with 2 and 5 between them on a logarithmic axis.
  std::vector<std::pair<double, bool>> ticks;  // value, labelled
  double y_step = 0;
  if (f.log_y) {
    const int first = static_cast<int>(std::floor(std::log10(f.y_low) + 1e-9));
    const int last = static_cast<int>(std::ceil(std::log10(f.y_high) - 1e-9));
    const bool few_decades = last - first <= 2;
    for (int k = first; k <= last; ++k)
      for (double m : {1.0, 2.0, 5.0}) {
        const double v = m * std::pow(10.0, k);
        if (v < f.y_low * (1 - 1e-9) || v > f.y_high * (1 + 1e-9)) continue;
        ticks.emplace_back(v, m == 1.0 || few_decades);
      }
  } else {
    const LinearAxis ya = linear_axis(f.y_low, f.y_high, 5);
    y_step = ya.step;
    for (const double v : ya.ticks()) ticks.emplace_back(v, true);
  }
  for (const auto& [v, labelled] : ticks) {
    const std::string y = px(f.y(v));
    h.raw("<line class=\"" + std::string(labelled ? "grid" : "grid minor") + "\" x1=\"" + px(f.left) +
          "\" y1=\"" + y + "\" x2=\"" + px(f.width - f.right) + "\" y2=\"" + y + "\"/>");
    if (labelled)
      h.raw("<text class=\"tick\" x=\"" + px(f.left - 6) + "\" y=\"" + px(f.y(v) + 4) +
            "\" text-anchor=\"end\">")
          .text(tick_text(v, f.log_y ? v : y_step))
          .raw("</text>");
  }
}

}  // namespace

const char* layer_colour(std::size_t j) { return kLayerColour[j % kLayerColour.size()]; }

std::vector<double> LinearAxis::ticks() const {
  std::vector<double> out;
  if (!(step > 0) || !std::isfinite(low) || !std::isfinite(high)) return out;
  const double count = std::min(std::round((high - low) / step), 100.0);
  for (int i = 0; i <= static_cast<int>(count); ++i) out.push_back(low + step * i);
  return out;
}

LinearAxis linear_axis(double low, double high, int target_steps) {
  if (!(high > low)) {
    low -= 1;
    high += 1;
  }
  const double step = round_step((high - low) / target_steps);
  return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

double Frame::x(double v) const { return left + (v - x_low) / (x_high - x_low) * (width - left - right); }

double Frame::y(double v) const {
  const double t = log_y ? (std::log10(v) - std::log10(y_low)) / (std::log10(y_high) - std::log10(y_low))
                         : (v - y_low) / (y_high - y_low);
  return height - bottom - t * (height - top - bottom);
}

void svg_open(Html& h, const Frame& f, std::string_view label, std::string_view id) {
  h.raw("<svg class=\"chart\" id=\"")
      .raw(id)
      .raw("\" viewBox=\"0 0 " + px(f.width) + " " + px(f.height) + "\" role=\"img\" aria-label=\"")
      .text(label)
      .raw("\">");
  h.element("title", label);
}

void draw_axes(Html& h, const Frame& f, const LinearAxis& xa, std::string_view x_title,
               std::string_view y_title) {
  h.raw("<rect class=\"plot-area\" x=\"" + px(f.left) + "\" y=\"" + px(f.top) + "\" width=\"" +
        px(f.width - f.left - f.right) + "\" height=\"" + px(f.height - f.top - f.bottom) + "\"/>");
  x_ticks(h, f, xa);
  y_ticks(h, f);
  h.raw("<text class=\"axis-title\" x=\"" + px((f.left + f.width - f.right) / 2) + "\" y=\"" +
        px(f.height - 8) + "\" text-anchor=\"middle\">")
      .text(x_title)
      .raw("</text>");
  h.raw("<text class=\"axis-title\" transform=\"translate(16 " + px((f.top + f.plot_bottom()) / 2) +
        ") rotate(-90)\" text-anchor=\"middle\">")
      .text(y_title)
      .raw("</text>");
}

void draw_sections(Html& h, const Frame& f, const SurveyLayout& layout) {
  for (std::size_t k = 0; k < layout.rows.size(); ++k) {
    const double x1 = f.x(std::max(layout.rows[k].start, f.x_low));
    const double x2 = f.x(std::min(layout.rows[k].end, f.x_high));
    // Every section a band, neighbours in two colours, strong enough to see on screen and paper.
    h.raw(std::string("<rect class=\"band ") + (k % 2 == 1 ? "band-b" : "band-a") + "\" x=\"" + px(x1) +
          "\" y=\"" + px(f.top) + "\" width=\"" + px(x2 - x1) + "\" height=\"" + px(f.plot_bottom() - f.top) +
          "\"/>");
    h.raw("<text class=\"band-label\" x=\"" + px((x1 + x2) / 2) + "\" y=\"" + px(f.top - 8) +
          "\" text-anchor=\"middle\">S" + std::to_string(k + 1) + "</text>");
    if (k > 0)
      h.raw("<line class=\"boundary\" x1=\"" + px(x1) + "\" y1=\"" + px(f.top) + "\" x2=\"" + px(x1) +
            "\" y2=\"" + px(f.plot_bottom()) + "\"/>");
  }
}

std::string position_title(const SurveyLayout& layout) {
  return layout.positions.along_route() ? "Chainage (" + layout.positions.unit + ")"
                                        : std::string("Station number (equal spacing)");
}

LinearAxis route_axis(const SurveyLayout& layout) {
  double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
  for (double x : layout.positions.position) {
    low = std::min(low, x);
    high = std::max(high, x);
  }
  for (const SectionRow& row : layout.rows) {
    low = std::min(low, row.start);
    high = std::max(high, row.end);
  }
  if (low > high) low = 0, high = 1;
  return linear_axis(low, high, 8);
}

}  // namespace basinfit::survey::html
