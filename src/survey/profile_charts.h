#pragma once
// The two profiles of the survey page as chart files for readers without a browser:
// DIR/profile-moduli.png and .svg (each layer's normalised modulus along the route, on a
// logarithmic modulus axis) and DIR/profile-rms.png and .svg (every drop's RMS error with the
// acceptance limit), drawn by the chart library on its image canvases.

#include <filesystem>

#include "common/output_file.h"
#include "survey/survey_data.h"
#include "survey/survey_layout.h"

namespace basinfit::survey {

// Writes both charts (the folder is created when missing).  A station with one drop is drawn
// with that drop's moduli.  Throws InputError (kFileSystem) naming the file that cannot be
// written; files that are `kept` are refused.
void write_profile_charts(const SurveyPage& page, const SurveyLayout& layout,
                          const std::filesystem::path& folder, const KeptFiles* kept);

}  // namespace basinfit::survey
