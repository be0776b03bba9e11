#include "results/uncertainty.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

#include "model/response_model.h"
#include "run/model_wrapper.h"

namespace basinfit::results {

namespace {

using Matrix = std::array<std::array<double, kMaxLayers>, kMaxLayers>;

// pi as the driver holds it, so the plate pressure is the one the fit used.
constexpr float kPi = 3.1415927f;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Eigenvalues below this fraction of the largest leave a combination of moduli undetermined.
constexpr double kSingularRatio = 1e-14;

// Sensor deflections (survey units) from a model result, or false when the model failed.
bool deflections(const model::ModelResult& result, std::size_t count, double deflection_factor,
                 PerSensor<double>& out) {
  if (!model::succeeded(result.status)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = -1000.0 * result.rows[i][model::kDisplacementZ] / deflection_factor;
    if (!std::isfinite(out[i])) return false;
  }
  return true;
}

}  // namespace

SensorPrecision SensorPrecision::for_units(bool metric) {
  return metric ? SensorPrecision{2.0, 0.003} : SensorPrecision{2.0 / 25.4, 0.003};
}

SymmetricEigen symmetric_eigen(Matrix a, int n) {
  SymmetricEigen e;
  const auto size = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < size; ++i) e.vectors[i][i] = 1.0;
  for (int sweep = 0; sweep < 60; ++sweep) {
    double off = 0;
    for (std::size_t p = 0; p < size; ++p)
      for (std::size_t q = p + 1; q < size; ++q) off += a[p][q] * a[p][q];
    if (off == 0.0) break;
    for (std::size_t p = 0; p < size; ++p) {
      for (std::size_t q = p + 1; q < size; ++q) {
        if (a[p][q] == 0.0) continue;
        // The rotation that zeroes a[p][q] (the stable form of the classical Jacobi method).
        const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        for (std::size_t k = 0; k < size; ++k) {
          const double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (std::size_t k = 0; k < size; ++k) {
          const double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (std::size_t k = 0; k < size; ++k) {
          const double vkp = e.vectors[k][p], vkq = e.vectors[k][q];
          e.vectors[k][p] = c * vkp - s * vkq;
          e.vectors[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  // Ascending order by insertion (n is at most five), vectors following their values.
  std::array<std::size_t, kMaxLayers> order{0, 1, 2, 3, 4};
  for (std::size_t i = 1; i < size; ++i)
    for (std::size_t k = i; k > 0 && a[order[k]][order[k]] < a[order[k - 1]][order[k - 1]]; --k)
      std::swap(order[k], order[k - 1]);
  SymmetricEigen sorted;
  for (std::size_t i = 0; i < size; ++i) {
    sorted.values[i] = a[order[i]][order[i]];
    for (std::size_t k = 0; k < size; ++k) sorted.vectors[k][i] = e.vectors[k][order[i]];
  }
  return sorted;
}

Sensitivity sensitivity(const RunSettings& s, const StationData& st, const StationResults& r, int drop,
                        DifferenceScheme scheme) {
  Sensitivity out;
  const auto d = static_cast<std::size_t>(drop - 1);
  const auto layers = static_cast<std::size_t>(s.layer_count);
  for (std::size_t j = 0; j < layers; ++j)
    if (s.layers[j].backcalculated()) out.layers[out.count++] = j;
  if (out.count == 0) return out;

  // The layer system, plate and sensors exactly as the fit saw them.
  const model::LayerSystem base = wrapper_layer_system(s, st, r.modulus[d]);
  const float radius = s.plate_radius * s.units.length;
  const float pressure = st.load[d] * s.units.load / (kPi * (radius * radius));
  const model::CircularLoad load{static_cast<double>(pressure), static_cast<double>(radius), 0.0, 0.0};
  const auto sensors = static_cast<std::size_t>(s.sensor_count);
  std::array<model::EvaluationPoint, model::kMaxPoints> points{};
  for (std::size_t i = 0; i < sensors; ++i)
    points[i] = model::EvaluationPoint{0.0, static_cast<double>(s.sensor_offset[i] * s.units.length), 0.0, 1};
  const double deflection_factor = static_cast<double>(s.units.deflection);

  // The perturbed systems: (layer k, +1 or -1) each, and the unperturbed one (k = count) when
  // the reported basin is needed and missing.  They share loads, points and thicknesses and run
  // side by side (each result is bit for bit its own evaluation's).
  const bool central = scheme == DifferenceScheme::kCentral;
  // The scaling identity needs every modulus of the model among the columns.
  const bool scaling = !central && out.count == layers;
  const std::size_t free_column = scaling ? out.count - 1 : out.count;
  PerSensor<double> reported{};
  bool have_reported = false;
  if (!central) {
    // The basin the engine computed at the reported moduli (single precision; zero when the model
    // failed there).
    have_reported = true;
    for (std::size_t i = 0; i < sensors; ++i) {
      reported[i] = static_cast<double>(r.calculated[d][i]);
      if (!(reported[i] > 0) || !std::isfinite(reported[i])) have_reported = false;
    }
  }
  struct Run {
    std::size_t column;
    double sign;
  };
  std::array<Run, 2 * kMaxLayers + 1> runs{};
  std::size_t count = 0;
  for (std::size_t k = 0; k < out.count; ++k) {
    if (k == free_column) continue;
    runs[count++] = {k, 1.0};
    if (central) runs[count++] = {k, -1.0};
  }
  if (!central && !have_reported) runs[count++] = {out.count, 0.0};
  std::array<model::LayerSystem, 2 * kMaxLayers + 1> systems{};
  for (std::size_t n = 0; n < count; ++n) {
    model::LayerSystem& system = systems[n];
    system = base;
    if (runs[n].column == out.count) continue;
    // Layers below the last one repeat it in the model, so a change of the last layer's modulus
    // changes them too.
    const double factor = std::pow(10.0, runs[n].sign * kLogModulusStep);
    for (std::size_t j = 0; j < model::kMaxLayers; ++j) {
      const std::size_t from = j < layers ? j : layers - 1;
      if (from == out.layers[runs[n].column]) system.modulus[j] = base.modulus[j] * factor;
    }
  }
  std::array<model::ModelResult, 2 * kMaxLayers + 1> evaluated{};
  model::evaluate_responses(std::span<const model::LayerSystem>(systems.data(), count),
                            std::span<const model::CircularLoad>(&load, 1),
                            std::span<const model::EvaluationPoint>(points.data(), sensors),
                            std::span<model::ModelResult>(evaluated.data(), count));
  std::array<PerSensor<double>, 2 * kMaxLayers + 1> basin{};
  for (std::size_t n = 0; n < count; ++n) {
    if (!deflections(evaluated[n], sensors, deflection_factor, basin[n])) return out;
    if (runs[n].column == out.count) reported = basin[n];
  }

  if (central) {
    for (std::size_t k = 0; k < out.count; ++k)
      for (std::size_t i = 0; i < sensors; ++i)
        out.column[k][i] = (basin[2 * k][i] - basin[2 * k + 1][i]) / (2.0 * kLogModulusStep);
  } else {
    for (std::size_t n = 0; n < count; ++n) {
      if (runs[n].column == out.count) continue;
      for (std::size_t i = 0; i < sensors; ++i)
        out.column[runs[n].column][i] = (basin[n][i] - reported[i]) / kLogModulusStep;
    }
    if (scaling) {
      for (std::size_t i = 0; i < sensors; ++i) {
        double others = 0;
        for (std::size_t k = 0; k < out.count; ++k)
          if (k != free_column) others += out.column[k][i];
        out.column[free_column][i] = -std::log(10.0) * reported[i] - others;
      }
    }
  }
  out.available = true;
  return out;
}

Uncertainty analyse_uncertainty(const RunSettings& s, const StationData& st, const StationResults& r,
                                int drop, const SensorPrecision& precision, DifferenceScheme scheme) {
  Uncertainty u;
  const auto d = static_cast<std::size_t>(drop - 1);
  const Sensitivity j = sensitivity(s, st, r, drop, scheme);
  const std::size_t p = j.count;
  if (p == 0 || !j.available) return u;
  const std::array<std::size_t, kMaxLayers>& fitted = j.layers;
  const std::array<PerSensor<double>, kMaxLayers>& jacobian = j.column;
  const auto sensors = static_cast<std::size_t>(s.sensor_count);

  // Normal matrices of the fit's weighting (M), of the precision-weighted sensitivity (A^T A),
  // and the middle of the sandwich (J^T W^2 S J).
  Matrix normal{}, precision_normal{}, middle{};
  for (std::size_t i = 0; i < sensors; ++i) {
    const float m = st.measured[d][i];
    const float w = r.weight[d][i];
    if (!(w > 0) || m < 0.01f) continue;
    const double c = static_cast<double>(w) / static_cast<double>(m);
    const double sigma = precision.absolute + precision.relative * std::fabs(static_cast<double>(m));
    for (std::size_t k = 0; k < p; ++k)
      for (std::size_t l = 0; l < p; ++l) {
        const double jj = jacobian[k][i] * jacobian[l][i];
        normal[k][l] += c * c * jj;
        precision_normal[k][l] += jj / (sigma * sigma);
        middle[k][l] += c * c * c * c * sigma * sigma * jj;
      }
  }
  const int n = static_cast<int>(p);
  u.available = true;

  const SymmetricEigen a = symmetric_eigen(precision_normal, n);
  const double largest = a.values[p - 1];
  const bool precision_singular = !(largest > 0) || a.values[0] <= kSingularRatio * largest;
  u.condition_number = precision_singular ? kInfinity : std::sqrt(largest / a.values[0]);

  const SymmetricEigen e = symmetric_eigen(normal, n);
  const double top = e.values[p - 1];
  if (!(top > 0) || e.values[0] <= kSingularRatio * top) {
    // Some combination of moduli leaves the basin unchanged: nothing pins it down.
    for (std::size_t k = 0; k < p; ++k) u.standard_error_percent[fitted[k]] = kInfinity;
    if (p >= 2) {
      u.max_correlation = 1.0;
      // The pair that moves most in the undetermined direction.
      std::size_t best_k = 0, best_l = 1;
      double best = -1;
      for (std::size_t k = 0; k < p; ++k)
        for (std::size_t l = k + 1; l < p; ++l) {
          const double both = std::fabs(e.vectors[k][0]) * std::fabs(e.vectors[l][0]);
          if (both > best) best = both, best_k = k, best_l = l;
        }
      u.correlated_layers = {static_cast<int>(fitted[best_k]) + 1, static_cast<int>(fitted[best_l]) + 1};
      u.correlation[fitted[best_k]][fitted[best_l]] = 1.0;
      u.correlation[fitted[best_l]][fitted[best_k]] = 1.0;
    }
    return u;
  }
  Matrix inverse{};
  for (std::size_t k = 0; k < p; ++k)
    for (std::size_t l = 0; l < p; ++l)
      for (std::size_t q = 0; q < p; ++q) inverse[k][l] += e.vectors[k][q] * e.vectors[l][q] / e.values[q];
  Matrix half{}, covariance{};
  for (std::size_t k = 0; k < p; ++k)
    for (std::size_t l = 0; l < p; ++l)
      for (std::size_t q = 0; q < p; ++q) half[k][l] += inverse[k][q] * middle[q][l];
  for (std::size_t k = 0; k < p; ++k)
    for (std::size_t l = 0; l < p; ++l)
      for (std::size_t q = 0; q < p; ++q) covariance[k][l] += half[k][q] * inverse[q][l];

  // A standard error of sigma in log10(E) is ln(10) sigma of the modulus, to first order.
  for (std::size_t k = 0; k < p; ++k)
    u.standard_error_percent[fitted[k]] = 100.0 * std::log(10.0) * std::sqrt(std::max(covariance[k][k], 0.0));
  if (p >= 2) {
    u.max_correlation = 0;
    for (std::size_t k = 0; k < p; ++k)
      for (std::size_t l = k + 1; l < p; ++l) {
        const double denominator = std::sqrt(covariance[k][k] * covariance[l][l]);
        const double rho = denominator > 0 ? std::fabs(covariance[k][l]) / denominator : 1.0;
        u.correlation[fitted[k]][fitted[l]] = std::min(rho, 1.0);
        u.correlation[fitted[l]][fitted[k]] = std::min(rho, 1.0);
        if (rho > u.max_correlation || u.correlated_layers[0] == 0) {
          u.max_correlation = std::min(rho, 1.0);
          u.correlated_layers = {static_cast<int>(fitted[k]) + 1, static_cast<int>(fitted[l]) + 1};
        }
      }
  }
  return u;
}

}  // namespace basinfit::results
