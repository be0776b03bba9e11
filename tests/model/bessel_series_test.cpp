// Bessel functions and the hypergeometric series against independent references: published
// table values, the standard library's special functions, and series summed in long double.
#include "model/bessel_series.h"

#include <gtest/gtest.h>

#include <cmath>

namespace basinfit::model {
namespace {

// J0 and J1 to full precision by their power series in long double (many more terms than needed).
long double j0_reference(long double x) {
  const long double y = (x / 2) * (x / 2);
  long double term = 1, sum = 1;
  for (int k = 1; k < 200; ++k) {
    term *= -y / (static_cast<long double>(k) * k);
    sum += term;
  }
  return sum;
}

long double j1_reference(long double x) {
  const long double y = (x / 2) * (x / 2);
  long double term = 1, sum = 1;
  for (int k = 1; k < 200; ++k) {
    term *= -y / (static_cast<long double>(k) * (k + 1));
    sum += term;
  }
  return x / 2 * sum;
}

// The truncated series the model is defined with, re-derived here in long double: each sum
// stops once the magnitude of the term just added is at most 1e-5 (single precision widened).
long double truncated_j1(long double x) {
  const long double tol = 1e-5f;
  const long double y = (x / 2) * (x / 2);
  long double term = 1, sum = 1;
  for (int k = 1;; ++k) {
    term = -term * y / (static_cast<long double>(k) * (k + 1));
    sum += term;
    if (fabsl(term) <= tol) break;
  }
  return x / 2 * sum;
}

long double truncated_j0(long double x) {
  const long double tol = 1e-5f;
  const long double y = (x / 2) * (x / 2);
  long double term = 1, sum = 1;
  for (int k = 1;; ++k) {
    term = -term * y / (static_cast<long double>(k) * k);
    sum += term;
    if (fabsl(term) <= tol) break;
  }
  return sum;
}

TEST(Bessel, ZeroArgumentIsExact) {
  const BesselPair b = bessel_j0_j1(0.0);
  EXPECT_EQ(b.j0, 1.0);
  EXPECT_EQ(b.j1, 0.0);
}

TEST(Bessel, MatchesPublishedTableValuesBelowSixteen) {
  // Abramowitz and Stegun, table 9.1.
  struct Row {
    double x, j0, j1;
  };
  const Row table[] = {{1.0, 0.765197686557967, 0.440050585744934},
                       {2.0, 0.223890779141236, 0.576724807756873},
                       {5.0, -0.177596771314338, -0.327579137591465},
                       {10.0, -0.245935764451348, 0.043472746168861}};
  for (const Row& r : table) {
    const BesselPair b = bessel_j0_j1(r.x);
    EXPECT_NEAR(b.j0, r.j0, 2e-6) << "x = " << r.x;
    EXPECT_NEAR(b.j1, r.j1, 2e-6) << "x = " << r.x;
    EXPECT_NEAR(load_radius_j1(r.x), r.j1, 2e-6) << "x = " << r.x;
  }
}

TEST(Bessel, SeriesAgreesWithStandardLibraryUpToSixteen) {
  for (double x = 0.01; x <= 16.0; x += 0.37) {
    const BesselPair b = bessel_j0_j1(x);
    EXPECT_NEAR(b.j0, std::cyl_bessel_j(0.0, x), 1e-5) << "x = " << x;
    EXPECT_NEAR(b.j1, std::cyl_bessel_j(1.0, x), 1e-5) << "x = " << x;
    EXPECT_NEAR(static_cast<double>(j0_reference(x)), std::cyl_bessel_j(0.0, x), 1e-12);
  }
}

TEST(Bessel, SeriesStopsOnTheTermJustAdded) {
  // Agreement to rounding with the truncated series pins down where each sum stops: for these
  // arguments one term fewer moves a value by at least 2.7e-8, one term more (x >= 0.9) by at
  // least 3.9e-9.  Near 16 the alternating terms reach 1e5, so rounding alone leaves 1e-11.
  for (double x : {0.003, 0.2, 0.9, 1.7, 3.3, 6.1, 9.4, 12.8, 15.2, 16.0}) {
    const BesselPair b = bessel_j0_j1(x);
    EXPECT_NEAR(b.j0, static_cast<double>(truncated_j0(x)), 1e-10) << "x = " << x;
    EXPECT_NEAR(b.j1, static_cast<double>(truncated_j1(x)), 1e-10) << "x = " << x;
    EXPECT_NEAR(load_radius_j1(x), static_cast<double>(truncated_j1(x)), 1e-10) << "x = " << x;
  }
}

TEST(Bessel, SixteenExactlyUsesTheSeriesAndJustAboveTheAsymptoticForm) {
  const double at = 16.0;
  const double above = std::nextafter(16.0, 17.0);
  const BesselPair b_at = bessel_j0_j1(at);
  const BesselPair b_above = bessel_j0_j1(above);
  // The series is accurate to 1e-5; the one-term asymptotic form is off by about 1e-3 here.
  EXPECT_NEAR(b_at.j0, static_cast<double>(j0_reference(at)), 1e-5);
  EXPECT_NEAR(b_at.j1, static_cast<double>(j1_reference(at)), 1e-5);
  EXPECT_GT(std::fabs(b_above.j0 - b_at.j0), 1e-4);
  EXPECT_GT(std::fabs(b_above.j1 - b_at.j1), 1e-4);
  // Just above 16 the values are the leading asymptotic term sqrt(2/(pi x)) cos/sin(x - pi/4).
  const long double pi = 3.14159265358979323846264338327950288L;
  const long double amp = sqrtl(2 / (pi * above));
  EXPECT_NEAR(b_above.j0, static_cast<double>(amp * cosl(above - pi / 4)), 1e-6);
  EXPECT_NEAR(b_above.j1, static_cast<double>(amp * sinl(above - pi / 4)), 1e-6);
  EXPECT_NEAR(load_radius_j1(above), b_above.j1, 1e-15);
}

TEST(Bessel, AsymptoticFormIsWithinItsTruncationErrorOfTheTrueValues) {
  for (double x = 16.5; x < 400.0; x *= 1.37) {
    const BesselPair b = bessel_j0_j1(x);
    // The neglected second term of the expansion has amplitude sqrt(2/(pi x)) / (8x) (J0)
    // and 3 / (8x) times that (J1).
    const double amplitude = std::sqrt(2 / (M_PI * x));
    EXPECT_NEAR(b.j0, std::cyl_bessel_j(0.0, x), 1.2 * amplitude / (8 * x) + 1e-6) << "x = " << x;
    EXPECT_NEAR(b.j1, std::cyl_bessel_j(1.0, x), 1.2 * 3 * amplitude / (8 * x) + 1e-6) << "x = " << x;
    EXPECT_NEAR(load_radius_j1(x), b.j1, 1e-14);
  }
}

TEST(Hypergeometric, ZeroArgumentGivesOne) {
  EXPECT_EQ(hypergeometric_series(-0.5, 1, 0.0), 1.0);
  EXPECT_EQ(hypergeometric_series(0.5, 2, 0.0), 1.0);
}

TEST(Hypergeometric, MatchesCompleteEllipticIntegrals) {
  // 2F1(-1/2, 1/2; 1; k^2) = (2/pi) E(k);  2F1(1/2, 1/2; 2; k^2) = 4 (E(k) - (1-k^2) K(k)) / (pi k^2).
  for (double x : {0.01, 0.1, 0.25, 0.4, 0.6}) {
    const long double k = sqrtl(x);
    const long double E = std::comp_ellint_2(k);
    const long double K = std::comp_ellint_1(k);
    const long double pi = 3.14159265358979323846264338327950288L;
    const double f_inside = static_cast<double>(2 / pi * E);
    const double f_outside = static_cast<double>(4 * (E - (1 - k * k) * K) / (pi * k * k));
    // Truncation after a term of 1e-5 leaves a tail of about that term times x / (1 - x).
    const double tol = 1e-5 * (1 + x / (1 - x)) + 1e-12;
    EXPECT_NEAR(hypergeometric_series(-0.5, 1, x), f_inside, tol) << "x = " << x;
    EXPECT_NEAR(hypergeometric_series(0.5, 2, x), f_outside, tol) << "x = " << x;
  }
}

TEST(Hypergeometric, ConvergesAtTheEdgeOfTheLoadedCircle) {
  // Near x = 1 the terms fall only like 1/k^2; the sum must still end.
  const double f = hypergeometric_series(0.5, 2, 0.999);
  EXPECT_GT(f, 1.0);
  EXPECT_LT(f, 4 / M_PI + 1e-2);
}

}  // namespace
}  // namespace basinfit::model

namespace basinfit::model {
namespace {

TEST(BesselLanesBatch, EqualsTheSingleArgumentFunctionsBitForBit) {
  // Load radii and point distances times a run of transform values, so that the lanes lie on both
  // sides of the asymptotic threshold, at zero, and in no particular order.
  const double distances[] = {0.37, 1.0, 1.0, 1.3333333333333333, 2.0, 4.0, 6.5, 12.0, 30.0, 120.0, 0.0};
  const std::size_t n = std::size(distances);
  BesselLanes lanes;
  double lambda = 0.0;
  for (int step = 0; step < 400; step += 6) {
    lanes.count = 0;
    for (int node = 0; node < 6; ++node) {
      lambda = lambda + 0.041666666666666664;
      for (std::size_t l = 0; l < n; ++l) {
        lanes.x[lanes.count] = lambda * distances[(l + static_cast<std::size_t>(node)) % n];
        lanes.load_radius[lanes.count] = (l % 3 == 1) && lanes.x[lanes.count] != 0.0;
        ++lanes.count;
      }
    }
    evaluate_bessel_lanes(lanes);
    for (std::size_t i = 0; i < lanes.count; ++i) {
      const double x = lanes.x[i];
      if (lanes.load_radius[i]) {
        EXPECT_EQ(lanes.j1[i], load_radius_j1(x)) << "x = " << x;
      } else {
        const BesselPair b = bessel_j0_j1(x);
        EXPECT_EQ(lanes.j0[i], b.j0) << "x = " << x;
        EXPECT_EQ(lanes.j1[i], b.j1) << "x = " << x;
      }
    }
  }
}

}  // namespace
}  // namespace basinfit::model
