#pragma once
// How well a drop's basin determines its backcalculated moduli.
//
// At the final moduli the sensitivity J[i][k] = d w_i / d log10(E_k) of every sensor's
// deflection to every backcalculated modulus is formed by central differences through the
// layered elastic model in double precision (independently of the solver's own single-
// precision Jacobian).  Each sensor has a standard deviation sigma_i = a + b |w_i| (the
// deflection sensor precision).  The fit minimises sum (c_i r_i)^2 with c_i = weight_i /
// measured_i, so the covariance of log10(E) is the weighted least-squares sandwich
//     C = M^-1 (J^T W^2 S J) M^-1,   M = J^T W J,   W = diag(c_i^2),   S = diag(sigma_i^2),
// which equals (A^T A)^-1 with A = diag(1/sigma) J when the fit weights follow the precision.
// Only sensors the fit uses (a weight above 0 and a reading of at least 0.01) count.

#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

// Deflection sensor precision: sigma = absolute + relative * |reading|.
struct SensorPrecision {
  double absolute = 2.0;   // microns or mils
  double relative = 0.02;  // fraction of the reading
  // 2 microns plus 2 % (2 microns = 2 / 25.4 mils).
  static SensorPrecision for_units(bool metric);
};

// Step of the central differences in log10(E): 0.5 % of a modulus, well above the model's
// numerical noise and small against the basin's curvature in the modulus.
inline constexpr double kLogModulusStep = 0.002;

// d w_i / d log10(E_k) in survey deflection units for the backcalculated layers k (in layer
// order; `layers[k]` is the 0-based layer), at the reported moduli of drop `drop`.
struct Sensitivity {
  bool available = false;  // false when the model fails at a perturbed modulus
  std::size_t count = 0;   // backcalculated layers
  std::array<std::size_t, kMaxLayers> layers{};
  std::array<PerSensor<double>, kMaxLayers> column{};  // column[k][i]
};
Sensitivity sensitivity(const RunSettings& settings, const StationData& station,
                        const StationResults& results, int drop);

Uncertainty analyse_uncertainty(const RunSettings& settings, const StationData& station,
                                const StationResults& results, int drop, const SensorPrecision& precision);

// Eigenvalues (ascending) and eigenvectors (columns) of a symmetric matrix of order n <= 5 by
// cyclic Jacobi rotations; exposed for tests.
struct SymmetricEigen {
  std::array<double, kMaxLayers> values{};
  std::array<std::array<double, kMaxLayers>, kMaxLayers> vectors{};
};
SymmetricEigen symmetric_eigen(std::array<std::array<double, kMaxLayers>, kMaxLayers> matrix, int n);

}  // namespace basinfit::results
