#pragma once
// Checks of a drop's raw data and of its fit, each raising one flag of records.h.

#include <cstdint>
#include <string>
#include <vector>

#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

// Limits of the checks.  Deflections and loads are in the survey's units.
struct CheckLimits {
  std::vector<double> load_levels;    // nominal drop levels, N or lbf
  double load_tolerance = 0.10;       // fraction of the nearest level
  double basin_rise_absolute = 2.0;   // microns or mils a reading may exceed the one nearer the load
  double basin_rise_relative = 0.02;  // ... or this fraction of it, whichever is larger
  double rms_limit_percent = 2.0;     // the usual acceptance limit of the relative RMS error
  double bound_margin = 0.01;         // fraction of a bound counted as "at" the bound
  double standard_error_limit_percent = 25.0;
  double correlation_limit = 0.95;
  double multistart_rms_ratio = 1.10;  // a side fit this close in RMS (or better) fits as well
  double multistart_difference_percent = 20.0;

  // The limits of a survey in metric or English units, with the usual drop levels
  // (26.7, 40.0, 53.4 and 71.2 kN) and 2 microns.
  static CheckLimits for_units(bool metric);
};

inline constexpr double kNewtonsPerPoundForce = 4.4482216152605;
inline constexpr double kMicronsPerMil = 25.4;

// True when a convergence code says the fit met one of its convergence tests.
bool converged(int convergence_code);

// The flags of the raw data and of the fit of drop `drop` (1-based): deflections, basin shape,
// load level, RMS error, convergence and moduli at their bounds.  With `record`, also marks each
// layer at a bound in its `layer_flags` and `bound_reached`.
std::uint32_t check_drop(const RunSettings& settings, const StationData& station,
                         const StationResults& results, int drop, const CheckLimits& limits,
                         DropRecord* record = nullptr);

// The flags the uncertainty and the side fits raise.  With `layer_flags`, also marks each layer
// whose standard error is too large (kPoorlyDetermined) and both layers of every pair that
// correlates too closely (kNotSeparable).
std::uint32_t uncertainty_flags(const Uncertainty& uncertainty, int backcalculated_layers,
                                const CheckLimits& limits, PerLayer<std::uint32_t>* layer_flags = nullptr);

// The plausible exponents of the stress-sensitivity law E = K1 (stress / Pa)^K2.  A coarse layer
// (bulk stress) stiffens with stress, K2 >= 0; as the deflection grows as load^(1 - K2), K2 above
// 1 would make a heavier drop deflect less, which no material does.  A fine layer (deviator
// stress) softens, K2 <= 0; below -1 its strain would grow with the square of the stress or
// faster, far outside what laboratory resilient-modulus tests of subgrade soils show.
inline constexpr double kCoarseK2Max = 1.0;
inline constexpr double kFineK2Min = -1.0;

// True when a fitted law's K2 lies outside the plausible range of its soil type (1 coarse,
// 2 fine); false for no fit.
bool implausible_law(int soil_type, double k2);

// Why layer `layer` (0-based, from 1) of a station with statistics has no stress-sensitivity law,
// read from the same drops and stresses the regression used ("" when it has one).
std::string missing_law_reason(const RunSettings& settings, const StationData& station,
                               const StationResults& results, std::size_t layer);

}  // namespace basinfit::results
