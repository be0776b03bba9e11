#include "model/response_model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <type_traits>

#include "model/bessel_series.h"
#include "model/half_space.h"
#include "model/integrand.h"
#include "model/layer_solution.h"
#include "model/panel_kernels.h"
#include "model/principal_values.h"

namespace basinfit::model {

namespace portable {
namespace {
#include "model/layer_solution-inl.h"
// (after the layer solution, whose exp_lanes the integrands use)
#include "model/integrand-inl.h"
}  // namespace
}  // namespace portable

void accumulate_panel_integrals(const PanelIntegrands& integrands, double step, ComponentTable& integral) {
  for (std::size_t node = 0; node < kPanelNodes; ++node) {
    for (std::size_t m = 0; m < kComponents; ++m) {
      for (std::size_t i = 0; i < kMaxPoints; ++i) {
        integral[m][i] = integral[m][i] + integrands[node][m][i] * step * kPanelWeights[node] * kPanelFactor;
      }
    }
  }
}

void fill_panel_integrands(const IntegrandSetting& setting, const BesselLanes& bessel,
                           const PanelLambdas& lambda, const PanelCoefficients& coefficients,
                           PanelIntegrands& out) {
  for (std::size_t m = 0; m < kPanelNodes; ++m) {
    portable::fill_integrand<double, 1>(setting, bessel, lambda[m], coefficients[m], m, out[m]);
  }
}

namespace {

// Single-precision constants widened to double (the panel factor 3/10 is in integrand.h).
constexpr double kSmallStepCap = 0.20000000298023224;
constexpr double kSearchStep = 0.019999999552965164;
constexpr double kStepScale = 0.10000000149011612;
constexpr double kSurfaceEndFactor = 0.07500000000000001;
constexpr double kTerminationMeasure = 9.999999747378752e-05;

static_assert(kBesselLaneCapacity >= kPanelNodes * (kMaxPoints * kMaxLoads + kMaxLoads));

// All state of one evaluation; lives on the caller's stack.
class Evaluation {
 public:
  Evaluation(const LayerSystem& system, std::span<const CircularLoad> loads,
             std::span<const EvaluationPoint> points, const IntegrationLimits& limits,
             const PanelKernels& kernels)
      : system_(system), limits_(limits), kernels_(kernels) {
    in_.modulus = system.modulus;
    in_.poisson = system.poisson;
    in_.load_count = loads.size();
    in_.point_count = points.size();
    const double H1 = system.thickness[0];
    const auto& H = system.thickness;
    in_.depth = {1.0, (H1 + H[1]) / H1, (H1 + H[1] + H[2]) / H1, (H1 + H[1] + H[2] + H[3]) / H1};
    for (std::size_t j = 0; j < in_.load_count; ++j) {
      in_.loads[j] = {loads[j].pressure, loads[j].radius / H1, loads[j].x / H1, loads[j].y / H1};
    }
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      NormalisedPoint& p = in_.points[i];
      p = {points[i].x / H1,
           points[i].y / H1,
           points[i].depth / H1,
           points[i].layer,
           PointKind::kSurface,
           0,
           0};
      if (p.z == 0.0) {
        p.kind = PointKind::kSurface;
      } else if (p.layer == 1) {
        p.kind = PointKind::kLayer1;
      } else if (p.layer >= 2 && p.layer <= 4) {
        p.kind = PointKind::kDeepLayer;
        p.top = in_.depth[static_cast<std::size_t>(p.layer) - 2];
        p.bottom = in_.depth[static_cast<std::size_t>(p.layer) - 1];
      } else {
        p.kind = PointKind::kNoContribution;
      }
      for (std::size_t j = 0; j < in_.load_count; ++j) {
        PointLoadGeometry& g = in_.geometry[i][j];
        const double dx = p.x - in_.loads[j].x;
        const double dy = p.y - in_.loads[j].y;
        g.rho = std::sqrt(dx * dx + dy * dy);
        g.on_axis = (g.rho == 0.0);
        const double theta = (dx == 0.0 && dy == 0.0) ? 0.0 : std::atan2(dy, dx);
        g.cos_t = std::cos(theta);
        g.sin_t = std::sin(theta);
        g.cos_2t = std::cos(2 * theta);
        g.sin_2t = std::sin(2 * theta);
      }
    }
    constants_ = make_layer_constants(system, in_.depth);
    arrange_bessel_lanes();
  }

  // The normalised first-layer thickness all lengths are scaled by: evaluations with the same
  // loads, points and H1 have the same Bessel distances in the same lanes.
  double length_scale() const { return system_.thickness[0]; }

  // One Bessel distance per load radius and per point-load pair off the load axis, sorted so that
  // short distances (few series terms) come first; each distance gets one lane per panel node.
  void arrange_bessel_lanes() {
    struct Entry {
      double distance;
      std::size_t point;  // kMaxPoints for a load radius
      std::size_t load;
    };
    std::array<Entry, kMaxPoints * kMaxLoads + kMaxLoads> entries;
    std::size_t n = 0;
    for (std::size_t j = 0; j < in_.load_count; ++j) entries[n++] = {in_.loads[j].radius, kMaxPoints, j};
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      for (std::size_t j = 0; j < in_.load_count; ++j) {
        if (!in_.geometry[i][j].on_axis) entries[n++] = {in_.geometry[i][j].rho, i, j};
      }
    }
    std::sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(n),
              [](const Entry& a, const Entry& b) { return a.distance < b.distance; });
    distance_count_ = n;
    for (std::size_t l = 0; l < n; ++l) {
      distance_[l] = entries[l].distance;
      load_radius_[l] = entries[l].point == kMaxPoints;
      if (entries[l].point == kMaxPoints) {
        in_.load_lane[entries[l].load] = l * kPanelNodes;
      } else {
        in_.pair_lane[entries[l].point][entries[l].load] = l * kPanelNodes;
      }
    }
  }

  // The lanes of the Bessel distances, each with one lane per panel node.
  void set_up_bessel_lanes(BesselLanes& bessel) const {
    bessel.count = distance_count_ * kPanelNodes;
    for (std::size_t l = 0; l < distance_count_; ++l) {
      for (std::size_t m = 0; m < kPanelNodes; ++m) bessel.load_radius[l * kPanelNodes + m] = load_radius_[l];
    }
  }

  ModelResult run(BesselLanes& bessel) {
    ModelResult result;
    set_up_bessel_lanes(bessel);
    result.status = integrate(result, bessel);
    finish(result);
    return result;
  }

  // The integration split into its steps for evaluations that run side by side: begin, then per
  // panel next_panel, the Bessel lanes of its transform values and close_panel until it reports
  // an end, then finish.
  struct PanelEnd {
    bool ended;
    EvaluationStatus status;
  };

  EvaluationStatus begin(ModelResult& result) {
    if (const EvaluationStatus s = initial_step(); s != EvaluationStatus::kOk) return s;
    result.initial_step = step0_;
    add_zero_lambda_term();
    lambda_ = 0.0;
    step_ = step0_;
    count_ = 0;
    return EvaluationStatus::kOk;
  }

  // The six transform values of the next panel, by the same repeated addition.
  void next_panel() {
    for (std::size_t m = 0; m < kPanelNodes; ++m) {
      lambda_ = lambda_ + step_;
      node_lambda_[m] = lambda_;
    }
  }

  const PanelLambdas& panel_lambdas() const { return node_lambda_; }

  // J0 and J1 of every lane at the panel's transform values.
  void evaluate_bessel(BesselLanes& bessel) const {
    for (std::size_t l = 0; l < distance_count_; ++l) {
      for (std::size_t m = 0; m < kPanelNodes; ++m)
        bessel.x[l * kPanelNodes + m] = node_lambda_[m] * distance_[l];
    }
    evaluate_bessel_lanes(bessel, kernels_.bessel_series);
  }

  // The layer solutions, integrands and weighted sums of the panel, the step doubling and the
  // tests that end the integration.
  PanelEnd close_panel(const BesselLanes& bessel, ModelResult& result) {
    kernels_.solve_layers(node_lambda_, constants_, threshold_, coefficients_);
    kernels_.fill_integrands(in_, bessel, node_lambda_, coefficients_, integrands_);

    // A node whose measure is not finite ends the evaluation before any of the panel's
    // integrands is added (a failed evaluation reports no integrals).
    for (std::size_t m = 0; m < kPanelNodes; ++m) {
      ++count_;
      if (!std::isfinite(coefficients_[m].measure)) {
        result.lambda_values = count_;
        result.final_lambda = node_lambda_[m];
        return {true, EvaluationStatus::kNonFinite};
      }
    }
    kernels_.accumulate(integrands_, step_, integral_);

    const LayerCoefficients& last = coefficients_[kPanelNodes - 1];
    if (!last.above_threshold) {
      double doubled = 2 * step_;
      threshold_ = 0.5 * threshold_;
      if (doubled >= step_cap_) {
        doubled = step_cap_;
        threshold_ = 0.0;
      }
      // The panel's last node opens a panel of the new step: correct its weight.
      add_junction_correction(integrands_[kPanelNodes - 1], doubled - step_);
      step_ = doubled;
    }
    result.lambda_values = count_;
    result.final_lambda = lambda_;
    if (std::fabs(last.measure) <= kTerminationMeasure) {
      return {true, integrals_finite() ? EvaluationStatus::kOk : EvaluationStatus::kNonFinite};
    }
    if (!integrals_finite()) return {true, EvaluationStatus::kNonFinite};
    if (count_ > limits_.max_lambda_values || lambda_ > limits_.max_lambda) {
      return {true, EvaluationStatus::kIntegrationRunaway};
    }
    return {false, EvaluationStatus::kOk};
  }

  // The closed-form terms and the result rows after an integration that ended with result.status.
  void finish(ModelResult& result) {
    result.point_count = in_.point_count;
    if (result.status == EvaluationStatus::kOk) {
      add_closed_form_terms();
      result.status = fill_results(result);
    }
    if (result.status != EvaluationStatus::kOk) result.rows = ResultTable{};
  }

 private:
  EvaluationStatus initial_step() {
    const auto& E = system_.modulus;
    const auto& nu = system_.poisson;
    double rmax = 0.0;
    double amax = 0.0;
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      for (std::size_t j = 0; j < in_.load_count; ++j) {
        const double dx = in_.loads[j].x - in_.points[i].x;
        const double dy = in_.loads[j].y - in_.points[i].y;
        rmax = std::max(rmax, std::sqrt(dx * dx + dy * dy));
      }
    }
    for (std::size_t j = 0; j < in_.load_count; ++j) amax = std::max(amax, in_.loads[j].radius);
    // The step may never exceed a fraction of the period of J0(lambda rho) at the farthest point.
    step_cap_ = rmax >= 2.5 ? 0.5 / rmax : kSmallStepCap;
    const double e_min = *std::min_element(E.begin(), E.end());
    const double radius_scale = 1 + 0.5 * std::log10(1 / amax);
    if (E[4] > e_min) {
      // A half-space stiffer than some layer above: the measure is followed from lambda = 0 in
      // small steps until it stops falling; its size there sets the step and the threshold.
      const double Q = 2 * (1 - nu[0]) * (1 - E[0] * (1 - nu[4] * nu[4]) / ((1 - nu[0] * nu[0]) * E[4]));
      double lambda = 0.0;
      double measure = Q;
      double previous = 0.0;
      long steps = 0;
      do {
        if (++steps > limits_.max_search_steps) return EvaluationStatus::kIntegrationRunaway;
        lambda = lambda + kSearchStep;
        previous = measure;
        measure = solve_layers(lambda, constants_, 0.0).measure;
      } while (previous > measure);
      if (!std::isfinite(measure) || !std::isfinite(previous)) return EvaluationStatus::kNonFinite;
      double reference = std::fabs(previous);
      if (reference < std::fabs(Q)) reference = std::fabs(Q);
      step0_ = std::sqrt(1 / reference) * radius_scale * kStepScale;
      threshold_ = std::fabs(0.5 * previous);
      if (step0_ > step_cap_) {
        step0_ = step_cap_;
        threshold_ = 0.0;
      }
    } else {
      // The half-space is among the softest layers.
      step0_ = std::sqrt(E[4] / E[0]) * radius_scale * kStepScale;
      threshold_ = std::fabs((1 - nu[0]) * (1 - E[0] * (1 - nu[4] * nu[4]) / (E[4] * (1 - nu[0] * nu[0]))));
      if (step0_ >= step_cap_) {
        step0_ = step_cap_;
        threshold_ = 0.0;
      }
    }
    // A load radius of 100 H1 or more makes the step zero or negative; the loop would never end.
    if (!(step0_ > 0.0) || !std::isfinite(step0_)) return EvaluationStatus::kBadInitialStep;
    return EvaluationStatus::kOk;
  }

  // Contribution of lambda = 0 to the vertical displacement (the only integrand that does not
  // vanish there), weighted as the first node of the first panel.
  void add_zero_lambda_term() {
    const auto& E = system_.modulus;
    const auto& nu = system_.poisson;
    const auto& R = constants_.stiffness_ratio;
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      const NormalisedPoint& pt = in_.points[i];
      for (std::size_t j = 0; j < in_.load_count; ++j) {
        const double a = in_.loads[j].radius;
        const double p = in_.loads[j].pressure;
        const double layer1_factor = 1 - (1 - nu[4]) / (1 - nu[0]) * R[0] * R[1] * R[2] * R[3];
        double term = 0.0;
        // A surface point takes the surface term whatever its layer number: its integrand is the
        // surface integrand, later scaled by layer 1's half-space factor, which a deep layer's
        // term (already a displacement in the units of that layer) would not survive.
        switch (pt.kind == PointKind::kSurface ? 1 : pt.layer) {
          case 1:
            term = pt.z == 0.0 ? layer1_factor * step0_ * (a * a) * p * kSurfaceEndFactor
                               : layer1_factor * step0_ * (a * a) * p * (1 - nu[0]) * kPanelFactor;
            break;
          case 2:
            term =
                -kPanelFactor * (1 - nu[4]) * (a * a) / E[1] * step0_ * p * R[1] * R[2] * R[3] * (1 + nu[1]);
            break;
          case 3:
            term = -kPanelFactor * (1 - nu[4]) * (a * a) / E[2] * step0_ * p * R[2] * R[3] * (1 + nu[2]);
            break;
          case 4:
            term = -kPanelFactor * (1 - nu[4]) * (a * a) / E[3] * step0_ * p * R[3] * (1 + nu[3]);
            break;
          default:
            break;
        }
        integral_[kW][i] += term;
      }
    }
  }

  void add_junction_correction(const ComponentTable& integrand, double step_difference) {
    for (std::size_t m = 0; m < kComponents; ++m) {
      for (std::size_t i = 0; i < kMaxPoints; ++i) {
        integral_[m][i] = integral_[m][i] + integrand[m][i] * step_difference * kPanelFactor;
      }
    }
  }

  bool integrals_finite() const {
    for (std::size_t m = 0; m < kComponents; ++m) {
      for (std::size_t i = 0; i < in_.point_count; ++i) {
        if (!std::isfinite(integral_[m][i])) return false;
      }
    }
    return true;
  }

  // Six-step Weddle panels from lambda = 0, doubling the step after each panel whose end
  // measure has fallen to the threshold, until the measure falls below 1e-4 at a panel end.
  // Nothing inside a panel depends on an earlier node of the same panel (the step and the
  // threshold change only at panel ends), so the six layer solutions and the Bessel functions of
  // all six nodes are computed together; the integrals are still accumulated node by node.
  EvaluationStatus integrate(ModelResult& result, BesselLanes& bessel) {
    if (const EvaluationStatus s = begin(result); s != EvaluationStatus::kOk) return s;
    for (;;) {
      next_panel();
      evaluate_bessel(bessel);
      if (const PanelEnd end = close_panel(bessel, result); end.ended) return end.status;
    }
  }

  void add_closed_form_terms() {
    const double v = system_.poisson[0];
    const double E1 = system_.modulus[0];
    // Surface points: scale the departure integrals and add layer 1's half-space response.
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      if (in_.points[i].z != 0.0) continue;
      const double scale = 4 * (1 - v * v) / E1;
      integral_[kW][i] *= scale;
      integral_[kUx][i] *= -scale;
      integral_[kUy][i] *= -scale;
      integral_[kSzz][i] = 0.0;
      integral_[kTyz][i] = 0.0;
      integral_[kTxz][i] = 0.0;
      for (std::size_t j = 0; j < in_.load_count; ++j) {
        const PointLoadGeometry& g = in_.geometry[i][j];
        const AxisymmetricResponse r =
            half_space_surface(v, E1, in_.loads[j].pressure, in_.loads[j].radius, g.rho);
        add_half_space(i, g, r);
      }
    }
    // Points inside layer 1.
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      if (in_.points[i].layer != 1 || in_.points[i].z == 0.0) continue;
      const double scale = (1 + v) / E1;
      integral_[kW][i] *= scale;
      integral_[kUx][i] *= -scale;
      integral_[kUy][i] *= -scale;
      for (std::size_t j = 0; j < in_.load_count; ++j) {
        const PointLoadGeometry& g = in_.geometry[i][j];
        const AxisymmetricResponse r =
            half_space_at_depth(v, E1, in_.loads[j].pressure, in_.loads[j].radius, g.rho, in_.points[i].z);
        add_half_space(i, g, r);
      }
    }
  }

  void add_half_space(std::size_t i, const PointLoadGeometry& g, const AxisymmetricResponse& r) {
    integral_[kW][i] += r.w;
    integral_[kSzz][i] += r.vertical_stress;
    portable::resolve_lanes<double>(integral_, i, g, r.mean_horizontal, r.deviatoric_horizontal,
                                    r.radial_displacement, r.vertical_shear);
  }

  EvaluationStatus fill_results(ModelResult& result) {
    const double H1 = system_.thickness[0];
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      integral_[kW][i] *= H1;
      integral_[kUx][i] *= H1;
      integral_[kUy][i] *= H1;
    }
    for (std::size_t i = 0; i < in_.point_count; ++i) {
      ResultRow& row = result.rows[i];
      const std::size_t k = static_cast<std::size_t>(in_.points[i].layer) - 1;
      const double E = system_.modulus[k];
      const double nu = system_.poisson[k];
      const StressState s{integral_[kSxx][i], integral_[kSyy][i], integral_[kSzz][i],
                          integral_[kTyz][i], integral_[kTxz][i], integral_[kSxy][i]};
      row[kSigmaXX] = s.sigma_xx;
      row[kSigmaYY] = s.sigma_yy;
      row[kSigmaZZ] = s.sigma_zz;
      row[kTauYZ] = s.tau_yz;
      row[kTauXZ] = s.tau_xz;
      row[kSigmaXY] = s.sigma_xy;
      const PrincipalValues pv = principal_values(s, E, nu);
      row[kSigma1] = pv.stress[0];
      row[kSigma2] = pv.stress[1];
      row[kSigma3] = pv.stress[2];
      row[kEpsilon1] = pv.strain[0];
      row[kEpsilon2] = pv.strain[1];
      row[kEpsilon3] = pv.strain[2];
      row[kDisplacementX] = integral_[kUx][i];
      row[kDisplacementY] = integral_[kUy][i];
      row[kDisplacementZ] = integral_[kW][i];
      row[kEpsilonXX] = (s.sigma_xx - nu * (s.sigma_yy + s.sigma_zz)) / E;
      row[kEpsilonYY] = (s.sigma_yy - nu * (s.sigma_xx + s.sigma_zz)) / E;
      row[kEpsilonZZ] = (s.sigma_zz - nu * (s.sigma_xx + s.sigma_yy)) / E;
      row[kInitialStep] = step0_;
      for (double value : row) {
        if (!std::isfinite(value)) return EvaluationStatus::kNonFinite;
      }
    }
    return EvaluationStatus::kOk;
  }

  const LayerSystem& system_;
  const IntegrationLimits& limits_;
  const PanelKernels& kernels_;
  IntegrandSetting in_;
  LayerConstants constants_{};
  double step_cap_ = 0.0;
  double step0_ = 0.0;
  double threshold_ = 0.0;
  // The integration: the last transform value, the step, the values so far, the current panel.
  double lambda_ = 0.0;
  double step_ = 0.0;
  long count_ = 0;
  PanelLambdas node_lambda_{};
  PanelCoefficients coefficients_{};
  std::size_t distance_count_ = 0;
  std::array<double, kMaxPoints * kMaxLoads + kMaxLoads> distance_{};
  std::array<bool, kMaxPoints * kMaxLoads + kMaxLoads> load_radius_{};
  PanelIntegrands integrands_{};
  ComponentTable integral_{};
};

template <class T>
bool same_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool valid_input(const LayerSystem& system, std::span<const CircularLoad> loads,
                 std::span<const EvaluationPoint> points) {
  if (loads.empty() || loads.size() > kMaxLoads) return false;
  if (points.empty() || points.size() > kMaxPoints) return false;
  if (!(system.thickness[0] > 0.0)) return false;
  for (double h : system.thickness) {
    if (!std::isfinite(h)) return false;
  }
  for (double e : system.modulus) {
    if (!(e > 0.0) || !std::isfinite(e)) return false;
  }
  for (double nu : system.poisson) {
    if (!std::isfinite(nu)) return false;
  }
  for (const CircularLoad& load : loads) {
    if (!(load.radius > 0.0) || !std::isfinite(load.radius) || !std::isfinite(load.pressure) ||
        !std::isfinite(load.x) || !std::isfinite(load.y)) {
      return false;
    }
  }
  for (const EvaluationPoint& point : points) {
    if (point.layer < 1 || point.layer > 5) return false;
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !(point.depth >= 0.0) ||
        !std::isfinite(point.depth)) {
      return false;
    }
  }
  return true;
}

// Up to kMaxBatchSystems evaluations panel by panel side by side.  Each runs exactly the steps of
// a single evaluation; the only thing they share is the Bessel lanes of a panel, and only between
// evaluations whose six transform values of that panel are the same bits (and whose lengths are
// scaled by the same H1, so that their lanes hold the same distances): J0 and J1 are a function
// of lambda times distance alone, so the shared lanes are the very values each would compute.
void evaluate_batch(const PanelKernels& kernels, std::span<const LayerSystem> systems,
                    std::span<const CircularLoad> loads, std::span<const EvaluationPoint> points,
                    std::span<ModelResult> results, const IntegrationLimits& limits) {
  const std::size_t n = systems.size();
  std::array<std::optional<Evaluation>, kMaxBatchSystems> evaluations;
  std::array<bool, kMaxBatchSystems> running{};
  for (std::size_t s = 0; s < n; ++s) {
    if (!valid_input(systems[s], loads, points)) {
      results[s].status = EvaluationStatus::kInvalidInput;
      continue;
    }
    Evaluation& e = evaluations[s].emplace(systems[s], loads, points, limits, kernels);
    results[s].status = e.begin(results[s]);
    running[s] = results[s].status == EvaluationStatus::kOk;
    if (!running[s]) e.finish(results[s]);
  }
  BesselLanes bessel;
  for (;;) {
    std::array<bool, kMaxBatchSystems> pending{};
    bool any = false;
    for (std::size_t s = 0; s < n; ++s) {
      if (!running[s]) continue;
      evaluations[s]->next_panel();
      pending[s] = any = true;
    }
    if (!any) break;
    for (std::size_t s = 0; s < n; ++s) {
      if (!pending[s]) continue;
      Evaluation& lead = *evaluations[s];
      lead.set_up_bessel_lanes(bessel);
      lead.evaluate_bessel(bessel);
      for (std::size_t t = s; t < n; ++t) {
        if (!pending[t]) continue;
        Evaluation& e = *evaluations[t];
        if (t != s && !(same_bits(e.length_scale(), lead.length_scale()) &&
                        same_bits(e.panel_lambdas(), lead.panel_lambdas()))) {
          continue;
        }
        pending[t] = false;
        const Evaluation::PanelEnd end = e.close_panel(bessel, results[t]);
        if (end.ended) {
          running[t] = false;
          results[t].status = end.status;
          e.finish(results[t]);
        }
      }
    }
  }
}
}  // namespace

const char* result_column_name(std::size_t column) {
  static constexpr std::array<const char*, kResultColumns> kNames = {
      "sigma_xx", "sigma_yy",   "sigma_zz",   "tau_yz",     "tau_xz",      "sigma_xy", "sigma_1",
      "sigma_2",  "sigma_3",    "epsilon_1",  "epsilon_2",  "epsilon_3",   "u_x",      "u_y",
      "w",        "epsilon_xx", "epsilon_yy", "epsilon_zz", "initial_step"};
  return column < kResultColumns ? kNames[column] : "";
}

const char* describe(EvaluationStatus status) {
  switch (status) {
    case EvaluationStatus::kOk:
      return "ok";
    case EvaluationStatus::kInvalidInput:
      return "invalid input: a count, thickness, modulus, load, point or layer number out of range";
    case EvaluationStatus::kBadInitialStep:
      return "initial integration step is not positive (load radius of 100 or more first-layer thicknesses?)";
    case EvaluationStatus::kNonFinite:
      return "a non-finite value appeared in the integration";
    case EvaluationStatus::kIntegrationRunaway:
      return "the integration did not settle within its limits";
  }
  return "unknown status";
}

ModelResult evaluate_response_with(const PanelKernels& kernels, const LayerSystem& system,
                                   std::span<const CircularLoad> loads,
                                   std::span<const EvaluationPoint> points, const IntegrationLimits& limits) {
  if (!valid_input(system, loads, points)) {
    ModelResult failed;
    failed.status = EvaluationStatus::kInvalidInput;
    return failed;
  }
  Evaluation evaluation(system, loads, points, limits, kernels);
  BesselLanes bessel;
  return evaluation.run(bessel);
}

void evaluate_responses_with(const PanelKernels& kernels, std::span<const LayerSystem> systems,
                             std::span<const CircularLoad> loads, std::span<const EvaluationPoint> points,
                             std::span<ModelResult> results, const IntegrationLimits& limits) {
  for (ModelResult& r : results) r = ModelResult{};
  if (results.size() != systems.size()) {
    for (ModelResult& r : results) r.status = EvaluationStatus::kInvalidInput;
    return;
  }
  for (std::size_t first = 0; first < systems.size(); first += kMaxBatchSystems) {
    const std::size_t n = std::min(kMaxBatchSystems, systems.size() - first);
    evaluate_batch(kernels, systems.subspan(first, n), loads, points, results.subspan(first, n), limits);
  }
}

ModelResult evaluate_response(const LayerSystem& system, std::span<const CircularLoad> loads,
                              std::span<const EvaluationPoint> points, const IntegrationLimits& limits,
                              VectorPath path) {
  return evaluate_response_with(panel_kernels(path), system, loads, points, limits);
}

void evaluate_responses(std::span<const LayerSystem> systems, std::span<const CircularLoad> loads,
                        std::span<const EvaluationPoint> points, std::span<ModelResult> results,
                        const IntegrationLimits& limits, VectorPath path) {
  evaluate_responses_with(panel_kernels(path), systems, loads, points, results, limits);
}

EvaluationStatus evaluate_response_in_argument_order(
    const std::array<double, kMaxLayers>& modulus, const std::array<double, kMaxThicknesses>& thickness,
    const std::array<double, kMaxLayers>& poisson,
    const std::array<double, kMaxInterfaceFactors>& interface_factor, std::span<const double> pressure,
    std::span<const double> radius, std::span<const double> load_x, std::span<const double> load_y,
    std::span<const int> layer, std::span<const double> x, std::span<const double> y,
    std::span<const double> z, ResultTable& results, int mode) {
  const std::size_t nloads = pressure.size();
  const std::size_t npoints = layer.size();
  if (mode != 1 || radius.size() != nloads || load_x.size() != nloads || load_y.size() != nloads ||
      x.size() != npoints || y.size() != npoints || z.size() != npoints || nloads > kMaxLoads ||
      npoints > kMaxPoints) {
    return EvaluationStatus::kInvalidInput;
  }
  const LayerSystem system{modulus, thickness, poisson, interface_factor};
  std::array<CircularLoad, kMaxLoads> loads{};
  for (std::size_t j = 0; j < nloads; ++j) loads[j] = {pressure[j], radius[j], load_x[j], load_y[j]};
  std::array<EvaluationPoint, kMaxPoints> points{};
  for (std::size_t i = 0; i < npoints; ++i) points[i] = {x[i], y[i], z[i], layer[i]};
  const ModelResult result =
      evaluate_response(system, std::span(loads.data(), nloads), std::span(points.data(), npoints));
  for (std::size_t i = 0; i < npoints; ++i) results[i] = result.rows[i];
  return result.status;
}

}  // namespace basinfit::model
