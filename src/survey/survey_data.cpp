#include "survey/survey_data.h"

#include <algorithm>

namespace basinfit::survey {
namespace {

void add(std::vector<SurveyCount>& counts, const std::string& name) {
  const auto it =
      std::find_if(counts.begin(), counts.end(), [&](const SurveyCount& c) { return c.name == name; });
  if (it == counts.end()) {
    counts.push_back({name, 1});
  } else {
    ++it->count;
  }
}

}  // namespace

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

std::vector<SurveyCount> count_convergence(const std::vector<SurveyStation>& stations) {
  std::vector<SurveyCount> counts;
  for (const SurveyStation& station : stations)
    for (const SurveyDrop& drop : station.drops) add(counts, drop.convergence_words);
  return counts;
}

std::vector<SurveyCount> count_flags(const std::vector<SurveyStation>& stations) {
  std::vector<SurveyCount> counts;
  for (const SurveyStation& station : stations)
    for (const SurveyDrop& drop : station.drops)
      for (const std::string& flag : drop.flags) add(counts, flag);
  return counts;
}

}  // namespace basinfit::survey
