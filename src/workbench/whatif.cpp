#include "workbench/internal/whatif.h"

#include <set>

#include "common/input_error.h"
#include "common/replacement_file.h"
#include "import/structure.h"
#include "workbench/error.h"
#include "workbench/internal/structure_form.h"
#include "workbench/internal/survey_preview.h"

namespace basinfit::workbench {
namespace {

namespace imp = basinfit::import;
namespace fs = std::filesystem;

// The engine knows a station by the first ten characters of its identifier.
std::string first10(const std::string& id) {
  std::string s = id.substr(0, 10);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The stations the request keeps, with the drops it leaves out taken away; the number of drops
// left out.
int keep_requested(imp::SourceSurvey& source, const imp::ImportOptions& options,
                   const WhatIfRequest& request) {
  const std::vector<std::string> ids = station_identifiers(source, options);
  std::set<std::string> wanted;
  for (const Json& id : request.stations) wanted.insert(first10(id.get<std::string>()));
  std::vector<imp::SourceStation> kept;
  int dropped = 0;
  for (std::size_t i = 0; i < source.stations.size(); ++i) {
    if (!wanted.empty() && !wanted.count(first10(ids[i]))) continue;
    imp::SourceStation st = source.stations[i];
    for (const auto& [id, sequences] : request.left_out.items()) {
      if (first10(id) != first10(ids[i])) continue;
      std::erase_if(st.drops, [&](const imp::SourceDrop& d) {
        for (const Json& q : sequences)
          if (q.is_number_integer() && q.get<int>() == d.sequence) return ++dropped, true;
        return false;
      });
    }
    kept.push_back(std::move(st));
  }
  if (kept.empty()) throw Error(Error::Kind::kRefused, "no station of '" + request.survey + "' is selected");
  source.stations = std::move(kept);
  return dropped;
}

}  // namespace

Json write_whatif(const fs::path& runs, const std::string& name, imp::SourceSurvey source,
                  const imp::ImportOptions& options, const WhatIfRequest& request) {
  const int dropped = keep_requested(source, options, request);
  const StructureText text = structure_text(request.structure);
  const fs::path structure_file = runs / (name + ".structure.csv");
  try {
    const imp::Structure structure = imp::parse_structure(text.text, structure_file.string());
    imp::write_run_folder((runs / name).string(), imp::assemble_run(source, structure, options), false);
  } catch (const InputError& e) {
    std::error_code ec;
    fs::remove_all(runs / name, ec);
    throw refused(e);
  }
  replace_file(structure_file,
               "# Pavement structure of a what-if run written by basinfit-workbench\n" + text.text,
               "structure file");
  Json description{{"survey", request.survey},
                   {"stations", request.stations},
                   {"left_out", request.left_out},
                   {"drops_left_out", dropped},
                   {"note", request.note}};
  replace_file(runs / (name + ".json"), description.dump(2) + "\n", "what-if description");
  return description;
}

}  // namespace basinfit::workbench
