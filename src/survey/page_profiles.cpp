#include "survey/internal/page_profiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "survey/internal/page_axes.h"
#include "survey/internal/page_numbers.h"

namespace basinfit::survey::html {
namespace {

// The modulus axis spans whole decades around every normalised modulus, every drop's modulus
// and every layer's bounds.
Frame modulus_frame(const SurveyPage& page, const SurveyProfile& profile, const LinearAxis& xa) {
  Frame f;
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
  return f;
}

void layer_bounds(Html& h, const Frame& f, const SurveyPage& page, std::size_t j) {
  const SurveyLayer& layer = page.layers[j];
  for (const auto& bound : {layer.lower_bound, layer.upper_bound}) {
    if (!bound || !(*bound > 0)) continue;
    const std::string y = px(f.y(*bound));
    h.raw("<line class=\"bound\" stroke=\"" + std::string(layer_colour(j)) + "\" x1=\"" + px(f.left) +
          "\" y1=\"" + y + "\" x2=\"" + px(f.width - f.right) + "\" y2=\"" + y + "\"><title>")
        .text(layer.name + " bound: " + value(*bound) + " " + page.units.modulus)
        .raw("</title></line>");
  }
}

// Points as zero-length strokes with round caps: one short path per layer however long the
// survey (an open ring, a white dot on a coloured one, for stations with a single drop; an open
// square for moduli carried to the standard load by the station's trend; a cross where a flag
// concerns this layer or the drop as a whole).
enum class Mark { kDot, kRing, kTrend, kCross };

class LayerMarks {
 public:
  LayerMarks(const Frame& f, const SurveyProfile& profile, const SurveyLayout& layout, std::size_t j)
      : f_(f), profile_(profile), layout_(layout), j_(j) {}

  // Calls put(piece of path data) for every mark of that kind, in station order.
  template <typename Put>
  void each(Mark kind, const Put& put) const {
    for (std::size_t i = 0; i < profile_.stations.size(); ++i) {
      const double x = layout_.positions.position[i];
      if (kind == Mark::kCross) {
        crosses(i, x, put);
      } else if (const std::optional<float> e = modulus(kind, i)) {
        put("M" + px(f_.x(x)) + " " + px(f_.y(*e)) + "h0");
      }
    }
  }
  bool any(Mark kind) const {
    bool found = false;
    each(kind, [&](const std::string&) { found = true; });
    return found;
  }
  // The path data of that kind, spilled as it grows.
  void path(Html& h, Mark kind) const {
    each(kind, [&](const std::string& piece) {
      h.raw(piece);
      h.spill();
    });
  }

 private:
  // Station i's modulus of this layer when the station has a mark of that kind.
  std::optional<float> modulus(Mark kind, std::size_t i) const {
    const ProfileStation& s = profile_.stations[i];
    const std::span<const float> normalised = profile_.normalised_modulus(i);
    const bool has_normalised = s.normalised && j_ < normalised.size() && drawable(normalised[j_], true);
    if (kind == Mark::kRing) {
      const std::span<const ProfileDrop> drops = profile_.drops_of(i);
      if (!has_normalised && drops.size() == 1 && j_ < profile_.moduli(drops[0]).size() &&
          drawable(profile_.moduli(drops[0])[j_], true))
        return profile_.moduli(drops[0])[j_];
    } else if (has_normalised && (s.normalised_by == NormalisedBy::kTrend) == (kind == Mark::kTrend)) {
      return normalised[j_];
    }
    return std::nullopt;
  }
  template <typename Put>
  void crosses(std::size_t i, double x, const Put& put) const {
    for (const ProfileDrop& d : profile_.drops_of(i)) {
      const std::span<const float> e = profile_.moduli(d);
      if (j_ >= 32 || ((d.crossed_layers >> j_) & 1u) == 0 || j_ >= e.size() || !drawable(e[j_], true))
        continue;
      const double cx = f_.x(x), cy = f_.y(e[j_]);
      put("M" + px(cx - 4) + " " + px(cy - 4) + "l8 8m0 -8l-8 8");
    }
  }

  const Frame& f_;
  const SurveyProfile& profile_;
  const SurveyLayout& layout_;
  std::size_t j_;
};

// The line through the normalised moduli of layer j, in order along the route.
void layer_series(Html& h, const Frame& f, const SurveyProfile& profile, const SurveyLayout& layout,
                  std::size_t j) {
  std::vector<std::pair<double, double>> line;
  for (std::size_t i = 0; i < profile.stations.size(); ++i) {
    const std::span<const float> normalised = profile.normalised_modulus(i);
    if (profile.stations[i].normalised && j < normalised.size() && drawable(normalised[j], true))
      line.emplace_back(layout.positions.position[i], normalised[j]);
  }
  std::sort(line.begin(), line.end());
  if (line.size() < 2) return;
  h.raw("<polyline class=\"series\" stroke=\"" + std::string(layer_colour(j)) + "\" points=\"");
  for (const auto& [x, e] : line) {
    h.raw(px(f.x(x)) + "," + px(f.y(e)) + " ");
    h.spill();
  }
  h.raw("\"/>");
}

void layer_marks(Html& h, const LayerMarks& marks, const SurveyLayer& layer, std::size_t j) {
  const std::string colour = layer_colour(j);
  const std::string name = escape_html(layer.name);
  if (marks.any(Mark::kDot)) {
    h.raw("<path class=\"dots\" stroke=\"" + colour + "\" d=\"");
    marks.path(h, Mark::kDot);
    h.raw("\"><title>" + name + ": moduli at the standard load</title></path>");
  }
  if (marks.any(Mark::kRing)) {
    h.raw("<path class=\"dots\" stroke=\"" + colour + "\" d=\"");
    marks.path(h, Mark::kRing);
    h.raw("\"/><path class=\"ring\" d=\"");
    marks.path(h, Mark::kRing);
    h.raw("\"><title>" + name + ": stations with a single drop</title></path>");
  }
  if (marks.any(Mark::kTrend)) {
    h.raw("<path class=\"trend\" stroke=\"" + colour + "\" d=\"");
    marks.path(h, Mark::kTrend);
    h.raw("\"/><path class=\"trend-inner\" d=\"");
    marks.path(h, Mark::kTrend);
    h.raw("\"><title>" + name +
          ": moduli carried to the standard load by the station's trend</title></path>");
  }
  if (marks.any(Mark::kCross)) {
    h.raw("<path class=\"flagged\" stroke=\"" + colour + "\" d=\"");
    marks.path(h, Mark::kCross);
    h.raw("\" data-layer=\"" + std::to_string(j + 1) + "\"><title>" + name +
          ": drops with a data-check flag on this layer</title></path>");
  }
}

// The adjusted surface modulus, dashed in the surface layer's colour.
void adjusted_surface(Html& h, const Frame& f, const SurveyPage& page, const SurveyProfile& profile,
                      const SurveyLayout& layout) {
  if (page.reference_temperature.empty()) return;
  std::vector<std::pair<double, double>> line;
  for (std::size_t i = 0; i < profile.stations.size(); ++i) {
    const auto& e = profile.stations[i].normalised_adjusted_surface_modulus;
    if (e && drawable(*e, true)) line.emplace_back(layout.positions.position[i], *e);
  }
  std::sort(line.begin(), line.end());
  if (line.empty()) return;
  h.raw("<polyline class=\"series adjusted\" stroke=\"" + std::string(layer_colour(0)) + "\" points=\"");
  for (const auto& [x, e] : line) {
    h.raw(px(f.x(x)) + "," + px(f.y(std::clamp(e, f.y_low, f.y_high))) + " ");
    h.spill();
  }
  h.raw("\"><title>Layer 1 adjusted to " + escape_html(page.reference_temperature) + "</title></polyline>");
}

void modulus_legend(Html& h, const Frame& f, const SurveyPage& page) {
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
}

// Where the stations' positions along the route come from.
void positions_note(Html& h, const SurveyPage& page, const SurveyLayout& layout) {
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
}

}  // namespace

void modulus_profile(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                     const SurveyLayout& layout) {
  const LinearAxis xa = route_axis(layout);
  const Frame f = modulus_frame(page, profile, xa);
  svg_open(h, f, "Normalised modulus of every layer along the route", "profile-moduli");
  draw_sections(h, f, layout);
  draw_axes(h, f, xa, position_title(layout), "Normalised modulus (" + page.units.modulus + ", log scale)");
  for (std::size_t j = 0; j < page.layers.size(); ++j) {
    layer_bounds(h, f, page, j);
    layer_series(h, f, profile, layout, j);
    layer_marks(h, LayerMarks(f, profile, layout, j), page.layers[j], j);
    h.spill();
  }
  adjusted_surface(h, f, page, profile, layout);
  modulus_legend(h, f, page);
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

void write_profiles(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                    const SurveyLayout& layout) {
  h.raw("<section id=\"profiles\"><h2>Profiles along the route</h2>");
  positions_note(h, page, layout);
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
}

}  // namespace basinfit::survey::html
