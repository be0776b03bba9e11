#include "model/bessel_series.h"

#include <algorithm>
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

void sum_bessel_series(BesselLanes& b) {
  const std::size_t n = b.count;
  // Series lanes start live; the others (x = 0 or beyond the threshold) start and stay dead with a
  // zero term.  A lane that has stopped keeps a zero term (multiplying by 1.0 or 0.0 is exact), so
  // adding it leaves its sum unchanged and no denormal ever appears.
  std::size_t first_live = n, end_live = 0;
  for (std::size_t l = 0; l < n; ++l) {
    const double x = b.x[l];
    const bool series_lane = x != 0.0 && x <= kAsymptoticThreshold;
    b.half[l] = x / 2;
    b.half_squared[l] = series_lane ? b.half[l] * b.half[l] : 0.0;
    b.term0[l] = series_lane ? 1.0 : 0.0;
    b.term1[l] = b.term0[l];
    b.sum0[l] = 1.0;
    b.sum1[l] = 1.0;
    b.live0[l] = b.term0[l];
    b.live1[l] = b.term0[l];
    if (series_lane) {
      first_live = std::min(first_live, l);
      end_live = l + 1;
    }
  }
  for (int k = 1; first_live < end_live; ++k) {
    const double k0 = k * k;
    const double k1 = k * (k + 1);
    for (std::size_t l = first_live; l < end_live; ++l) {
      const double t0 = -b.term0[l] * b.half_squared[l] / k0 * b.live0[l];
      const double t1 = -b.term1[l] * b.half_squared[l] / k1 * b.live1[l];
      b.term0[l] = t0;
      b.term1[l] = t1;
      b.sum0[l] = b.sum0[l] + t0;
      b.sum1[l] = b.sum1[l] + t1;
      b.live0[l] = std::fabs(t0) > kSeriesTolerance ? b.live0[l] : 0.0;
      b.live1[l] = std::fabs(t1) > kSeriesTolerance ? b.live1[l] : 0.0;
    }
    while (first_live < end_live && b.live0[first_live] == 0.0 && b.live1[first_live] == 0.0) ++first_live;
    while (end_live > first_live && b.live0[end_live - 1] == 0.0 && b.live1[end_live - 1] == 0.0) --end_live;
  }
  for (std::size_t l = 0; l < n; ++l) {
    const double x = b.x[l];
    if (x == 0.0) {
      b.j0[l] = 1.0;
      b.j1[l] = 0.0;
    } else if (x <= kAsymptoticThreshold) {
      b.j0[l] = b.sum0[l];
      b.j1[l] = b.half[l] * b.sum1[l];
    }
  }
}

void evaluate_bessel_lanes(BesselLanes& b, BesselSeriesKernel series) {
  series(b);
  for (std::size_t l = 0; l < b.count; ++l) {
    const double x = b.x[l];
    if (x <= kAsymptoticThreshold) continue;  // 0 or a series lane, done (NaN goes on)
    if (b.load_radius[l]) {
      b.j0[l] = 0.0;
      b.j1[l] = std::sqrt(kTwoOverPi / x) * std::sin(x - kQuarterPi);
    } else {
      const double amplitude = std::sqrt(kOneOverPi / (0.5 * x));
      const double phase = x - kQuarterPi;
      b.j0[l] = amplitude * std::cos(phase);
      b.j1[l] = amplitude * std::sin(phase);
    }
  }
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
