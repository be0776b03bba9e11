#include "workbench/internal/survey_preview.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "common/input_error.h"
#include "import/survey_files.h"
#include "import/units.h"
#include "results/data_checks.h"
#include "results/records.h"

namespace basinfit::workbench {
namespace {

namespace imp = basinfit::import;
namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string number_json_text(double v) {
  std::string text = Json(v).dump();
  if (text.size() > 2 && text.substr(text.size() - 2) == ".0") text.resize(text.size() - 2);
  return text;
}

}  // namespace

std::vector<std::string> station_identifiers(const imp::SourceSurvey& survey,
                                             const imp::ImportOptions& options) {
  try {
    return imp::engine_identifiers(survey, options);
  } catch (const InputError&) {
  }
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < survey.stations.size(); ++i) {
    const imp::SourceStation& st = survey.stations[i];
    ids.push_back(!st.identifier.empty() ? st.identifier
                  : st.chainage          ? number_json_text(*st.chainage)
                                         : "point " + std::to_string(i + 1));
  }
  return ids;
}

Json survey_preview(const std::string& survey, const imp::SourceSurvey& s,
                    const imp::ImportOptions& options) {
  const bool english = options.english.value_or(s.english());
  const imp::Unit force = english ? imp::Unit::kPoundForce : imp::Unit::kNewton;
  const imp::Unit deflection = english ? imp::Unit::kMil : imp::Unit::kMicron;
  const imp::Unit offset = english ? imp::Unit::kInch : imp::Unit::kCentimetre;
  const imp::Unit chainage = english ? imp::Unit::kFoot : imp::Unit::kMetre;

  // The sensors of the basin as the importer keeps them.
  struct Kept {
    std::size_t index;
    double offset;
  };
  std::vector<Kept> sensors;
  for (const imp::KeptSensor& k : imp::kept_sensors(s, options))
    sensors.push_back({k.index, imp::convert(k.offset, s.length_unit, offset)});

  RunSettings settings;
  settings.sensor_count = static_cast<int>(sensors.size());
  for (std::size_t k = 0; k < sensors.size(); ++k)
    settings.sensor_offset[k] = static_cast<float>(sensors[k].offset);
  const results::CheckLimits limits = results::CheckLimits::for_units(!english);
  constexpr std::uint32_t kRawData =
      results::kDeflectionNotPositive | results::kBasinNotDecreasing | results::kLoadOffLevel;
  const StationResults no_fit{};

  Json out;
  out["survey"] = survey;
  out["format"] = s.format;
  out["file"] = fs::path(s.file).filename().string();
  out["route"] = s.route;
  out["english"] = english;
  out["units"] = {{"load", imp::symbol(force)},
                  {"deflection", english ? "mils" : "um"},
                  {"offset", imp::symbol(offset)},
                  {"chainage", imp::symbol(chainage)}};
  out["offsets"] = Json::array();
  for (const Kept& k : sensors) out["offsets"].push_back(k.offset);
  const std::vector<std::string> ids = station_identifiers(s, options);
  out["stations"] = Json::array();
  long drops = 0;
  for (std::size_t i = 0; i < s.stations.size(); ++i) {
    const imp::SourceStation& st = s.stations[i];
    Json station{{"index", i + 1}, {"id", ids[i]}, {"lane", st.lane}};
    if (st.chainage) station["chainage"] = imp::convert(*st.chainage, s.chainage_unit, chainage);
    station["drops"] = Json::array();
    std::vector<const imp::SourceDrop*> ordered;
    for (const imp::SourceDrop& d : st.drops) ordered.push_back(&d);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto* a, const auto* b) { return a->sequence < b->sequence; });
    for (const imp::SourceDrop* d : ordered) {
      ++drops;
      StationData data;
      Json drop{{"seq", d->sequence}};
      Json basin = Json::array();
      for (std::size_t k = 0; k < sensors.size(); ++k) {
        const auto& v =
            sensors[k].index < d->deflections.size() ? d->deflections[sensors[k].index] : std::nullopt;
        const double value = v ? imp::convert(*v, s.deflection_unit, deflection) : 0.0;
        data.measured[0][k] = static_cast<float>(value);
        basin.push_back(v ? Json(value) : Json());
      }
      results::CheckLimits drop_limits = limits;
      if (d->load) {
        const double load = imp::convert(*d->load, s.load_unit, force);
        data.load[0] = static_cast<float>(load);
        drop["load"] = load;
      } else {
        drop_limits.load_levels.clear();
      }
      if (d->height) drop["height"] = *d->height;
      drop["basin"] = basin;
      drop["flags"] =
          results::flag_names(results::check_drop(settings, data, no_fit, 1, drop_limits) & kRawData);
      if (!d->problem.empty()) drop["problem"] = d->problem;
      drop["where"] = d->ref.text();
      station["drops"].push_back(drop);
    }
    out["stations"].push_back(station);
  }
  out["drops"] = drops;
  out["notes"] = s.notes;
  return out;
}

}  // namespace basinfit::workbench
