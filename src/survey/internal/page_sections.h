#pragma once
// The survey page's uniform sections: how they were cut (the response, the least number of
// stations and length of a section, the difference that merges neighbours) and one row per
// section with its extent, its stations and the mean and coefficient of variation of the
// response and of every layer's normalised modulus.  The rows carry their extent as data
// (`data-start`, `data-end`) so a reader can check that they tile the route.

#include "survey/internal/page_markup.h"
#include "survey/survey_data.h"
#include "survey/survey_layout.h"

namespace basinfit::survey::html {

// <section id="sections"> with its table (id "section-table", `data-count` the number of rows).
void write_sections(Html& h, const SurveyPage& page, const SurveyLayout& layout,
                    const ReportOptions& options);

}  // namespace basinfit::survey::html
