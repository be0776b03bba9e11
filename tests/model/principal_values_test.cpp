// Principal stresses recovered from stress tensors built with known principal values.
#include "model/principal_values.h"

#include <gtest/gtest.h>

#include <cmath>

namespace basinfit::model {
namespace {

// Q diag(s) Q^T for the rotation Q about the axis (1, 2, 3) by an angle, in long double.
StressState rotated(double s1, double s2, double s3, double angle) {
  const long double n[3] = {1 / sqrtl(14), 2 / sqrtl(14), 3 / sqrtl(14)};
  const long double c = cosl(angle), s = sinl(angle);
  long double Q[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      Q[i][j] = (i == j ? c : 0) + (1 - c) * n[i] * n[j];
    }
  }
  Q[0][1] -= s * n[2], Q[1][0] += s * n[2], Q[0][2] += s * n[1];
  Q[2][0] -= s * n[1], Q[1][2] -= s * n[0], Q[2][1] += s * n[0];
  const long double d[3] = {s1, s2, s3};
  long double T[3][3] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) T[i][j] += Q[i][k] * d[k] * Q[j][k];
  return {double(T[0][0]), double(T[1][1]), double(T[2][2]),
          double(T[1][2]), double(T[0][2]), double(T[0][1])};
}

TEST(PrincipalValues, RecoversKnownPrincipalStressesInDescendingOrder) {
  struct Case {
    double s1, s2, s3;
  };
  const Case cases[] = {{3.0, -1.0, -7.5}, {120.0, 40.0, 35.0}, {-2.0, -5.0, -30.0}, {0.9, 0.1, -0.4}};
  for (const Case& c : cases) {
    for (double angle : {0.3, 1.1, 2.5}) {
      // Feed the values in a scrambled order; the result must come back sorted.
      const PrincipalValues p = principal_values(rotated(c.s3, c.s1, c.s2, angle), 1000.0, 0.3);
      const double scale = std::fabs(c.s1) + std::fabs(c.s3);
      // The single-precision 2 pi/3 and 4 pi/3 limit agreement to about 1e-6 of the scale.
      EXPECT_NEAR(p.stress[0], c.s1, 3e-6 * scale);
      EXPECT_NEAR(p.stress[1], c.s2, 3e-6 * scale);
      EXPECT_NEAR(p.stress[2], c.s3, 3e-6 * scale);
      EXPECT_NEAR(p.strain[0], (p.stress[0] - 0.3 * (p.stress[1] + p.stress[2])) / 1000.0, 1e-15 * scale);
    }
  }
}

TEST(PrincipalValues, NearlyZeroStressGivesZeros) {
  const PrincipalValues p = principal_values({1e-7, -2e-7, 3e-8, 0.0, 0.0, 5e-7}, 100.0, 0.3);
  for (double v : p.stress) EXPECT_EQ(v, 0.0);
  for (double v : p.strain) EXPECT_EQ(v, 0.0);
}

TEST(PrincipalValues, HydrostaticStateKeepsTheNormalStresses) {
  // No deviatoric part: the reduced cubic is degenerate and the normal stresses are returned.
  const PrincipalValues p = principal_values({2.0, 2.0, 2.0, 0.0, 0.0, 0.0}, 100.0, 0.25);
  EXPECT_EQ(p.stress[0], 2.0);
  EXPECT_EQ(p.stress[1], 2.0);
  EXPECT_EQ(p.stress[2], 2.0);
  EXPECT_DOUBLE_EQ(p.strain[0], (2.0 - 0.25 * 4.0) / 100.0);
}

}  // namespace
}  // namespace basinfit::model
