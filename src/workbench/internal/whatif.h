#pragma once
// A what-if run of a survey: the survey's device file run again with only some stations, some
// drops left out or another structure.  Its run folder is written by the importer, as
// basinfit-import would write it from the same stations, beside its structure file and a
// description of what it changes; the project adds it to the manifest as a run of its own.
//
//   inputs/runs/NAME/                 the run folder
//   inputs/runs/NAME.structure.csv    its structure
//   inputs/runs/NAME.json             {"survey", "stations", "left_out", "drops_left_out", "note"}

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "import/run_folder.h"
#include "import/survey.h"

namespace basinfit::workbench {

struct WhatIfRequest {
  std::string survey;                // the survey it is made from
  nlohmann::ordered_json stations;   // identifiers kept (empty: all)
  nlohmann::ordered_json left_out;   // {identifier: [drop sequence numbers]}
  nlohmann::ordered_json structure;  // the structure form
  std::string note;
};

// Writes the what-if run NAME's files into `runs` from `source` (the survey's device file as
// read) with the survey's import `options`; returns its description.  Throws Error (kRefused)
// naming what the importer refused, leaving nothing behind.
nlohmann::ordered_json write_whatif(const std::filesystem::path& runs, const std::string& name,
                                    import::SourceSurvey source, const import::ImportOptions& options,
                                    const WhatIfRequest& request);

}  // namespace basinfit::workbench
