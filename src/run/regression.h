#pragma once
// Station statistics: the stress-sensitivity law E = K1 (sigma / Pa)^K2 fitted per unbound
// layer over the drops of a station, the soil type that decides which stress governs,
// mean moduli, and moduli normalised to the standard load.

#include "run/run_state.h"

namespace basinfit {

// Unit weights of layers 1 to 4, pounds-force per cubic inch.
inline constexpr std::array<float, 4> kLayerUnitWeight{0.0839f, 0.0752f, 0.0723f, 0.0694f};

// Standard load: 40 kN in metric runs, 9000 lbf in English runs.
inline float standard_load(const RunSettings& s) { return s.metric() ? 40000.0f : 9000.0f; }

// Runs the regression and the station statistics for a station with two or more drops.
// Adds the overburden to the default-point stresses in `results.responses` (the report
// copies were taken before) and writes `results.statistics`.
void regress(const RunSettings& settings, const StationData& station, StationResults& results);

}  // namespace basinfit
