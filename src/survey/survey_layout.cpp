#include "survey/survey_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

namespace basinfit::survey {

SurveyLayout lay_out_survey(const SurveyPage& page, const ReportOptions& options) {
  SurveyProfile made;
  return lay_out_survey(page, profile_of(page, made), options);
}

SurveyLayout lay_out_survey(const SurveyPage& page, const SurveyProfile& profile,
                            const ReportOptions& options) {
  SurveyLayout out;
  std::vector<std::string> ids;
  std::vector<std::optional<double>> chainages;
  ids.reserve(profile.stations.size());
  for (const ProfileStation& s : profile.stations) {
    ids.push_back(s.id);
    if (!page.station_table.empty()) chainages.push_back(s.chainage);
  }
  out.positions = station_positions(ids, page.units.metric, chainages, page.station_table);
  ids = {};
  chainages = {};

  const int layer_count = static_cast<int>(page.layers.size());
  int layer = options.sections_by.layer >= 0 ? options.sections_by.layer : options.subgrade_layer;
  layer = std::clamp(layer, 0, std::max(layer_count - 1, 0));
  auto value_of = [&](std::size_t i) -> std::optional<double> {
    const ProfileStation& s = profile.stations[i];
    if (options.sections_by.deflection) {
      if (s.normalised_centre_deflection) return *s.normalised_centre_deflection;
      return std::nullopt;
    }
    const std::span<const float> e = profile.normalised_modulus(i);
    if (s.normalised && static_cast<std::size_t>(layer) < e.size() &&
        std::isfinite(e[static_cast<std::size_t>(layer)]))
      return e[static_cast<std::size_t>(layer)];
    return std::nullopt;
  };
  if (options.sections_by.deflection) {
    out.response = "normalised centre deflection";
    out.response_unit = page.units.deflection;
  } else {
    out.response =
        "normalised modulus of " + (layer < layer_count ? page.layers[static_cast<std::size_t>(layer)].name
                                                        : std::string("the subgrade"));
    out.response_unit = page.units.modulus;
  }

  std::vector<std::size_t> order(profile.stations.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return out.positions.position[a] < out.positions.position[b];
  });
  for (std::size_t i : order) {
    const auto v = value_of(i);
    if (!v) continue;
    out.series_station.push_back(i);
    out.series_position.push_back(out.positions.position[i]);
    out.series_value.push_back(*v);
  }
  out.sections = find_sections(out.series_position, out.series_value, options.sections);
  // The sections cover the measured route, from its first station to its last: a station
  // without a value of the response at either end (a single drop, no normalisation) still lies
  // in the first or the last section, and the half spacing the end stations weigh for in the
  // cumulative difference is not shown as road that was surveyed (it would put a section's
  // start before the first test point, at a negative chainage on a route starting at 0).
  if (!out.sections.empty() && !out.positions.position.empty()) {
    const auto [low, high] =
        std::minmax_element(out.positions.position.begin(), out.positions.position.end());
    out.sections.front().start = *low;
    out.sections.back().end = *high;
  }

  for (std::size_t k = 0; k < out.sections.size(); ++k) {
    const Section& section = out.sections[k];
    SectionRow row;
    row.start = section.start;
    row.end = section.end;
    const bool last = k + 1 == out.sections.size();
    std::vector<std::vector<double>> moduli(page.layers.size());
    std::vector<double> response, adjusted;
    for (std::size_t i = 0; i < profile.stations.size(); ++i) {
      const double x = out.positions.position[i];
      if (x < section.start || (last ? x > section.end : x >= section.end)) continue;
      ++row.stations;
      const ProfileStation& s = profile.stations[i];
      const std::span<const float> e = profile.normalised_modulus(i);
      if (s.normalised)
        for (std::size_t j = 0; j < moduli.size() && j < e.size(); ++j)
          if (std::isfinite(e[j])) moduli[j].push_back(e[j]);
      if (const auto v = value_of(i)) response.push_back(*v);
      if (s.normalised_adjusted_surface_modulus) adjusted.push_back(*s.normalised_adjusted_surface_modulus);
    }
    for (const auto& values : moduli) row.modulus.push_back(spread(values));
    row.response = spread(response);
    row.adjusted = spread(adjusted);
    out.rows.push_back(std::move(row));
  }
  return out;
}

}  // namespace basinfit::survey
