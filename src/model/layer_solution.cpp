#include "model/layer_solution.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace basinfit::model {

LayerConstants make_layer_constants(const LayerSystem& system, const std::array<double, 4>& depth) {
  LayerConstants c;
  c.modulus = system.modulus;
  c.poisson = system.poisson;
  c.depth = depth;
  const auto& E = system.modulus;
  const auto& nu = system.poisson;
  for (std::size_t k = 0; k < 4; ++k) {
    c.stiffness_ratio[k] = E[k] * (1 + nu[k + 1]) / ((1 + nu[k]) * E[k + 1]);
  }
  for (std::size_t k = 0; k < 3; ++k) {
    const double R = c.stiffness_ratio[k];
    const double Rf = R * system.interface_factor[k];
    const double v = nu[k];
    const double vb = nu[k + 1];
    c.bonded_ratio[k] = Rf;
    c.slip[k] = R - Rf;
    c.a[k] = (4 - 2 * c.slip[k]) * v - Rf - 3;
    c.b[k] = (4 * vb - 2) * R - Rf - 1;
    c.g[k] = (6 - 8 * v) * vb + (1 - 2 * v) * Rf + (8 * vb - 4) * v * R - 1;
  }
  const double R4 = c.stiffness_ratio[3];
  const double v4 = nu[3];
  const double v5 = nu[4];
  c.s4 = 1 / ((-2 * ((8 * v5 - 6) * v4 - 6 * v5 + 5) - (3 - 4 * v5) * R4) * R4 - (3 - 4 * v4));
  c.omega = (1 - nu[0]) * (1 - nu[1]) * (1 - nu[2]);
  return c;
}

namespace portable {
namespace {

// Two transform values side by side in SSE2 registers.
using Pair = double __attribute__((vector_size(2 * sizeof(double))));

#include "model/layer_solution-inl.h"

}  // namespace
}  // namespace portable

LayerCoefficients solve_layers(double lambda, const LayerConstants& c, double threshold) {
  return portable::lane_of(portable::solve_impl<double>(lambda, c), 0, threshold);
}

void solve_layers_pair(double lambda_a, double lambda_b, const LayerConstants& c, double threshold,
                       LayerCoefficients& a, LayerCoefficients& b) {
  const portable::Pair lambda = {lambda_a, lambda_b};
  const portable::Solution<portable::Pair> s = portable::solve_impl<portable::Pair>(lambda, c);
  a = portable::lane_of(s, 0, threshold);
  b = portable::lane_of(s, 1, threshold);
}

void solve_layers_panel(const PanelLambdas& lambda, const LayerConstants& c, double threshold,
                        PanelCoefficients& out) {
  for (std::size_t m = 0; m < kPanelNodes; m += 2) {
    solve_layers_pair(lambda[m], lambda[m + 1], c, threshold, out[m], out[m + 1]);
  }
}

}  // namespace basinfit::model
