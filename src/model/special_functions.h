// Special functions of the Hankel-transform integrals: Bessel functions of the first kind of
// orders 0 and 1, and the Gauss hypergeometric series used by the closed-form surface terms.
// Their accuracy is deliberately that of the model (series to 1e-5, one-term asymptotic form
// above 16): the integrals were calibrated with these forms, so they are part of the model.
#pragma once

namespace basinfit::model {

// Series tolerance: the single-precision 1e-5 widened to double.
inline constexpr double kSeriesTolerance = 9.999999747378752e-06;
// Argument above which the one-term asymptotic forms replace the power series.
inline constexpr double kAsymptoticThreshold = 16.0;
// 1/pi and pi/4 as single-precision values widened to double, and 2/pi as twice the former.
inline constexpr double kOneOverPi = 0.3183099497965817;
inline constexpr double kTwoOverPi = 0.6366198995931635;
inline constexpr double kQuarterPi = 0.785398006439209;

struct BesselPair {
  double j0;
  double j1;
};

// J0(x) and J1(x) for x >= 0.  x = 0 gives exactly (1, 0).
BesselPair bessel_j0_j1(double x);

// J1(x) of the load-radius factor, x > 0: the same series, and above 16 the asymptotic form
// written as sqrt(2/(pi x)) sin(x - pi/4).
double load_radius_j1(double x);

// 2F1(alpha, 1/2; beta; x) for 0 <= x <= 1, summed until a term falls to 1e-5.
double hypergeometric_series(double alpha, double beta, double x);

}  // namespace basinfit::model
