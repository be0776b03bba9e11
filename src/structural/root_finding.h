// A bracketed root of a continuous function of one variable, by Brent's method (R. P. Brent,
// Algorithms for Minimization without Derivatives, Prentice-Hall 1973, chapter 4): inverse
// quadratic interpolation and secant steps where they make progress, bisection where they do
// not, so it converges at least as surely as bisection and keeps the root bracketed throughout.
// The structural evaluation solves the Guide's deflection equation for Ep, the Guide's design
// equation for SN and the normal distribution for the standard normal deviate with it.
#pragma once

#include <cmath>
#include <limits>

namespace basinfit::structural {

struct Root {
  bool found = false;  // false: f(a) and f(b) have the same sign, or f was not finite
  double x = std::numeric_limits<double>::quiet_NaN();
  int evaluations = 0;
};

// The root of f in [a, b], to within `tolerance` in x.  f(a) and f(b) must differ in sign (or one
// be zero).  At most `max_evaluations` evaluations of f; Brent's bound is about the square of the
// bisection count, far below the default for any tolerance above 1e-300.
template <class Function>
Root find_root(Function f, double a, double b, double tolerance, int max_evaluations = 400) {
  Root root;
  double fa = f(a);
  double fb = f(b);
  root.evaluations = 2;
  if (!std::isfinite(fa) || !std::isfinite(fb)) return root;
  if (fa == 0.0) return Root{true, a, root.evaluations};
  if (fb == 0.0) return Root{true, b, root.evaluations};
  if ((fa > 0.0) == (fb > 0.0)) return root;
  double c = a, fc = fa;
  double step = b - a, previous_step = step;
  while (root.evaluations < max_evaluations) {
    if ((fb > 0.0) == (fc > 0.0)) {  // keep the root between b and c
      c = a;
      fc = fa;
      step = previous_step = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {  // b is the best estimate so far
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double accuracy = 2.0 * std::numeric_limits<double>::epsilon() * std::fabs(b) + 0.5 * tolerance;
    const double half_interval = 0.5 * (c - b);
    if (std::fabs(half_interval) <= accuracy || fb == 0.0) return Root{true, b, root.evaluations};
    if (std::fabs(previous_step) >= accuracy && std::fabs(fa) > std::fabs(fb)) {
      // Interpolation: secant through a and b, or inverse quadratic through a, b and c.
      const double s = fb / fa;
      double p, q;
      if (a == c) {
        p = 2.0 * half_interval * s;
        q = 1.0 - s;
      } else {
        const double qa = fa / fc, rb = fb / fc;
        p = s * (2.0 * half_interval * qa * (qa - rb) - (b - a) * (rb - 1.0));
        q = (qa - 1.0) * (rb - 1.0) * (s - 1.0);
      }
      if (p > 0.0) q = -q;
      p = std::fabs(p);
      const double limit1 = 3.0 * half_interval * q - std::fabs(accuracy * q);
      const double limit2 = std::fabs(previous_step * q);
      if (2.0 * p < (limit1 < limit2 ? limit1 : limit2)) {
        previous_step = step;
        step = p / q;
      } else {  // the interpolation would leave the bracket or converge too slowly
        step = half_interval;
        previous_step = step;
      }
    } else {
      step = half_interval;
      previous_step = step;
    }
    a = b;
    fa = fb;
    b += std::fabs(step) > accuracy ? step : std::copysign(accuracy, half_interval);
    fb = f(b);
    ++root.evaluations;
    if (!std::isfinite(fb)) return Root{false, std::numeric_limits<double>::quiet_NaN(), root.evaluations};
  }
  return Root{false, b, root.evaluations};
}

}  // namespace basinfit::structural
