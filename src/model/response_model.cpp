#include "model/response_model.h"

#include <algorithm>
#include <cmath>

#include "model/bessel_series.h"
#include "model/half_space.h"
#include "model/layer_solution.h"
#include "model/panel_kernels.h"
#include "model/principal_values.h"

namespace basinfit::model {

namespace {

// Single-precision constants widened to double, and the panel factor 3/10 of the Weddle rule as
// the double it was computed to.
constexpr double kSmallStepCap = 0.20000000298023224;
constexpr double kSearchStep = 0.019999999552965164;
constexpr double kStepScale = 0.10000000149011612;
constexpr double kPanelFactor = 0.30000000000000004;
constexpr double kSurfaceEndFactor = 0.07500000000000001;
constexpr double kTerminationMeasure = 9.999999747378752e-05;

static_assert(kBesselLaneCapacity >= kPanelNodes * (kMaxPoints * kMaxLoads + kMaxLoads));

// Integrand and integral components.
enum Component : std::size_t { kW, kUx, kUy, kSxx, kSyy, kSzz, kTyz, kTxz, kSxy, kComponents };

// Component-major so that the weighted accumulation runs over contiguous points.
using ComponentTable = std::array<std::array<double, kMaxPoints>, kComponents>;

enum class PointKind { kSurface, kLayer1, kDeepLayer, kNoContribution };

// Horizontal placement of one point relative to one load centre.
struct PointLoadGeometry {
  double rho = 0.0;  // horizontal distance, units of H1
  double cos_t = 1.0, sin_t = 0.0, cos_2t = 1.0, sin_2t = 0.0;
  bool on_axis = true;  // rho == 0: only the axisymmetric terms X1, w and sigma_zz are formed
};

struct NormalisedLoad {
  double pressure, radius, x, y;
};

struct NormalisedPoint {
  double x, y, z;
  int layer;
  PointKind kind;
  double top, bottom;  // normalised depths of the top and bottom of a layer 2-4 point's layer
};

// Resolves an axisymmetric response into the x, y frame.  On the load axis only the mean
// horizontal stress enters.
void resolve(ComponentTable& t, std::size_t i, const PointLoadGeometry& g, double X1, double X2, double U,
             double T) {
  if (g.on_axis) {
    t[kSxx][i] += X1;
    t[kSyy][i] += X1;
    return;
  }
  t[kSxx][i] += X1 + X2 * g.cos_2t;
  t[kSyy][i] += X1 - X2 * g.cos_2t;
  t[kSxy][i] += X2 * g.sin_2t;
  t[kUx][i] += U * g.cos_t;
  t[kUy][i] += U * g.sin_t;
  t[kTxz][i] += T * g.cos_t;
  t[kTyz][i] += T * g.sin_t;
}

// All state of one evaluation; lives on the caller's stack.
class Evaluation {
 public:
  Evaluation(const LayerSystem& system, std::span<const CircularLoad> loads,
             std::span<const EvaluationPoint> points, const IntegrationLimits& limits,
             const PanelKernels& kernels)
      : system_(system),
        limits_(limits),
        kernels_(kernels),
        load_count_(loads.size()),
        point_count_(points.size()) {
    const double H1 = system.thickness[0];
    const auto& H = system.thickness;
    depth_ = {1.0, (H1 + H[1]) / H1, (H1 + H[1] + H[2]) / H1, (H1 + H[1] + H[2] + H[3]) / H1};
    for (std::size_t j = 0; j < load_count_; ++j) {
      loads_[j] = {loads[j].pressure, loads[j].radius / H1, loads[j].x / H1, loads[j].y / H1};
    }
    for (std::size_t i = 0; i < point_count_; ++i) {
      NormalisedPoint& p = points_[i];
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
        p.top = depth_[static_cast<std::size_t>(p.layer) - 2];
        p.bottom = depth_[static_cast<std::size_t>(p.layer) - 1];
      } else {
        p.kind = PointKind::kNoContribution;
      }
      for (std::size_t j = 0; j < load_count_; ++j) {
        PointLoadGeometry& g = geometry_[i][j];
        const double dx = p.x - loads_[j].x;
        const double dy = p.y - loads_[j].y;
        g.rho = std::sqrt(dx * dx + dy * dy);
        g.on_axis = (g.rho == 0.0);
        const double theta = (dx == 0.0 && dy == 0.0) ? 0.0 : std::atan2(dy, dx);
        g.cos_t = std::cos(theta);
        g.sin_t = std::sin(theta);
        g.cos_2t = std::cos(2 * theta);
        g.sin_2t = std::sin(2 * theta);
      }
    }
    constants_ = make_layer_constants(system, depth_);
    arrange_bessel_lanes();
  }

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
    for (std::size_t j = 0; j < load_count_; ++j) entries[n++] = {loads_[j].radius, kMaxPoints, j};
    for (std::size_t i = 0; i < point_count_; ++i) {
      for (std::size_t j = 0; j < load_count_; ++j) {
        if (!geometry_[i][j].on_axis) entries[n++] = {geometry_[i][j].rho, i, j};
      }
    }
    std::sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(n),
              [](const Entry& a, const Entry& b) { return a.distance < b.distance; });
    distance_count_ = n;
    bessel_.count = n * kPanelNodes;
    for (std::size_t l = 0; l < n; ++l) {
      distance_[l] = entries[l].distance;
      for (std::size_t m = 0; m < kPanelNodes; ++m)
        bessel_.load_radius[l * kPanelNodes + m] = entries[l].point == kMaxPoints;
      if (entries[l].point == kMaxPoints) {
        load_lane_[entries[l].load] = l * kPanelNodes;
      } else {
        pair_lane_[entries[l].point][entries[l].load] = l * kPanelNodes;
      }
    }
  }

  ModelResult run() {
    ModelResult result;
    result.point_count = point_count_;
    result.status = integrate(result);
    if (result.status == EvaluationStatus::kOk) {
      add_closed_form_terms();
      result.status = fill_results(result);
    }
    if (result.status != EvaluationStatus::kOk) result.rows = ResultTable{};
    return result;
  }

 private:
  EvaluationStatus initial_step() {
    const auto& E = system_.modulus;
    const auto& nu = system_.poisson;
    double rmax = 0.0;
    double amax = 0.0;
    for (std::size_t i = 0; i < point_count_; ++i) {
      for (std::size_t j = 0; j < load_count_; ++j) {
        const double dx = loads_[j].x - points_[i].x;
        const double dy = loads_[j].y - points_[i].y;
        rmax = std::max(rmax, std::sqrt(dx * dx + dy * dy));
      }
    }
    for (std::size_t j = 0; j < load_count_; ++j) amax = std::max(amax, loads_[j].radius);
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
    for (std::size_t i = 0; i < point_count_; ++i) {
      const NormalisedPoint& pt = points_[i];
      for (std::size_t j = 0; j < load_count_; ++j) {
        const double a = loads_[j].radius;
        const double p = loads_[j].pressure;
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

  // Integrand of every point for one lambda, node `node` of the current panel.
  void fill_integrand(double lambda, const LayerCoefficients& c, std::size_t node) {
    const auto& E = system_.modulus;
    const auto& nu = system_.poisson;
    std::array<double, kMaxLoads> q;
    for (std::size_t j = 0; j < load_count_; ++j) {
      q[j] = loads_[j].radius * loads_[j].pressure * bessel_.j1[load_lane_[j] + node];
    }
    integrand_ = ComponentTable{};
    const double e_surface = guarded_exp(lambda * depth_[0]);
    const double Z1 = depth_[0];
    // Parts of the surface integrand shared by every surface point.
    const double surface_w = (c.layer1[0] - (1 - 2 * nu[0]) * c.layer1[1]) / lambda;
    const double surface_s = c.layer1[0] + 2 * nu[0] * c.layer1[1];

    for (std::size_t i = 0; i < point_count_; ++i) {
      const NormalisedPoint& pt = points_[i];
      if (pt.kind == PointKind::kNoContribution) continue;
      const double z = pt.z;
      const double L = lambda * z;
      double e1 = 0.0, e2 = 0.0;
      if (pt.kind == PointKind::kLayer1) {
        e1 = guarded_exp(lambda * (Z1 - z));
        e2 = guarded_exp(lambda * (Z1 + z));
      } else if (pt.kind == PointKind::kDeepLayer) {
        e1 = guarded_exp(lambda * (pt.bottom - z));
        e2 = guarded_exp(lambda * (z - pt.top));
      }
      for (std::size_t j = 0; j < load_count_; ++j) {
        const PointLoadGeometry& g = geometry_[i][j];
        // On the load axis J0(0) = 1 and J1(0) = 0.
        const double J0 = g.on_axis ? 1.0 : bessel_.j0[pair_lane_[i][j] + node];
        const double J1 = g.on_axis ? 0.0 : bessel_.j1[pair_lane_[i][j] + node];
        const double qj = q[j];
        double X1 = 0.0, X2 = 0.0, U = 0.0, T = 0.0;

        if (pt.kind == PointKind::kSurface) {
          // Surface: departure of the layered surface response from layer 1's half-space.
          const double v = nu[0];
          const double e = e_surface;
          const double S = surface_s;
          integrand_[kW][i] += surface_w * qj * J0 * e;
          X1 = -2 * (1 + v) * J0 * e * S * qj;
          if (!g.on_axis) {
            X2 = -2 * (1 - v) * (J0 - 2 * J1 / (lambda * g.rho)) * e * S * qj;
            U = (J1 / lambda) * e * S * qj;
          }
        } else if (pt.kind == PointKind::kLayer1) {
          const double v = nu[0];
          const double c1 = c.layer1[0], c2 = c.layer1[1];
          integrand_[kW][i] +=
              ((c1 - (2 - 4 * v - L) * c2) * e1 +
               ((3 - 4 * v + 2 * L) * c1 - (2 - 8 * v * (1 - v) + (1 - 4 * v) * L) * c2) * e2) /
              lambda * J0 * qj;
          X1 = -0.5 * J0 * qj *
               ((c1 + (1 + 4 * v + L) * c2) * e1 +
                ((3 + 4 * v - 2 * L) * c1 - (1 - 4 * v - 8 * v * v - (1 - 4 * v) * L) * c2) * e2);
          integrand_[kSzz][i] += J0 * qj *
                                 ((c1 - (1 - 2 * v - L) * c2) * e1 +
                                  (((1 - 4 * v) * L - 2 * v + 1) * c2 - (1 + 2 * L) * c1) * e2);
          if (!g.on_axis) {
            const double D = (c1 + (1 + L) * c2) * e1 +
                             ((3 - 4 * v - 2 * L) * c1 - (1 - 8 * v * (1 - v) - (1 - 4 * v) * L) * c2) * e2;
            X2 = (J1 / (lambda * g.rho) - 0.5 * J0) * qj * D;
            U = (J1 / lambda) * qj * D;
            T = -((c1 + (L + 2 * v) * c2) * e1 - ((1 - 2 * L) * c1 + ((1 - 4 * v) * L + 2 * v) * c2) * e2) *
                J1 * qj;
          }
        } else {
          const std::size_t k = static_cast<std::size_t>(pt.layer) - 1;
          const double v = nu[k];
          const double Ek = E[k];
          const std::array<double, 4>& cc = pt.layer == 2 ? c.layer2 : (pt.layer == 3 ? c.layer3 : c.layer4);
          const double c1 = cc[0], c2 = cc[1], c3 = cc[2], c4 = cc[3];
          integrand_[kW][i] += ((c1 - (2 - 4 * v - L) * c3) * e1 - (c2 + (2 - 4 * v + L) * c4) * e2) /
                               (lambda * Ek) * qj * J0 * (1 + v);
          X1 = -0.5 * J0 * qj * ((c2 - (1 + 4 * v - L) * c4) * e2 + (c1 + (1 + 4 * v + L) * c3) * e1);
          integrand_[kSzz][i] +=
              J0 * qj * ((c2 + (1 - 2 * v + L) * c4) * e2 + (c1 - (1 - 2 * v - L) * c3) * e1);
          if (!g.on_axis) {
            const double D = (c2 - (1 - L) * c4) * e2 + (c1 + (1 + L) * c3) * e1;
            X2 = (J1 / (lambda * g.rho) - 0.5 * J0) * qj * D;
            U = -(J1 / (lambda * Ek)) * qj * D * (1 + v);
            T = -((c1 + (L + 2 * v) * c3) * e1 + ((2 * v - L) * c4 - c2) * e2) * J1 * qj;
          }
        }
        resolve(integrand_, i, g, X1, X2, U, T);
      }
    }
  }

  // integral += integrand * step * factor, element by element, in this order of products.
  // Rows beyond the point count hold zeros and are never read; running over the full capacity
  // gives the compiler fixed, vectorisable loops.
  void accumulate(double step, double weight) {
    for (std::size_t m = 0; m < kComponents; ++m) {
      for (std::size_t i = 0; i < kMaxPoints; ++i) {
        integral_[m][i] = integral_[m][i] + integrand_[m][i] * step * weight * kPanelFactor;
      }
    }
  }

  void add_junction_correction(double step_difference) {
    for (std::size_t m = 0; m < kComponents; ++m) {
      for (std::size_t i = 0; i < kMaxPoints; ++i) {
        integral_[m][i] = integral_[m][i] + integrand_[m][i] * step_difference * kPanelFactor;
      }
    }
  }

  bool integrals_finite() const {
    for (std::size_t m = 0; m < kComponents; ++m) {
      for (std::size_t i = 0; i < point_count_; ++i) {
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
  EvaluationStatus integrate(ModelResult& result) {
    if (const EvaluationStatus s = initial_step(); s != EvaluationStatus::kOk) return s;
    result.initial_step = step0_;
    add_zero_lambda_term();

    // Weddle weights 5 1 6 1 5 2 over the six steps of a panel; the last node's weight 2 also
    // opens the next panel.  Every panel starts at stage 1.
    constexpr std::array<double, kPanelNodes> kWeights = {5.0, 1.0, 6.0, 1.0, 5.0, 2.0};
    double lambda = 0.0;
    double step = step0_;
    long count = 0;
    PanelLambdas node_lambda;
    PanelCoefficients coefficients;
    for (;;) {
      for (std::size_t m = 0; m < kPanelNodes; ++m) {
        lambda = lambda + step;
        node_lambda[m] = lambda;
      }
      kernels_.solve_layers(node_lambda, constants_, threshold_, coefficients);
      for (std::size_t l = 0; l < distance_count_; ++l) {
        for (std::size_t m = 0; m < kPanelNodes; ++m)
          bessel_.x[l * kPanelNodes + m] = node_lambda[m] * distance_[l];
      }
      evaluate_bessel_lanes(bessel_, kernels_.bessel_series);

      for (std::size_t m = 0; m < kPanelNodes; ++m) {
        ++count;
        if (!std::isfinite(coefficients[m].measure)) {
          result.lambda_values = count;
          result.final_lambda = node_lambda[m];
          return EvaluationStatus::kNonFinite;
        }
        fill_integrand(node_lambda[m], coefficients[m], m);
        accumulate(step, kWeights[m]);
      }

      const LayerCoefficients& last = coefficients[kPanelNodes - 1];
      if (!last.above_threshold) {
        double doubled = 2 * step;
        threshold_ = 0.5 * threshold_;
        if (doubled >= step_cap_) {
          doubled = step_cap_;
          threshold_ = 0.0;
        }
        // The panel's last node opens a panel of the new step: correct its weight.
        add_junction_correction(doubled - step);
        step = doubled;
      }
      result.lambda_values = count;
      result.final_lambda = lambda;
      if (std::fabs(last.measure) <= kTerminationMeasure) break;
      if (!integrals_finite()) return EvaluationStatus::kNonFinite;
      if (count > limits_.max_lambda_values || lambda > limits_.max_lambda) {
        return EvaluationStatus::kIntegrationRunaway;
      }
    }
    return integrals_finite() ? EvaluationStatus::kOk : EvaluationStatus::kNonFinite;
  }

  void add_closed_form_terms() {
    const double v = system_.poisson[0];
    const double E1 = system_.modulus[0];
    // Surface points: scale the departure integrals and add layer 1's half-space response.
    for (std::size_t i = 0; i < point_count_; ++i) {
      if (points_[i].z != 0.0) continue;
      const double scale = 4 * (1 - v * v) / E1;
      integral_[kW][i] *= scale;
      integral_[kUx][i] *= -scale;
      integral_[kUy][i] *= -scale;
      integral_[kSzz][i] = 0.0;
      integral_[kTyz][i] = 0.0;
      integral_[kTxz][i] = 0.0;
      for (std::size_t j = 0; j < load_count_; ++j) {
        const PointLoadGeometry& g = geometry_[i][j];
        const AxisymmetricResponse r = half_space_surface(v, E1, loads_[j].pressure, loads_[j].radius, g.rho);
        add_half_space(i, g, r);
      }
    }
    // Points inside layer 1.
    for (std::size_t i = 0; i < point_count_; ++i) {
      if (points_[i].layer != 1 || points_[i].z == 0.0) continue;
      const double scale = (1 + v) / E1;
      integral_[kW][i] *= scale;
      integral_[kUx][i] *= -scale;
      integral_[kUy][i] *= -scale;
      for (std::size_t j = 0; j < load_count_; ++j) {
        const PointLoadGeometry& g = geometry_[i][j];
        const AxisymmetricResponse r =
            half_space_at_depth(v, E1, loads_[j].pressure, loads_[j].radius, g.rho, points_[i].z);
        add_half_space(i, g, r);
      }
    }
  }

  void add_half_space(std::size_t i, const PointLoadGeometry& g, const AxisymmetricResponse& r) {
    integral_[kW][i] += r.w;
    integral_[kSzz][i] += r.vertical_stress;
    resolve(integral_, i, g, r.mean_horizontal, r.deviatoric_horizontal, r.radial_displacement,
            r.vertical_shear);
  }

  EvaluationStatus fill_results(ModelResult& result) {
    const double H1 = system_.thickness[0];
    for (std::size_t i = 0; i < point_count_; ++i) {
      integral_[kW][i] *= H1;
      integral_[kUx][i] *= H1;
      integral_[kUy][i] *= H1;
    }
    for (std::size_t i = 0; i < point_count_; ++i) {
      ResultRow& row = result.rows[i];
      const std::size_t k = static_cast<std::size_t>(points_[i].layer) - 1;
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
  std::size_t load_count_;
  std::size_t point_count_;
  std::array<double, 4> depth_{};
  std::array<NormalisedLoad, kMaxLoads> loads_{};
  std::array<NormalisedPoint, kMaxPoints> points_{};
  std::array<std::array<PointLoadGeometry, kMaxLoads>, kMaxPoints> geometry_{};
  LayerConstants constants_{};
  double step_cap_ = 0.0;
  double step0_ = 0.0;
  double threshold_ = 0.0;
  std::size_t distance_count_ = 0;
  std::array<double, kMaxPoints * kMaxLoads + kMaxLoads> distance_{};
  BesselLanes bessel_{};
  std::array<std::size_t, kMaxLoads> load_lane_{};
  std::array<std::array<std::size_t, kMaxLoads>, kMaxPoints> pair_lane_{};
  ComponentTable integrand_{};
  ComponentTable integral_{};
};

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

ModelResult evaluate_response(const LayerSystem& system, std::span<const CircularLoad> loads,
                              std::span<const EvaluationPoint> points, const IntegrationLimits& limits,
                              VectorPath path) {
  if (!valid_input(system, loads, points)) {
    ModelResult failed;
    failed.status = EvaluationStatus::kInvalidInput;
    return failed;
  }
  Evaluation evaluation(system, loads, points, limits, panel_kernels(path));
  return evaluation.run();
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
