#pragma once
// The words and the one derived number the reports print: convergence texts, position and
// soil-type words, unit labels, and the per-sensor percentage difference.

#include <optional>
#include <string_view>

namespace basinfit {

// What a drop's convergence code means in words.  Codes 2 to 4 are the engine's own RMS and
// modulus tolerance tests; 13 to 21 are the solver's return codes 3 to 11 plus ten.  A code
// outside the table has no text: the detail report writes it as "Error (nn)".
std::optional<std::string_view> convergence_text(int code);

// Position of an evaluation point in its layer: 0 "Top", 1 "Middle", 2 "Bottom".  A code
// outside the table (which input checking should never let through) is written as "N/A"
// rather than read past the end of the word table.
std::string_view position_word(int code);

// Soil type of an unbound layer from the stress-sensitivity regression: 0 "N/A" (no fit
// kept, or a fixed layer), 1 "Coarse" (modulus follows the bulk stress), 2 "Fine" (modulus
// follows the deviator stress).  Any other code is "N/A".
std::string_view soil_type_word(int code);

// True when the regression kept a fit for the layer, so that K1, K2 and R-squared are
// printed rather than "N/A".
bool has_stress_fit(int soil_type);

// 100 (measured - calculated) / measured, in single precision as the engine works; a reading
// of 0.01 or less (report units) is too small to compare against and gives 0.  Positive values
// mean the model deflects less than the pavement.
float percentage_difference(float measured, float calculated);

// The metric or the English form of a label, chosen by the unit flag of the run.
struct LabelChoice {
  bool metric;
  std::string_view operator()(std::string_view metric_label, std::string_view english_label) const {
    return metric ? metric_label : english_label;
  }
};

}  // namespace basinfit
