#pragma once
// How well a drop's basin determines its backcalculated moduli.
//
// At the final moduli the sensitivity J[i][k] = d w_i / d log10(E_k) of every sensor's
// deflection to every backcalculated modulus is formed by differences through the layered
// elastic model in double precision (independently of the solver's own single-precision
// Jacobian).  Scaling every modulus by f scales every deflection by 1/f, so the columns of all
// the layers sum to -ln(10) w: when every layer is backcalculated, one column (the deepest
// layer's, the largest) follows from the others and the basin at the reported moduli, and the
// others are one-sided differences from that basin, p - 1 model runs instead of the 2p of
// central differences.  Each sensor has a standard deviation sigma_i = a + b |w_i| (the
// deflection sensor precision).  The fit minimises sum (c_i r_i)^2 with c_i = weight_i /
// measured_i, so the covariance of log10(E) is the weighted least-squares sandwich
//     C = M^-1 (J^T W^2 S J) M^-1,   M = J^T W J,   W = diag(c_i^2),   S = diag(sigma_i^2),
// which equals (A^T A)^-1 with A = diag(1/sigma) J when the fit weights follow the precision.
// Only sensors the fit uses (a weight above 0 and a reading of at least 0.01) count.

#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

// Deflection sensor precision, the random error of one reading: sigma = absolute + relative *
// |reading|.
struct SensorPrecision {
  double absolute = 2.0;    // microns or mils
  double relative = 0.003;  // fraction of the reading
  // A calibrated geophone: 2 microns of random error (2 / 25.4 mils) plus the 0.3 % of the
  // reading its calibration factor may still be off, which differs from sensor to sensor and so
  // acts on a basin as an independent error of each reading.  (2 microns plus 2 % is the
  // accuracy a sensor must meet before calibration, not the scatter of a calibrated one.)
  static SensorPrecision for_units(bool metric);
};

// Step of the central differences in log10(E): 0.5 % of a modulus, well above the model's
// numerical noise and small against the basin's curvature in the modulus.
inline constexpr double kLogModulusStep = 0.002;

// How the columns are formed: central differences (2p model runs; the reference the other is
// checked against), or one-sided differences from the reported basin with the deepest layer's
// column from the scaling identity when every layer is backcalculated (p - 1 runs; p when a
// layer is fixed, and one more when the reported basin is missing).
enum class DifferenceScheme { kCentral, kOneSidedWithScaling };

// d w_i / d log10(E_k) in survey deflection units for the backcalculated layers k (in layer
// order; `layers[k]` is the 0-based layer), at the reported moduli of drop `drop`.
struct Sensitivity {
  bool available = false;  // false when the model fails at a perturbed modulus
  std::size_t count = 0;   // backcalculated layers
  std::array<std::size_t, kMaxLayers> layers{};
  std::array<PerSensor<double>, kMaxLayers> column{};  // column[k][i]
};
Sensitivity sensitivity(const RunSettings& settings, const StationData& station,
                        const StationResults& results, int drop,
                        DifferenceScheme scheme = DifferenceScheme::kOneSidedWithScaling);

Uncertainty analyse_uncertainty(const RunSettings& settings, const StationData& station,
                                const StationResults& results, int drop, const SensorPrecision& precision,
                                DifferenceScheme scheme = DifferenceScheme::kOneSidedWithScaling);

// Eigenvalues (ascending) and eigenvectors (columns) of a symmetric matrix of order n <= 5 by
// cyclic Jacobi rotations; exposed for tests.
struct SymmetricEigen {
  std::array<double, kMaxLayers> values{};
  std::array<std::array<double, kMaxLayers>, kMaxLayers> vectors{};
};
SymmetricEigen symmetric_eigen(std::array<std::array<double, kMaxLayers>, kMaxLayers> matrix, int n);

}  // namespace basinfit::results
