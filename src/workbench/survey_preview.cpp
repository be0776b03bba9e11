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

namespace {

// The survey in the run's units, its basins over the sensors the importer keeps, each drop with
// the raw-data flags the engine would raise (deflection, basin shape, load level: the flags of a
// fit need a fit).
class Preview {
 public:
  Preview(const imp::SourceSurvey& survey, const imp::ImportOptions& options)
      : survey_(survey),
        english_(options.english.value_or(survey.english())),
        force_(english_ ? imp::Unit::kPoundForce : imp::Unit::kNewton),
        deflection_(english_ ? imp::Unit::kMil : imp::Unit::kMicron),
        offset_(english_ ? imp::Unit::kInch : imp::Unit::kCentimetre),
        chainage_(english_ ? imp::Unit::kFoot : imp::Unit::kMetre),
        limits_(results::CheckLimits::for_units(!english_)) {
    for (const imp::KeptSensor& k : imp::kept_sensors(survey, options))
      sensors_.push_back({k.index, imp::convert(k.offset, survey.length_unit, offset_)});
    settings_.sensor_count = static_cast<int>(sensors_.size());
    for (std::size_t k = 0; k < sensors_.size(); ++k)
      settings_.sensor_offset[k] = static_cast<float>(sensors_[k].offset);
  }

  Json header(const std::string& name) const {
    Json out;
    out["survey"] = name;
    out["format"] = survey_.format;
    out["file"] = fs::path(survey_.file).filename().string();
    out["route"] = survey_.route;
    out["english"] = english_;
    out["units"] = {{"load", imp::symbol(force_)},
                    {"deflection", english_ ? "mils" : "um"},
                    {"offset", imp::symbol(offset_)},
                    {"chainage", imp::symbol(chainage_)}};
    out["offsets"] = Json::array();
    for (const Kept& k : sensors_) out["offsets"].push_back(k.offset);
    return out;
  }

  Json station(std::size_t i, const std::string& id) const {
    const imp::SourceStation& st = survey_.stations[i];
    Json station{{"index", i + 1}, {"id", id}, {"lane", st.lane}};
    if (st.chainage) station["chainage"] = imp::convert(*st.chainage, survey_.chainage_unit, chainage_);
    station["drops"] = Json::array();
    std::vector<const imp::SourceDrop*> ordered;
    for (const imp::SourceDrop& d : st.drops) ordered.push_back(&d);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto* a, const auto* b) { return a->sequence < b->sequence; });
    for (const imp::SourceDrop* d : ordered) station["drops"].push_back(drop(*d));
    return station;
  }

 private:
  struct Kept {
    std::size_t index;  // in the source's sensors
    double offset;      // in the run's offset unit
  };

  Json drop(const imp::SourceDrop& d) const {
    constexpr std::uint32_t kRawData =
        results::kDeflectionNotPositive | results::kBasinNotDecreasing | results::kLoadOffLevel;
    StationData data;
    Json drop{{"seq", d.sequence}};
    Json basin = Json::array();
    for (std::size_t k = 0; k < sensors_.size(); ++k) {
      const auto& v =
          sensors_[k].index < d.deflections.size() ? d.deflections[sensors_[k].index] : std::nullopt;
      const double value = v ? imp::convert(*v, survey_.deflection_unit, deflection_) : 0.0;
      data.measured[0][k] = static_cast<float>(value);
      basin.push_back(v ? Json(value) : Json());
    }
    results::CheckLimits limits = limits_;
    if (d.load) {
      const double load = imp::convert(*d.load, survey_.load_unit, force_);
      data.load[0] = static_cast<float>(load);
      drop["load"] = load;
    } else {
      limits.load_levels.clear();
    }
    if (d.height) drop["height"] = *d.height;
    drop["basin"] = basin;
    drop["flags"] =
        results::flag_names(results::check_drop(settings_, data, StationResults{}, 1, limits) & kRawData);
    if (!d.problem.empty()) drop["problem"] = d.problem;
    drop["where"] = d.ref.text();
    return drop;
  }

  const imp::SourceSurvey& survey_;
  const bool english_;
  const imp::Unit force_, deflection_, offset_, chainage_;
  const results::CheckLimits limits_;
  std::vector<Kept> sensors_;
  RunSettings settings_;
};

}  // namespace

Json survey_preview(const std::string& name, const imp::SourceSurvey& survey,
                    const imp::ImportOptions& options) {
  const Preview preview(survey, options);
  Json out = preview.header(name);
  const std::vector<std::string> ids = station_identifiers(survey, options);
  out["stations"] = Json::array();
  long drops = 0;
  for (std::size_t i = 0; i < survey.stations.size(); ++i) {
    out["stations"].push_back(preview.station(i, ids[i]));
    drops += static_cast<long>(survey.stations[i].drops.size());
  }
  out["drops"] = drops;
  out["notes"] = survey.notes;
  return out;
}

}  // namespace basinfit::workbench
