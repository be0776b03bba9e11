#pragma once
// The top of the survey page: the header (title, route, the notice of a run that stopped early,
// run date and engine), the run (input files with their SHA-256, the settings) and the survey
// summary (counts of stations and drops, of convergence words and data-check flags, and the
// spread of every layer's normalised modulus over the stations with several drops).

#include <cstddef>

#include "survey/html_page.h"
#include "survey/internal/page_markup.h"
#include "survey/survey_data.h"

namespace basinfit::survey::html {

// <header> and <section id="run">; `stations` is the number of stations the page holds, which
// the notice of an incomplete run states.
void write_header(Html& h, const SurveyPage& page, std::size_t stations, const RunEnd& end);

// <section id="summary">.
void write_summary(Html& h, const SurveyPage& page, const SurveyProfile& profile);

}  // namespace basinfit::survey::html
