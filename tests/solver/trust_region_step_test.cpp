// The locally constrained step against worked examples computed independently in double
// precision, and the dense kernels under it.

#include "solver/trust_region_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "solver/dense_linear_algebra.h"

namespace basinfit::solver {
namespace {

using linalg::packed_index;

// Gauss-Newton example: R upper triangular, q1 = (Q^T r)_1:3, scale d.
struct GaussNewtonExample {
  float r[6] = {};
  float q1[3] = {1, -2, 0.5f};
  float d[3] = {2, 1, 0.5f};
  float triangle[6] = {};
  float work[12] = {};
  float s[3] = {};
  GaussNewtonExample() {
    const float dense[3][3] = {{2, 0.5f, -0.3f}, {0, 1, 0.4f}, {0, 0, 0.25f}};
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i <= j; ++i) r[packed_index(i, j)] = dense[i][j];
    }
  }
  ConstrainedStep solve(float radius, StepWindow window = {}, float mu_start = 0.0f) {
    return gauss_newton_step(r, q1, d, 3, radius, window, mu_start, triangle, work, s);
  }
  void times_r(const float* x, float* out) const {
    for (int i = 0; i < 3; ++i) {
      out[i] = 0;
      for (int j = i; j < 3; ++j) out[i] += r[packed_index(i, j)] * x[j];
    }
  }
  float gradient(int j) const {
    float g = 0;
    for (int i = 0; i <= j; ++i) g += r[packed_index(i, j)] * q1[i];
    return g;
  }
};

TEST(GaussNewtonStep, FullStepAndItsDataWhenItFitsTheRadius) {
  GaussNewtonExample ex;
  const ConstrainedStep result = ex.solve(10.0f);
  EXPECT_EQ(result.multiplier, 0.0f);
  EXPECT_TRUE(result.full_step_exists);
  EXPECT_NEAR(result.full_length, 4.22374241639f, 2e-5f);
  EXPECT_NEAR(result.full_reduction, 2.625f, 2e-5f);
  EXPECT_EQ(result.trials, 1);
  EXPECT_NEAR(ex.s[0], -1.5f, 2e-5f);
  EXPECT_NEAR(ex.s[1], 2.8f, 2e-5f);
  EXPECT_NEAR(ex.s[2], -2.0f, 2e-5f);
}

TEST(GaussNewtonStep, IteratesFollowHebdenFromTheSafeguardedStart) {
  // From mu = 0: l0 = 0.0858, u0 = 5.3113, so the first trial is sqrt(l0 u0) = 0.6752 and
  // Hebden's update then lands in the window at 3.1267.  Capping the trials at two (mu = 0
  // and one more) returns the step of the last mu tried.
  GaussNewtonExample ex;
  StepWindow capped;
  capped.max_trials = 2;
  const ConstrainedStep first = ex.solve(0.5f, capped);
  EXPECT_EQ(first.trials, 2);
  EXPECT_NEAR(first.multiplier, 0.675194171033f, 1e-5f);
  EXPECT_NEAR(first.length, 1.16357852781f, 1e-5f);

  const ConstrainedStep result = ex.solve(0.5f);
  EXPECT_EQ(result.trials, 3);
  EXPECT_NEAR(result.multiplier, 3.12665750403f, 1e-4f);
  EXPECT_NEAR(result.length, 0.547533145596f, 1e-5f);
  // nred and L0 still describe the full step.
  EXPECT_NEAR(result.full_length, 4.22374241639f, 2e-5f);
  EXPECT_NEAR(result.full_reduction, 2.625f, 2e-5f);
  // The step solves (R^T R + mu D^2) s = -g, and pred = -g^T s - 1/2 ||R s||^2.
  float rs[3], rtrs[3] = {0, 0, 0};
  ex.times_r(ex.s, rs);
  float direct = 0;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i <= j; ++i) rtrs[j] += ex.r[packed_index(i, j)] * rs[i];
    EXPECT_NEAR(rtrs[j] + result.multiplier * ex.d[j] * ex.d[j] * ex.s[j], -ex.gradient(j), 1e-4f) << j;
    direct -= ex.gradient(j) * ex.s[j] + 0.5f * rs[j] * rs[j];
  }
  EXPECT_NEAR(result.reduction, direct, 1e-5f);
}

TEST(GaussNewtonStep, ExactRootWithATightWindow) {
  GaussNewtonExample ex;
  StepWindow tight;
  tight.lower_factor = 0.9999f;
  tight.upper_factor = 1.0001f;
  const ConstrainedStep result = ex.solve(0.5f, tight);
  EXPECT_NEAR(result.multiplier, 3.58430161126f, 2e-3f);
  EXPECT_NEAR(result.reduction, 1.1108359834f, 1e-4f);
  EXPECT_NEAR(ex.s[0], -0.102453258052f, 1e-4f);
  EXPECT_NEAR(ex.s[1], 0.29554821813f, 1e-4f);
  EXPECT_NEAR(ex.s[2], 0.694736123771f, 1e-4f);
}

TEST(GaussNewtonStep, SingularTriangleHasNoFullStepButAStepInTheWindow) {
  // Second column dependent on the first: R = [[2, 1], [0, 0]].
  const float r[3] = {2, 1, 0};
  const float q[2] = {1, 1};
  const float d[2] = {1, 1};
  float triangle[3], work[8], s[2];
  const ConstrainedStep result = gauss_newton_step(r, q, d, 2, 0.1f, {}, 0.0f, triangle, work, s);
  EXPECT_FALSE(result.full_step_exists);
  EXPECT_LT(result.full_length, 0.0f);
  EXPECT_LT(result.full_reduction, 0.0f);
  EXPECT_GT(result.multiplier, 0.0f);
  EXPECT_GE(result.length, 0.09f);
  EXPECT_LE(result.length, 0.11f);
  // (R^T R + mu I) s = -R^T q with R^T q = (2, 1).
  EXPECT_NEAR(4 * s[0] + 2 * s[1] + result.multiplier * s[0], -2.0f, 1e-5f);
  EXPECT_NEAR(2 * s[0] + 1 * s[1] + result.multiplier * s[1], -1.0f, 1e-5f);
}

TEST(GaussNewtonStep, SingularTriangleWithAShortLimitStepKeepsMuAboveUnderflow) {
  // A zero second column: s(mu) = (-1/(1 + mu), 0) never reaches the radius 10, so the
  // safeguard keeps lowering mu, here from a previous step's mu that had already sunk to
  // the smallest subnormal.  Below that it underflows to 0, where the stacked matrix is
  // singular again; the step must stay the finite limit step.
  const float r[3] = {1, 0, 0};
  const float q[2] = {1, 0};
  const float d[2] = {1, 1};
  float triangle[3], work[8], s[2];
  const float mu_start = std::numeric_limits<float>::denorm_min();
  const ConstrainedStep result = gauss_newton_step(r, q, d, 2, 10.0f, {}, mu_start, triangle, work, s);
  EXPECT_FALSE(result.full_step_exists);
  EXPECT_GE(result.multiplier, std::numeric_limits<float>::min());
  EXPECT_FLOAT_EQ(s[0], -1.0f);
  EXPECT_EQ(s[1], 0.0f);
  EXPECT_FLOAT_EQ(result.length, 1.0f);
  EXPECT_FLOAT_EQ(result.reduction, 0.5f);  // 1/2 ||R s||^2 + mu ||D s||^2
}

// Indefinite model: H with eigenvalues (-0.530, 1.026, 2.004), D = I, radius 1.
struct IndefiniteExample {
  float h[6] = {};
  float factor[6] = {};
  float work[15] = {};
  float t[3] = {};
  IndefiniteExample() {
    const float dense[3][3] = {{1, 0.2f, 0}, {0.2f, -0.5f, 0.1f}, {0, 0.1f, 2}};
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i <= j; ++i) h[packed_index(i, j)] = dense[i][j];
    }
  }
  ConstrainedStep solve(const float* g, float radius, StepWindow window = {}, float lambda_start = 0.0f) {
    return indefinite_model_step(h, g, 3, radius, window, lambda_start, factor, work, t);
  }
  float model(const float* g, const float* s) const {
    float value = 0;
    for (int i = 0; i < 3; ++i) {
      value += g[i] * s[i];
      for (int j = 0; j < 3; ++j) value += 0.5f * s[i] * h[packed_index(i, j)] * s[j];
    }
    return value;
  }
};

TEST(IndefiniteModelStep, FindsTheOptimalBoundaryStep) {
  const float g[3] = {0.3f, -0.4f, 0.2f};
  IndefiniteExample ex;
  StepWindow tight;
  tight.lower_factor = 0.9999f;
  tight.upper_factor = 1.0001f;
  const ConstrainedStep result = ex.solve(g, 1.0f, tight);
  EXPECT_FALSE(result.full_step_exists);
  EXPECT_LT(result.full_length, 0.0f);
  EXPECT_LT(result.full_reduction, 0.0f);
  EXPECT_FALSE(result.hard_case);
  EXPECT_LE(result.trials, 12);
  EXPECT_NEAR(result.multiplier, 0.977286201162f, 1e-3f);
  EXPECT_NEAR(ex.t[0], -0.249163061786f, 1e-3f);
  EXPECT_NEAR(ex.t[1], 0.96333341954f, 1e-3f);
  EXPECT_NEAR(ex.t[2], -0.099531359074f, 1e-3f);
  EXPECT_NEAR(ex.model(g, ex.t), -0.728637379664f, 1e-4f);
  EXPECT_NEAR(result.reduction, 0.728637379664f, 1e-4f);
}

TEST(IndefiniteModelStep, ConvergesFromAStartInsideTheIndefiniteRange) {
  // lambda = 0.1 < -lambda_min makes the first factorization break down; the bound it
  // yields must carry the iteration past 0.530 to the root.
  const float g[3] = {0.3f, -0.4f, 0.2f};
  IndefiniteExample ex;
  const ConstrainedStep result = ex.solve(g, 1.0f, {}, 0.1f);
  EXPECT_GT(result.multiplier, 0.530094595937f);
  EXPECT_GE(result.length, 0.9f);
  EXPECT_LE(result.length, 1.1f);
  EXPECT_NEAR(result.reduction, -ex.model(g, ex.t), 1e-5f);
  EXPECT_GT(result.reduction, 0.9f * 0.728637379664f);
}

TEST(IndefiniteModelStep, HardCaseMovesAlongTheLowestCurvatureToTheBoundary) {
  // g without its component along the eigenvector of the lowest eigenvalue.
  const float g[3] = {0.242626671236f, 0.0389331014627f, 0.182651514209f};
  IndefiniteExample ex;
  const ConstrainedStep result = ex.solve(g, 1.0f);
  EXPECT_TRUE(result.hard_case);
  // The factorization succeeded, so the multiplier lies above -lambda_min.
  EXPECT_GT(result.multiplier, 0.530094f);
  EXPECT_LT(result.multiplier, 0.7f);
  EXPECT_NEAR(result.length, 1.0f, 1e-4f);
  // Either sign of the eigenvector part is optimal; More and Sorensen's test guarantees
  // at least (1 - sigma)^2 of the optimal reduction, and the reported one is the model's.
  EXPECT_LE(ex.model(g, ex.t), -0.81f * 0.290876869856f);
  EXPECT_NEAR(result.reduction, -ex.model(g, ex.t), 1e-4f);
}

TEST(IndefiniteModelStep, PositiveDefiniteModelInsideTheRadiusTakesTheFullStep) {
  const float b_matrix[3] = {2.0f, 0.0f, 4.0f};
  const float b[2] = {1.0f, -2.0f};
  float factor[3], work[10], t[2];
  const ConstrainedStep result = indefinite_model_step(b_matrix, b, 2, 5.0f, {}, 1.0f, factor, work, t);
  EXPECT_EQ(result.multiplier, 0.0f);
  EXPECT_TRUE(result.full_step_exists);
  EXPECT_FLOAT_EQ(t[0], -0.5f);
  EXPECT_FLOAT_EQ(t[1], 0.5f);
  EXPECT_FLOAT_EQ(result.full_reduction, 0.5f * (0.5f + 1.0f));
  EXPECT_FLOAT_EQ(result.full_length, std::sqrt(0.5f));
  EXPECT_FLOAT_EQ(result.reduction, result.full_reduction);
}

TEST(IndefiniteModelStep, StationaryPointLeavesAlongNegativeCurvatureOrStays) {
  float factor[3], work[10], t[2];
  const float b[2] = {0.0f, 0.0f};
  // Negative curvature along the second axis: go to the boundary there.
  const float saddle[3] = {1.0f, 0.0f, -1.0f};
  const ConstrainedStep leave = indefinite_model_step(saddle, b, 2, 0.5f, {}, 0.0f, factor, work, t);
  EXPECT_NEAR(std::fabs(t[1]), 0.5f, 0.06f);
  EXPECT_NEAR(t[0], 0.0f, 1e-3f);
  EXPECT_GT(leave.reduction, 0.0f);
  EXPECT_NEAR(leave.reduction, 0.5f * t[1] * t[1] - 0.5f * t[0] * t[0], 1e-4f);
  // Positive semidefinite: nothing to gain, no step.
  const float flat[3] = {1.0f, 0.0f, 0.0f};
  const ConstrainedStep stay = indefinite_model_step(flat, b, 2, 0.5f, {}, 0.0f, factor, work, t);
  EXPECT_EQ(t[0], 0.0f);
  EXPECT_EQ(t[1], 0.0f);
  EXPECT_EQ(stay.reduction, 0.0f);
}

TEST(DenseKernels, GivensReductionOfTheDampedTriangle) {
  // [R; sqrt(mu) D] -> R_mu: R_mu^T R_mu = R^T R + mu D^2, and the rotated right-hand
  // side keeps R_mu^T c = R^T q (so s(mu) = -R_mu^-1 c solves the damped equations).
  const float dense[3][3] = {{2, 0.5f, -0.3f}, {0, 1, 0.4f}, {0, 0, 0.25f}};
  const float q[3] = {1, -2, 0.5f};
  const float d[3] = {2, 1, 0.5f};
  const float mu = 0.7f;
  float u[6], diagonal[3], c[3], row[3];
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i <= j; ++i) u[packed_index(i, j)] = dense[i][j];
    diagonal[j] = std::sqrt(mu) * d[j];
    c[j] = q[j];
  }
  linalg::reduce_with_diagonal(u, diagonal, c, 3, row);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      float reduced = 0, original = i == j ? mu * d[i] * d[i] : 0.0f;
      for (int l = 0; l <= std::min(i, j); ++l) {
        reduced += u[packed_index(l, i)] * u[packed_index(l, j)];
        original += dense[l][i] * dense[l][j];
      }
      EXPECT_NEAR(reduced, original, 2e-6f) << i << "," << j;
    }
    float rotated = 0, gradient = 0;
    for (int l = 0; l <= i; ++l) {
      rotated += u[packed_index(l, i)] * c[l];
      gradient += dense[l][i] * q[l];
    }
    EXPECT_NEAR(rotated, gradient, 2e-6f) << i;
  }
}

TEST(DenseKernels, FreeColumnsRotatedBackToATriangle) {
  // Columns 2 and 0 of a triangle, in that order, with the residual rotated alike:
  // M^T M and M^T y are preserved and the block below the triangle is zero.
  const float dense[3][3] = {{2, 0.5f, -0.3f}, {0, 1, 0.4f}, {0, 0, 0.25f}};
  const int columns[2] = {2, 0};
  float m[6], y[3] = {1, -2, 0.5f};
  const float y0[3] = {1, -2, 0.5f};
  for (int jj = 0; jj < 2; ++jj) {
    for (int i = 0; i < 3; ++i) m[jj * 3 + i] = dense[i][columns[jj]];
  }
  linalg::triangularise_columns(m, 3, 2, y);
  EXPECT_EQ(m[1], 0.0f);
  EXPECT_EQ(m[2], 0.0f);
  EXPECT_EQ(m[5], 0.0f);
  for (int a = 0; a < 2; ++a) {
    float my = 0, my0 = 0;
    for (int i = 0; i < 3; ++i) {
      my += m[a * 3 + i] * y[i];
      my0 += dense[i][columns[a]] * y0[i];
    }
    EXPECT_NEAR(my, my0, 1e-5f);
    for (int b = 0; b < 2; ++b) {
      float mm = 0, mm0 = 0;
      for (int i = 0; i < 3; ++i) {
        mm += m[a * 3 + i] * m[b * 3 + i];
        mm0 += dense[i][columns[a]] * dense[i][columns[b]];
      }
      EXPECT_NEAR(mm, mm0, 1e-5f);
    }
  }
}

TEST(DenseKernels, CholeskyBreakdownBoundsTheLowestEigenvalue) {
  // H of the indefinite example breaks down at the second column with pivot
  // -0.5 - 0.2^2 = -0.54; v = (-0.2, 1) is a null vector of the leading block after adding
  // 0.54 there, and 0.54 / ||v||^2 = 0.519 <= 0.530 = -lambda_min.
  const float h[6] = {1, 0.2f, -0.5f, 0, 0.1f, 2};
  float u[6], pivot = 0;
  ASSERT_EQ(linalg::cholesky(h, 3, 0.0f, 0.0f, u, &pivot), 1);
  EXPECT_NEAR(pivot, -0.54f, 1e-6f);
  float v[1] = {-u[packed_index(0, 1)]};
  linalg::solve_upper(u, 1, v);
  EXPECT_NEAR(v[0], -0.2f, 1e-6f);
  const float bound = -pivot / (1.0f + v[0] * v[0]);
  EXPECT_GT(bound, 0.5f);
  EXPECT_LE(bound, 0.530094595937f);
  // Shifted past -lambda_min it succeeds and reproduces the matrix.
  ASSERT_EQ(linalg::cholesky(h, 3, 0.6f, 0.0f, u, &pivot), -1);
  EXPECT_NEAR(u[packed_index(0, 0)] * u[packed_index(0, 1)], 0.2f, 1e-6f);
  EXPECT_NEAR(u[packed_index(0, 1)] * u[packed_index(0, 1)] + u[packed_index(1, 1)] * u[packed_index(1, 1)],
              -0.5f + 0.6f, 1e-6f);
}

TEST(DenseKernels, SmallImageDirectionIsAUnitVectorNearTheLowestCurvature) {
  // Factor of H + 0.6 I, whose smallest eigenvalue is 0.0699: ||U z||^2 is a Rayleigh
  // quotient, so it cannot fall below that, and a good estimate comes close to it.
  const float h[6] = {1, 0.2f, -0.5f, 0, 0.1f, 2};
  float u[6], z[3], work[3], pivot = 0;
  ASSERT_EQ(linalg::cholesky(h, 3, 0.6f, 0.0f, u, &pivot), -1);
  const float image = linalg::small_image_direction(u, 3, z, work);
  EXPECT_NEAR(z[0] * z[0] + z[1] * z[1] + z[2] * z[2], 1.0f, 1e-5f);
  float uz_squared = 0;
  for (int i = 0; i < 3; ++i) {
    float sum = 0;
    for (int j = i; j < 3; ++j) sum += u[packed_index(i, j)] * z[j];
    uz_squared += sum * sum;
  }
  EXPECT_NEAR(image * image, uz_squared, 1e-5f);
  EXPECT_GE(uz_squared, 0.0699054f - 1e-5f);
  EXPECT_LE(uz_squared, 2.0f * 0.0699054f);
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
