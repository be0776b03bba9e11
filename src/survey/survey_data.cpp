#include "survey/survey_data.h"

#include <algorithm>
#include <cmath>

namespace basinfit::survey {

SurveyUnits SurveyUnits::for_system(bool metric) {
  if (metric) return SurveyUnits{};
  SurveyUnits u;
  u.metric = false;
  u.modulus = "ksi";
  u.length = "in";
  u.load = "lbf";
  u.deflection = "mils";
  u.temperature =
      "\xC2\xB0"
      "F";
  u.chainage = "ft";
  return u;
}

void SurveyProfile::add(const SurveyStation& s) {
  ProfileStation p;
  p.id = s.id;
  p.chainage = s.chainage;
  if (s.normalised_modulus) {
    p.normalised = true;
    p.normalised_at = static_cast<std::uint32_t>(values.size());
    p.normalised_count = static_cast<std::uint32_t>(s.normalised_modulus->size());
    values.insert(values.end(), s.normalised_modulus->begin(), s.normalised_modulus->end());
  } else if (s.drops.size() > 1) {
    if (without_normalised++ == 0) {
      first_without_id = s.id;
      first_without_note = s.normalisation_note;
    }
  }
  p.normalised_by = s.normalised_by;
  p.normalised_adjusted_surface_modulus = s.normalised_adjusted_surface_modulus;
  p.normalised_centre_deflection = s.normalised_centre_deflection;
  p.first_drop = static_cast<std::uint32_t>(drops.size());
  p.drop_count = static_cast<std::uint32_t>(s.drops.size());
  for (const SurveyDrop& d : s.drops) {
    ProfileDrop drop;
    drop.rms_percent = d.rms_percent;
    for (std::size_t k = 0; k < d.flags.size(); ++k) {
      const std::uint32_t layers = k < d.flag_layers.size() ? d.flag_layers[k] : 0;
      drop.crossed_layers |= layers == 0 ? ~std::uint32_t{0} : layers;
    }
    // Only the moduli the modulus profile draws stay: a cross marks a flagged drop, an open
    // ring the only drop of a station.
    if (drop.crossed_layers != 0 || s.drops.size() == 1) {
      drop.moduli_at = static_cast<std::uint32_t>(values.size());
      drop.moduli_count = static_cast<std::uint32_t>(d.modulus.size());
      values.insert(values.end(), d.modulus.begin(), d.modulus.end());
    }
    for (const float e : d.modulus)
      if (e > 0 && std::isfinite(e)) {
        lowest_drop_modulus = std::min(lowest_drop_modulus.value_or(e), e);
        highest_drop_modulus = std::max(highest_drop_modulus.value_or(e), e);
      }
    for (const float r : d.basin.residual_percent)
      if (std::isfinite(r))
        largest_residual_percent = std::max(largest_residual_percent, std::fabs(static_cast<double>(r)));
    drops.push_back(drop);
  }
  if (first_offsets.empty() && !s.drops.empty()) {
    const SurveyBasin& b = s.drops[0].basin;
    first_offsets.assign(b.offset.begin(), b.offset.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                  b.offset.size(), b.measured.size())));
  }
  any_lane = any_lane || !s.lane.empty();
  any_gps = any_gps || s.latitude || s.longitude;
  any_comment = any_comment || !s.comment.empty();
  stations.push_back(std::move(p));
}

void SurveyProfile::set_normalised(std::size_t index, std::span<const float> modulus) {
  ProfileStation& p = stations[index];
  p.normalised = !modulus.empty();
  p.normalised_at = static_cast<std::uint32_t>(values.size());
  p.normalised_count = static_cast<std::uint32_t>(modulus.size());
  values.insert(values.end(), modulus.begin(), modulus.end());
}

std::span<const float> SurveyProfile::normalised_modulus(std::size_t index) const {
  const ProfileStation& p = stations[index];
  return std::span<const float>(values).subspan(p.normalised_at, p.normalised_count);
}

std::span<const ProfileDrop> SurveyProfile::drops_of(std::size_t index) const {
  const ProfileStation& p = stations[index];
  return std::span<const ProfileDrop>(drops).subspan(p.first_drop, p.drop_count);
}

std::span<const float> SurveyProfile::moduli(const ProfileDrop& drop) const {
  return std::span<const float>(values).subspan(drop.moduli_at, drop.moduli_count);
}

const SurveyProfile& profile_of(const SurveyPage& page, SurveyProfile& made) {
  if (page.stations.empty()) return page.profile;
  made = SurveyProfile{};
  for (const SurveyStation& s : page.stations) made.add(s);
  return made;
}

void add_count(std::vector<SurveyCount>& counts, const std::string& name) {
  const auto it =
      std::find_if(counts.begin(), counts.end(), [&](const SurveyCount& c) { return c.name == name; });
  if (it == counts.end()) {
    counts.push_back({name, 1});
  } else {
    ++it->count;
  }
}

std::vector<SurveyCount> count_convergence(const std::vector<SurveyStation>& stations) {
  std::vector<SurveyCount> counts;
  for (const SurveyStation& station : stations)
    for (const SurveyDrop& drop : station.drops) add_count(counts, drop.convergence_words);
  return counts;
}

std::vector<SurveyCount> count_flags(const std::vector<SurveyStation>& stations) {
  std::vector<SurveyCount> counts;
  for (const SurveyStation& station : stations)
    for (const SurveyDrop& drop : station.drops)
      for (const std::string& flag : drop.flags) add_count(counts, flag);
  return counts;
}

}  // namespace basinfit::survey
