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

// A value that can be placed on a chart (a logarithmic one when positive is asked for).
bool drawable(double v, bool positive = false) { return std::isfinite(v) && (!positive || v > 0); }

const char* layer_colour(std::size_t j) { return kLayerColour[j % kLayerColour.size()]; }

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "none";
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

// Text inside an element, where only & < > need escaping (control characters become U+FFFD).
std::string escape_html_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  return out;
}

// The page's text, handed to the sink in pieces of about 64 KiB (at the points where spill()
// is called) so the page is never held whole.
class Html {
 public:
  explicit Html(const PageSink* sink = nullptr) : sink_(sink) {}
  void spill() {
    if (sink_ != nullptr && out_.size() >= (std::size_t{1} << 16)) {
      (*sink_)(out_);
      out_.clear();
    }
  }
  void finish() {
    if (sink_ != nullptr && !out_.empty()) (*sink_)(out_);
    out_.clear();
  }
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
  const PageSink* sink_;
  std::string out_;
};

// A value that does not exist: an empty cell that says why (in its tooltip and to readers that
// look for `data-reason`), never a 0 or a bare dash.
void missing_cell(Html& h, const std::string& reason) {
  h.raw("<td class=\"missing\" data-reason=\"").text(reason).raw("\" title=\"").text(reason).raw("\"></td>");
}

// " (layer 1)", " (layers 2 and 3)", or nothing for a flag of the whole drop.
std::string layer_names(std::uint32_t layers) {
  std::vector<int> numbers;
  for (int j = 0; j < 32; ++j)
    if ((layers >> j) & 1u) numbers.push_back(j + 1);
  if (numbers.empty()) return {};
  std::string out = numbers.size() > 1 ? " (layers " : " (layer ";
  for (std::size_t k = 0; k < numbers.size(); ++k)
    out += (k == 0 ? "" : k + 1 == numbers.size() ? " and " : ", ") + std::to_string(numbers[k]);
  return out + ")";
}

// A number of the page's data, as the script reads it: about four significant digits, null
// where the value does not exist.
std::string datum(double v) {
  if (!std::isfinite(v)) return "null";
  std::string text = value(v);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

// Text as a JSON string inside HTML text: quotes and backslashes escaped for JSON, then & < >
// for HTML (the browser gives the script the text with the entities resolved).
std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  out += '"';
  return escape_html_text(out);
}

template <typename Numbers>
std::string datum_list(const Numbers& values, std::size_t n) {
  std::string out = "[";
  for (std::size_t k = 0; k < n && k < values.size(); ++k) {
    if (k > 0) out += ',';
    out += datum(values[k]);
  }
  return out + "]";
}

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
  double left = 76, right = 32, top = 28, bottom = 48;
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
    // A label that would reach past the chart's edge is anchored at its end (or start).
    const std::string label = tick_text(v, xa.step);
    const double half = 3.4 * static_cast<double>(label.size());
    const char* anchor = f.x(v) + half > f.width - 2 ? "end" : f.x(v) - half < 2 ? "start" : "middle";
    h.raw("<text class=\"tick\" x=\"" + x + "\" y=\"" + px(f.plot_bottom() + 16) + "\" text-anchor=\"" +
          anchor + "\">")
        .text(label)
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

// The sections as bands with their numbers, and their boundaries as lines.
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

void modulus_profile(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                     const SurveyLayout& layout) {
  Frame f;
  const LinearAxis xa = route_axis(layout);
  f.x_low = xa.low;
  f.x_high = xa.high;
  f.log_y = true;
  double low = std::numeric_limits<double>::max(), high = 0;
  auto take = [&](double v) {
    if (v > 0 && std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
  };
  for (std::size_t i = 0; i < profile.stations.size(); ++i) {
    const ProfileStation& s = profile.stations[i];
    if (s.normalised)
      for (float e : profile.normalised_modulus(i)) take(e);
    if (s.normalised_adjusted_surface_modulus) take(*s.normalised_adjusted_surface_modulus);
  }
  if (profile.lowest_drop_modulus) take(*profile.lowest_drop_modulus);
  if (profile.highest_drop_modulus) take(*profile.highest_drop_modulus);
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
    // Points as zero-length strokes with round caps: one short path per layer however long the
    // survey (an open ring, a white dot on a coloured one, for stations with a single drop; an
    // open square for moduli carried to the standard load by the station's trend).
    // Each path is written as its points come, never gathered, so a long survey's profile
    // costs no memory of its own: one pass over the stations per kind of mark.
    enum class Mark { kDot, kRing, kTrend, kCross };
    const auto marks = [&](Mark kind, const auto& put) {
      for (std::size_t i = 0; i < profile.stations.size(); ++i) {
        const ProfileStation& s = profile.stations[i];
        const std::span<const float> normalised = profile.normalised_modulus(i);
        const std::span<const ProfileDrop> drops = profile.drops_of(i);
        const double x = layout.positions.position[i];
        if (kind == Mark::kDot || kind == Mark::kTrend) {
          if (s.normalised && j < normalised.size() && drawable(normalised[j], true) &&
              (s.normalised_by == NormalisedBy::kTrend) == (kind == Mark::kTrend))
            put("M" + px(f.x(x)) + " " + px(f.y(normalised[j])) + "h0");
        } else if (kind == Mark::kRing) {
          if (!(s.normalised && j < normalised.size() && drawable(normalised[j], true)) &&
              drops.size() == 1 && j < profile.moduli(drops[0]).size() &&
              drawable(profile.moduli(drops[0])[j], true))
            put("M" + px(f.x(x)) + " " + px(f.y(profile.moduli(drops[0])[j])) + "h0");
        } else {
          // A cross where a flag concerns this layer (or the drop as a whole).
          for (const ProfileDrop& d : drops) {
            const std::span<const float> e = profile.moduli(d);
            if (j >= 32 || ((d.crossed_layers >> j) & 1u) == 0 || j >= e.size() || !drawable(e[j], true))
              continue;
            const double cx = f.x(x), cy = f.y(e[j]);
            put("M" + px(cx - 4) + " " + px(cy - 4) + "l8 8m0 -8l-8 8");
          }
        }
      }
    };
    const auto any = [&](Mark kind) {
      bool found = false;
      marks(kind, [&](const std::string&) { found = true; });
      return found;
    };
    const auto path = [&](Mark kind) {
      marks(kind, [&](const std::string& piece) {
        h.raw(piece);
        h.spill();
      });
    };
    std::vector<std::pair<double, double>> line;
    for (std::size_t i = 0; i < profile.stations.size(); ++i) {
      const std::span<const float> normalised = profile.normalised_modulus(i);
      if (profile.stations[i].normalised && j < normalised.size() && drawable(normalised[j], true))
        line.emplace_back(layout.positions.position[i], normalised[j]);
    }
    std::sort(line.begin(), line.end());
    if (line.size() > 1) {
      h.raw("<polyline class=\"series\" stroke=\"" + colour + "\" points=\"");
      for (const auto& [x, e] : line) {
        h.raw(px(f.x(x)) + "," + px(f.y(e)) + " ");
        h.spill();
      }
      h.raw("\"/>");
    }
    line = {};
    const std::string name = escape_html(layer.name);
    if (any(Mark::kDot)) {
      h.raw("<path class=\"dots\" stroke=\"" + colour + "\" d=\"");
      path(Mark::kDot);
      h.raw("\"><title>" + name + ": moduli at the standard load</title></path>");
    }
    if (any(Mark::kRing)) {
      h.raw("<path class=\"dots\" stroke=\"" + colour + "\" d=\"");
      path(Mark::kRing);
      h.raw("\"/><path class=\"ring\" d=\"");
      path(Mark::kRing);
      h.raw("\"><title>" + name + ": stations with a single drop</title></path>");
    }
    if (any(Mark::kTrend)) {
      h.raw("<path class=\"trend\" stroke=\"" + colour + "\" d=\"");
      path(Mark::kTrend);
      h.raw("\"/><path class=\"trend-inner\" d=\"");
      path(Mark::kTrend);
      h.raw("\"><title>" + name +
            ": moduli carried to the standard load by the station's trend</title></path>");
    }
    if (any(Mark::kCross)) {
      h.raw("<path class=\"flagged\" stroke=\"" + colour + "\" d=\"");
      path(Mark::kCross);
      h.raw("\" data-layer=\"" + std::to_string(j + 1) + "\"><title>" + name +
            ": drops with a data-check flag on this layer</title></path>");
    }
    h.spill();
  }
  // The adjusted surface modulus, dashed in the surface layer's colour.
  if (!page.reference_temperature.empty()) {
    std::vector<std::pair<double, double>> line;
    for (std::size_t i = 0; i < profile.stations.size(); ++i) {
      const auto& e = profile.stations[i].normalised_adjusted_surface_modulus;
      if (e && drawable(*e, true)) line.emplace_back(layout.positions.position[i], *e);
    }
    std::sort(line.begin(), line.end());
    if (!line.empty()) {
      h.raw("<polyline class=\"series adjusted\" stroke=\"" + std::string(layer_colour(0)) + "\" points=\"");
      for (const auto& [x, e] : line) {
        h.raw(px(f.x(x)) + "," + px(f.y(std::clamp(e, f.y_low, f.y_high))) + " ");
        h.spill();
      }
      h.raw("\"><title>Layer 1 adjusted to " + escape_html(page.reference_temperature) +
            "</title></polyline>");
    }
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
  if (!page.reference_temperature.empty()) {
    h.raw("<line class=\"adjusted\" stroke=\"" + std::string(layer_colour(0)) + "\" x1=\"" + px(lx) +
          "\" y1=\"" + px(f.top + 14) + "\" x2=\"" + px(lx + 18) + "\" y2=\"" + px(f.top + 14) + "\"/>");
    const std::string label = "Layer 1 adjusted to " + page.reference_temperature;
    h.raw("<text class=\"legend\" x=\"" + px(lx + 22) + "\" y=\"" + px(f.top + 18) + "\">")
        .text(label)
        .raw("</text>");
  }
  h.raw("</svg>");
}

void rms_profile(Html& h, const SurveyPage& page, const SurveyProfile& profile, const SurveyLayout& layout) {
  Frame f;
  const LinearAxis xa = route_axis(layout);
  f.x_low = xa.low;
  f.x_high = xa.high;
  double high = page.rms_limit_percent * 1.5;
  for (const ProfileDrop& d : profile.drops)
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
  // Round dots for the fits within the limit, squares (square caps) for the poor ones, each
  // path written as its points come.
  const auto dots = [&](bool poor, const auto& put) {
    for (std::size_t i = 0; i < profile.stations.size(); ++i) {
      for (const ProfileDrop& d : profile.drops_of(i)) {
        if (!std::isfinite(d.rms_percent) || (d.rms_percent > page.rms_limit_percent) != poor) continue;
        const double cx = f.x(layout.positions.position[i]);
        const double cy = f.y(std::clamp(static_cast<double>(d.rms_percent), f.y_low, f.y_high));
        put("M" + px(cx) + " " + px(cy) + "h0");
      }
    }
  };
  for (const bool poor : {false, true}) {
    bool any = false;
    dots(poor, [&](const std::string&) { any = true; });
    if (!any) continue;
    h.raw(poor ? "<path class=\"poor\" stroke=\"" + std::string(kPoorFit) + "\" d=\""
               : "<path class=\"dots rms\" stroke=\"" + std::string(kGoodFit) + "\" d=\"");
    dots(poor, [&](const std::string& piece) {
      h.raw(piece);
      h.spill();
    });
    h.raw(poor ? "\"><title>Drops whose RMS error exceeds the limit</title></path>"
               : "\"><title>Drops within the RMS limit</title></path>");
  }
  h.raw("</svg>");
}

constexpr std::string_view kStyle = R"(
:root{--ink:#1a1a1a;--muted:#5a5a5a;--rule:#c8c8c8;--band:#f1f1f1;--warn:#D55E00}
*{box-sizing:border-box}
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Liberation Sans",Arial,sans-serif;color:var(--ink);margin:0 auto;max-width:1200px;padding:1rem 1.5rem;line-height:1.4}
h1{font-size:1.6rem;margin:.2rem 0}h2{font-size:1.25rem;margin:1.6rem 0 .5rem;border-bottom:2px solid var(--ink)}
.route{font-size:1.15rem;margin:.2rem 0 .6rem}
.meta{display:grid;grid-template-columns:max-content 1fr;gap:.1rem 1rem;margin:0}.meta dt{color:var(--muted)}.meta dd{margin:0}
table{border-collapse:collapse;margin:.4rem 0;font-size:.9rem}#station-table{font-size:.8rem}
th,td{border-bottom:1px solid var(--rule);padding:.2rem .5rem;text-align:right;vertical-align:top}
th{background:#e8e8e8}th:first-child,td:first-child,.text{text-align:left}
td.hash{font-family:"Liberation Mono",monospace;font-size:.78rem;word-break:break-all;text-align:left}
.stopped{border:3px solid var(--warn);background:#fff3e8;padding:.6rem 1rem;font-size:1.1rem}
.note{color:var(--muted);font-style:italic}
.fit{display:block;min-width:11rem}.wide{overflow-x:auto;content-visibility:auto;contain-intrinsic-size:auto 40rem}
.flag{display:inline-block;border:1px solid var(--warn);color:#8a3a00;border-radius:3px;padding:0 .25rem;margin:0 .1rem;font-size:.8rem}
svg.chart{width:100%;height:auto;display:block;margin:.4rem 0}
svg{font-family:inherit}
svg .plot-area{fill:none;stroke:#444;stroke-width:1}svg.chart{background:#fff}
svg .grid{stroke:#d6d6d6;stroke-width:1}svg .grid.minor{stroke:#ececec}
svg .tick{font-size:11px;fill:#333}svg .axis-title{font-size:12px;fill:#111}svg .legend{font-size:12px;fill:#111}
svg .band-a{fill:#56B4E9;fill-opacity:.20}svg .band-b{fill:#E69F00;fill-opacity:.16}svg .band-label{font-size:11px;fill:#333;font-weight:bold}
svg .boundary{stroke:#000;stroke-width:1.2;stroke-dasharray:6 3}
svg .bound{stroke-width:1;stroke-dasharray:2 4;stroke-opacity:.45}
svg .series{fill:none;stroke-width:1.5}
svg .single{fill:#fff;stroke-width:1.5}
svg .flagged{fill:none;stroke-width:2}
svg .dots{fill:none;stroke-width:7;stroke-linecap:round}svg .trend{fill:none;stroke-width:8;stroke-linecap:square}svg .trend-inner{fill:none;stroke:#fff;stroke-width:4;stroke-linecap:square}svg .adjusted{fill:none;stroke-width:2;stroke-dasharray:7 4}
td.missing{background:#f6f6f6}td.trend{font-style:italic}td.trend::after{content:" \2248"}.remark{display:block;color:var(--muted);font-size:.8rem}.implausible{text-decoration:underline wavy var(--warn)}svg .ring{fill:none;stroke:#fff;stroke-width:4;stroke-linecap:round}
svg .poor{fill:none;stroke-width:7;stroke-linecap:square}
.drop-data{display:none}
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
 h2,h2+p,#stations>p{break-after:avoid}
 svg.chart{width:78%}td.hash{font-size:6.5pt}#run table,#summary table{font-size:8pt}
 svg,.drop,#run table,#summary table{break-inside:avoid}
 #station-table{font-size:7pt}#station-table .fit{min-width:0}
 tbody.station{break-inside:avoid}
 th{background:none}
 a{color:inherit;text-decoration:none}
 .wide{overflow:visible;content-visibility:visible}
}
)";

// Sorting by a column keeps each station's drop row with it (one tbody per station); folding
// shows or hides the drop row, drawing its drops from their data the first time (a table of
// each drop and its basin: measured deflections as points, the calculated basin as a line, the
// residual of every sensor as a bar on the page's one residual scale).  The last line marks
// the page as scripted for tests.
constexpr std::string_view kScript = R"(
(function(){
var table=document.getElementById('station-table');
var info=JSON.parse(table.getAttribute('data-page'));
var NS=document.querySelector('svg.chart').namespaceURI;
function key(body,col){var cell=body.rows[0].cells[col];var v=cell.getAttribute('data-value');if(v===null)v=cell.textContent.trim();
if(/^-?[0-9]*\.?[0-9]+$/.test(v)){return{n:parseFloat(v)}}return{s:v}}
function compare(a,b){if(a.n!==undefined&&b.n!==undefined)return a.n-b.n;if(a.n!==undefined)return -1;if(b.n!==undefined)return 1;
return a.s<b.s?-1:a.s>b.s?1:0}
function num(v){if(v===null||!isFinite(v))return null;var a=Math.abs(v);var s=v.toFixed(a>=1000?0:a>=100?1:a>=10?2:3);
return /^-?[0.]+$/.test(s)?s.replace('-',''):s}
function el(tag,attrs,text,parent){var e=document.createElementNS(NS,tag);for(var k in attrs)e.setAttribute(k,attrs[k]);
if(text!==undefined&&text!==null)e.textContent=text;if(parent)parent.appendChild(e);return e}
function axis(high,steps){if(!(high>0))high=1;var raw=high/steps,p=Math.pow(10,Math.floor(Math.log10(raw))),step=p;
var m=[1,2,5,10];for(var i=0;i<m.length;i++)if(m[i]*p>=raw){step=m[i]*p;break}
var ticks=[];var n=Math.min(Math.ceil(high/step-1e-9),100);for(var k=0;k<=n;k++)ticks.push(k*step);return{high:n*step,step:step,ticks:ticks}}
function tick(v,step){var d=Math.max(0,-Math.floor(Math.log10(step)+1e-9));return v.toFixed(d)}
function basin(o,d,station){
var m=d[7],c=d[8],n=Math.min(o.length,m.length,c.length),r=[];
for(var i=0;i<n;i++)r.push(m[i]===null||c[i]===null?null:m[i]>0.01?100*(m[i]-c[i])/m[i]:0);
var label='Basin of station '+station+', drop '+d[0];
var svg=el('svg',{'class':'basin',viewBox:'0 0 420 230',role:'img','aria-label':label});el('title',{},label,svg);
if(n===0)return svg;
var xh=0,yh=0;for(var k=0;k<n;k++){if(o[k]!==null)xh=Math.max(xh,o[k]);if(m[k]!==null)yh=Math.max(yh,m[k]);if(c[k]!==null)yh=Math.max(yh,c[k])}
var xa=axis(xh,5),ya=axis(yh,4);
// The first sensor sits 8 px inside the frame, so its residual bar is drawn whole.
function X(v){return 64+v/xa.high*336}function Y(v){return 12+v/ya.high*126}
el('rect',{'class':'plot-area',x:56,y:12,width:352,height:126},null,svg);
xa.ticks.forEach(function(v){el('text',{'class':'tick',x:X(v).toFixed(1),y:150,'text-anchor':'middle'},tick(v,xa.step),svg)});
ya.ticks.forEach(function(v){var y=Y(v).toFixed(1);el('line',{'class':'grid',x1:56,y1:y,x2:408,y2:y},null,svg);
el('text',{'class':'tick',x:50,y:(Y(v)+4).toFixed(1),'text-anchor':'end'},tick(v,ya.step),svg)});
el('text',{'class':'axis-title',x:12,y:80,transform:'rotate(-90 12 80)','text-anchor':'middle'},info.deflection,svg);
var pts=[];for(k=0;k<n;k++)if(o[k]!==null&&c[k]!==null)pts.push(X(o[k]).toFixed(1)+','+Y(c[k]).toFixed(1));
el('polyline',{'class':'calculated',stroke:'#0072B2',points:pts.join(' ')},null,svg);
for(k=0;k<n;k++){if(o[k]===null||m[k]===null)continue;var p=el('circle',{cx:X(o[k]).toFixed(1),cy:Y(m[k]).toFixed(1),r:3.5,fill:'#000000'},null,svg);
el('title',{},'Sensor '+(k+1)+' at '+num(o[k])+' '+info.length+': measured '+num(m[k])+', calculated '+(c[k]===null?'none':num(c[k]))+' '+info.deflection,p)}
var scale=info.residualScale,zero=192,half=24;
el('line',{'class':'zero',x1:56,y1:zero,x2:408,y2:zero},null,svg);
el('text',{'class':'tick',x:50,y:zero-half+4,'text-anchor':'end'},'+'+scale+' %',svg);
el('text',{'class':'tick',x:50,y:zero+half+4,'text-anchor':'end'},'\u2212'+scale+' %',svg);
el('text',{'class':'tick',x:232,y:226,'text-anchor':'middle'},'residual per sensor, one scale for all drops',svg);
for(k=0;k<n&&k<r.length;k++){if(o[k]===null||r[k]===null)continue;var h=Math.min(Math.abs(r[k])/scale,1)*half;
var bar=el('rect',{x:(X(o[k])-4).toFixed(1),y:(r[k]>=0?zero-h:zero).toFixed(1),width:8,height:Math.max(h,0.5).toFixed(1),fill:'#CC79A7'},null,svg);
el('title',{},'Sensor '+(k+1)+': residual '+r[k].toFixed(1)+' %',bar)}
var g=el('g',{'class':'basin-legend'},null,svg);el('circle',{cx:322,cy:108,r:3.5,fill:'#000000'},null,g);
el('text',{'class':'legend',x:330,y:112},'measured',g);el('line',{x1:315,y1:124,x2:329,y2:124,stroke:'#0072B2','stroke-width':2},null,g);
el('text',{'class':'legend',x:330,y:128},'calculated',g);
el('text',{'class':'tick',x:408,y:163,'text-anchor':'end'},'offset ('+info.length+')',svg);
return svg}
function row(t,head,text,cls){var tr=t.insertRow();var th=document.createElement('th');th.scope='row';th.textContent=head;tr.appendChild(th);
var td=tr.insertCell();if(cls)td.className=cls;if(text!==null)td.textContent=text;return td}
function draw(tr){if(tr.getAttribute('data-drawn'))return;tr.setAttribute('data-drawn','1');
var holder=tr.cells[0],data=JSON.parse(holder.querySelector('.drop-data').textContent),o=data[0]||info.offsets;
var station=tr.parentNode.rows[0].cells[1].textContent;
data[1].forEach(function(d){var div=document.createElement('div');div.className='drop';
var t=document.createElement('table');t.className='drop-table';row(t,'Drop',String(d[0]));row(t,'Load ('+info.load+')',num(d[1]));
d[2].forEach(function(e,j){row(t,'E'+(j+1)+' ('+info.modulus+')',e===null?'none':num(e))});
if(info.adjusted!==null)row(t,'E1 adjusted to '+info.adjusted+' ('+info.modulus+')',d[3]===null?'none':num(d[3]));
row(t,'RMS (%)',d[4]===null?'none':d[4].toFixed(2));row(t,'Convergence',info.convergence[d[5]]||'','text');
if(d[6].length){var cell=row(t,'Flags',null,'text');d[6].forEach(function(f){var s=document.createElement('span');s.className='flag';
s.textContent=f[0]+(f[1]?': '+f[1]:'');cell.appendChild(s)})}
div.appendChild(t);div.appendChild(basin(o,d,station));holder.appendChild(div)})}
function fold(button,open){var tr=document.getElementById(button.getAttribute('aria-controls'));if(open)draw(tr);tr.hidden=!open;
button.setAttribute('aria-expanded',open?'true':'false');button.textContent=open?'\u2212':'+'}
table.addEventListener('click',function(e){
var button=e.target.closest('button.fold');
if(button){fold(button,button.getAttribute('aria-expanded')!=='true');return}
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
var buttons=table.querySelectorAll('button.fold');for(var i=0;i<buttons.length;i++)fold(buttons[i],open);
all.setAttribute('aria-expanded',open?'true':'false');all.textContent=open?'Fold all drops':'Unfold all drops'});
document.body.setAttribute('data-script','ready');
})();
)";

void header(Html& h, const SurveyPage& page, std::size_t stations, const RunEnd& end) {
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
        .text(std::to_string(stations))
        .raw(" station(s) finished before that.</p>");
  }
  h.raw("<dl class=\"meta\">");
  h.element("dt", "Run date").element("dd", page.run_date.empty() ? "not recorded" : page.run_date);
  h.element("dt", "Engine").element("dd", page.engine_version.empty() ? "not recorded" : page.engine_version);
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

void summary(Html& h, const SurveyPage& page, const SurveyProfile& profile) {
  const std::size_t drops = profile.drops.size();
  h.raw("<section id=\"summary\"><h2>Survey summary</h2>");
  h.raw("<p id=\"counts\"><strong>" + std::to_string(profile.stations.size()) +
        "</strong> stations, <strong>" + std::to_string(drops) + "</strong> drops.</p>");
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
    for (std::size_t i = 0; i < profile.stations.size(); ++i)
      if (profile.stations[i].normalised && j < profile.normalised_modulus(i).size())
        values.push_back(profile.normalised_modulus(i)[j]);
    const Spread sp = spread(values);
    const SurveyLayer& layer = page.layers[j];
    h.raw("<tr>").element("td", layer.name).element("td", std::to_string(values.size()));
    if (values.empty()) {
      const std::string reason = "no station has a normalised modulus of this layer";
      h.raw("<td class=\"missing text\" colspan=\"5\" data-reason=\"" + reason + "\">" + reason + "</td>");
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

void profiles(Html& h, const SurveyPage& page, const SurveyProfile& profile, const SurveyLayout& layout,
              const ReportOptions& options) {
  h.raw("<section id=\"profiles\"><h2>Profiles along the route</h2>");
  if (layout.positions.from_table) {
    h.raw("<p id=\"positions\" data-source=\"station-table\">Station positions are the chainages (" +
          escape_html(layout.positions.unit) + ") of the station table ")
        .text(page.station_table)
        .raw(".</p>");
  } else if (layout.positions.from_identifiers) {
    h.raw(
        "<p id=\"positions\" data-source=\"identifiers\">Station positions are read from the station "
        "identifiers as chainage (" +
        escape_html(layout.positions.unit) + ").</p>");
  } else {
    h.raw(
         "<p id=\"positions\" class=\"note\" data-source=\"survey-order\">Station positions: the stations "
         "are drawn in survey order with equal spacing, because ")
        .text(layout.positions.note)
        .raw(".</p>");
  }
  modulus_profile(h, page, profile, layout);
  // Stations drawn without a normalised modulus, and why (the first reason given).
  if (profile.without_normalised > 0) {
    h.raw("<p class=\"note\" id=\"not-normalised\">" + std::to_string(profile.without_normalised) +
          " station(s) with several drops have no normalised moduli and no point on the profile; station ")
        .text(profile.first_without_id + ": " +
              (profile.first_without_note.empty() ? std::string("no reason recorded")
                                                  : profile.first_without_note))
        .raw(".</p>");
  }
  h.raw(
      "<p class=\"note\">Filled points: moduli at the standard load; open squares: moduli carried to the "
      "standard load by the station's trend of modulus against load; open points: stations with a single "
      "drop; crosses: drops with a data-check flag on that layer (or on the whole drop); dotted lines: the "
      "bounds of each layer; shaded bands: uniform sections.</p>");
  rms_profile(h, page, profile, layout);
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
        fixed(100 * options.sections.min_relative_difference, 0) + " % are one section.");
  const int minimum = std::max(options.sections.min_stations, 1);
  if (!layout.series_station.empty() && layout.series_station.size() < static_cast<std::size_t>(2 * minimum))
    h.raw(" Only " + std::to_string(layout.series_station.size()) +
          " station(s) have a value of the response, too few to cut the route: it is one section.");
  h.raw("</p>");
  const std::string at = " (" + layout.positions.unit + ")";
  const bool adjusted = !page.reference_temperature.empty();
  h.raw("<table id=\"section-table\" data-count=\"" + std::to_string(layout.rows.size()) +
        "\"><thead><tr><th class=\"text\">Section</th>");
  h.element("th", "Start" + at).element("th", "End" + at).element("th", "Stations");
  h.element("th", "Mean " + layout.response + " (" + layout.response_unit + ")").element("th", "CoV (%)");
  for (const SurveyLayer& layer : page.layers)
    h.element("th", layer.name + " mean (" + page.units.modulus + ")").element("th", "CoV (%)");
  if (adjusted)
    h.element("th",
              "Layer 1 adjusted to " + page.reference_temperature + ", mean (" + page.units.modulus + ")")
        .element("th", "CoV (%)");
  h.raw("</tr></thead><tbody>");
  for (std::size_t k = 0; k < layout.rows.size(); ++k) {
    const SectionRow& row = layout.rows[k];
    h.raw("<tr class=\"section-row\" data-start=\"" + datum(row.start) + "\" data-end=\"" + datum(row.end) +
          "\">")
        .element("td", "S" + std::to_string(k + 1));
    h.element("td", value(row.start))
        .element("td", value(row.end))
        .element("td", std::to_string(row.stations));
    h.element("td", value(row.response.mean)).element("td", fixed(row.response.cov_percent, 1));
    std::vector<Spread> spreads = row.modulus;
    if (adjusted) spreads.push_back(row.adjusted);
    for (const Spread& sp : spreads) {
      if (sp.count == 0) {
        for (int c = 0; c < 2; ++c) missing_cell(h, "no station of the section has this value");
      } else {
        h.element("td", value(sp.mean));
        if (sp.count > 1) {
          h.element("td", fixed(sp.cov_percent, 1));
        } else {
          missing_cell(h, "one station: no spread");
        }
      }
    }
    h.raw("</tr>");
  }
  h.raw("</tbody></table>");
  if (layout.rows.empty())
    h.raw("<p class=\"note\">No station has a value of the response: no sections.</p>");
  h.raw("</section>");
}

void stations(Html& h, const SurveyPage& page, const SurveyProfile& profile, const SurveyLayout& layout) {
  const std::size_t layers = page.layers.size();
  const std::size_t thicknesses = layers > 0 ? layers - 1 : 0;
  const SurveyUnits& u = page.units;
  h.raw("<section id=\"stations\"><h2>Stations</h2>");
  h.raw(
      "<p class=\"screen-only\">Click a column heading to sort; <button type=\"button\" id=\"unfold-all\" "
      "aria-expanded=\"false\">Unfold all drops</button> or unfold one station with its + button.</p>");
  // What the script needs to draw the drops: units, layer names, the convergence words the
  // drops point to, and the one scale of every residual strip.
  double largest = page.largest_residual_percent;
  if (!(largest > 0)) largest = profile.largest_residual_percent;
  const LinearAxis residual_axis = linear_axis(0, std::max(largest, 1.0), 1);
  // The sensor offsets of the first basin, which most stations share.
  const std::vector<float>& page_offsets = profile.first_offsets;
  std::string info = "{\"load\":" + json_string(u.load) + ",\"modulus\":" + json_string(u.modulus) +
                     ",\"length\":" + json_string(u.length) + ",\"deflection\":" + json_string(u.deflection) +
                     ",\"offsets\":" + datum_list(page_offsets, page_offsets.size()) +
                     ",\"residualScale\":" + datum(residual_axis.high) + ",\"adjusted\":" +
                     (page.reference_temperature.empty() ? "null" : json_string(page.reference_temperature)) +
                     ",\"layers\":[";
  for (std::size_t j = 0; j < layers; ++j) info += (j > 0 ? "," : "") + json_string(page.layers[j].name);
  info += "],\"convergence\":[";
  for (std::size_t k = 0; k < page.convergence_counts.size(); ++k)
    info += (k > 0 ? "," : "") + json_string(page.convergence_counts[k].name);
  info += "]}";
  h.raw(
      "<noscript><p class=\"note\">The drops and their basins are drawn by the page's script, which is "
      "off.</p></noscript>");
  if (!page.reference_temperature.empty())
    h.raw("<p>E1 adj. norm.: the surface modulus adjusted to ")
        .text(page.reference_temperature)
        .raw(", at the standard load.</p>");
  h.raw("<div class=\"wide\"><table id=\"station-table\" data-page=\"")
      .text(info)
      .raw("\"><thead><tr><th class=\"screen-only\"></th>");
  int col = 1;
  auto heading = [&](const std::string& text) {
    h.raw("<th data-col=\"" + std::to_string(col++) + "\" scope=\"col\">").text(text).raw("</th>");
  };
  const bool any_lane = profile.any_lane, any_gps = profile.any_gps, any_comment = profile.any_comment;
  const bool adjusted = !page.reference_temperature.empty();
  heading("Station");
  heading("Position (" + layout.positions.unit + ")");
  if (any_lane) heading("Lane");
  if (any_gps) heading("GPS (lat., long.)");
  for (std::size_t j = 0; j < thicknesses; ++j) heading("h" + std::to_string(j + 1) + " (" + u.length + ")");
  heading("T1 surface (" + u.temperature + ")");
  heading("T2 air (" + u.temperature + ")");
  for (std::size_t j = 0; j < layers; ++j)
    heading("E" + std::to_string(j + 1) + " norm. (" + u.modulus + ")");
  if (adjusted) heading("E1 adj. norm. (" + u.modulus + ")");
  heading("Stress law: K1 (" + u.modulus + "), K2, R\xC2\xB2 (%), soil");
  heading("Drops");
  heading("Worst RMS (%)");
  heading("Flags and notes");
  if (any_comment) heading("Comment");
  const int columns = col;
  h.raw("</tr></thead>");

  // A station's row in full: in the page, or read back from where its collector keeps it.
  SurveyStation read_back;
  for (std::size_t i = 0; i < profile.stations.size(); ++i) {
    if (page.stations.empty()) read_back = page.station_row(i);
    const SurveyStation& s = page.stations.empty() ? read_back : page.stations[i];
    const std::string row_id = "drops-" + std::to_string(i + 1);
    // The script sorts a cell by the number it shows (a long survey's table stays small).
    auto number_cell = [&](double, const std::string& shown) { h.element("td", shown); };
    h.raw("<tbody class=\"station\" data-order=\"" + std::to_string(i) +
          "\"><tr class=\"station-row\" data-position=\"" + datum(layout.positions.position[i]) + "\">");
    h.raw("<td class=\"screen-only\"><button class=\"fold\" aria-expanded=\"false\" aria-controls=\"" +
          row_id + "\">+</button></td>");
    h.element("td", s.id, "class=\"text\"");
    // A chainage to the centimetre (or hundredth of a foot), without trailing zeros.
    std::string chainage = fixed(layout.positions.position[i], layout.positions.along_route() ? 2 : 0);
    if (chainage.find('.') != std::string::npos) {
      chainage.erase(chainage.find_last_not_of('0') + 1);
      if (chainage.back() == '.') chainage.pop_back();
    }
    number_cell(layout.positions.position[i], chainage);
    if (any_lane) h.element("td", s.lane, "class=\"text\"");
    if (any_gps) {
      if (s.latitude && s.longitude) {
        h.element("td", fixed(*s.latitude, 5) + ", " + fixed(*s.longitude, 5), "class=\"text\"");
      } else {
        missing_cell(h, "the station table gives no GPS position for this station");
      }
    }
    for (std::size_t j = 0; j < thicknesses; ++j) {
      const double t = j < s.thickness.size() ? s.thickness[j] : 0.0;
      number_cell(t, value(t));
    }
    number_cell(s.temperature1, fixed(s.temperature1, 1));
    number_cell(s.temperature2, fixed(s.temperature2, 1));
    const bool trend = s.normalised_by == NormalisedBy::kTrend;
    auto normalised_cell = [&](std::optional<float> e, const char* absent) {
      if (e && drawable(*e, true)) {
        if (trend) {
          h.raw("<td class=\"trend\" title=\"from the station's trend of modulus against load\">")
              .text(value(*e))
              .raw("</td>");
        } else {
          number_cell(*e, value(*e));
        }
      } else {
        missing_cell(h, !s.normalisation_note.empty() ? s.normalisation_note : absent);
      }
    };
    for (std::size_t j = 0; j < layers; ++j)
      normalised_cell(s.normalised_modulus && j < s.normalised_modulus->size()
                          ? std::optional<float>((*s.normalised_modulus)[j])
                          : std::nullopt,
                      "no normalised modulus");
    if (adjusted) normalised_cell(s.normalised_adjusted_surface_modulus, "no adjusted surface modulus");
    // One line per layer with a fit: the column stays narrow without breaking a fit apart.
    h.raw("<td class=\"text\">");
    bool any_fit = false;
    for (std::size_t j = 0; j < s.soil_type.size(); ++j) {
      if (j >= s.k1.size() || j >= s.k2.size() || !s.k1[j] || !s.k2[j]) continue;
      any_fit = true;
      const bool implausible = j < s.implausible_law.size() && s.implausible_law[j];
      std::string fit = "E" + std::to_string(j + 1) + ": K1 " + value(*s.k1[j]) + " " + u.modulus + ", K2 " +
                        value(*s.k2[j]);
      if (j < s.r_squared.size() && s.r_squared[j]) fit += ", R\xC2\xB2 " + fixed(*s.r_squared[j], 1) + " %";
      fit += ", " + s.soil_type[j];
      h.element("span", fit, implausible ? "class=\"fit implausible\"" : "class=\"fit\"");
      if (implausible) h.element("span", "implausible law: K2 outside its physical range", "class=\"flag\"");
    }
    if (!any_fit) h.text("no stress law fitted");
    h.raw("</td>");
    number_cell(static_cast<double>(s.drops.size()), std::to_string(s.drops.size()));
    double worst = -1;
    for (const SurveyDrop& d : s.drops)
      if (std::isfinite(d.rms_percent)) worst = std::max(worst, static_cast<double>(d.rms_percent));
    if (worst >= 0) {
      number_cell(worst, fixed(worst, 2));
    } else {
      missing_cell(h, "no drop has an RMS error");
    }
    // Each flag once, with the layers it concerns in any of the drops.
    std::vector<std::string> flags = s.flags;
    std::vector<std::uint32_t> flag_layers(flags.size(), 0);
    for (const SurveyDrop& d : s.drops)
      for (std::size_t f = 0; f < d.flags.size(); ++f) {
        const auto at = std::find(flags.begin(), flags.end(), d.flags[f]);
        const std::uint32_t concerned = f < d.flag_layers.size() ? d.flag_layers[f] : 0;
        if (at == flags.end()) {
          flags.push_back(d.flags[f]);
          flag_layers.push_back(concerned);
        } else {
          flag_layers[static_cast<std::size_t>(at - flags.begin())] |= concerned;
        }
      }
    h.raw("<td class=\"text\">");
    for (std::size_t f = 0; f < flags.size(); ++f)
      h.element("span", flags[f] + layer_names(flag_layers[f]), "class=\"flag\"");
    if (!s.normalisation_note.empty()) h.element("span", s.normalisation_note, "class=\"remark\"");
    h.raw("</td>");
    if (any_comment) h.element("td", s.comment, "class=\"text\"");
    h.raw("</tr>");

    // The drops as data, drawn by the script when the row unfolds:
    // [offsets, [[number, load, [moduli], adjusted surface modulus, RMS %, convergence (index
    // into the page's list), [[flag, what raised it], ...], [measured], [calculated]], ...]]
    // (offsets null: the page's own); each sensor's residual is the reports' percentage
    // difference of the two deflections.
    h.raw("<tr class=\"drops-row\" id=\"" + row_id + "\" hidden><td colspan=\"" + std::to_string(columns) +
          "\"><div class=\"drop-data\" hidden>[");
    for (std::size_t k = 0; k < s.drops.size(); ++k) {
      const SurveyDrop& d = s.drops[k];
      const SurveyBasin& b = d.basin;
      const std::size_t n = std::min({b.offset.size(), b.measured.size(), b.calculated.size()});
      if (k == 0) {
        const std::vector<float> own(b.offset.begin(), b.offset.begin() + static_cast<std::ptrdiff_t>(n));
        h.raw((own == page_offsets ? std::string("null") : datum_list(b.offset, n)) + ",[");
      }
      if (k > 0) h.raw(",");
      std::size_t convergence = 0;
      while (convergence + 1 < page.convergence_counts.size() &&
             page.convergence_counts[convergence].name != d.convergence_words)
        ++convergence;
      std::string flags = "[";
      for (std::size_t f = 0; f < d.flags.size(); ++f) {
        if (f > 0) flags += ',';
        flags += "[" + json_string(d.flags[f]) + "," +
                 json_string(f < d.flag_reasons.size() ? d.flag_reasons[f] : std::string()) + "]";
      }
      flags += "]";
      h.raw("[" + std::to_string(d.number) + "," + datum(d.load) + "," +
            datum_list(d.modulus, d.modulus.size()) + "," +
            datum(d.adjusted_surface_modulus ? *d.adjusted_surface_modulus : NAN) + "," +
            datum(d.rms_percent) + "," + std::to_string(convergence) + "," + flags + "," +
            datum_list(b.measured, n) + "," + datum_list(b.calculated, n) + "]");
    }
    if (s.drops.empty()) h.raw("[],[");
    h.raw("]]</div>");
    h.spill();
    h.raw("</td></tr></tbody>");
  }
  h.raw("</table></div></section>");
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

void write_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end,
                const PageSink& sink) {
  SurveyProfile made;
  const SurveyProfile& profile = profile_of(page, made);
  const SurveyLayout layout = lay_out_survey(page, profile, options);
  Html h(&sink);
  h.raw("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">");
  h.raw("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
  h.raw("<meta name=\"generator\" content=\"").text(page.engine_version).raw("\">");
  h.element("title", std::string(end.complete ? "" : "INCOMPLETE \xE2\x80\x94 ") +
                         "Survey: " + (page.route.empty() ? page.title : page.route));
  h.raw("<style>").raw(kStyle).raw("</style>");
  h.raw("<noscript><style>button.fold,#unfold-all{display:none}</style></noscript>");
  h.raw("</head><body>\n");
  header(h, page, profile.stations.size(), end);
  summary(h, page, profile);
  profiles(h, page, profile, layout, options);
  h.spill();
  stations(h, page, profile, layout);
  h.raw("<footer class=\"note\"><p>Written by ").text(page.engine_version).raw(".</p></footer>");
  h.raw("<script>").raw(kScript).raw("</script>\n</body></html>\n");
  h.finish();
}

std::string render_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end) {
  std::string out;
  write_page(page, options, end, [&out](std::string_view piece) { out += piece; });
  return out;
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
  try {
    file_.truncate();
    write_page(page, options, end, [this](std::string_view piece) {
      // Each piece goes to disk as it comes, so the page never gathers in memory.
      file_.write(piece);
      file_.flush();
    });
    file_.close();
    done_ = true;
  } catch (const InputError&) {
    done_ = true;
    file_.abandon(true);
    throw;
  }
}

}  // namespace basinfit::survey
