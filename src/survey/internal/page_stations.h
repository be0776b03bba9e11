#pragma once
// The survey page's station table: one row per station (its position, layer thicknesses,
// temperatures, normalised moduli, stress-law fits, drops, worst fit, flags and notes), each in
// a tbody of its own with a hidden row that holds its drops as compact data.  The page's script
// sorts the tbodies by a column and, when a row unfolds, draws the drops from that data (see
// web/survey/page.js); what it needs for all drops (units, the shared sensor offsets, layer
// names, convergence words, the one residual scale) is the table's `data-page`.
//
// Stations of a collected page are read back one at a time (SurveyPage::station_row), and the
// text is spilled to the page's sink after every station.

#include "survey/internal/page_markup.h"
#include "survey/survey_data.h"
#include "survey/survey_layout.h"

namespace basinfit::survey::html {

// <section id="stations"> with the table (id "station-table").
void write_stations(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                    const SurveyLayout& layout);

// The names of the layers a flag concerns: " (layer 1)", " (layers 2 and 3)", or nothing for a
// flag of the whole drop (bit j of `layers` is layer j + 1).
std::string layer_names(std::uint32_t layers);

}  // namespace basinfit::survey::html
