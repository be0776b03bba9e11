#pragma once
// A survey's device file as the workbench shows it before any fit: its stations along the
// chainage, each drop with its basin in the run's units and the raw-data flags the engine would
// raise, read with the survey's own import options (units, sensors, identifiers).

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "import/run_folder.h"
#include "import/survey.h"

namespace basinfit::workbench {

// The identifiers the engine will know the survey's test points by, in source order; where the
// importer would refuse the survey, what identifies each point in the source.
std::vector<std::string> station_identifiers(const import::SourceSurvey& survey,
                                             const import::ImportOptions& options);

nlohmann::ordered_json survey_preview(const std::string& name, const import::SourceSurvey& survey,
                                      const import::ImportOptions& options);

}  // namespace basinfit::workbench
