#include "survey/html_page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/input_error.h"
#include "common/text_encoding.h"

namespace basinfit::survey {
namespace {

// Okabe-Ito colours: told apart by readers with any of the common colour-vision deficiencies.
constexpr std::array<const char*, 5> kLayerColour = {"#0072B2", "#E69F00", "#009E73", "#CC79A7", "#D55E00"};
constexpr const char* kPoorFit = "#D55E00";  // vermillion
constexpr const char* kGoodFit = "#0072B2";  // blue
constexpr const char* kMeasured = "#000000";
constexpr const char* kCalculated = "#0072B2";
constexpr const char* kResidual = "#CC79A7";

// A value that can be placed on a chart (a logarithmic one when positive is asked for).
bool drawable(double v, bool positive = false) { return std::isfinite(v) && (!positive || v > 0); }

const char* layer_colour(std::size_t j) { return kLayerColour[j % kLayerColour.size()]; }

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "\xE2\x80\x94";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string s = buffer;
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) s.erase(0, s.front() == '-' ? 1 : 0);
  return s;
}

// Moduli and deflections with about four significant digits, never in exponent form.
std::string value(double v) {
  const double a = std::fabs(v);
  if (a >= 1000) return fixed(v, 0);
  if (a >= 100) return fixed(v, 1);
  if (a >= 10) return fixed(v, 2);
  return fixed(v, 3);
}

// A tick label with as many decimals as the step needs.
std::string tick_text(double v, double step) {
  const int decimals = step > 0 ? std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))) : 0;
  return fixed(std::fabs(v) < step * 1e-6 ? 0.0 : v, decimals);
}

// Coordinates in the SVG: one decimal is finer than any screen or printer dot.
std::string px(double v) { return fixed(v, 1); }

std::string join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

class Html {
 public:
  Html& raw(std::string_view s) {
    out_ += s;
    return *this;
  }
  Html& text(std::string_view s) {
    out_ += escape_html(s);
    return *this;
  }
  // <tag attributes>text</tag>, the text escaped.
  Html& element(std::string_view tag, std::string_view text, std::string_view attributes = {}) {
    out_ += '<';
    out_ += tag;
    if (!attributes.empty()) {
      out_ += ' ';
      out_ += attributes;
    }
    out_ += '>';
    out_ += escape_html(text);
    out_ += "</";
    out_ += tag;
    out_ += '>';
    return *this;
  }
  const std::string& str() const { return out_; }

 private:
  std::string out_;
};

// A linear axis: nice bounds and a step of 1, 2 or 5 times a power of ten.
struct LinearAxis {
  double low = 0, high = 1, step = 0.2;
  // The tick values, counted rather than accumulated (a step far below the magnitude of the
  // values could otherwise never reach the end), at most 100 of them.
  std::vector<double> ticks() const {
    std::vector<double> out;
    if (!(step > 0) || !std::isfinite(low) || !std::isfinite(high)) return out;
    const double count = std::min(std::round((high - low) / step), 100.0);
    for (int i = 0; i <= static_cast<int>(count); ++i) out.push_back(low + step * i);
    return out;
  }
};
LinearAxis linear_axis(double low, double high, int target_steps = 6) {
  if (!(high > low)) {
    low -= 1;
    high += 1;
  }
  const double raw = (high - low) / target_steps;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) {
      step = m * power;
      break;
    }
  return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

// Plot geometry shared by the profiles: x along the route, y from `y_low` to `y_high`.
struct Frame {
  double width = 960, height = 330;
  double left = 76, right = 24, top = 28, bottom = 48;
  double x_low = 0, x_high = 1;
  double y_low = 0, y_high = 1;
  bool log_y = false;
  double x(double v) const { return left + (v - x_low) / (x_high - x_low) * (width - left - right); }
  double y(double v) const {
    const double t = log_y ? (std::log10(v) - std::log10(y_low)) / (std::log10(y_high) - std::log10(y_low))
                           : (v - y_low) / (y_high - y_low);
    return height - bottom - t * (height - top - bottom);
  }
  double plot_top() const { return top; }
  double plot_bottom() const { return height - bottom; }
};

void svg_open(Html& h, const Frame& f, std::string_view label, std::string_view id) {
  h.raw("<svg class=\"chart\" id=\"")
      .raw(id)
      .raw("\" viewBox=\"0 0 " + px(f.width) + " " + px(f.height) + "\" role=\"img\" aria-label=\"")
      .text(label)
      .raw("\">");
  h.element("title", label);
}

// Frame, grid, ticks and labels of both axes.
void draw_axes(Html& h, const Frame& f, const LinearAxis& xa, std::string_view x_title,
               std::string_view y_title) {
  h.raw("<rect class=\"plot-area\" x=\"" + px(f.left) + "\" y=\"" + px(f.top) + "\" width=\"" +
        px(f.width - f.left - f.right) + "\" height=\"" + px(f.height - f.top - f.bottom) + "\"/>");
  // X ticks.
  for (const double v : xa.ticks()) {
    const std::string x = px(f.x(v));
    h.raw("<line class=\"grid\" x1=\"" + x + "\" y1=\"" + px(f.top) + "\" x2=\"" + x + "\" y2=\"" +
          px(f.plot_bottom()) + "\"/>");
    h.raw("<text class=\"tick\" x=\"" + x + "\" y=\"" + px(f.plot_bottom() + 16) +
          "\" text-anchor=\"middle\">")
        .text(tick_text(v, xa.step))
        .raw("</text>");
  }
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
  h.raw("<text class=\"axis-title\" x=\"" + px((f.left + f.width - f.right) / 2) + "\" y=\"" +
        px(f.height - 8) + "\" text-anchor=\"middle\">")
      .text(x_title)
      .raw("</text>");
  h.raw("<text class=\"axis-title\" transform=\"translate(16 " + px((f.top + f.plot_bottom()) / 2) +
        ") rotate(-90)\" text-anchor=\"middle\">")
      .text(y_title)
      .raw("</text>");
}

// The sections as alternate light bands with their numbers, and their boundaries as lines.
void draw_sections(Html& h, const Frame& f, const SurveyLayout& layout) {
  for (std::size_t k = 0; k < layout.rows.size(); ++k) {
    const double x1 = f.x(std::max(layout.rows[k].start, f.x_low));
    const double x2 = f.x(std::min(layout.rows[k].end, f.x_high));
    if (k % 2 == 1)
      h.raw("<rect class=\"band\" x=\"" + px(x1) + "\" y=\"" + px(f.top) + "\" width=\"" + px(x2 - x1) +
            "\" height=\"" + px(f.plot_bottom() - f.top) + "\"/>");
    h.raw("<text class=\"band-label\" x=\"" + px((x1 + x2) / 2) + "\" y=\"" + px(f.top - 8) +
          "\" text-anchor=\"middle\">S" + std::to_string(k + 1) + "</text>");
    if (k > 0)
      h.raw("<line class=\"boundary\" x1=\"" + px(x1) + "\" y1=\"" + px(f.top) + "\" x2=\"" + px(x1) +
            "\" y2=\"" + px(f.plot_bottom()) + "\"/>");
  }
}

std::string position_title(const SurveyLayout& layout) {
  return layout.positions.from_identifiers ? "Chainage (" + layout.positions.unit + ")"
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

void modulus_profile(Html& h, const SurveyPage& page, const SurveyLayout& layout) {
  Frame f;
  const LinearAxis xa = route_axis(layout);
  f.x_low = xa.low;
  f.x_high = xa.high;
  f.log_y = true;
  double low = std::numeric_limits<double>::max(), high = 0;
  auto take = [&](double v) {
    if (v > 0 && std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
  };
  for (const SurveyStation& s : page.stations) {
    if (s.normalised_modulus)
      for (float e : *s.normalised_modulus) take(e);
    for (const SurveyDrop& d : s.drops)
      for (float e : d.modulus) take(e);
  }
  for (const SurveyLayer& layer : page.layers) {
    if (layer.lower_bound) take(*layer.lower_bound);
    if (layer.upper_bound) take(*layer.upper_bound);
  }
  if (high <= 0) low = 1, high = 10;
  f.y_low = std::pow(10.0, std::floor(std::log10(low)));
  f.y_high = std::pow(10.0, std::ceil(std::log10(high)));
  if (f.y_high <= f.y_low) f.y_high = f.y_low * 10;

  svg_open(h, f, "Normalised modulus of every layer along the route", "profile-moduli");
  draw_sections(h, f, layout);
  draw_axes(h, f, xa, position_title(layout), "Normalised modulus (" + page.units.modulus + ", log scale)");
  for (std::size_t j = 0; j < page.layers.size(); ++j) {
    const SurveyLayer& layer = page.layers[j];
    const std::string colour = layer_colour(j);
    for (const auto& bound : {layer.lower_bound, layer.upper_bound}) {
      if (!bound || !(*bound > 0)) continue;
      const std::string y = px(f.y(*bound));
      h.raw("<line class=\"bound\" stroke=\"" + colour + "\" x1=\"" + px(f.left) + "\" y1=\"" + y +
            "\" x2=\"" + px(f.width - f.right) + "\" y2=\"" + y + "\"><title>")
          .text(layer.name + " bound: " + value(*bound) + " " + page.units.modulus)
          .raw("</title></line>");
    }
    std::vector<std::pair<double, double>> line;
    std::string marks;
    for (std::size_t i = 0; i < page.stations.size(); ++i) {
      const SurveyStation& s = page.stations[i];
      const double x = layout.positions.position[i];
      if (s.normalised_modulus && j < s.normalised_modulus->size() &&
          drawable((*s.normalised_modulus)[j], true)) {
        const double e = (*s.normalised_modulus)[j];
        line.emplace_back(x, e);
        marks +=
            "<circle cx=\"" + px(f.x(x)) + "\" cy=\"" + px(f.y(e)) + "\" r=\"3.5\" fill=\"" + colour +
            "\"><title>" +
            escape_html("Station " + s.id + ", " + layer.name + ": " + value(e) + " " + page.units.modulus) +
            "</title></circle>";
      } else if (s.drops.size() == 1 && j < s.drops[0].modulus.size() &&
                 drawable(s.drops[0].modulus[j], true)) {
        const double e = s.drops[0].modulus[j];
        marks += "<circle class=\"single\" cx=\"" + px(f.x(x)) + "\" cy=\"" + px(f.y(e)) +
                 "\" r=\"3.5\" stroke=\"" + colour + "\"><title>" +
                 escape_html("Station " + s.id + " (one drop), " + layer.name + ": " + value(e) + " " +
                             page.units.modulus) +
                 "</title></circle>";
      }
      for (const SurveyDrop& d : s.drops) {
        if (d.flags.empty() || j >= d.modulus.size() || !drawable(d.modulus[j], true)) continue;
        const double cx = f.x(x), cy = f.y(d.modulus[j]);
        marks +=
            "<path class=\"flagged\" stroke=\"" + colour + "\" d=\"M" + px(cx - 4) + " " + px(cy - 4) + "L" +
            px(cx + 4) + " " + px(cy + 4) + "M" + px(cx - 4) + " " + px(cy + 4) + "L" + px(cx + 4) + " " +
            px(cy - 4) + "\"><title>" +
            escape_html("Station " + s.id + ", drop " + std::to_string(d.number) + ", " + layer.name + ": " +
                        value(d.modulus[j]) + " " + page.units.modulus + "; flags: " + join(d.flags, ", ")) +
            "</title></path>";
      }
    }
    std::sort(line.begin(), line.end());
    if (line.size() > 1) {
      std::string points;
      for (const auto& [x, e] : line) points += px(f.x(x)) + "," + px(f.y(e)) + " ";
      h.raw("<polyline class=\"series\" stroke=\"" + colour + "\" points=\"" + points + "\"/>");
    }
    h.raw(marks);
  }
  // Legend.
  double lx = f.left + 8;
  for (std::size_t j = 0; j < page.layers.size(); ++j) {
    h.raw("<rect x=\"" + px(lx) + "\" y=\"" + px(f.top + 8) + "\" width=\"12\" height=\"12\" fill=\"" +
          layer_colour(j) + "\"/>");
    h.raw("<text class=\"legend\" x=\"" + px(lx + 16) + "\" y=\"" + px(f.top + 18) + "\">")
        .text(page.layers[j].name)
        .raw("</text>");
    lx += 24 + 7.5 * static_cast<double>(page.layers[j].name.size());
  }
  h.raw("</svg>");
}

void rms_profile(Html& h, const SurveyPage& page, const SurveyLayout& layout) {
  Frame f;
  const LinearAxis xa = route_axis(layout);
  f.x_low = xa.low;
  f.x_high = xa.high;
  double high = page.rms_limit_percent * 1.5;
  for (const SurveyStation& s : page.stations)
    for (const SurveyDrop& d : s.drops)
      if (std::isfinite(d.rms_percent)) high = std::max(high, static_cast<double>(d.rms_percent));
  const LinearAxis ya = linear_axis(0, high, 5);
  f.y_low = 0;
  f.y_high = ya.high;

  svg_open(h, f, "Relative RMS error of every drop along the route", "profile-rms");
  draw_sections(h, f, layout);
  draw_axes(h, f, xa, position_title(layout), "RMS error (%)");
  const std::string limit_y = px(f.y(page.rms_limit_percent));
  h.raw("<line class=\"limit\" x1=\"" + px(f.left) + "\" y1=\"" + limit_y + "\" x2=\"" +
        px(f.width - f.right) + "\" y2=\"" + limit_y + "\"/>");
  h.raw("<text class=\"limit-label\" x=\"" + px(f.width - f.right - 4) + "\" y=\"" +
        px(f.y(page.rms_limit_percent) - 5) + "\" text-anchor=\"end\">" +
        escape_html(tick_text(page.rms_limit_percent, 0.1)) + " % limit</text>");
  for (std::size_t i = 0; i < page.stations.size(); ++i) {
    const SurveyStation& s = page.stations[i];
    for (const SurveyDrop& d : s.drops) {
      if (!std::isfinite(d.rms_percent)) continue;
      const bool poor = d.rms_percent > page.rms_limit_percent;
      const double cx = f.x(layout.positions.position[i]);
      const double cy = f.y(std::clamp(static_cast<double>(d.rms_percent), f.y_low, f.y_high));
      std::string tip = "Station " + s.id + ", drop " + std::to_string(d.number) + ": RMS " +
                        fixed(d.rms_percent, 2) + " %, " + d.convergence_words;
      if (!d.flags.empty()) tip += "; flags: " + join(d.flags, ", ");
      if (poor) {
        h.raw("<rect class=\"poor\" x=\"" + px(cx - 3.5) + "\" y=\"" + px(cy - 3.5) +
              "\" width=\"7\" height=\"7\" fill=\"" + kPoorFit + "\"><title>" + escape_html(tip) +
              "</title></rect>");
      } else {
        h.raw("<circle cx=\"" + px(cx) + "\" cy=\"" + px(cy) + "\" r=\"3\" fill=\"" + kGoodFit +
              "\"><title>" + escape_html(tip) + "</title></circle>");
      }
    }
  }
  h.raw("</svg>");
}

// One drop's basin: measured deflections as points, the calculated basin as a line, and
// below it the residual of every sensor as a bar.
void basin_chart(Html& h, const SurveyPage& page, const SurveyStation& s, const SurveyDrop& d) {
  const SurveyBasin& b = d.basin;
  const std::size_t n = std::min({b.offset.size(), b.measured.size(), b.calculated.size()});
  if (n == 0) return;
  Frame f;
  f.width = 420;
  f.height = 230;
  f.left = 56;
  f.right = 12;
  f.top = 12;
  f.bottom = 92;  // room for the residual strip
  double x_high = 0, y_high = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (drawable(b.offset[k])) x_high = std::max(x_high, static_cast<double>(b.offset[k]));
    for (const float v : {b.measured[k], b.calculated[k]})
      if (drawable(v)) y_high = std::max(y_high, static_cast<double>(v));
  }
  const LinearAxis xa = linear_axis(0, x_high > 0 ? x_high : 1, 5);
  const LinearAxis ya = linear_axis(0, y_high > 0 ? y_high : 1, 4);
  f.x_low = xa.low;
  f.x_high = xa.high;
  // Deflection grows downward, as the surface bends.
  f.y_low = ya.high;
  f.y_high = 0;
  const std::string label = "Basin of station " + s.id + ", drop " + std::to_string(d.number);
  h.raw("<svg class=\"basin\" viewBox=\"0 0 420 230\" role=\"img\" aria-label=\"").text(label).raw("\">");
  h.element("title", label);
  h.raw("<rect class=\"plot-area\" x=\"56\" y=\"12\" width=\"352\" height=\"126\"/>");
  for (const double v : xa.ticks())
    h.raw("<text class=\"tick\" x=\"" + px(f.x(v)) + "\" y=\"150\" text-anchor=\"middle\">" +
          tick_text(v, xa.step) + "</text>");
  for (const double v : ya.ticks()) {
    const std::string y = px(f.y(v));
    h.raw("<line class=\"grid\" x1=\"56\" y1=\"" + y + "\" x2=\"408\" y2=\"" + y + "\"/>");
    h.raw("<text class=\"tick\" x=\"50\" y=\"" + px(f.y(v) + 4) + "\" text-anchor=\"end\">" +
          tick_text(v, ya.step) + "</text>");
  }
  h.raw(
       "<text class=\"axis-title\" x=\"12\" y=\"80\" transform=\"rotate(-90 12 80)\" text-anchor=\"middle\">")
      .text(page.units.deflection)
      .raw("</text>");
  std::string points;
  for (std::size_t k = 0; k < n; ++k)
    if (drawable(b.offset[k]) && drawable(b.calculated[k]))
      points += px(f.x(b.offset[k])) + "," + px(f.y(b.calculated[k])) + " ";
  h.raw("<polyline class=\"calculated\" stroke=\"" + std::string(kCalculated) + "\" points=\"" + points +
        "\"/>");
  for (std::size_t k = 0; k < n; ++k) {
    if (!drawable(b.offset[k]) || !drawable(b.measured[k])) continue;
    h.raw("<circle cx=\"" + px(f.x(b.offset[k])) + "\" cy=\"" + px(f.y(b.measured[k])) +
          "\" r=\"3.5\" fill=\"" + kMeasured + "\"><title>" +
          escape_html("Sensor " + std::to_string(k + 1) + " at " + value(b.offset[k]) + " " +
                      page.units.length + ": measured " + value(b.measured[k]) + ", calculated " +
                      value(b.calculated[k]) + " " + page.units.deflection) +
          "</title></circle>");
  }
  // Residual strip: bars from a zero line, scaled to the largest residual (at least 1 %).
  double largest = 1;
  for (std::size_t k = 0; k < n && k < b.residual_percent.size(); ++k)
    if (std::isfinite(b.residual_percent[k]))
      largest = std::max(largest, std::fabs(static_cast<double>(b.residual_percent[k])));
  const double zero = 192, half = 24;
  h.raw("<line class=\"zero\" x1=\"56\" y1=\"192\" x2=\"408\" y2=\"192\"/>");
  h.raw("<text class=\"tick\" x=\"50\" y=\"" + px(zero - half + 4) + "\" text-anchor=\"end\">+" +
        fixed(largest, 1) + " %</text>");
  h.raw("<text class=\"tick\" x=\"50\" y=\"" + px(zero + half + 4) + "\" text-anchor=\"end\">\xE2\x88\x92" +
        fixed(largest, 1) + " %</text>");
  h.raw(
      "<text class=\"tick\" x=\"232\" y=\"226\" text-anchor=\"middle\">residual per sensor (measured "
      "\xE2\x88\x92 calculated)</text>");
  for (std::size_t k = 0; k < n && k < b.residual_percent.size(); ++k) {
    if (!drawable(b.offset[k])) continue;
    const double r = std::isfinite(b.residual_percent[k]) ? b.residual_percent[k] : 0.0;
    const double height = std::fabs(r) / largest * half;
    const double cx = f.x(b.offset[k]);
    h.raw("<rect x=\"" + px(cx - 4) + "\" y=\"" + px(r >= 0 ? zero - height : zero) +
          "\" width=\"8\" height=\"" + px(std::max(height, 0.5)) + "\" fill=\"" + kResidual + "\"><title>" +
          escape_html("Sensor " + std::to_string(k + 1) + ": residual " + fixed(r, 2) + " %") +
          "</title></rect>");
  }
  // Legend in the bottom right, where the far sensors leave the plot empty.
  h.raw(
      "<g class=\"basin-legend\"><circle cx=\"322\" cy=\"108\" r=\"3.5\" fill=\"#000000\"/>"
      "<text class=\"legend\" x=\"330\" y=\"112\">measured</text>"
      "<line x1=\"315\" y1=\"124\" x2=\"329\" y2=\"124\" stroke=\"#0072B2\" stroke-width=\"2\"/>"
      "<text class=\"legend\" x=\"330\" y=\"128\">calculated</text></g>");
  h.raw("<text class=\"tick\" x=\"408\" y=\"163\" text-anchor=\"end\">")
      .text("offset (" + page.units.length + ")")
      .raw("</text>");
  h.raw("</svg>");
}

constexpr std::string_view kStyle = R"(
:root{--ink:#1a1a1a;--muted:#5a5a5a;--rule:#c8c8c8;--band:#f1f1f1;--warn:#D55E00}
*{box-sizing:border-box}
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Liberation Sans",Arial,sans-serif;color:var(--ink);margin:0 auto;max-width:1200px;padding:1rem 1.5rem;line-height:1.4}
h1{font-size:1.6rem;margin:.2rem 0}h2{font-size:1.25rem;margin:1.6rem 0 .5rem;border-bottom:2px solid var(--ink)}
.route{font-size:1.15rem;margin:.2rem 0 .6rem}
.meta{display:grid;grid-template-columns:max-content 1fr;gap:.1rem 1rem;margin:0}.meta dt{color:var(--muted)}.meta dd{margin:0}
table{border-collapse:collapse;margin:.4rem 0;font-size:.9rem}
th,td{border-bottom:1px solid var(--rule);padding:.2rem .5rem;text-align:right;vertical-align:top}
th{background:#e8e8e8}th:first-child,td:first-child,.text{text-align:left}
td.hash{font-family:"Liberation Mono",monospace;font-size:.78rem;word-break:break-all;text-align:left}
.stopped{border:3px solid var(--warn);background:#fff3e8;padding:.6rem 1rem;font-size:1.1rem}
.note{color:var(--muted);font-style:italic}
.fit{display:block;white-space:nowrap}
.flag{display:inline-block;border:1px solid var(--warn);color:#8a3a00;border-radius:3px;padding:0 .25rem;margin:0 .1rem;font-size:.8rem}
svg.chart{width:100%;height:auto;display:block;margin:.4rem 0}
svg{font-family:inherit}
svg .plot-area{fill:#fff;stroke:#444;stroke-width:1}
svg .grid{stroke:#d6d6d6;stroke-width:1}svg .grid.minor{stroke:#ececec}
svg .tick{font-size:11px;fill:#333}svg .axis-title{font-size:12px;fill:#111}svg .legend{font-size:12px;fill:#111}
svg .band{fill:#000;fill-opacity:.05}svg .band-label{font-size:11px;fill:#333;font-weight:bold}
svg .boundary{stroke:#000;stroke-width:1.2;stroke-dasharray:6 3}
svg .bound{stroke-width:1;stroke-dasharray:2 4;stroke-opacity:.45}
svg .series{fill:none;stroke-width:1.5}
svg .single{fill:#fff;stroke-width:1.5}
svg .flagged{fill:none;stroke-width:2}
svg .limit{stroke:#D55E00;stroke-width:1.5;stroke-dasharray:8 4}svg .limit-label{font-size:11px;fill:#8a3a00}
svg .calculated{fill:none;stroke-width:2}svg .zero{stroke:#444}
svg.basin{width:420px;max-width:100%;height:auto}
#station-table th[data-col]{cursor:pointer;user-select:none}
#station-table th[aria-sort=ascending]::after{content:" \25B2"}#station-table th[aria-sort=descending]::after{content:" \25BC"}
button.fold{font:inherit;width:1.8rem;cursor:pointer;border:1px solid #888;background:#fafafa;border-radius:3px}
tr.drops-row>td{background:#fafafa;text-align:left}
.drop{display:flex;flex-wrap:wrap;gap:1rem;align-items:flex-start;border-top:1px solid var(--rule);padding:.4rem 0}
.drop table{margin:0}
@media print{
 body{max-width:none;padding:0;font-size:10pt}
 button.fold,.screen-only{display:none}
 h2{break-after:avoid}
 table,svg,.drop{break-inside:avoid}
 tbody.station{break-inside:avoid}
 th{background:none}
 a{color:inherit;text-decoration:none}
}
)";

// Sorting by a column keeps each station's drop row with it (one tbody per station); folding
// shows or hides the drop row.  The last line marks the page as scripted for tests.
constexpr std::string_view kScript = R"(
(function(){
var table=document.getElementById('station-table');
function key(body,col){var cell=body.rows[0].cells[col];var v=cell.getAttribute('data-value');
if(v!==null&&v!==''){return{n:parseFloat(v)}}return{s:cell.textContent.trim()}}
function compare(a,b){if(a.n!==undefined&&b.n!==undefined)return a.n-b.n;if(a.n!==undefined)return -1;if(b.n!==undefined)return 1;
return a.s<b.s?-1:a.s>b.s?1:0}
table.addEventListener('click',function(e){
var button=e.target.closest('button.fold');
if(button){var row=document.getElementById(button.getAttribute('aria-controls'));var open=row.hidden;row.hidden=!open;
button.setAttribute('aria-expanded',open?'true':'false');button.textContent=open?'\u2212':'+';return}
var th=e.target.closest('th[data-col]');if(!th)return;
var col=parseInt(th.getAttribute('data-col'),10);var up=th.getAttribute('aria-sort')!=='ascending';
var heads=table.querySelectorAll('th[data-col]');for(var i=0;i<heads.length;i++)heads[i].removeAttribute('aria-sort');
th.setAttribute('aria-sort',up?'ascending':'descending');
var bodies=Array.prototype.slice.call(table.tBodies);
bodies.sort(function(a,b){var c=compare(key(a,col),key(b,col));if(c===0)c=a.getAttribute('data-order')-b.getAttribute('data-order');else if(!up)c=-c;return c});
for(var j=0;j<bodies.length;j++)table.appendChild(bodies[j]);
});
var all=document.getElementById('unfold-all');
if(all)all.addEventListener('click',function(){var open=all.getAttribute('aria-expanded')!=='true';
var buttons=table.querySelectorAll('button.fold');for(var i=0;i<buttons.length;i++){var row=document.getElementById(buttons[i].getAttribute('aria-controls'));
row.hidden=!open;buttons[i].setAttribute('aria-expanded',open?'true':'false');buttons[i].textContent=open?'\u2212':'+'}
all.setAttribute('aria-expanded',open?'true':'false');all.textContent=open?'Fold all drops':'Unfold all drops'});
document.body.setAttribute('data-script','ready');
})();
)";

void header(Html& h, const SurveyPage& page, const RunEnd& end) {
  h.raw("<header>");
  h.element("h1", page.title.empty() ? std::string("Survey report") : page.title);
  if (!page.route.empty()) h.element("p", page.route, "class=\"route\" id=\"route\"");
  if (!end.complete) {
    h.raw(
         "<p class=\"stopped\" id=\"run-stopped\" role=\"alert\"><strong>Incomplete: the run stopped before "
         "the end "
         "of the survey.</strong> ")
        .text(end.stop_reason)
        .raw(" This page shows only the ")
        .text(std::to_string(page.stations.size()))
        .raw(" station(s) finished before that.</p>");
  }
  h.raw("<dl class=\"meta\">");
  h.element("dt", "Run date").element("dd", page.run_date.empty() ? "\xE2\x80\x94" : page.run_date);
  h.element("dt", "Engine").element("dd", page.engine_version.empty() ? "\xE2\x80\x94" : page.engine_version);
  h.raw("</dl></header>");

  h.raw("<section id=\"run\"><h2>Run</h2>");
  if (!page.input_files.empty()) {
    h.raw(
        "<table id=\"input-files\"><thead><tr><th>Input</th><th class=\"text\">File</th><th "
        "class=\"text\">SHA-256</th>"
        "</tr></thead><tbody>");
    for (const SurveyInputFile& file : page.input_files) {
      h.raw("<tr>").element("td", file.role).element("td", file.name, "class=\"text\"");
      h.element("td", file.sha256.empty() ? "not recorded" : file.sha256, "class=\"hash\"").raw("</tr>");
    }
    h.raw("</tbody></table>");
  }
  h.raw("<table id=\"settings\"><tbody>");
  for (const SurveySetting& row : page.settings)
    h.raw("<tr>")
        .element("th", row.label, "scope=\"row\"")
        .element("td", row.value, "class=\"text\"")
        .raw("</tr>");
  h.raw("</tbody></table></section>");
}

void summary(Html& h, const SurveyPage& page) {
  int drops = 0;
  for (const SurveyStation& s : page.stations) drops += static_cast<int>(s.drops.size());
  h.raw("<section id=\"summary\"><h2>Survey summary</h2>");
  h.raw("<p id=\"counts\"><strong>" + std::to_string(page.stations.size()) + "</strong> stations, <strong>" +
        std::to_string(drops) + "</strong> drops.</p>");
  h.raw(
      "<table id=\"convergence-counts\"><thead><tr><th "
      "class=\"text\">Convergence</th><th>Drops</th></tr></thead><tbody>");
  for (const SurveyCount& c : page.convergence_counts)
    h.raw("<tr>").element("td", c.name).element("td", std::to_string(c.count)).raw("</tr>");
  h.raw("</tbody></table>");
  if (!page.flags_checked) {
    h.raw("<p class=\"note\" id=\"flag-counts\">The data checks were not run: no drop carries flags.</p>");
  } else if (page.flag_counts.empty()) {
    h.raw("<p id=\"flag-counts\">No drop failed a data check.</p>");
  } else {
    h.raw(
        "<table id=\"flag-counts\"><thead><tr><th class=\"text\">Data-check "
        "flag</th><th>Drops</th></tr></thead><tbody>");
    for (const SurveyCount& c : page.flag_counts)
      h.raw("<tr>").element("td", c.name).element("td", std::to_string(c.count)).raw("</tr>");
    h.raw("</tbody></table>");
  }

  h.raw("<table id=\"layer-statistics\"><caption class=\"text\">Normalised moduli (" +
        escape_html(page.units.modulus) +
        ") of the stations with several drops</caption><thead><tr><th "
        "class=\"text\">Layer</th><th>Stations</th>"
        "<th>Mean</th><th>Median</th><th>CoV (%)</th><th>15th pct.</th><th>85th "
        "pct.</th><th>Bounds</th></tr></thead><tbody>");
  for (std::size_t j = 0; j < page.layers.size(); ++j) {
    std::vector<double> values;
    for (const SurveyStation& s : page.stations)
      if (s.normalised_modulus && j < s.normalised_modulus->size())
        values.push_back((*s.normalised_modulus)[j]);
    const Spread sp = spread(values);
    const SurveyLayer& layer = page.layers[j];
    h.raw("<tr>").element("td", layer.name).element("td", std::to_string(values.size()));
    if (values.empty()) {
      h.raw(
          "<td>\xE2\x80\x94</td><td>\xE2\x80\x94</td><td>\xE2\x80\x94</td><td>\xE2\x80\x94</"
          "td><td>\xE2\x80\x94</td>");
    } else {
      h.element("td", value(sp.mean)).element("td", value(percentile(values, 50)));
      h.element("td", fixed(sp.cov_percent, 1)).element("td", value(percentile(values, 15)));
      h.element("td", value(percentile(values, 85)));
    }
    h.element("td", layer.lower_bound && layer.upper_bound
                        ? value(*layer.lower_bound) + " \xE2\x80\x93 " + value(*layer.upper_bound)
                        : std::string("fixed"));
    h.raw("</tr>");
  }
  h.raw("</tbody></table></section>");
}

void profiles(Html& h, const SurveyPage& page, const SurveyLayout& layout, const ReportOptions& options) {
  h.raw("<section id=\"profiles\"><h2>Profiles along the route</h2>");
  if (layout.positions.from_identifiers) {
    h.raw("<p id=\"positions\">Station positions are read from the station identifiers as chainage (" +
          escape_html(layout.positions.unit) + ").</p>");
  } else {
    h.raw(
         "<p id=\"positions\" class=\"note\">Station positions: the stations are drawn in survey order with "
         "equal "
         "spacing, because ")
        .text(layout.positions.note)
        .raw(".</p>");
  }
  modulus_profile(h, page, layout);
  h.raw(
      "<p class=\"note\">Filled points: moduli at the standard load; open points: stations with a single "
      "drop; "
      "crosses: drops with data-check flags; dotted lines: the bounds of each layer; shaded bands: uniform "
      "sections."
      "</p>");
  rms_profile(h, page, layout);
  h.raw("<p class=\"note\">Squares: drops whose RMS error exceeds the limit.</p></section>");

  h.raw("<section id=\"sections\"><h2>Uniform sections</h2>");
  h.raw("<p>Sections by the cumulative-difference method on the ")
      .text(layout.response)
      .raw(" (" + escape_html(layout.response_unit) + "): at least " +
           std::to_string(std::max(options.sections.min_stations, 1)) + " stations");
  if (options.sections.min_length > 0)
    h.raw(" and " + escape_html(value(options.sections.min_length)) + " " +
          escape_html(layout.positions.unit));
  h.raw(" per section; neighbours whose means differ by less than " +
        fixed(100 * options.sections.min_relative_difference, 0) + " % are one section.</p>");
  h.raw("<table id=\"section-table\" data-count=\"" + std::to_string(layout.rows.size()) +
        "\"><thead><tr><th class=\"text\">Section</th><th>Start</th><th>End</th><th>Stations</th><th>Mean "
        "response</th>"
        "<th>CoV (%)</th>");
  for (const SurveyLayer& layer : page.layers)
    h.raw("<th>" + escape_html(layer.name) + " mean</th><th>CoV (%)</th>");
  h.raw("</tr></thead><tbody>");
  for (std::size_t k = 0; k < layout.rows.size(); ++k) {
    const SectionRow& row = layout.rows[k];
    h.raw("<tr class=\"section-row\">").element("td", "S" + std::to_string(k + 1));
    h.element("td", value(row.start))
        .element("td", value(row.end))
        .element("td", std::to_string(row.stations));
    h.element("td", value(row.response.mean)).element("td", fixed(row.response.cov_percent, 1));
    for (const Spread& sp : row.modulus) {
      if (sp.count == 0) {
        h.raw("<td>\xE2\x80\x94</td><td>\xE2\x80\x94</td>");
      } else {
        h.element("td", value(sp.mean)).element("td", fixed(sp.cov_percent, 1));
      }
    }
    h.raw("</tr>");
  }
  h.raw("</tbody></table>");
  if (layout.rows.empty())
    h.raw("<p class=\"note\">No station has a value of the response: no sections.</p>");
  h.raw("</section>");
}

void flags_cell(Html& h, const std::vector<std::string>& flags) {
  h.raw("<td class=\"text\">");
  for (const std::string& flag : flags) h.element("span", flag, "class=\"flag\"");
  h.raw("</td>");
}

void stations(Html& h, const SurveyPage& page, const SurveyLayout& layout) {
  const std::size_t layers = page.layers.size();
  const std::size_t thicknesses = layers > 0 ? layers - 1 : 0;
  const SurveyUnits& u = page.units;
  h.raw("<section id=\"stations\"><h2>Stations</h2>");
  h.raw(
      "<p class=\"screen-only\">Click a column heading to sort; <button type=\"button\" id=\"unfold-all\" "
      "aria-expanded=\"false\">Unfold all drops</button> or unfold one station with its + button.</p>");
  h.raw("<table id=\"station-table\"><thead><tr><th class=\"screen-only\"></th>");
  int col = 1;
  auto heading = [&](const std::string& text) {
    h.raw("<th data-col=\"" + std::to_string(col++) + "\" scope=\"col\">").text(text).raw("</th>");
  };
  heading("Station");
  heading("Position (" + layout.positions.unit + ")");
  for (std::size_t j = 0; j < thicknesses; ++j) heading("h" + std::to_string(j + 1) + " (" + u.length + ")");
  heading("T1 (" + u.temperature + ")");
  heading("T2 (" + u.temperature + ")");
  for (std::size_t j = 0; j < layers; ++j)
    heading("E" + std::to_string(j + 1) + " norm. (" + u.modulus + ")");
  heading("K1 / K2 / soil");
  heading("Drops");
  heading("Worst RMS (%)");
  heading("Flags");
  const int columns = col;
  h.raw("</tr></thead>");

  for (std::size_t i = 0; i < page.stations.size(); ++i) {
    const SurveyStation& s = page.stations[i];
    const std::string row_id = "drops-" + std::to_string(i + 1);
    auto number_cell = [&](double v, const std::string& shown) {
      h.raw("<td data-value=\"" + fixed(v, 6) + "\">").text(shown).raw("</td>");
    };
    h.raw("<tbody class=\"station\" data-order=\"" + std::to_string(i) + "\"><tr class=\"station-row\">");
    h.raw(
        "<td class=\"screen-only\"><button type=\"button\" class=\"fold\" aria-expanded=\"false\" "
        "aria-controls=\"" +
        row_id + "\" title=\"Show the drops\">+</button></td>");
    h.element("td", s.id, "class=\"text\"");
    number_cell(layout.positions.position[i], value(layout.positions.position[i]));
    for (std::size_t j = 0; j < thicknesses; ++j) {
      const double t = j < s.thickness.size() ? s.thickness[j] : 0.0;
      number_cell(t, value(t));
    }
    number_cell(s.temperature1, fixed(s.temperature1, 1));
    number_cell(s.temperature2, fixed(s.temperature2, 1));
    for (std::size_t j = 0; j < layers; ++j) {
      if (s.normalised_modulus && j < s.normalised_modulus->size()) {
        number_cell((*s.normalised_modulus)[j], value((*s.normalised_modulus)[j]));
      } else {
        h.raw("<td>\xE2\x80\x94</td>");
      }
    }
    std::vector<std::string> fits;
    for (std::size_t j = 0; j < s.soil_type.size(); ++j) {
      if (j >= s.k1.size() || j >= s.k2.size() || !s.k1[j] || !s.k2[j]) continue;
      fits.push_back("E" + std::to_string(j + 1) + ": " + value(*s.k1[j]) + " / " + value(*s.k2[j]) + " / " +
                     s.soil_type[j]);
    }
    // One line per layer with a fit: the column stays narrow without breaking a fit apart.
    h.raw("<td class=\"text\">");
    if (fits.empty()) h.text("N/A");
    for (const std::string& fit : fits) h.element("span", fit, "class=\"fit\"");
    h.raw("</td>");
    number_cell(static_cast<double>(s.drops.size()), std::to_string(s.drops.size()));
    double worst = 0;
    for (const SurveyDrop& d : s.drops)
      if (std::isfinite(d.rms_percent)) worst = std::max(worst, static_cast<double>(d.rms_percent));
    number_cell(worst, fixed(worst, 2));
    std::vector<std::string> flags = s.flags;
    for (const SurveyDrop& d : s.drops)
      for (const std::string& flag : d.flags)
        if (std::find(flags.begin(), flags.end(), flag) == flags.end()) flags.push_back(flag);
    flags_cell(h, flags);
    h.raw("</tr>");

    h.raw("<tr class=\"drops-row\" id=\"" + row_id + "\" hidden><td colspan=\"" + std::to_string(columns) +
          "\">");
    for (const SurveyDrop& d : s.drops) {
      h.raw("<div class=\"drop\"><table class=\"drop-table\"><tbody>");
      h.raw("<tr><th scope=\"row\">Drop</th><td>" + std::to_string(d.number) + "</td></tr>");
      h.raw("<tr><th scope=\"row\">Load (" + escape_html(u.load) + ")</th><td>" + escape_html(value(d.load)) +
            "</td></tr>");
      for (std::size_t j = 0; j < d.modulus.size(); ++j)
        h.raw("<tr><th scope=\"row\">E" + std::to_string(j + 1) + " (" + escape_html(u.modulus) +
              ")</th><td>" + escape_html(value(d.modulus[j])) + "</td></tr>");
      h.raw("<tr><th scope=\"row\">RMS (%)</th><td>" + fixed(d.rms_percent, 2) + "</td></tr>");
      h.raw("<tr><th scope=\"row\">Convergence</th>")
          .element("td", d.convergence_words, "class=\"text\"")
          .raw("</tr>");
      if (!d.flags.empty()) {
        h.raw("<tr><th scope=\"row\">Flags</th>");
        flags_cell(h, d.flags);
        h.raw("</tr>");
      }
      h.raw("</tbody></table>");
      basin_chart(h, page, s, d);
      h.raw("</div>");
    }
    h.raw("</td></tr></tbody>");
  }
  h.raw("</table></section>");
}

}  // namespace

std::string escape_html(std::string_view raw) {
  // Text from the inputs is bytes as read: decoded once, every byte that is not UTF-8 and every
  // control character (DEL and C1 included) becomes U+FFFD, so the page stays valid UTF-8.
  const std::string text = printable_utf8(raw);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        // Control characters other than tab and newline have no business in a page.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string render_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end) {
  const SurveyLayout layout = lay_out_survey(page, options);
  Html h;
  h.raw("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">");
  h.raw("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
  h.raw("<meta name=\"generator\" content=\"").text(page.engine_version).raw("\">");
  h.element("title", std::string(end.complete ? "" : "INCOMPLETE \xE2\x80\x94 ") +
                         "Survey: " + (page.route.empty() ? page.title : page.route));
  h.raw("<style>").raw(kStyle).raw("</style>");
  h.raw(
      "<noscript><style>tr.drops-row[hidden]{display:table-row}button.fold,#unfold-all{display:none}</"
      "style></noscript>");
  h.raw("</head><body>\n");
  header(h, page, end);
  summary(h, page);
  profiles(h, page, layout, options);
  stations(h, page, layout);
  h.raw("<footer class=\"note\"><p>Written by ").text(page.engine_version).raw(".</p></footer>");
  h.raw("<script>").raw(kScript).raw("</script>\n</body></html>\n");
  return h.str();
}

SurveyPageFile::SurveyPageFile(const std::string& name) : file_(name, "survey page") {}

void SurveyPageFile::refuse_if_kept(const KeptFiles* kept) {
  if (kept == nullptr || done_) return;
  try {
    kept->refuse_if_kept(file_);
  } catch (const InputError&) {
    // The file is one the run keeps (even one this object created, which the run then took as
    // a report): it is left exactly as it is.
    file_.abandon(false);
    done_ = true;
    throw;
  }
}

SurveyPageFile::~SurveyPageFile() {
  if (!done_) file_.abandon(true);
}

void SurveyPageFile::abandon() {
  if (done_) return;
  done_ = true;
  file_.abandon(true);
}

void SurveyPageFile::write(const SurveyPage& page, const ReportOptions& options, const RunEnd& end) {
  const std::string text = render_page(page, options, end);
  try {
    file_.truncate();
    file_.write(text);
    file_.close();
    done_ = true;
  } catch (const InputError&) {
    done_ = true;
    file_.abandon(true);
    throw;
  }
}

}  // namespace basinfit::survey
