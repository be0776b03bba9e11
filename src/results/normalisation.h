#pragma once
// The station's moduli at the standard load (40 kN, 9000 lbf) as every reader other than the
// reports sees them.
//
// Where the station's drops bracket the standard load (or one drop is at it) the value is the
// reports' own interpolation.  Where they do not (drops at 40.1, 50.3 and 59.8 kN, say), the
// reports print 0; here the value is read off the station's trend of modulus against load, a
// power law log10 E = a + b log10 P fitted over its drops, but only when the nearest drop lies
// within kTrendReach of the standard load, so the trend is carried over a short distance only.
// Otherwise there is no value, and the note says why.

#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

// How far (a fraction of the standard load) the nearest drop may lie from the standard load for
// the trend to carry the moduli to it: 10 %, the tolerance within which a drop counts as on its
// nominal level, over which a stress-dependent modulus changes by a few percent only.
inline constexpr double kTrendReach = 0.10;

// Fills `normalisation`, `normalisation_note`, `normalised_modulus` and (with the temperature
// adjustment) `normalised_adjusted_surface_modulus` of `station`.
void normalise_station(const RunSettings& settings, const StationData& station, const StationResults& results,
                       StationRecord& record);

// The word written for each way a value was obtained: "interpolated", "trend" or "none".
std::string_view normalisation_word(Normalisation normalisation);

}  // namespace basinfit::results
