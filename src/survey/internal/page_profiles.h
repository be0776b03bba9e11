#pragma once
// The survey page's profiles along the route, as inline SVG: the normalised modulus of every
// layer (logarithmic, with each layer's bounds, the stations with a single drop, the moduli
// carried by a trend and the flagged drops marked apart, the adjusted surface modulus dashed),
// and every drop's RMS error against the acceptance limit; both over the uniform sections.
//
// Each mark is written as its station comes, one pass over the stations per kind of mark, so a
// long survey's profile costs no memory of its own; the text is spilled to the page's sink as
// it grows.

#include "survey/internal/page_markup.h"
#include "survey/survey_data.h"
#include "survey/survey_layout.h"

namespace basinfit::survey::html {

// <section id="profiles">: where the positions come from, both charts and their keys.
void write_profiles(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                    const SurveyLayout& layout);

// The charts alone (<svg id="profile-moduli">, <svg id="profile-rms">).
void modulus_profile(Html& h, const SurveyPage& page, const SurveyProfile& profile,
                     const SurveyLayout& layout);
void rms_profile(Html& h, const SurveyPage& page, const SurveyProfile& profile, const SurveyLayout& layout);

}  // namespace basinfit::survey::html
