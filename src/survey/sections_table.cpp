#include "survey/sections_table.h"

#include <algorithm>
#include <cmath>

#include "common/csv.h"

namespace basinfit::survey {

std::optional<double> normalised_centre_deflection(const results::StationRecord& station) {
  const double p0 = station.metric ? 40000.0 : 9000.0;
  const results::DropRecord* below = nullptr;
  const results::DropRecord* above = nullptr;
  const results::DropRecord* nearest = nullptr;
  for (const results::DropRecord& drop : station.drops) {
    const double load = drop.load;
    if (!(load > 0) || drop.sensors.empty()) continue;
    const double centre = drop.sensors.front().measured;
    if (load == p0) return centre;
    if (load < p0 && (below == nullptr || load > below->load)) below = &drop;
    if (load > p0 && (above == nullptr || load < above->load)) above = &drop;
    if (nearest == nullptr || std::fabs(load - p0) < std::fabs(nearest->load - p0)) nearest = &drop;
  }
  if (below != nullptr && above != nullptr) {
    const double lo = below->sensors.front().measured, hi = above->sensors.front().measured;
    return lo + (hi - lo) * (p0 - below->load) / (static_cast<double>(above->load) - below->load);
  }
  if (nearest == nullptr) return std::nullopt;
  return nearest->sensors.front().measured * p0 / nearest->load;
}

void SectionsTable::add(const results::StationRecord& station) {
  Normalised values;
  if (station.normalisation != results::Normalisation::kNone) {
    std::vector<float> modulus;
    for (std::size_t j = 0; j < static_cast<std::size_t>(station.layer_count); ++j)
      modulus.push_back(static_cast<float>(station.normalised_modulus[j]));
    if (std::all_of(modulus.begin(), modulus.end(), [](float e) { return e > 0 && std::isfinite(e); }))
      values.modulus = std::move(modulus);
  }
  if (const auto centre = normalised_centre_deflection(station))
    values.centre_deflection = static_cast<float>(*centre);
  const auto index = static_cast<std::size_t>(std::max(station.sequence, 1) - 1);
  if (stations_.size() <= index) stations_.resize(index + 1);
  stations_[index] = std::move(values);
}

nlohmann::json SectionsTable::write(SurveyPage page, int subgrade_layer, OutputFile& file) const {
  // The sections need only the page's profile: made from its stations when it holds them.
  if (!page.stations.empty()) {
    SurveyProfile made;
    profile_of(page, made);
    page.profile = std::move(made);
    page.stations = {};
  }
  SurveyProfile& profile = page.profile;
  for (std::size_t i = 0; i < profile.stations.size() && i < stations_.size(); ++i) {
    profile.set_normalised(
        i, stations_[i].modulus ? std::span<const float>(*stations_[i].modulus) : std::span<const float>());
    profile.stations[i].normalised_centre_deflection = stations_[i].centre_deflection;
  }
  ReportOptions report;
  report.sections_by = options_.sections_by;
  report.sections.min_length = options_.min_section_length;
  report.subgrade_layer = subgrade_layer;
  const int layers = static_cast<int>(page.layers.size());
  // A layer the run does not have: the sections follow the subgrade, as on the page.
  if (!report.sections_by.deflection && report.sections_by.layer >= layers) report.sections_by.layer = -1;
  const SurveyLayout layout = lay_out_survey(page, report);

  const bool metric = page.units.metric;
  const std::string modulus = metric ? "MPa" : "ksi";
  const std::string deflection = metric ? "um" : "mils";
  const std::string position = layout.positions.unit;
  const std::string response_unit = report.sections_by.deflection ? deflection : modulus;
  std::vector<std::string> header = {"section",
                                     "start_" + position,
                                     "end_" + position,
                                     "stations",
                                     "response_mean_" + response_unit,
                                     "response_cov_percent"};
  for (int j = 1; j <= layers; ++j) {
    header.push_back("E" + std::to_string(j) + "_norm_mean_" + modulus);
    header.push_back("E" + std::to_string(j) + "_norm_cov_percent");
  }
  CsvTable table(file);
  table.header(header);
  // A spread of fewer than two values has no coefficient of variation; none, no mean either.
  auto spread_fields = [](CsvRow& row, const Spread& spread) {
    spread.count > 0 ? row.number(spread.mean) : row.empty();
    spread.count > 1 ? row.number(spread.cov_percent) : row.empty();
  };
  for (std::size_t k = 0; k < layout.rows.size(); ++k) {
    const SectionRow& section = layout.rows[k];
    CsvRow row;
    row.number(static_cast<int>(k) + 1).number(section.start).number(section.end).number(section.stations);
    spread_fields(row, section.response);
    for (std::size_t j = 0; j < static_cast<std::size_t>(layers); ++j)
      spread_fields(row, j < section.modulus.size() ? section.modulus[j] : Spread{});
    table.row(row);
  }
  file.flush();

  const int layer = std::clamp(report.sections_by.layer >= 0 ? report.sections_by.layer : subgrade_layer, 0,
                               std::max(layers - 1, 0));
  return {{"response", layout.response},
          {"response_unit", response_unit},
          {"by", report.sections_by.deflection ? "deflection" : "layer"},
          {"layer", report.sections_by.deflection ? nlohmann::json(nullptr) : nlohmann::json(layer + 1)},
          {"min_section_length", options_.min_section_length},
          {"position_unit", position},
          {"positions_from_identifiers", layout.positions.from_identifiers},
          {"positions_note", layout.positions.note},
          {"min_stations", report.sections.min_stations},
          {"min_relative_difference_percent", report.sections.min_relative_difference * 100.0},
          {"sections", layout.rows.size()},
          {"stations_with_a_value", layout.series_value.size()}};
}

}  // namespace basinfit::survey
