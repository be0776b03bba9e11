// Whole-model behaviour: homogeneous systems against the closed-form half-space (Boussinesq
// and Love), independent quadratures of the point-load solution, continuity across interfaces,
// symmetry, superposition, and the guards that end an integration that would never end.
#include "model/response_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "model/layer_solution.h"

namespace basinfit::model {
namespace {

constexpr long double kPi = 3.14159265358979323846264338327950288L;

LayerSystem homogeneous(double E, double nu, double h1 = 6.0) {
  LayerSystem s;
  s.modulus = {E, E, E, E, E};
  s.poisson = {nu, nu, nu, nu, nu};
  s.thickness = {h1, h1, h1, h1};
  return s;
}

// The 3-layer pavement used throughout: 150 mm asphalt, 300 mm base, subgrade (MPa, mm).
LayerSystem pavement() {
  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {150, 300, 300, 300};
  return s;
}

ModelResult run(const LayerSystem& s, const CircularLoad& load, std::span<const EvaluationPoint> points) {
  return evaluate_response(s, std::span(&load, 1), points);
}

double relative_error(double got, double expected) { return std::fabs(got - expected) / std::fabs(expected); }

// Surface deflection of a half-space under a uniform circular pressure, in the model's sign
// convention (negative downward), through complete elliptic integrals.
double surface_deflection(double nu, double E, double p, double a, double r) {
  const long double f = 4 * (1 - (long double)nu * nu) * p / (kPi * E);
  if (r < a) return static_cast<double>(-f * a * std::comp_ellint_2((long double)r / a));
  const long double k = (long double)a / r;
  return static_cast<double>(-f * r * (std::comp_ellint_2(k) - (1 - k * k) * std::comp_ellint_1(k)));
}

// Half-space under a uniform circular load on its axis at depth z (compression positive,
// displacement negative downward).
struct AxisResponse {
  double w, sigma_z, sigma_r;
};
AxisResponse half_space_axis(double nu, double E, double p, double a, double z) {
  const long double R = sqrtl((long double)z * z + (long double)a * a);
  const long double zr = z / R;
  AxisResponse r;
  r.w = static_cast<double>(-(1 + nu) * p / E * (a * a / R + (1 - 2 * nu) * (R - z)));
  r.sigma_z = static_cast<double>(p * (1 - zr * zr * zr));
  r.sigma_r = static_cast<double>(p / 2 * ((1 + 2 * nu) - 2 * (1 + nu) * zr + zr * zr * zr));
  return r;
}

// Half-space response off the axis at depth z by integrating the point-load (Boussinesq)
// solution over the loaded circle in long double, on a polar grid centred on the load.
AxisResponse half_space_by_point_loads(double nu, double E, double p, double a, double rho, double z) {
  const int nr = 600, nt = 1200;
  long double w = 0, sz = 0;
  for (int i = 0; i < nr; ++i) {
    const long double s = (i + 0.5L) * a / nr;
    for (int j = 0; j < nt; ++j) {
      const long double t = (j + 0.5L) * 2 * kPi / nt;
      const long double dx = rho - s * cosl(t), dy = s * sinl(t);
      const long double R2 = dx * dx + dy * dy + (long double)z * z;
      const long double R = sqrtl(R2);
      const long double dA = s * (a / (long double)nr) * (2 * kPi / nt);
      const long double P = p * dA;
      sz += 3 * P * z * z * z / (2 * kPi * R2 * R2 * R);
      w += P * (1 + nu) / (2 * kPi * E) * (2 * (1 - nu) / R + z * z / (R2 * R));
    }
  }
  return {static_cast<double>(-w), static_cast<double>(sz), 0.0};
}

TEST(HalfSpace, SurfaceDeflectionUnderTheCentreIsClosedForm) {
  for (double nu : {0.2, 0.35, 0.49}) {
    const LayerSystem s = homogeneous(45000.0, nu);
    const CircularLoad load{80.0, 5.9, 0.0, 0.0};
    const EvaluationPoint point{0, 0, 0, 1};
    const ModelResult r = run(s, load, std::span(&point, 1));
    ASSERT_TRUE(succeeded(r.status));
    const double expected = -2 * (1 - nu * nu) * 80.0 * 5.9 / 45000.0;
    EXPECT_LT(relative_error(r.rows[0][kDisplacementZ], expected), 1e-12) << "nu " << nu;
  }
}

TEST(HalfSpace, SurfaceDeflectionAtTheEdgeAndOutsideFollowsTheEllipticIntegrals) {
  const double nu = 0.35, E = 45000.0, p = 80.0, a = 5.9;
  const LayerSystem s = homogeneous(E, nu);
  const CircularLoad load{p, a, 0.0, 0.0};
  const std::array<double, 7> offsets = {2.0, 4.0, a, 8.0, 12.0, 24.0, 72.0};
  std::array<EvaluationPoint, 7> points;
  for (std::size_t i = 0; i < offsets.size(); ++i) points[i] = {0.0, offsets[i], 0.0, 1};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    if (offsets[i] == a) continue;  // K(1) is infinite; the edge has its own closed form below
    const double expected = surface_deflection(nu, E, p, a, offsets[i]);
    // The series stops at a term of 1e-5, and pi is the single-precision value.
    EXPECT_LT(relative_error(r.rows[i][kDisplacementZ], expected), 3e-5) << "offset " << offsets[i];
  }
  EXPECT_NEAR(r.rows[2][kDisplacementZ], -4 * (1 - nu * nu) * p * a / (M_PI * E), 1e-6 * p * a / E);
}

TEST(HalfSpace, SurfaceVerticalStressIsFullHalfAndNoPressure) {
  const double p = 550.0, a = 150.0;
  const LayerSystem s = homogeneous(200.0, 0.4, 100.0);
  const CircularLoad load{p, a, 0.0, 0.0};
  const std::array<EvaluationPoint, 4> points = {{{0, 0, 0, 1}, {0, 75, 0, 1}, {0, a, 0, 1}, {0, 400, 0, 1}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  EXPECT_NEAR(r.rows[0][kSigmaZZ], p, 1e-12 * p);
  EXPECT_NEAR(r.rows[1][kSigmaZZ], p, 1e-12 * p);
  EXPECT_NEAR(r.rows[2][kSigmaZZ], p / 2, 1e-12 * p);
  EXPECT_NEAR(r.rows[3][kSigmaZZ], 0.0, 1e-12 * p);
  // Under the centre the horizontal stresses are equal: (1 + 2 nu) p / 2.
  EXPECT_EQ(r.rows[0][kSigmaXX], r.rows[0][kSigmaYY]);
  EXPECT_NEAR(r.rows[0][kSigmaXX], (1 + 2 * 0.4) * p / 2, 1e-9 * p);
  // Outside, radial and hoop stresses are equal and opposite: (1 - 2 nu) p a^2 / (2 r^2).
  const double hoop = (1 - 2 * 0.4) * p * a * a / (2 * 400.0 * 400.0);
  EXPECT_NEAR(r.rows[3][kSigmaXX], hoop, 1e-9 * p);  // point on the y axis: x is the hoop direction
  EXPECT_NEAR(r.rows[3][kSigmaYY], -hoop, 1e-9 * p);
}

TEST(HalfSpace, AxisResponseAtDepthMatchesLoveInEveryLayer) {
  // Layer 1 below the surface uses closed forms; layers 2-4 come from the integration alone.
  const double nu = 0.3, E = 100.0, p = 1.0, a = 5.0;
  const LayerSystem s = homogeneous(E, nu, 10.0);
  const CircularLoad load{p, a, 0.0, 0.0};
  const std::array<EvaluationPoint, 5> points = {
      {{0, 0, 4.0, 1}, {0, 0, 15.0, 2}, {0, 0, 25.0, 3}, {0, 0, 32.0, 4}, {0, 0, 12.0, 2}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 0; i < points.size(); ++i) {
    const AxisResponse e = half_space_axis(nu, E, p, a, points[i].depth);
    const double tol = points[i].layer == 1 ? 1e-12 : 2e-4;
    EXPECT_NEAR(r.rows[i][kDisplacementZ], e.w, tol * std::fabs(e.w)) << "point " << i;
    EXPECT_NEAR(r.rows[i][kSigmaZZ], e.sigma_z, tol * p) << "point " << i;
    EXPECT_NEAR(r.rows[i][kSigmaXX], e.sigma_r, tol * p) << "point " << i;
    EXPECT_NEAR(r.rows[i][kSigmaYY], e.sigma_r, tol * p) << "point " << i;
  }
}

TEST(HalfSpace, OffAxisResponseInLayerOneMatchesPointLoadQuadrature) {
  const double nu = 0.35, E = 300.0, p = 0.7, a = 150.0;
  const LayerSystem s = homogeneous(E, nu, 200.0);
  const CircularLoad load{p, a, 0.0, 0.0};
  const std::array<EvaluationPoint, 3> points = {{{0, 100, 75, 1}, {0, 150, 150, 1}, {0, 400, 120, 1}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 0; i < points.size(); ++i) {
    const AxisResponse e = half_space_by_point_loads(nu, E, p, a, points[i].y, points[i].depth);
    EXPECT_NEAR(r.rows[i][kSigmaZZ], e.sigma_z, 2e-4 * p) << "point " << i;
    EXPECT_NEAR(r.rows[i][kDisplacementZ], e.w, 2e-4 * std::fabs(e.w)) << "point " << i;
  }
}

TEST(HalfSpace, LayerOneClosedFormsAgreeWithTheIntegrationOfDeeperLayers) {
  // In a homogeneous system a point may be computed as a layer-1 point (half-space closed forms)
  // or as a layer-2 point (pure transform integration): two independent routes.
  const LayerSystem s = homogeneous(300.0, 0.35, 100.0);
  const CircularLoad load{0.7, 150.0, 0.0, 0.0};
  const std::array<EvaluationPoint, 4> points = {
      {{0, 200, 150, 1}, {0, 200, 150, 2}, {120, 90, 260, 1}, {120, 90, 260, 3}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 0; i < 4; i += 2) {
    const ResultRow& closed = r.rows[i];
    const ResultRow& integrated = r.rows[i + 1];
    for (std::size_t col : {kSigmaXX, kSigmaYY, kSigmaZZ, kTauYZ, kTauXZ, kSigmaXY}) {
      EXPECT_NEAR(closed[col], integrated[col], 3e-4 * 0.7) << "pair " << i << " column " << col;
    }
    for (std::size_t col : {kDisplacementX, kDisplacementY, kDisplacementZ}) {
      EXPECT_NEAR(closed[col], integrated[col], 3e-4 * std::fabs(closed[kDisplacementZ])) << "column " << col;
    }
  }
}

TEST(Integration, LayeredDeflectionsMatchAnIndependentQuadratureOfTheSameKernels) {
  // The transform integrals of a layered pavement, done independently: Gauss-Legendre on a fine
  // fixed grid to lambda H1 = 60 with the standard library's Bessel functions, over the kernels
  // formed from the layer solution (whose continuity is tested on its own).  This checks the
  // panels, the step doubling with its junction correction, the lambda = 0 term and the
  // closed-form terms: leaving out the junction correction or the lambda = 0 term shifts the
  // surface deflections here by 0.4 % to 5 %, while the model agrees to 5e-5.
  const LayerSystem s = pavement();
  const double H1 = 150.0, p = 0.566, a = 1.0;  // a in units of H1
  const std::array<double, 4> Z = {1.0, 3.0, 5.0, 7.0};
  const LayerConstants c = make_layer_constants(s, Z);
  struct Case {
    double offset, depth;
    int layer;
  };
  const std::array<Case, 6> cases = {
      {{0, 0, 1}, {300, 0, 1}, {1200, 0, 1}, {1800, 0, 1}, {0, 300, 2}, {600, 600, 3}}};
  const double gx[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
  const double gw[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
  std::array<long double, 6> integral{};
  const double h = 0.01;
  for (int cell = 0; cell < 6000; ++cell) {
    const double mid = (cell + 0.5) * h;
    for (int k = 0; k < 8; ++k) {
      const double lambda = mid + (k < 4 ? -1 : 1) * gx[k % 4] * h / 2;
      const double weight = gw[k % 4] * h / 2;
      const LayerCoefficients r = solve_layers(lambda, c, 0.0);
      const double q = a * p * std::cyl_bessel_j(1.0, lambda * a);
      for (std::size_t i = 0; i < cases.size(); ++i) {
        const double rho = cases[i].offset / H1, z = cases[i].depth / H1;
        const double J0 = std::cyl_bessel_j(0.0, lambda * rho);
        double f = 0.0;
        if (cases[i].layer == 1) {
          const double nu = s.poisson[0];
          f = (r.layer1[0] - (1 - 2 * nu) * r.layer1[1]) / lambda * q * J0 * std::exp(-lambda);
        } else {
          const std::size_t k = static_cast<std::size_t>(cases[i].layer) - 1;
          const auto& cc = k == 1 ? r.layer2 : r.layer3;
          const double nu = s.poisson[k], E = s.modulus[k], L = lambda * z;
          const double e1 = std::exp(-lambda * (Z[k] - z)), e2 = std::exp(-lambda * (z - Z[k - 1]));
          f = ((cc[0] - (2 - 4 * nu - L) * cc[2]) * e1 - (cc[1] + (2 - 4 * nu + L) * cc[3]) * e2) /
              (lambda * E) * q * J0 * (1 + nu);
        }
        integral[i] += static_cast<long double>(f) * weight;
      }
    }
  }
  std::array<EvaluationPoint, 6> points;
  for (std::size_t i = 0; i < cases.size(); ++i)
    points[i] = {0, cases[i].offset, cases[i].depth, cases[i].layer};
  const CircularLoad load{p, 150.0, 0.0, 0.0};
  const ModelResult model = run(s, load, points);
  ASSERT_TRUE(succeeded(model.status));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    double w = static_cast<double>(integral[i]);
    if (cases[i].layer == 1) {
      // Surface: departure integral scaled to a displacement, plus layer 1's half-space.
      const double nu = s.poisson[0], E = s.modulus[0];
      w = 4 * (1 - nu * nu) / E * w + surface_deflection(nu, E, p, a, cases[i].offset / H1);
    }
    w *= H1;
    EXPECT_NEAR(model.rows[i][kDisplacementZ], w, 2e-4 * std::fabs(w))
        << "offset " << cases[i].offset << " depth " << cases[i].depth;
  }
}

TEST(Interfaces, ResponsesAreContinuousJustAboveAndBelowEachInterface) {
  LayerSystem s;
  s.modulus = {3000, 600, 150, 60, 1500};
  s.poisson = {0.35, 0.3, 0.4, 0.45, 0.25};
  s.thickness = {150, 250, 200, 400};
  const CircularLoad load{0.6, 150.0, 0.0, 0.0};
  const double eps = 1e-7;
  const std::array<double, 3> interface_depth = {150, 400, 600};
  for (double offset : {0.0, 120.0, 450.0}) {
    for (std::size_t k = 0; k < 3; ++k) {
      const double z = interface_depth[k];
      const std::array<EvaluationPoint, 2> points = {
          {{0, offset, z - eps, static_cast<int>(k) + 1}, {0, offset, z + eps, static_cast<int>(k) + 2}}};
      const ModelResult r = run(s, load, points);
      ASSERT_TRUE(succeeded(r.status));
      const ResultRow& up = r.rows[0];
      const ResultRow& dn = r.rows[1];
      // Layer 1 carries Simpson sums of its half-space; the deeper layers agree to rounding.
      const double tol = k == 0 ? 2e-4 : 1e-7;
      const double w_scale = std::fabs(dn[kDisplacementZ]);
      EXPECT_NEAR(up[kDisplacementZ], dn[kDisplacementZ], tol * w_scale)
          << "interface " << k + 1 << " offset " << offset;
      EXPECT_NEAR(up[kDisplacementY], dn[kDisplacementY], tol * w_scale)
          << "interface " << k + 1 << " offset " << offset;
      EXPECT_NEAR(up[kSigmaZZ], dn[kSigmaZZ], tol * 0.6) << "interface " << k + 1 << " offset " << offset;
      EXPECT_NEAR(up[kTauYZ], dn[kTauYZ], tol * 0.6) << "interface " << k + 1 << " offset " << offset;
    }
  }
}

TEST(Symmetry, RotatingThePointAboutTheLoadSwapsTheHorizontalComponents) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.5, 150.0, 0.0, 0.0};
  const std::array<EvaluationPoint, 4> points = {
      {{0, 450, 0, 1}, {450, 0, 0, 1}, {0, 300, 500, 2}, {300, 0, 500, 2}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 0; i < 4; i += 2) {
    const ResultRow& on_y = r.rows[i];
    const ResultRow& on_x = r.rows[i + 1];
    const double scale = std::fabs(on_y[kSigmaYY]) + std::fabs(on_y[kSigmaZZ]);
    EXPECT_NEAR(on_y[kSigmaXX], on_x[kSigmaYY], 1e-12 * scale);
    EXPECT_NEAR(on_y[kSigmaYY], on_x[kSigmaXX], 1e-12 * scale);
    EXPECT_NEAR(on_y[kTauYZ], on_x[kTauXZ], 1e-12 * scale);
    EXPECT_NEAR(on_y[kDisplacementY], on_x[kDisplacementX], 1e-12 * std::fabs(on_y[kDisplacementZ]));
    EXPECT_EQ(on_y[kDisplacementZ], on_x[kDisplacementZ]);
    EXPECT_NEAR(on_y[kSigmaXY], 0.0, 1e-12 * scale);
    EXPECT_NEAR(on_x[kSigmaXY], 0.0, 1e-12 * scale);
  }
}

TEST(Loads, TwoLoadsSuperposeAndMirrorImagesCancelTheShear) {
  const LayerSystem s = pavement();
  const std::array<CircularLoad, 2> loads = {{{0.5, 150.0, 0.0, -300.0}, {0.5, 150.0, 0.0, 300.0}}};
  // The point midway between the loads and one equally far from both fix the same step cap in
  // every run.
  const std::array<EvaluationPoint, 2> points = {{{0, 0, 200, 2}, {900, 0, 0, 1}}};
  const ModelResult both = evaluate_response(s, loads, points);
  const ModelResult first = evaluate_response(s, std::span(loads.data(), 1), points);
  const ModelResult second = evaluate_response(s, std::span(loads.data() + 1, 1), points);
  ASSERT_TRUE(succeeded(both.status));
  const ResultRow& mid = both.rows[0];
  EXPECT_NEAR(mid[kTauYZ], 0.0, 1e-12);
  EXPECT_NEAR(mid[kDisplacementY], 0.0, 1e-12 * std::fabs(mid[kDisplacementZ]));
  EXPECT_NEAR(first.rows[0][kTauYZ], -second.rows[0][kTauYZ], 1e-12);
  for (std::size_t col : {kSigmaZZ, kDisplacementZ}) {
    const double sum = first.rows[0][col] + second.rows[0][col];
    EXPECT_NEAR(mid[col], sum, 1e-4 * std::fabs(sum)) << "column " << col;
  }
}

TEST(Results, PrincipalStressesAreOrderedAndKeepTheInvariants) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.6, 150.0, 0.0, 0.0};
  const std::array<EvaluationPoint, 4> points = {
      {{80, 120, 100, 1}, {0, 250, 300, 2}, {200, 200, 600, 3}, {0, 0, 149.0, 1}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 0; i < points.size(); ++i) {
    const ResultRow& row = r.rows[i];
    const double sxx = row[kSigmaXX], syy = row[kSigmaYY], szz = row[kSigmaZZ];
    const double tyz = row[kTauYZ], txz = row[kTauXZ], sxy = row[kSigmaXY];
    const double s1 = row[kSigma1], s2 = row[kSigma2], s3 = row[kSigma3];
    EXPECT_GE(s1, s2);
    EXPECT_GE(s2, s3);
    const double I1 = sxx + syy + szz;
    const double I2 = sxx * syy + syy * szz + szz * sxx - sxy * sxy - txz * txz - tyz * tyz;
    const double I3 =
        sxx * syy * szz + 2 * sxy * txz * tyz - sxx * tyz * tyz - syy * txz * txz - szz * sxy * sxy;
    // The roots are spread by the single-precision 2 pi/3 and 4 pi/3, which are off by up to
    // 8.4e-7: the invariants hold to a few 1e-6 of the stress scale, not to rounding.
    const double scale = std::fabs(s1) + std::fabs(s3);
    EXPECT_NEAR(s1 + s2 + s3, I1, 5e-6 * scale) << "point " << i;
    EXPECT_NEAR(s1 * s2 + s2 * s3 + s3 * s1, I2, 5e-6 * scale * scale) << "point " << i;
    EXPECT_NEAR(s1 * s2 * s3, I3, 5e-6 * scale * scale * scale) << "point " << i;
    const std::size_t layer = static_cast<std::size_t>(points[i].layer) - 1;
    const double E = s.modulus[layer], nu = s.poisson[layer];
    EXPECT_NEAR(row[kEpsilon1], (s1 - nu * (s2 + s3)) / E, 1e-15 * scale);
    EXPECT_NEAR(row[kEpsilonZZ], (szz - nu * (sxx + syy)) / E, 1e-15 * scale);
    EXPECT_NEAR(row[kEpsilonXX], (sxx - nu * (syy + szz)) / E, 1e-15 * scale);
  }
}

TEST(Results, TenPointsFillTenRowsAndTheStepColumn) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  std::array<EvaluationPoint, kMaxPoints> points;
  // Five surface points, then points in layers 1, 2, 2, 3, 4 (interfaces at 150, 450, 750, 1050).
  const std::array<double, 5> depth = {100, 300, 400, 600, 900};
  const std::array<int, 5> layer = {1, 2, 2, 3, 4};
  for (std::size_t i = 0; i < kMaxPoints; ++i) {
    points[i] = i < 5 ? EvaluationPoint{0, 200.0 * i, 0, 1}
                      : EvaluationPoint{0, 200.0 * i, depth[i - 5], layer[i - 5]};
  }
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  EXPECT_EQ(r.point_count, kMaxPoints);
  for (std::size_t i = 0; i < kMaxPoints; ++i) {
    EXPECT_LT(r.rows[i][kDisplacementZ], 0.0) << "row " << i;
    EXPECT_EQ(r.rows[i][kInitialStep], r.initial_step) << "row " << i;
  }
  EXPECT_GT(r.initial_step, 0.0);
  // The integration always ends on the end of a six-step panel.
  EXPECT_GE(r.lambda_values, 6);
  EXPECT_EQ(r.lambda_values % 6, 0);
}

TEST(InitialStep, ScalesWithTheLoadRadiusAndStopsAtTheCaps) {
  const EvaluationPoint centre{0, 0, 0, 1};
  // Homogeneous system, load radius equal to H1: sqrt(E5/E1) = 1 and log10(1/1) = 0, so the step
  // is the single-precision 0.1 itself.
  const LayerSystem s = homogeneous(100.0, 0.3, 10.0);
  const CircularLoad unit{1.0, 10.0, 0.0, 0.0};
  EXPECT_EQ(run(s, unit, std::span(&centre, 1)).initial_step, static_cast<double>(0.1f));
  // Load radius 0.01 H1 doubles it to 0.2, which reaches the cap for near points (single 0.2).
  const CircularLoad small{1.0, 0.1, 0.0, 0.0};
  EXPECT_EQ(run(s, small, std::span(&centre, 1)).initial_step, static_cast<double>(0.2f));
  // A point 12 H1 away caps the step at 0.5 / 12.
  const EvaluationPoint far{0, 120.0, 0, 1};
  EXPECT_EQ(run(s, small, std::span(&far, 1)).initial_step, 0.5 / 12.0);
  // A stiffer half-space below a soft layer takes the search estimator; still positive, capped.
  LayerSystem stiff_bottom = pavement();
  stiff_bottom.modulus[4] = 5000;
  const CircularLoad plate{0.566, 150.0, 0.0, 0.0};
  const ModelResult r = run(stiff_bottom, plate, std::span(&far, 1));
  ASSERT_TRUE(succeeded(r.status));
  EXPECT_GT(r.initial_step, 0.0);
  EXPECT_LE(r.initial_step, static_cast<double>(0.2f));
}

TEST(Results, PointInTheHalfSpaceGetsZeros) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const std::array<EvaluationPoint, 2> points = {{{0, 0, 0, 1}, {0, 0, 2000.0, 5}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (double v : std::span(r.rows[1]).first(kInitialStep)) EXPECT_EQ(v, 0.0);
}

TEST(Results, SurfacePointIsASurfacePointWhateverItsLayerNumber) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const std::array<EvaluationPoint, 3> points = {{{0, 300, 0, 1}, {0, 300, 0, 2}, {0, 300, 0, 4}}};
  const ModelResult r = run(s, load, points);
  ASSERT_TRUE(succeeded(r.status));
  for (std::size_t i = 1; i < 3; ++i) {
    for (std::size_t col = 0; col <= kDisplacementZ; ++col) {
      if (col >= kSigma1 && col <= kEpsilon3) continue;  // principal strains use the point's layer
      EXPECT_EQ(r.rows[i][col], r.rows[0][col]) << "row " << i << " column " << col;
    }
  }
}

TEST(Results, StiffAsphaltDeflectsLessAndSpreadsTheBasin) {
  // Physical ordering: a stiffer top layer lowers the centre deflection and flattens the basin,
  // while the far sensors (governed by the subgrade) hardly change.
  LayerSystem soft = pavement();
  LayerSystem stiff = pavement();
  stiff.modulus[0] = 12000;
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const std::array<EvaluationPoint, 3> points = {{{0, 0, 0, 1}, {0, 300, 0, 1}, {0, 1800, 0, 1}}};
  const ModelResult a = run(soft, load, points), b = run(stiff, load, points);
  ASSERT_TRUE(succeeded(a.status) && succeeded(b.status));
  EXPECT_GT(b.rows[0][kDisplacementZ], a.rows[0][kDisplacementZ]);
  EXPECT_LT(b.rows[0][kDisplacementZ] / b.rows[1][kDisplacementZ],
            a.rows[0][kDisplacementZ] / a.rows[1][kDisplacementZ]);
  EXPECT_NEAR(b.rows[2][kDisplacementZ], a.rows[2][kDisplacementZ],
              0.1 * std::fabs(a.rows[2][kDisplacementZ]));
}

TEST(Results, StifferLayersNeverDeflectMoreUnderTheLoad) {
  // The surface deflection under a uniform load is the load's work per unit pressure; stiffening
  // any layer can only lower it.  Catches a sign slip in any one layer's coefficients.
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const EvaluationPoint centre{0, 0, 0, 1};
  LayerSystem base;
  base.modulus = {3000, 400, 150, 60, 300};
  base.poisson = {0.35, 0.35, 0.4, 0.45, 0.3};
  base.thickness = {150, 250, 300, 1500};
  const double w0 = run(base, load, std::span(&centre, 1)).rows[0][kDisplacementZ];
  ASSERT_LT(w0, 0.0);
  for (std::size_t layer = 0; layer < kMaxLayers; ++layer) {
    LayerSystem stiffer = base;
    stiffer.modulus[layer] *= 1.5;
    const ModelResult r = run(stiffer, load, std::span(&centre, 1));
    ASSERT_TRUE(succeeded(r.status));
    EXPECT_GT(r.rows[0][kDisplacementZ], w0) << "layer " << layer + 1;
  }
}

TEST(Robustness, RandomPavementsEndWithFiniteResultsOrAFailure) {
  // Fixed pseudo-random pavements over a wide range of moduli, thicknesses and points.
  std::uint64_t state = 12345;
  const auto uniform = [&state](double lo, double hi) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return lo + (hi - lo) * static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  int failures = 0;
  for (int trial = 0; trial < 60; ++trial) {
    LayerSystem s;
    for (std::size_t j = 0; j < kMaxLayers; ++j) {
      s.modulus[j] = std::pow(10.0, uniform(1.0, 4.5));
      s.poisson[j] = uniform(0.15, 0.49);
    }
    for (std::size_t j = 0; j < kMaxThicknesses; ++j) s.thickness[j] = uniform(30.0, 1000.0);
    const CircularLoad load{uniform(0.2, 1.5), 150.0, 0.0, 0.0};
    std::array<EvaluationPoint, 6> points = {{{0, 0, 0, 1}, {0, uniform(0, 1800), 0, 1}}};
    double top = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
      const double bottom = top + s.thickness[k];
      points[2 + k] = {uniform(-300, 300), uniform(0, 900), top + uniform(0.05, 0.95) * (bottom - top),
                       static_cast<int>(k) + 1};
      top = bottom;
    }
    const ModelResult r = run(s, load, points);
    if (!succeeded(r.status)) {
      ++failures;
      continue;
    }
    EXPECT_LT(r.rows[0][kDisplacementZ], 0.0) << "trial " << trial;
    for (std::size_t i = 0; i < points.size(); ++i) {
      for (double v : r.rows[i]) EXPECT_TRUE(std::isfinite(v)) << "trial " << trial << " row " << i;
    }
  }
  EXPECT_EQ(failures, 0);  // every one of these pavements is physically sound
}

TEST(Adapter, ArgumentOrderCallGivesTheSameRows) {
  const LayerSystem s = pavement();
  const std::array<EvaluationPoint, 3> points = {{{0, 0, 0, 1}, {0, 600, 0, 1}, {0, 0, 450, 3}}};
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const ModelResult direct = run(s, load, points);
  const std::array<double, 1> p = {0.566}, a = {150.0}, X = {0.0}, Y = {0.0};
  const std::array<int, 3> layer = {1, 1, 3};
  const std::array<double, 3> x = {0, 0, 0}, y = {0, 600, 0}, z = {0, 0, 450};
  ResultTable table{};
  table[3][0] = 42.0;  // rows beyond the points stay as they were
  const EvaluationStatus status = evaluate_response_in_argument_order(
      s.modulus, s.thickness, s.poisson, s.interface_factor, p, a, X, Y, layer, x, y, z, table, 1);
  ASSERT_TRUE(succeeded(status));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(table[i], direct.rows[i]);
  EXPECT_EQ(table[3][0], 42.0);
  EXPECT_EQ(evaluate_response_in_argument_order(s.modulus, s.thickness, s.poisson, s.interface_factor, p, a,
                                                X, Y, layer, x, y, z, table, 2),
            EvaluationStatus::kInvalidInput);
}

TEST(Concurrency, TwoThreadsGetTheSameResultsAsOne) {
  const LayerSystem s1 = pavement();
  LayerSystem s2 = pavement();
  s2.modulus = {5000, 200, 80, 80, 600};
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  std::array<EvaluationPoint, 9> points;
  const double offsets[9] = {0, 200, 300, 450, 600, 900, 1200, 1500, 1800};
  for (std::size_t i = 0; i < 9; ++i) points[i] = {0, offsets[i], 0, 1};
  const ModelResult ref1 = run(s1, load, points), ref2 = run(s2, load, points);
  std::vector<ModelResult> out1(20), out2(20);
  std::thread t1([&] {
    for (auto& r : out1) r = run(s1, load, points);
  });
  std::thread t2([&] {
    for (auto& r : out2) r = run(s2, load, points);
  });
  t1.join();
  t2.join();
  for (const auto& r : out1) EXPECT_EQ(r.rows, ref1.rows);
  for (const auto& r : out2) EXPECT_EQ(r.rows, ref2.rows);
}

TEST(Guards, LoadRadiusOfAHundredTopLayersGivesAFailedEvaluationNotAnEndlessLoop) {
  LayerSystem s = pavement();
  s.thickness[0] = 1.5;  // load radius 150 = 100 H1: the initial step is exactly zero
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const EvaluationPoint point{0, 0, 0, 1};
  const ModelResult r = run(s, load, std::span(&point, 1));
  EXPECT_EQ(r.status, EvaluationStatus::kBadInitialStep);
  for (double v : r.rows[0]) EXPECT_EQ(v, 0.0);
  s.thickness[0] = 1.0;  // 150 H1: negative step
  EXPECT_EQ(run(s, load, std::span(&point, 1)).status, EvaluationStatus::kBadInitialStep);
}

TEST(Guards, PoissonRatioOfOneOrNonFiniteDataFails) {
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const EvaluationPoint point{0, 300, 0, 1};
  LayerSystem s = pavement();
  s.poisson[0] = 1.0;
  EXPECT_FALSE(succeeded(run(s, load, std::span(&point, 1)).status));
  s = pavement();
  s.poisson[2] = 1.0;
  EXPECT_FALSE(succeeded(run(s, load, std::span(&point, 1)).status));
  s = pavement();
  s.modulus[1] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(run(s, load, std::span(&point, 1)).status, EvaluationStatus::kInvalidInput);
  s = pavement();
  s.poisson[1] = std::nan("");
  EXPECT_EQ(run(s, load, std::span(&point, 1)).status, EvaluationStatus::kInvalidInput);
}

TEST(Guards, PoissonRatioCloseToOneEndsWithinTheLimits) {
  // Ratios this close to 1 are outside elasticity; the model only has to come back, either with
  // finite numbers or with a failure, and within its limits.
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const EvaluationPoint point{0, 300, 0, 1};
  int failed = 0;
  for (double nu : {0.999, 0.9999999}) {
    for (std::size_t layer = 0; layer < 4; ++layer) {
      LayerSystem s = pavement();
      s.poisson[layer] = nu;
      if (layer == 3) s.poisson = {nu, nu, 0.45, nu, 0.45};
      const ModelResult r = run(s, load, std::span(&point, 1));
      EXPECT_LE(r.lambda_values, IntegrationLimits{}.max_lambda_values + 6);
      if (succeeded(r.status)) {
        for (double v : r.rows[0]) EXPECT_TRUE(std::isfinite(v)) << "nu " << nu << " layer " << layer + 1;
      } else {
        ++failed;
        for (double v : r.rows[0]) EXPECT_EQ(v, 0.0);
      }
    }
  }
  EXPECT_GE(failed, 1);  // three layers at 0.9999999 make the determinant degenerate
}

TEST(Guards, TransformValueLimitStopsTheIntegration) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  const EvaluationPoint point{0, 1800, 0, 1};
  IntegrationLimits tight;
  tight.max_lambda_values = 60;
  const ModelResult r = evaluate_response(s, std::span(&load, 1), std::span(&point, 1), tight);
  EXPECT_EQ(r.status, EvaluationStatus::kIntegrationRunaway);
  EXPECT_LE(r.lambda_values, 66);
  IntegrationLimits low_lambda;
  low_lambda.max_lambda = 1.0;
  EXPECT_EQ(evaluate_response(s, std::span(&load, 1), std::span(&point, 1), low_lambda).status,
            EvaluationStatus::kIntegrationRunaway);
  // The default limits are far beyond this case.
  EXPECT_TRUE(succeeded(evaluate_response(s, std::span(&load, 1), std::span(&point, 1)).status));
}

TEST(Guards, InvalidCountsAndLayersAreRefused) {
  const LayerSystem s = pavement();
  const CircularLoad load{0.566, 150.0, 0.0, 0.0};
  std::array<EvaluationPoint, kMaxPoints + 1> many{};
  EXPECT_EQ(run(s, load, many).status, EvaluationStatus::kInvalidInput);
  EXPECT_EQ(run(s, load, std::span(many.data(), 0)).status, EvaluationStatus::kInvalidInput);
  const EvaluationPoint bad_layer{0, 0, 100, 6};
  EXPECT_EQ(run(s, load, std::span(&bad_layer, 1)).status, EvaluationStatus::kInvalidInput);
  LayerSystem flat = s;
  flat.thickness[0] = 0.0;
  const EvaluationPoint ok{0, 0, 0, 1};
  EXPECT_EQ(run(flat, load, std::span(&ok, 1)).status, EvaluationStatus::kInvalidInput);
  const CircularLoad no_radius{0.566, 0.0, 0.0, 0.0};
  EXPECT_EQ(run(s, no_radius, std::span(&ok, 1)).status, EvaluationStatus::kInvalidInput);
  // Non-finite coordinates would make the distance ordering meaningless; a point above the
  // surface is no point of the pavement.
  const double nan = std::nan("");
  for (const EvaluationPoint& bad : {EvaluationPoint{nan, 0, 0, 1}, EvaluationPoint{0, INFINITY, 0, 1},
                                     EvaluationPoint{0, 0, nan, 2}, EvaluationPoint{0, 0, -1.0, 1}}) {
    EXPECT_EQ(run(s, load, std::span(&bad, 1)).status, EvaluationStatus::kInvalidInput);
  }
  const CircularLoad nan_load{nan, 150.0, 0.0, 0.0};
  EXPECT_EQ(run(s, nan_load, std::span(&ok, 1)).status, EvaluationStatus::kInvalidInput);
}

}  // namespace
}  // namespace basinfit::model
