// The integrands of the transform integrals at the six nodes of a panel: what they are made of
// (normalised loads and points, their horizontal geometry, where their Bessel lanes are) and the
// portable way to form them.  The vector kernels form them with the same template code.
#pragma once

#include <array>
#include <cstddef>

#include "model/bessel_series.h"
#include "model/layer_solution.h"
#include "model/response_model.h"

namespace basinfit::model {

// Integrand and integral components.
enum Component : std::size_t { kW, kUx, kUy, kSxx, kSyy, kSzz, kTyz, kTxz, kSxy, kComponents };

// Component-major so that the weighted accumulation runs over contiguous points.
using ComponentTable = std::array<std::array<double, kMaxPoints>, kComponents>;
using PanelIntegrands = std::array<ComponentTable, kPanelNodes>;

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

// Everything the integrands need besides the transform values, their layer solutions and the
// Bessel functions; fixed for a whole evaluation.
struct IntegrandSetting {
  std::array<double, kMaxLayers> modulus{};
  std::array<double, kMaxLayers> poisson{};
  std::array<double, 4> depth{};  // interface depths Z1 = 1, Z2, Z3, Z4 (units of H1)
  std::size_t load_count = 0;
  std::size_t point_count = 0;
  std::array<NormalisedLoad, kMaxLoads> loads{};
  std::array<NormalisedPoint, kMaxPoints> points{};
  std::array<std::array<PointLoadGeometry, kMaxLoads>, kMaxPoints> geometry{};
  // First Bessel lane (node 0 of the panel; node m is m lanes further) of each load radius and of
  // each point-load distance off the axis.
  std::array<std::size_t, kMaxLoads> load_lane{};
  std::array<std::array<std::size_t, kMaxLoads>, kMaxPoints> pair_lane{};
};

// Weddle weights 5 1 6 1 5 2 over the six steps of a panel (the last node's weight 2 also opens
// the next panel), and the panel factor 3/10 as the double it was computed to.
inline constexpr std::array<double, kPanelNodes> kPanelWeights = {5.0, 1.0, 6.0, 1.0, 5.0, 2.0};
inline constexpr double kPanelFactor = 0.30000000000000004;

// integral += integrand * step * weight * factor for the six nodes in order, element by element,
// in this order of products.  Rows beyond the point count hold zeros and are never read; running
// over the full capacity gives fixed, vectorisable loops.
void accumulate_panel_integrals(const PanelIntegrands& integrands, double step, ComponentTable& integral);

// The integrands of every point at the six nodes of a panel, node by node.
void fill_panel_integrands(const IntegrandSetting& setting, const BesselLanes& bessel,
                           const PanelLambdas& lambda, const PanelCoefficients& coefficients,
                           PanelIntegrands& out);

}  // namespace basinfit::model
