#pragma once
// The structure form of the workbench: a pavement structure as the page edits it (units, title,
// layers, the stiff layer, thickness ranges along the route, evaluation points), turned into the
// importer's structure file and back, and checked by the importer's own structure reader so that
// a message points at the form row it belongs to.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "import/structure.h"
#include "import/survey.h"

namespace basinfit::workbench {

using Json = nlohmann::ordered_json;

// The structure file's text for a form, and for each of its lines the form row it came from
// ({group, index}: "units", "layer" i, "stiff", "range" i, "point" i).
struct StructureText {
  std::string text;
  std::vector<std::pair<std::string, int>> line_rows;  // index 0 is line 1
};
StructureText structure_text(const Json& form);
Json form_from_structure(const import::Structure& structure);

// The form a survey without a structure starts from: a three-layer flexible pavement whose
// thicknesses the engineer must set.
Json default_structure_form();

// The form read by the importer's structure reader: {"ok", "message", "line", "group", "index"}
// naming the form row the message belongs to, and the structure when it reads.
struct FormCheck {
  Json answer;
  std::optional<import::Structure> structure;
};
FormCheck check_structure_form(const Json& form);

// For each station of `survey`, the thickness range of `structure` that covers it (-1 for none).
Json thickness_coverage(const import::Structure& structure, const import::SourceSurvey& survey);

}  // namespace basinfit::workbench
