// The secant update of S against a worked example computed independently in double
// precision (old and new Jacobians and residuals of a 4 x 3 problem).

#include "solver/secant_update.h"

#include <gtest/gtest.h>

#include "solver/dense_linear_algebra.h"

namespace basinfit::solver {
namespace {

using linalg::packed_index;

struct WorkedExample {
  float j_old[4][3] = {{1, 0.5f, 0}, {0.2f, 1.5f, 0.3f}, {0, 0.4f, 2}, {1, 1, 1}};
  float j_new[4][3] = {{1.1f, 0.45f, 0.05f}, {0.25f, 1.4f, 0.35f}, {0.05f, 0.5f, 1.9f}, {0.9f, 1.1f, 1.2f}};
  float r_old[4] = {0.8f, -0.5f, 1.2f, 0.3f};
  float r_new[4] = {0.5f, -0.2f, 0.7f, 0.1f};
  float step[3] = {-0.1f, 0.05f, -0.2f};
  float s_before[3][3] = {{0.3f, 0.1f, 0}, {0.1f, 0.2f, -0.05f}, {0, -0.05f, 0.4f}};
  float gradient_change[3];
  float secant[3];
  float s_packed[6];

  WorkedExample() {
    for (int k = 0; k < 3; ++k) {
      float g_old = 0, g_new = 0, j_old_r_new = 0;
      for (int i = 0; i < 4; ++i) {
        g_old += j_old[i][k] * r_old[i];
        g_new += j_new[i][k] * r_new[i];
        j_old_r_new += j_old[i][k] * r_new[i];
      }
      gradient_change[k] = g_new - g_old;
      secant[k] = g_new - j_old_r_new;
    }
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j <= i; ++j) s_packed[packed_index(i, j)] = s_before[i][j];
    }
  }
};

TEST(SecantUpdate, MatchesWorkedExampleAndSatisfiesSecantEquation) {
  WorkedExample example;
  // y = g+ - g and y# = (J+ - J)^T r+ of the example.
  const float y[3] = {-0.375f, -0.025f, -1.145f};
  const float y_sharp[3] = {0.065f, 0.075f, -0.035f};
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(example.gradient_change[k], y[k], 1e-6f);
    EXPECT_NEAR(example.secant[k], y_sharp[k], 1e-6f);
  }
  float work[6];
  secant_update(3, example.step, example.gradient_change, example.secant, 1.19e-5f, example.s_packed, work);
  const double expected[3][3] = {{-0.13381062858, -0.0877957418014, -0.28004362116},
                                 {-0.0877957418014, 0.0298629739723, -0.323636385606},
                                 {-0.28004362116, -0.323636385606, 0.234112714179}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      // Entries of order 0.1 to 0.3 after a handful of single-precision operations.
      EXPECT_NEAR(example.s_packed[packed_index(i, j)], expected[i][j], 2e-6);
    }
  }
  // S+ s = y#: the updated matrix reproduces the secant vector along the step.
  for (int i = 0; i < 3; ++i) {
    float product = 0;
    for (int j = 0; j < 3; ++j) product += example.s_packed[packed_index(i, j)] * example.step[j];
    EXPECT_NEAR(product, example.secant[i], 1e-6f);
  }
}

TEST(SecantUpdate, StepOrthogonalToGradientChangeOnlySizes) {
  // s^T y = 0: the update direction vanishes and S is only sized.
  float s_packed[3] = {2.0f, 0.0f, 2.0f};
  const float step[2] = {1.0f, 0.0f};
  const float gradient_change[2] = {0.0f, 1.0f};
  const float secant[2] = {0.5f, 0.0f};
  float work[4];
  secant_update(2, step, gradient_change, secant, 1.19e-5f, s_packed, work);
  // sizing = |s^T y#| / |s^T S s| = 0.5 / 2.
  EXPECT_FLOAT_EQ(s_packed[0], 0.5f);
  EXPECT_FLOAT_EQ(s_packed[1], 0.0f);
  EXPECT_FLOAT_EQ(s_packed[2], 0.5f);
}

}  // namespace
}  // namespace basinfit::solver
