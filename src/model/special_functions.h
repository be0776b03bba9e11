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

// Bessel functions of many arguments lambda * distance at once, bit for bit equal to
// bessel_j0_j1 (and to load_radius_j1 for lanes marked as load radii).  The power series of all
// lanes run side by side, so the divisions of different lanes overlap instead of waiting on each
// other, and the loop is laid out for the compiler to vectorise.  Lanes must be sorted by
// ascending distance (all > 0): the lanes below the asymptotic threshold are then a prefix, and
// the lanes still summing are a range whose low end only moves up.
inline constexpr std::size_t kBesselLaneCapacity = 128;

struct BesselLanes {
  std::size_t count = 0;
  std::array<double, kBesselLaneCapacity> distance{};
  std::array<bool, kBesselLaneCapacity> load_radius{};  // J1 of a load radius: its own asymptotic form
  std::array<double, kBesselLaneCapacity> j0{};         // results of the last evaluate_bessel_lanes
  std::array<double, kBesselLaneCapacity> j1{};
  // Working arrays of the series.
  std::array<double, kBesselLaneCapacity> x{}, half{}, half_squared{};
  std::array<double, kBesselLaneCapacity> term0{}, term1{}, sum0{}, sum1{}, live0{}, live1{};
};

void evaluate_bessel_lanes(double lambda, BesselLanes& lanes);

// 2F1(alpha, 1/2; beta; x) for 0 <= x <= 1, summed until a term falls to 1e-5.
double hypergeometric_series(double alpha, double beta, double x);

}  // namespace basinfit::model
