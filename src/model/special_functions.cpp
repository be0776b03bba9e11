#include "model/special_functions.h"

#include <cmath>

namespace basinfit::model {

namespace {

// Power series J0 = sum t_k, t_k = -t_{k-1} (x/2)^2 / k^2; each sum stops once the term it has
// just added is no larger than the tolerance.
double j0_series(double x) {
  const double half = x / 2;
  const double half_squared = half * half;
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1;; ++k) {
    term = -term * half_squared / (k * k);
    sum = sum + term;
    if (!(std::fabs(term) > kSeriesTolerance)) return sum;  // NaN ends the sum too
  }
}

// J1 = (x/2) sum s_k, s_k = -s_{k-1} (x/2)^2 / (k (k+1)); the stop looks at s_k itself.
double j1_series(double x) {
  const double half = x / 2;
  const double half_squared = half * half;
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1;; ++k) {
    term = -term * half_squared / (k * (k + 1));
    sum = sum + term;
    if (!(std::fabs(term) > kSeriesTolerance)) return half * sum;
  }
}

}  // namespace

BesselPair bessel_j0_j1(double x) {
  if (x == 0.0) return {1.0, 0.0};
  if (x <= kAsymptoticThreshold) return {j0_series(x), j1_series(x)};
  const double amplitude = std::sqrt(kOneOverPi / (0.5 * x));
  const double phase = x - kQuarterPi;
  return {amplitude * std::cos(phase), amplitude * std::sin(phase)};
}

double load_radius_j1(double x) {
  if (x <= kAsymptoticThreshold) return j1_series(x);
  return std::sqrt(kTwoOverPi / x) * std::sin(x - kQuarterPi);
}

double hypergeometric_series(double alpha, double beta, double x) {
  double term = alpha * 0.5 * x / beta;
  double sum = 1.0 + term;
  for (int k = 2;; ++k) {
    term = term * (k - 0.5) * (alpha + k - 1) / ((beta + k - 1) * k) * x;
    sum = sum + term;
    if (!(std::fabs(term) > kSeriesTolerance)) return sum;  // NaN ends the sum too
  }
}

}  // namespace basinfit::model
