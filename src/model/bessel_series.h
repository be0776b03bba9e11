// Special functions of the Hankel-transform integrals: Bessel functions of the first kind of
// orders 0 and 1, and the Gauss hypergeometric series used by the closed-form surface terms.
// Their accuracy is deliberately that of the model (series to 1e-5, one-term asymptotic form
// above 16): the integrals were calibrated with these forms, so they are part of the model.
#pragma once

#include <array>
#include <cstddef>

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

// Bessel functions of many arguments at once, bit for bit equal to bessel_j0_j1 (and to
// load_radius_j1 for lanes marked as load radii).  The power series of all lanes run side by
// side, so the divisions of different lanes overlap instead of waiting on each other, and the
// loop is laid out for the compiler to vectorise.  Lanes whose sums end after few terms should
// come first (small arguments first): the loop then skips the finished lanes at the low end.
inline constexpr std::size_t kBesselLaneCapacity = 6 * (10 * 10 + 10);
// The arrays run on to a whole number of the widest vectors (8 doubles), so that the vector
// kernels can always load and store whole vectors; they keep the lanes beyond `count` dead.
inline constexpr std::size_t kBesselVectorLanes = 8;
inline constexpr std::size_t kBesselLaneStorage =
    (kBesselLaneCapacity + kBesselVectorLanes - 1) / kBesselVectorLanes * kBesselVectorLanes;

struct BesselLanes {
  using Lanes = std::array<double, kBesselLaneStorage>;
  std::size_t count = 0;
  alignas(64) Lanes x{};                               // arguments, >= 0 (0 only for a point on the axis)
  std::array<bool, kBesselLaneStorage> load_radius{};  // J1 of a load radius: its own asymptotic form
  alignas(64) Lanes j0{};                              // results
  alignas(64) Lanes j1{};
  // Working arrays of the series.  A lane is live while its term is still above the tolerance.
  alignas(64) Lanes half{}, half_squared{};
  alignas(64) Lanes term0{}, term1{}, sum0{}, sum1{}, live0{}, live1{};
};

// Sets up and sums the power series of every lane whose argument is at most the threshold and
// fills its j0 and j1 (also those of x = 0); the asymptotic lanes are left to the caller.  All
// forms give the same bits: lane by lane the same operations in the same order.
using BesselSeriesKernel = void (*)(BesselLanes& lanes);

// The portable form: one loop over the lanes that the compiler vectorises for SSE2.
void sum_bessel_series(BesselLanes& lanes);

// Fills j0 and j1 of lanes 0 .. count-1 from their arguments x; `series` sums the power series.
void evaluate_bessel_lanes(BesselLanes& lanes, BesselSeriesKernel series = sum_bessel_series);

// 2F1(alpha, 1/2; beta; x) for 0 <= x <= 1, summed until a term falls to 1e-5.
double hypergeometric_series(double alpha, double beta, double x);

}  // namespace basinfit::model
