// The layer solution for one transform value, checked against the homogeneous half-space kernels
// and against the continuity conditions it is built to satisfy.
#include "model/layer_solution.h"

#include <gtest/gtest.h>

#include <cmath>

namespace basinfit::model {
namespace {

LayerSystem homogeneous(double E, double nu) {
  LayerSystem s;
  s.modulus = {E, E, E, E, E};
  s.poisson = {nu, nu, nu, nu, nu};
  s.thickness = {1.0, 1.5, 0.7, 2.0};
  return s;
}

std::array<double, 4> depths(const LayerSystem& s) {
  const auto& H = s.thickness;
  return {1.0, (H[0] + H[1]) / H[0], (H[0] + H[1] + H[2]) / H[0], (H[0] + H[1] + H[2] + H[3]) / H[0]};
}

// Kernels (per unit load transform) of a point in layer 2-4 at normalised depth z, formed from
// the layer's coefficients exactly as the point responses form them.
struct Kernels {
  double w_bracket, sigma_z, radial, shear;
};

Kernels deep_kernels(const std::array<double, 4>& c, double lambda, double z, double top, double bottom,
                     double nu) {
  const double L = lambda * z;
  const double e1 = std::exp(-lambda * (bottom - z));
  const double e2 = std::exp(-lambda * (z - top));
  Kernels k;
  k.w_bracket = (c[0] - (2 - 4 * nu - L) * c[2]) * e1 - (c[1] + (2 - 4 * nu + L) * c[3]) * e2;
  k.sigma_z = (c[1] + (1 - 2 * nu + L) * c[3]) * e2 + (c[0] - (1 - 2 * nu - L) * c[2]) * e1;
  k.radial = (c[1] - (1 - L) * c[3]) * e2 + (c[0] + (1 + L) * c[2]) * e1;
  k.shear = (c[0] + (L + 2 * nu) * c[2]) * e1 + ((2 * nu - L) * c[3] - c[1]) * e2;
  return k;
}

TEST(LayerSolution, EqualLayersGiveZeroLayerOneCoefficients) {
  for (double nu : {0.2, 0.35, 0.45}) {
    const LayerSystem s = homogeneous(500.0, nu);
    const LayerConstants c = make_layer_constants(s, depths(s));
    for (double lambda : {0.01, 0.3, 1.0, 2.7, 6.0}) {
      const LayerCoefficients r = solve_layers(lambda, c, 0.0);
      const double scale = std::fabs(r.layer2[0]) + std::fabs(r.layer2[1]) + std::fabs(r.layer2[2]) +
                           std::fabs(r.layer2[3]) + 1e-300;
      EXPECT_LT(std::fabs(r.layer1[0]), 1e-11 * scale + 1e-14) << "nu " << nu << " lambda " << lambda;
      EXPECT_LT(std::fabs(r.layer1[1]), 1e-11 * scale + 1e-14) << "nu " << nu << " lambda " << lambda;
    }
  }
}

TEST(LayerSolution, EqualLayersReproduceTheHalfSpaceKernelsInEveryDeepLayer) {
  const double nu = 0.3;
  const LayerSystem s = homogeneous(500.0, nu);
  const auto Z = depths(s);
  const LayerConstants c = make_layer_constants(s, Z);
  for (double lambda : {0.05, 0.4, 1.3, 3.0}) {
    const LayerCoefficients r = solve_layers(lambda, c, 0.0);
    const std::array<const std::array<double, 4>*, 3> layers = {&r.layer2, &r.layer3, &r.layer4};
    for (std::size_t k = 0; k < 3; ++k) {
      const double top = Z[k], bottom = Z[k + 1];
      for (double f : {0.0, 0.3, 1.0}) {
        const double z = top + f * (bottom - top);
        const Kernels got = deep_kernels(*layers[k], lambda, z, top, bottom, nu);
        const double decay = std::exp(-lambda * z);
        const double L = lambda * z;
        EXPECT_NEAR(got.w_bracket, -(2 * (1 - nu) + L) * decay, 1e-10) << "layer " << k + 2 << " z " << z;
        EXPECT_NEAR(got.sigma_z, (1 + L) * decay, 1e-10) << "layer " << k + 2 << " z " << z;
      }
    }
    // The termination measure is then the displacement kernel at the first interface.
    EXPECT_NEAR(r.measure, -(2 * (1 - nu) + lambda) * std::exp(-lambda), 1e-12);
  }
}

TEST(LayerSolution, InterfacesTwoThreeAndThreeFourAreContinuous) {
  LayerSystem s;
  s.modulus = {4000, 900, 250, 80, 400};
  s.poisson = {0.35, 0.3, 0.4, 0.45, 0.25};
  s.thickness = {1.0, 1.6, 0.9, 2.5};
  const auto Z = depths(s);
  const LayerConstants c = make_layer_constants(s, Z);
  for (double lambda : {0.02, 0.25, 0.9, 2.0, 4.5}) {
    const LayerCoefficients r = solve_layers(lambda, c, 0.0);
    const std::array<const std::array<double, 4>*, 3> layers = {&r.layer2, &r.layer3, &r.layer4};
    for (std::size_t k = 0; k < 2; ++k) {  // interfaces 2/3 and 3/4
      const double z = Z[k + 1];
      const std::size_t above_layer = k + 1, below_layer = k + 2;  // 0-based layer index
      const Kernels up = deep_kernels(*layers[k], lambda, z, Z[k], Z[k + 1], s.poisson[above_layer]);
      const Kernels dn = deep_kernels(*layers[k + 1], lambda, z, Z[k + 1], Z[k + 2], s.poisson[below_layer]);
      // Displacements carry (1 + nu)/E of their layer; stresses and the shear are the raw brackets.
      const double wu = up.w_bracket * (1 + s.poisson[above_layer]) / s.modulus[above_layer];
      const double wd = dn.w_bracket * (1 + s.poisson[below_layer]) / s.modulus[below_layer];
      const double uu = up.radial * (1 + s.poisson[above_layer]) / s.modulus[above_layer];
      const double ud = dn.radial * (1 + s.poisson[below_layer]) / s.modulus[below_layer];
      const double scale_w = std::fabs(wu) + 1e-30;
      EXPECT_NEAR(wu, wd, 1e-9 * scale_w + 1e-18) << "interface " << k + 2 << " lambda " << lambda;
      EXPECT_NEAR(uu, ud, 1e-9 * (std::fabs(uu) + 1e-30) + 1e-18) << "interface " << k + 2;
      EXPECT_NEAR(up.sigma_z, dn.sigma_z, 1e-9 * (std::fabs(up.sigma_z) + 1e-30) + 1e-18)
          << "interface " << k + 2;
      EXPECT_NEAR(up.shear, dn.shear, 1e-9 * (std::fabs(up.shear) + 1e-30) + 1e-18) << "interface " << k + 2;
    }
  }
}

TEST(LayerSolution, InterfaceOneTwoIsContinuousWithLayerOnesHalfSpaceAdded) {
  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {1.0, 2.0, 2.0, 2.0};
  const auto Z = depths(s);
  const LayerConstants c = make_layer_constants(s, Z);
  const double v1 = s.poisson[0], v2 = s.poisson[1];
  const double E1 = s.modulus[0], E2 = s.modulus[1];
  // Up to lambda = 3.3 every exponential of the solution is below the cut-off at e^-20; beyond it
  // the dropped terms leave mismatches of order e^-20 relative.
  for (double lambda : {0.03, 0.5, 1.7, 3.3}) {
    const LayerCoefficients r = solve_layers(lambda, c, 0.0);
    const double z = Z[0];
    const double L = lambda * z;
    const double e1 = std::exp(-lambda * (Z[0] - z));
    const double e2 = std::exp(-lambda * (Z[0] + z));
    const double c1 = r.layer1[0], c2 = r.layer1[1];
    // Layer 1: departure from its half-space, displacement scaled by (1 + nu1)/E1 like the
    // closed-form rescaling, plus the half-space kernels themselves.
    const double w_layer1 =
        ((c1 - (2 - 4 * v1 - L) * c2) * e1 +
         ((3 - 4 * v1 + 2 * L) * c1 - (2 - 8 * v1 * (1 - v1) + (1 - 4 * v1) * L) * c2) * e2) *
            (1 + v1) / E1 -
        (1 + v1) / E1 * (2 * (1 - v1) + L) * std::exp(-L);
    const double sz_layer1 = (c1 - (1 - 2 * v1 - L) * c2) * e1 +
                             (((1 - 4 * v1) * L - 2 * v1 + 1) * c2 - (1 + 2 * L) * c1) * e2 +
                             (1 + L) * std::exp(-L);
    const Kernels dn = deep_kernels(r.layer2, lambda, z, Z[0], Z[1], v2);
    const double w_layer2 = dn.w_bracket * (1 + v2) / E2;
    EXPECT_NEAR(w_layer1, w_layer2, 1e-9 * std::fabs(w_layer2)) << "lambda " << lambda;
    EXPECT_NEAR(sz_layer1, dn.sigma_z, 1e-9 * std::fabs(dn.sigma_z)) << "lambda " << lambda;
  }
}

TEST(LayerSolution, PairOfTransformValuesEqualsTwoSingleSolutionsBitForBit) {
  LayerSystem s;
  s.modulus = {4000, 900, 250, 80, 6000};
  s.poisson = {0.35, 0.3, 0.4, 0.45, 0.25};
  s.thickness = {1.0, 1.6, 0.9, 2.5};
  s.interface_factor = {0.7, 1.0, 0.4};
  const LayerConstants c = make_layer_constants(s, depths(s));
  double lambda = 0.0;
  for (int i = 0; i < 300; ++i) {
    const double la = lambda = lambda + 0.037;
    const double lb = lambda = lambda + 0.037;
    LayerCoefficients pa, pb;
    solve_layers_pair(la, lb, c, 1e-3, pa, pb);
    for (const auto& [pair, lam] : {std::pair{&pa, la}, std::pair{&pb, lb}}) {
      const LayerCoefficients one = solve_layers(lam, c, 1e-3);
      EXPECT_EQ(pair->layer1, one.layer1) << lam;
      EXPECT_EQ(pair->layer2, one.layer2) << lam;
      EXPECT_EQ(pair->layer3, one.layer3) << lam;
      EXPECT_EQ(pair->layer4, one.layer4) << lam;
      EXPECT_EQ(pair->measure, one.measure) << lam;
      EXPECT_EQ(pair->above_threshold, one.above_threshold) << lam;
    }
  }
}

TEST(LayerSolution, MeasureFlagFollowsTheThreshold) {
  const LayerSystem s = homogeneous(100.0, 0.3);
  const LayerConstants c = make_layer_constants(s, depths(s));
  const double m = std::fabs(solve_layers(0.5, c, 0.0).measure);
  EXPECT_TRUE(solve_layers(0.5, c, 0.5 * m).above_threshold);
  EXPECT_FALSE(solve_layers(0.5, c, m).above_threshold);  // |M| equal to T does not exceed it
}

TEST(LayerSolution, LargeTransformValuesDropTheCouplingsInsteadOfUnderflowing) {
  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {1.0, 2.0, 2.0, 2.0};
  const LayerConstants c = make_layer_constants(s, depths(s));
  for (double lambda : {10.0, 25.0, 80.0, 400.0}) {
    const LayerCoefficients r = solve_layers(lambda, c, 0.0);
    EXPECT_TRUE(std::isfinite(r.measure)) << lambda;
    for (double v : r.layer1) EXPECT_TRUE(std::isfinite(v)) << lambda;
    for (double v : r.layer2) EXPECT_TRUE(std::isfinite(v)) << lambda;
  }
  EXPECT_LT(std::fabs(solve_layers(25.0, c, 0.0).measure), 1e-4);
}

}  // namespace
}  // namespace basinfit::model
