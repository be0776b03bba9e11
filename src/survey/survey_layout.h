#pragma once
// Where the stations lie along the route and the uniform sections found on the chosen
// response: what both the page and the profile charts draw.

#include <cstddef>
#include <string>
#include <vector>

#include "survey/chainage.h"
#include "survey/sections.h"
#include "survey/survey_data.h"

namespace basinfit::survey {

// The response the route is split on: a layer's normalised modulus (0-based layer, or -1 for
// the subgrade given by the page) or the normalised centre deflection.
struct SectionsBy {
  bool deflection = false;
  int layer = -1;
};

struct ReportOptions {
  SectionsBy sections_by;
  SectionOptions sections;
  int subgrade_layer = 0;  // 0-based layer the sections follow by default
};

struct SectionRow {
  double start = 0;
  double end = 0;
  int stations = 0;             // every station within the section's ground
  std::vector<Spread> modulus;  // normalised moduli per layer
  Spread adjusted;              // normalised adjusted surface moduli
  Spread response;              // the sectioned response
};

struct SurveyLayout {
  StationPositions positions;
  std::string response;  // "normalised modulus of Layer 3" or "normalised centre deflection"
  std::string response_unit;
  // Stations with a value of the response, ordered along the route (up the positions).
  std::vector<std::size_t> series_station;
  std::vector<double> series_position;
  std::vector<double> series_value;
  std::vector<Section> sections;  // indices into the series
  std::vector<SectionRow> rows;
};

SurveyLayout lay_out_survey(const SurveyPage& page, const ReportOptions& options);
// The same from the page's profile (profile_of).
SurveyLayout lay_out_survey(const SurveyPage& page, const SurveyProfile& profile,
                            const ReportOptions& options);

}  // namespace basinfit::survey
