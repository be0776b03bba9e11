// The locally constrained step against worked examples computed independently in double
// precision, and the dense kernels under it.

#include "solver/trust_region_step.h"

#include <gtest/gtest.h>

#include <cmath>

#include "solver/dense_linear_algebra.h"

namespace basinfit::solver {
namespace {

using linalg::packed_index;

// Gauss-Newton example: R upper triangular, q1 = (Q^T r)_1:3, scale d, radius 0.5.
struct GaussNewtonExample {
  float r[3][3] = {{2, 0.5f, -0.3f}, {0, 1, 0.4f}, {0, 0, 0.25f}};
  float q1[3] = {1, -2, 0.5f};
  float d[3] = {2, 1, 0.5f};
  float e[3], a[3], vectors[9];
  GaussNewtonExample() {
    // A = R D^-1, orthogonalised: e = squared column norms, a = (A V)^T q1.
    float matrix[9];
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 3; ++i) matrix[j * 3 + i] = r[i][j] / d[j];
    }
    linalg::orthogonalise_columns(matrix, 3, 3, vectors);
    for (int j = 0; j < 3; ++j) {
      e[j] = a[j] = 0;
      for (int i = 0; i < 3; ++i) {
        e[j] += matrix[j * 3 + i] * matrix[j * 3 + i];
        a[j] += matrix[j * 3 + i] * q1[i];
      }
    }
  }
  // Unscaled step s = D^-1 V c.
  void step(const float* c, float* s) const {
    for (int i = 0; i < 3; ++i) {
      s[i] = 0;
      for (int j = 0; j < 3; ++j) s[i] += vectors[j * 3 + i] * c[j];
      s[i] /= d[i];
    }
  }
};

TEST(ConstrainedStep, GaussNewtonFullStepData) {
  const GaussNewtonExample ex;
  float c[3];
  const ConstrainedStep result = locally_constrained_step(ex.e, ex.a, 3, 10.0f, 0.9f, 1.1f, 0.0f, 12,
                                                          squared_singular_value_zero_tolerance(ex.e, 3), c);
  EXPECT_EQ(result.multiplier, 0.0f);
  EXPECT_NEAR(result.full_length, 4.22374241639f, 2e-5f);
  EXPECT_NEAR(result.full_reduction, 2.625f, 2e-5f);
  float s[3];
  ex.step(c, s);
  EXPECT_NEAR(s[0], -1.5f, 2e-5f);
  EXPECT_NEAR(s[1], 2.8f, 2e-5f);
  EXPECT_NEAR(s[2], -2.0f, 2e-5f);
}

TEST(ConstrainedStep, GaussNewtonStepOnTheTrustRegionBoundary) {
  const GaussNewtonExample ex;
  float c[3];
  const ConstrainedStep result = locally_constrained_step(ex.e, ex.a, 3, 0.5f, 0.9f, 1.1f, 0.0f, 12,
                                                          squared_singular_value_zero_tolerance(ex.e, 3), c);
  // Inside the +-10 % window around the radius, with mu near the exact root 3.5843.
  EXPECT_GE(result.length, 0.45f);
  EXPECT_LE(result.length, 0.55f);
  EXPECT_GT(result.multiplier, 2.5f);
  EXPECT_LT(result.multiplier, 4.5f);
  EXPECT_LE(result.trials, 12);
  // The step solves (R^T R + mu D^2) s = -g with g = R^T q1.
  float s[3];
  ex.step(c, s);
  float rs[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    for (int j = i; j < 3; ++j) rs[i] += ex.r[i][j] * s[j];
  }
  for (int j = 0; j < 3; ++j) {
    float lhs = result.multiplier * ex.d[j] * ex.d[j] * s[j];
    float g = 0;
    for (int i = 0; i <= j; ++i) {
      lhs += ex.r[i][j] * rs[i];
      g += ex.r[i][j] * ex.q1[i];
    }
    EXPECT_NEAR(lhs, -g, 1e-4f) << j;
  }
  // pred = 1/2 ||R s||^2 + mu ||D s||^2 for such a step.
  float half_rs = 0, ds = 0;
  for (int i = 0; i < 3; ++i) {
    half_rs += 0.5f * rs[i] * rs[i];
    ds += (ex.d[i] * s[i]) * (ex.d[i] * s[i]);
  }
  EXPECT_NEAR(result.reduction, half_rs + result.multiplier * ds, 1e-4f);
}

TEST(ConstrainedStep, ExactRootWithATightWindow) {
  const GaussNewtonExample ex;
  float c[3];
  const ConstrainedStep result = locally_constrained_step(ex.e, ex.a, 3, 0.5f, 0.9999f, 1.0001f, 0.0f, 12,
                                                          squared_singular_value_zero_tolerance(ex.e, 3), c);
  EXPECT_NEAR(result.multiplier, 3.58430161126f, 2e-3f);
  EXPECT_NEAR(result.reduction, 1.1108359834f, 1e-4f);
  float s[3];
  ex.step(c, s);
  EXPECT_NEAR(s[0], -0.102453258052f, 1e-4f);
  EXPECT_NEAR(s[1], 0.29554821813f, 1e-4f);
  EXPECT_NEAR(s[2], 0.694736123771f, 1e-4f);
}

// Indefinite model: H with eigenvalues (-0.530, 1.026, 2.004), D = I, radius 1.
struct IndefiniteExample {
  float h[9] = {1, 0.2f, 0, 0.2f, -0.5f, 0.1f, 0, 0.1f, 2};
  float e[3], a[3], vectors[9];
  explicit IndefiniteExample(const float g[3]) {
    float b[9];
    for (int i = 0; i < 9; ++i) b[i] = h[i];
    linalg::symmetric_eigen(b, 3, e, vectors);
    for (int j = 0; j < 3; ++j) {
      a[j] = 0;
      for (int i = 0; i < 3; ++i) a[j] += vectors[j * 3 + i] * g[i];
    }
  }
  void step(const float* c, float* s) const {
    for (int i = 0; i < 3; ++i) {
      s[i] = 0;
      for (int j = 0; j < 3; ++j) s[i] += vectors[j * 3 + i] * c[j];
    }
  }
  float model(const float* g, const float* s) const {
    float value = 0;
    for (int i = 0; i < 3; ++i) {
      value += g[i] * s[i];
      for (int j = 0; j < 3; ++j) value += 0.5f * s[i] * h[i * 3 + j] * s[j];
    }
    return value;
  }
};

TEST(ConstrainedStep, IndefiniteModelFindsTheOptimalBoundaryStep) {
  const float g[3] = {0.3f, -0.4f, 0.2f};
  const IndefiniteExample ex(g);
  EXPECT_NEAR(std::min({ex.e[0], ex.e[1], ex.e[2]}), -0.530094595937f, 1e-5f);
  float c[3];
  const ConstrainedStep result = locally_constrained_step(ex.e, ex.a, 3, 1.0f, 0.9999f, 1.0001f, 0.0f, 12,
                                                          eigenvalue_zero_tolerance(ex.e, 3), c);
  EXPECT_FALSE(result.full_step_exists);
  EXPECT_NEAR(result.multiplier, 0.977286201162f, 1e-3f);
  float s[3];
  ex.step(c, s);
  EXPECT_NEAR(s[0], -0.249163061786f, 1e-3f);
  EXPECT_NEAR(s[1], 0.96333341954f, 1e-3f);
  EXPECT_NEAR(s[2], -0.099531359074f, 1e-3f);
  EXPECT_NEAR(ex.model(g, s), -0.728637379664f, 1e-4f);
  EXPECT_NEAR(result.reduction, 0.728637379664f, 1e-4f);
}

TEST(ConstrainedStep, HardCaseMovesAlongTheLowestCurvatureToTheBoundary) {
  // g without its component along the eigenvector of the lowest eigenvalue.
  const float g[3] = {0.242626671236f, 0.0389331014627f, 0.182651514209f};
  const IndefiniteExample ex(g);
  float c[3];
  const ConstrainedStep result = locally_constrained_step(ex.e, ex.a, 3, 1.0f, 0.9f, 1.1f, 0.0f, 12,
                                                          eigenvalue_zero_tolerance(ex.e, 3), c);
  EXPECT_NEAR(result.multiplier, 0.530094595937f, 1e-4f);
  EXPECT_NEAR(result.length, 1.0f, 1e-4f);
  float s[3];
  ex.step(c, s);
  // Either sign of the eigenvector part is optimal; the model value is the same.
  EXPECT_NEAR(ex.model(g, s), -0.290876869856f, 2e-4f);
}

TEST(ConstrainedStep, PositiveDefiniteModelInsideTheRadiusTakesTheFullStep) {
  const float e[2] = {2.0f, 4.0f};
  const float a[2] = {1.0f, -2.0f};
  float c[2];
  const ConstrainedStep result = locally_constrained_step(e, a, 2, 5.0f, 0.9f, 1.1f, 1.0f, 12, 1e-6f, c);
  EXPECT_EQ(result.multiplier, 0.0f);
  EXPECT_FLOAT_EQ(c[0], -0.5f);
  EXPECT_FLOAT_EQ(c[1], 0.5f);
  EXPECT_FLOAT_EQ(result.full_reduction, 0.5f * (0.5f + 1.0f));
  EXPECT_FLOAT_EQ(result.reduction, result.full_reduction);
}

TEST(ConstrainedStep, SingularGaussNewtonModelTakesTheMinimumNormStep) {
  // One zero singular value with no gradient along it: mu = 0, no full step reported.
  const float e[2] = {4.0f, 0.0f};
  const float a[2] = {2.0f, 0.0f};
  float c[2];
  const ConstrainedStep result = locally_constrained_step(e, a, 2, 5.0f, 0.9f, 1.1f, 0.0f, 12, 1e-10f, c);
  EXPECT_FALSE(result.full_step_exists);
  EXPECT_LT(result.full_length, 0.0f);
  EXPECT_EQ(result.multiplier, 0.0f);
  EXPECT_FLOAT_EQ(c[0], -0.5f);
  EXPECT_EQ(c[1], 0.0f);
}

TEST(DenseKernels, HouseholderFactorReproducesTheGradientAndResidualNorm) {
  // J (4 x 3) and r: R^T (Q^T r)_1:3 = J^T r and ||Q^T r|| = ||r||.
  float j[12] = {1, 0.2f, 0, 1, 0.5f, 1.5f, 0.4f, 1, 0, 0.3f, 2, 1};
  const float j_copy[12] = {1, 0.2f, 0, 1, 0.5f, 1.5f, 0.4f, 1, 0, 0.3f, 2, 1};
  float r[4] = {0.8f, -0.5f, 1.2f, 0.3f};
  const float r_copy[4] = {0.8f, -0.5f, 1.2f, 0.3f};
  float tau[3], packed[6];
  linalg::householder_qr(j, 4, 3, tau, packed);
  linalg::apply_qt(j, 4, 3, tau, r);
  float norm_before = 0, norm_after = 0;
  for (int i = 0; i < 4; ++i) {
    norm_before += r_copy[i] * r_copy[i];
    norm_after += r[i] * r[i];
  }
  EXPECT_NEAR(norm_after, norm_before, 1e-5f);
  for (int col = 0; col < 3; ++col) {
    float gradient = 0, from_factor = 0;
    for (int i = 0; i < 4; ++i) gradient += j_copy[col * 4 + i] * r_copy[i];
    for (int i = 0; i <= col; ++i) from_factor += packed[packed_index(i, col)] * r[i];
    EXPECT_NEAR(from_factor, gradient, 1e-5f) << col;
  }
}

}  // namespace
}  // namespace basinfit::solver
