#include "results/records.h"

namespace basinfit::results {

const std::array<FlagDescription, kFlagCount>& drop_flags() {
  static constexpr std::array<FlagDescription, kFlagCount> kFlags{{
      {kDeflectionNotPositive, "deflection_not_positive", "a measured deflection is zero or negative"},
      {kBasinNotDecreasing, "basin_not_decreasing",
       "a reading exceeds the one nearer the load by more than 2 microns (0.0787 mils) and 2 % of it"},
      {kLoadOffLevel, "load_off_level", "the load is more than 10 % off the nearest nominal drop level"},
      {kRmsHigh, "rms_high", "the relative RMS error of the fit is above 2 %"},
      {kNotConverged, "not_converged",
       "the fit met no convergence test (singular or false convergence, a limit, or a failure code)"},
      {kModulusAtBound, "modulus_at_bound", "a backcalculated modulus lies within 1 % of one of its bounds"},
      {kPoorlyDetermined, "poorly_determined", "a backcalculated modulus has a standard error above 25 %"},
      {kNotSeparable, "not_separable", "two backcalculated moduli correlate by more than 0.95"},
      {kNonUnique, "non_unique",
       "a side fit from another seed fits as well (RMS within 10 % or better) with a modulus over 20 % "
       "apart"},
      {kUncertaintyFailed, "uncertainty_failed",
       "the model could not be evaluated around the final moduli, so no uncertainty is given"},
  }};
  return kFlags;
}

std::string flag_names(std::uint32_t flags) {
  std::string names;
  for (const FlagDescription& f : drop_flags()) {
    if ((flags & f.flag) == 0) continue;
    if (!names.empty()) names += ';';
    names += f.name;
  }
  return names;
}

}  // namespace basinfit::results
