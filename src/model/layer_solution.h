// Closed-form solution of the layered boundary-value problem for one value of the transform
// variable lambda (lengths in units of H1).  The layer stresses and displacements are combinations
// of e^(+-lambda z) and z e^(+-lambda z); continuity at the four interfaces and the surface load
// fix their coefficients.  The system is reduced from the half-space upwards by small fixed-shape
// matrix products to a scalar determinant and back-substituted from layer 4 to layer 1.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

#include "model/response_model.h"

namespace basinfit::model {

// Exponentials e^(-y) of the layer solution and the point responses: once the exponent reaches
// 20 in magnitude the term is dropped, so couplings between distant depths vanish instead of
// underflowing.
inline double guarded_exp(double y) { return (y < 20.0 && y > -20.0) ? std::exp(-y) : 0.0; }

// Everything of the layer solution that does not depend on lambda, computed once per evaluation.
struct LayerConstants {
  std::array<double, kMaxLayers> modulus{};
  std::array<double, kMaxLayers> poisson{};
  std::array<double, 4> depth{};  // interface depths Z1 = 1, Z2, Z3, Z4 (units of H1)
  // Shear-stiffness ratios of layer k to layer k+1, and the same scaled by the interface factor.
  std::array<double, 4> stiffness_ratio{};
  std::array<double, 3> bonded_ratio{};
  // Interface quantities d, a, b, g of the interfaces 1/2, 2/3, 3/4.
  std::array<double, 3> slip{};
  std::array<double, 3> a{};
  std::array<double, 3> b{};
  std::array<double, 3> g{};
  double s4 = 0.0;     // reciprocal pivot of the bottom interface
  double omega = 0.0;  // (1 - nu1)(1 - nu2)(1 - nu3)
};

// depth: the four normalised interface depths.
LayerConstants make_layer_constants(const LayerSystem& system, const std::array<double, 4>& depth);

struct LayerCoefficients {
  std::array<double, 2> layer1{};  // c1,1 c1,2: departure of layer 1 from its own half-space
  std::array<double, 4> layer2{};
  std::array<double, 4> layer3{};
  std::array<double, 4> layer4{};
  double measure = 0.0;          // M: vertical-displacement kernel at the first interface (signed)
  bool above_threshold = false;  // F: |M| above the step-doubling threshold
};

LayerCoefficients solve_layers(double lambda, const LayerConstants& constants, double threshold);

// Two transform values at once, each bit for bit as solve_layers gives it; the arithmetic of the
// two runs side by side in vector registers.
void solve_layers_pair(double lambda_a, double lambda_b, const LayerConstants& constants, double threshold,
                       LayerCoefficients& a, LayerCoefficients& b);

// The transform values of one six-step integration panel (an even number, so that the portable
// form solves them in pairs).
inline constexpr std::size_t kPanelNodes = 6;
static_assert(kPanelNodes % 2 == 0);
using PanelLambdas = std::array<double, kPanelNodes>;
using PanelCoefficients = std::array<LayerCoefficients, kPanelNodes>;

// The six layer solutions of a panel in pairs, as solve_layers_pair gives them.
void solve_layers_panel(const PanelLambdas& lambda, const LayerConstants& constants, double threshold,
                        PanelCoefficients& out);

}  // namespace basinfit::model
