#pragma once
// The uniform sections of the survey as data: sections.csv beside the other results tables,
// the same sections the survey page draws (lay_out_survey on the collected page), with every
// station's normalised moduli as the results analysis obtained them (interpolated to the
// standard load, or carried there by the station's trend).
//
//   SectionsTable sections({by, min_length});
//   analysis.add_listener([&](const StationRecord& s) { sections.add(s); });
//   analysis.set_sections_writer([&](OutputFile& file) {
//     return sections.write(collector.page(), collector.subgrade(), file); });

#include <nlohmann/json.hpp>
#include <vector>

#include "common/output_file.h"
#include "results/records.h"
#include "survey/survey_data.h"
#include "survey/survey_layout.h"

namespace basinfit::survey {

struct SectionsTableOptions {
  SectionsBy sections_by;  // layer -1: the subgrade
  double min_section_length = 0;
};

// Centre deflection at the standard load from a station's drops: interpolated between the
// nearest drops on either side of it, otherwise scaled in proportion from the drop nearest to
// it; nothing when no drop has a load or a first sensor.
std::optional<double> normalised_centre_deflection(const results::StationRecord& station);

class SectionsTable {
 public:
  explicit SectionsTable(SectionsTableOptions options) : options_(options) {}

  // A recorded station, in survey order.
  void add(const results::StationRecord& station);

  // Writes the sections of `page` (its stations in survey order, with the normalised values of
  // the recorded stations in place of its own) to `file`, a header row with the units and one
  // row per section.  Returns the sectioning settings in effect, for the run record.
  nlohmann::json write(SurveyPage page, int subgrade_layer, OutputFile& file) const;

 private:
  SectionsTableOptions options_;
  struct Normalised {
    std::optional<std::vector<float>> modulus;
    std::optional<float> centre_deflection;
  };
  std::vector<Normalised> stations_;
};

}  // namespace basinfit::survey
