#include "survey/internal/page_stations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "survey/internal/page_axes.h"
#include "survey/internal/page_numbers.h"

namespace basinfit::survey::html {
namespace {

// The columns every row has, decided once for the table.
struct Columns {
  std::size_t layers = 0, thicknesses = 0;
  bool any_lane = false, any_gps = false, any_comment = false;
  bool adjusted = false;  // the surface modulus adjusted to a reference temperature
  int count = 0;          // cells in a row, the fold button's included
};

// What the script needs to draw the drops: units, layer names, the convergence words the drops
// point to, and the one scale of every residual strip.
std::string page_info(const SurveyPage& page, const SurveyProfile& profile) {
  const SurveyUnits& u = page.units;
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
  for (std::size_t j = 0; j < page.layers.size(); ++j)
    info += (j > 0 ? "," : "") + json_string(page.layers[j].name);
  info += "],\"convergence\":[";
  for (std::size_t k = 0; k < page.convergence_counts.size(); ++k)
    info += (k > 0 ? "," : "") + json_string(page.convergence_counts[k].name);
  return info + "]}";
}

// The head row; returns the number of cells in a row.
int table_head(Html& h, const SurveyPage& page, const SurveyLayout& layout, const Columns& c) {
  const SurveyUnits& u = page.units;
  int col = 1;
  auto heading = [&](const std::string& text) {
    h.raw("<th data-col=\"" + std::to_string(col++) + "\" scope=\"col\">").text(text).raw("</th>");
  };
  heading("Station");
  heading("Position (" + layout.positions.unit + ")");
  if (c.any_lane) heading("Lane");
  if (c.any_gps) heading("GPS (lat., long.)");
  for (std::size_t j = 0; j < c.thicknesses; ++j)
    heading("h" + std::to_string(j + 1) + " (" + u.length + ")");
  heading("T1 surface (" + u.temperature + ")");
  heading("T2 air (" + u.temperature + ")");
  for (std::size_t j = 0; j < c.layers; ++j)
    heading("E" + std::to_string(j + 1) + " norm. (" + u.modulus + ")");
  if (c.adjusted) heading("E1 adj. norm. (" + u.modulus + ")");
  heading("Stress law: K1 (" + u.modulus + "), K2, R\xC2\xB2 (%), soil");
  heading("Drops");
  heading("Worst RMS (%)");
  heading("Flags and notes");
  if (c.any_comment) heading("Comment");
  return col;
}

// A chainage to the centimetre (or hundredth of a foot), without trailing zeros.
std::string chainage_text(const SurveyLayout& layout, std::size_t i) {
  std::string chainage = fixed(layout.positions.position[i], layout.positions.along_route() ? 2 : 0);
  if (chainage.find('.') != std::string::npos) {
    chainage.erase(chainage.find_last_not_of('0') + 1);
    if (chainage.back() == '.') chainage.pop_back();
  }
  return chainage;
}

// The normalised moduli (and the adjusted surface modulus), in italics with a tooltip when the
// station's trend carried them to the standard load.
void normalised_cells(Html& h, const SurveyStation& s, const Columns& c) {
  const bool trend = s.normalised_by == NormalisedBy::kTrend;
  auto cell = [&](std::optional<float> e, const char* absent) {
    if (e && drawable(*e, true)) {
      if (trend) {
        h.raw("<td class=\"trend\" title=\"from the station's trend of modulus against load\">")
            .text(value(*e))
            .raw("</td>");
      } else {
        h.element("td", value(*e));
      }
    } else {
      missing_cell(h, !s.normalisation_note.empty() ? s.normalisation_note : absent);
    }
  };
  for (std::size_t j = 0; j < c.layers; ++j)
    cell(s.normalised_modulus && j < s.normalised_modulus->size()
             ? std::optional<float>((*s.normalised_modulus)[j])
             : std::nullopt,
         "no normalised modulus");
  if (c.adjusted) cell(s.normalised_adjusted_surface_modulus, "no adjusted surface modulus");
}

// One line per layer with a fit: the column stays narrow without breaking a fit apart.
void stress_law_cell(Html& h, const SurveyStation& s, const SurveyUnits& u) {
  h.raw("<td class=\"text\">");
  bool any_fit = false;
  for (std::size_t j = 0; j < s.soil_type.size(); ++j) {
    if (j >= s.k1.size() || j >= s.k2.size() || !s.k1[j] || !s.k2[j]) continue;
    any_fit = true;
    const bool implausible = j < s.implausible_law.size() && s.implausible_law[j];
    std::string fit =
        "E" + std::to_string(j + 1) + ": K1 " + value(*s.k1[j]) + " " + u.modulus + ", K2 " + value(*s.k2[j]);
    if (j < s.r_squared.size() && s.r_squared[j]) fit += ", R\xC2\xB2 " + fixed(*s.r_squared[j], 1) + " %";
    fit += ", " + s.soil_type[j];
    h.element("span", fit, implausible ? "class=\"fit implausible\"" : "class=\"fit\"");
    if (implausible) h.element("span", "implausible law: K2 outside its physical range", "class=\"flag\"");
  }
  if (!any_fit) h.text("no stress law fitted");
  h.raw("</td>");
}

// Each flag once, with the layers it concerns in any of the drops, then the normalisation note.
void flags_cell(Html& h, const SurveyStation& s) {
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
}

// The visible row of station i.  The script sorts a cell by the number it shows (a long survey's
// table stays small).
void station_row(Html& h, const SurveyPage& page, const SurveyLayout& layout, const Columns& c,
                 const SurveyStation& s, std::size_t i) {
  h.raw("<tbody class=\"station\" data-order=\"" + std::to_string(i) +
        "\"><tr class=\"station-row\" data-position=\"" + datum(layout.positions.position[i]) + "\">");
  h.raw("<td class=\"screen-only\"><button class=\"fold\" aria-expanded=\"false\" aria-controls=\"drops-" +
        std::to_string(i + 1) + "\">+</button></td>");
  h.element("td", s.id, "class=\"text\"");
  h.element("td", chainage_text(layout, i));
  if (c.any_lane) h.element("td", s.lane, "class=\"text\"");
  if (c.any_gps) {
    if (s.latitude && s.longitude) {
      h.element("td", fixed(*s.latitude, 5) + ", " + fixed(*s.longitude, 5), "class=\"text\"");
    } else {
      missing_cell(h, "the station table gives no GPS position for this station");
    }
  }
  for (std::size_t j = 0; j < c.thicknesses; ++j)
    h.element("td", value(j < s.thickness.size() ? s.thickness[j] : 0.0));
  h.element("td", fixed(s.temperature1, 1));
  h.element("td", fixed(s.temperature2, 1));
  normalised_cells(h, s, c);
  stress_law_cell(h, s, page.units);
  h.element("td", std::to_string(s.drops.size()));
  double worst = -1;
  for (const SurveyDrop& d : s.drops)
    if (std::isfinite(d.rms_percent)) worst = std::max(worst, static_cast<double>(d.rms_percent));
  if (worst >= 0) {
    h.element("td", fixed(worst, 2));
  } else {
    missing_cell(h, "no drop has an RMS error");
  }
  flags_cell(h, s);
  if (c.any_comment) h.element("td", s.comment, "class=\"text\"");
  h.raw("</tr>");
}

// One drop as data: [number, load, [moduli], adjusted surface modulus, RMS %, convergence (index
// into the page's list), [[flag, what raised it], ...], [measured], [calculated]].
std::string drop_datum(const SurveyPage& page, const SurveyDrop& d, std::size_t n) {
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
  const SurveyBasin& b = d.basin;
  return "[" + std::to_string(d.number) + "," + datum(d.load) + "," +
         datum_list(d.modulus, d.modulus.size()) + "," +
         datum(d.adjusted_surface_modulus ? *d.adjusted_surface_modulus : NAN) + "," + datum(d.rms_percent) +
         "," + std::to_string(convergence) + "," + flags + "," + datum_list(b.measured, n) + "," +
         datum_list(b.calculated, n) + "]";
}

// The hidden row of station i's drops as data, drawn by the script when the row unfolds:
// [offsets, [drop, ...]] (offsets null: the page's own); each sensor's residual is the reports'
// percentage difference of the two deflections.
void drops_row(Html& h, const SurveyPage& page, const SurveyProfile& profile, const Columns& c,
               const SurveyStation& s, std::size_t i) {
  h.raw("<tr class=\"drops-row\" id=\"drops-" + std::to_string(i + 1) + "\" hidden><td colspan=\"" +
        std::to_string(c.count) + "\"><div class=\"drop-data\" hidden>[");
  for (std::size_t k = 0; k < s.drops.size(); ++k) {
    const SurveyBasin& b = s.drops[k].basin;
    const std::size_t n = std::min({b.offset.size(), b.measured.size(), b.calculated.size()});
    if (k == 0) {
      const std::vector<float> own(b.offset.begin(), b.offset.begin() + static_cast<std::ptrdiff_t>(n));
      h.raw((own == profile.first_offsets ? std::string("null") : datum_list(b.offset, n)) + ",[");
    }
    if (k > 0) h.raw(",");
    h.raw(drop_datum(page, s.drops[k], n));
  }
  if (s.drops.empty()) h.raw("[],[");
  h.raw("]]</div>");
  h.spill();
  h.raw("</td></tr></tbody>");
}

}  // namespace

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

void write_stations(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                    const SurveyLayout& layout) {
  Columns c;
  c.layers = page.layers.size();
  c.thicknesses = c.layers > 0 ? c.layers - 1 : 0;
  c.any_lane = profile.any_lane;
  c.any_gps = profile.any_gps;
  c.any_comment = profile.any_comment;
  c.adjusted = !page.reference_temperature.empty();
  h.raw("<section id=\"stations\"><h2>Stations</h2>");
  h.raw(
      "<p class=\"screen-only\">Click a column heading to sort; <button type=\"button\" id=\"unfold-all\" "
      "aria-expanded=\"false\">Unfold all drops</button> or unfold one station with its + button.</p>");
  const std::string info = page_info(page, profile);
  h.raw(
      "<noscript><p class=\"note\">The drops and their basins are drawn by the page's script, which is "
      "off.</p></noscript>");
  if (c.adjusted)
    h.raw("<p>E1 adj. norm.: the surface modulus adjusted to ")
        .text(page.reference_temperature)
        .raw(", at the standard load.</p>");
  h.raw("<div class=\"wide\"><table id=\"station-table\" data-page=\"")
      .text(info)
      .raw("\"><thead><tr><th class=\"screen-only\"></th>");
  c.count = table_head(h, page, layout, c);
  h.raw("</tr></thead>");

  // A station's row in full: in the page, or read back from where its collector keeps it.
  SurveyStation read_back;
  for (std::size_t i = 0; i < profile.stations.size(); ++i) {
    if (page.stations.empty()) read_back = page.station_row(i);
    const SurveyStation& s = page.stations.empty() ? read_back : page.stations[i];
    station_row(h, page, layout, c, s, i);
    drops_row(h, page, profile, c, s, i);
  }
  h.raw("</table></div></section>");
}

}  // namespace basinfit::survey::html
