#include "results/data_checks.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "report/report_words.h"

namespace basinfit::results {

CheckLimits CheckLimits::for_units(bool metric) {
  CheckLimits limits;
  for (const double kilonewtons : {26.7, 40.0, 53.4, 71.2})
    limits.load_levels.push_back(metric ? kilonewtons * 1000.0
                                        : kilonewtons * 1000.0 / kNewtonsPerPoundForce);
  limits.basin_rise_absolute = metric ? 2.0 : 2.0 / kMicronsPerMil;
  return limits;
}

bool converged(int code) {
  // 2-4: the engine's own RMS and modulus tolerances; 13-16: the solver's x-, relative- and
  // absolute-function convergence.  Singular or false convergence, the limits and every other
  // code leave the moduli unconfirmed.
  return (code >= 2 && code <= 4) || (code >= 13 && code <= 16);
}

std::uint32_t check_drop(const RunSettings& s, const StationData& st, const StationResults& r, int drop,
                         const CheckLimits& limits, DropRecord* record) {
  const auto d = static_cast<std::size_t>(drop - 1);
  const auto sensors = static_cast<std::size_t>(s.sensor_count);
  const auto& measured = st.measured[d];
  std::uint32_t flags = 0;

  for (std::size_t i = 0; i < sensors; ++i)
    if (!(measured[i] > 0)) flags |= kDeflectionNotPositive;

  // A basin falls with distance from the load; a reading well above its inner neighbour is a
  // sensor fault, a crack or a void.  The sensors are taken in order of their offsets.
  std::array<std::size_t, kMaxSensors> order{};
  std::iota(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(sensors), std::size_t{0});
  std::stable_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(sensors),
                   [&](std::size_t a, std::size_t b) { return s.sensor_offset[a] < s.sensor_offset[b]; });
  for (std::size_t k = 1; k < sensors; ++k) {
    const double inner = measured[order[k - 1]];
    const double outer = measured[order[k]];
    const double allowed =
        std::max(limits.basin_rise_absolute, limits.basin_rise_relative * std::fabs(inner));
    if (outer - inner > allowed) flags |= kBasinNotDecreasing;
  }

  if (!limits.load_levels.empty()) {
    const double load = st.load[d];
    double nearest = limits.load_levels.front();
    for (const double level : limits.load_levels)
      if (std::fabs(load - level) < std::fabs(load - nearest)) nearest = level;
    if (std::fabs(load - nearest) > limits.load_tolerance * std::fabs(nearest)) flags |= kLoadOffLevel;
  }

  if (r.rms_error[d] > limits.rms_limit_percent || std::isnan(r.rms_error[d])) flags |= kRmsHigh;

  bool any_backcalculated = false;
  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
    const LayerSettings& layer = s.layers[j];
    if (!layer.backcalculated()) continue;
    any_backcalculated = true;
    // The solver works within the exponents of the bounds; the margin applies to the moduli.
    const double e = r.modulus[d][j];
    const double lower = std::pow(10.0, static_cast<double>(layer.lower_exponent));
    const double upper = std::pow(10.0, static_cast<double>(layer.upper_exponent));
    const bool at_lower = e <= lower * (1.0 + limits.bound_margin);
    if (at_lower || e >= upper * (1.0 - limits.bound_margin)) {
      flags |= kModulusAtBound;
      if (record != nullptr) {
        record->layer_flags[j] |= kModulusAtBound;
        record->bound_reached[j] = at_lower ? lower : upper;
      }
    }
  }
  // With every modulus fixed there is no search that could fail to converge.
  if (any_backcalculated && !converged(r.convergence_code[d])) flags |= kNotConverged;
  return flags;
}

std::uint32_t uncertainty_flags(const Uncertainty& u, int backcalculated_layers, const CheckLimits& limits,
                                PerLayer<std::uint32_t>* layer_flags) {
  if (backcalculated_layers == 0) return 0;
  if (!u.available) return kUncertaintyFailed;
  std::uint32_t flags = 0;
  for (std::size_t j = 0; j < kMaxLayers; ++j) {
    const double se = u.standard_error_percent[j];
    if (missing(se) || !(se > limits.standard_error_limit_percent)) continue;
    flags |= kPoorlyDetermined;
    if (layer_flags != nullptr) (*layer_flags)[j] |= kPoorlyDetermined;
  }
  if (!missing(u.max_correlation) && u.max_correlation > limits.correlation_limit) flags |= kNotSeparable;
  if (layer_flags != nullptr)
    for (std::size_t k = 0; k < kMaxLayers; ++k)
      for (std::size_t l = 0; l < kMaxLayers; ++l)
        if (k != l && !missing(u.correlation[k][l]) && u.correlation[k][l] > limits.correlation_limit)
          (*layer_flags)[k] |= kNotSeparable;
  return flags;
}

bool implausible_law(int soil_type, double k2) {
  if (soil_type == 1) return !(k2 >= 0.0 && k2 <= kCoarseK2Max);
  if (soil_type == 2) return !(k2 <= 0.0 && k2 >= kFineK2Min);
  return false;
}

}  // namespace basinfit::results

namespace basinfit::results {

std::string missing_law_reason(const RunSettings& s, const StationData& st, const StationResults& r,
                               std::size_t layer) {
  if (has_stress_fit(r.statistics.soil_type[layer])) return "";
  if (!s.layers[layer].backcalculated()) return "a fixed layer";
  if (static_cast<int>(layer) >= s.layers_above_stiff()) return "no stresses in a stiff layer";
  std::vector<std::size_t> used;
  for (std::size_t d = 0; d < static_cast<std::size_t>(st.drop_count); ++d)
    if (!r.responses.missing[d]) used.push_back(d);
  if (used.size() < 2) return "fewer than two drops with stresses";
  // The regression's choice: the bulk stress for a layer that stiffens with it, else the
  // deviator stress.
  bool tension = false;
  for (const std::size_t d : used)
    if (!(r.responses.bulk_stress[d][layer] > 0)) tension = true;
  auto slope = [&](bool bulk, double& sxx, double& syy) {
    double x_mean = 0, y_mean = 0;
    for (const std::size_t d : used) {
      x_mean += std::log10(static_cast<double>(bulk ? r.responses.bulk_stress[d][layer]
                                                    : r.responses.deviator_stress[d][layer]));
      y_mean += std::log10(static_cast<double>(r.modulus[d][layer]));
    }
    x_mean /= static_cast<double>(used.size());
    y_mean /= static_cast<double>(used.size());
    double sxy = 0;
    sxx = 0;
    syy = 0;
    for (const std::size_t d : used) {
      const double x = std::log10(static_cast<double>(bulk ? r.responses.bulk_stress[d][layer]
                                                           : r.responses.deviator_stress[d][layer])) -
                       x_mean;
      const double y = std::log10(static_cast<double>(r.modulus[d][layer])) - y_mean;
      sxx += x * x;
      sxy += x * y;
      syy += y * y;
    }
    return sxx > 0 ? sxy / sxx : 0.0;
  };
  double sxx = 0, syy = 0;
  const bool coarse = !tension && slope(true, sxx, syy) > 0;
  if (!coarse)
    for (const std::size_t d : used)
      if (!(r.responses.deviator_stress[d][layer] > 0))
        return "a deviator stress of 0 at a drop (no logarithm)";
  const double k2 = slope(coarse, sxx, syy);
  if (!(sxx > 0)) return "the same stress at every drop";
  if (!(syy > 0)) return "the same modulus at every drop";
  if (!coarse && k2 > 0)
    return "a fine layer (deviator-stress law) whose modulus rises with the deviator stress";
  return "no law within single precision";
}

}  // namespace basinfit::results
