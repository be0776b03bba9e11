#pragma once
// Shared by the importer's fuzz targets: a source survey read from arbitrary bytes must end in
// a run's input files or in one InputError, never in a crash, a hang or an out-of-bounds access.
// Whatever a reader accepts is carried on through the whole assembly of a run.

#include <cstdlib>
#include <string>

#include "common/input_error.h"
#include "import/run_folder.h"
#include "import/structure.h"
#include "import/survey.h"

namespace basinfit::import::fuzz {

inline void assemble(const SourceSurvey& survey) {
  static const Structure structure = parse_structure(
      "units,metric\nlayer,1,backcalculated,0.35,3000,500,20000\nlayer,2,backcalculated,0.35,300,50,3000\n"
      "layer,3,fixed,0.45,60\nthickness,,,15,30\n",
      "structure.csv");
  for (int variant = 0; variant < 2; ++variant) {
    ImportOptions options;
    if (variant == 1) {
      options.english = !survey.english();
      options.skip_seating = 1;
      options.temperature_adjustment = 0;
      options.plus_notation = true;
    }
    try {
      const RunInput run = assemble_run(survey, structure, options);
      (void)station_table(run);
    } catch (const EngineRefusal&) {
      // What the importer accepts the engine must accept: a refusal by the engine's own
      // readers is a fault of the importer's checks.
      std::abort();
    } catch (const InputError&) {
    }
  }
}

}  // namespace basinfit::import::fuzz
