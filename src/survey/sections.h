#pragma once
// Homogeneous sections by cumulative differences.
//
// A response r (a layer's normalised modulus, the normalised centre deflection) is known at
// stations x_1 < ... < x_n.  Each value holds over the ground halfway to its neighbours; the
// end stations hold as much ground on their outer side as on their inner one, so that on an
// evenly spaced survey every station holds the same length.  With A_k the area of r up to the
// end X_k of interval k, and A_T / L_T the route's mean, the cumulative difference
//     Z_k = A_k - (A_T / L_T) (X_k - X_0)
// starts and ends at zero, rises where r stays above the mean and falls where it stays below:
// a change of uniform section lies at a local extremum of Z.
//
// Noise puts an extremum at every wiggle, so the route is split recursively: a section is cut
// at the extremum of its own Z (computed with its own mean) where both parts keep at least the
// minimum length and number of stations, as long as the two parts' means differ by at least
// the significance threshold; afterwards neighbours whose means differ by less than the
// threshold are merged again, the closest pair first.  Reversing the route mirrors Z
// (Z'(L - X) = -Z(X)), so it gives the same sections.

#include <cstddef>
#include <span>
#include <vector>

namespace basinfit::survey {

struct SectionOptions {
  double min_length = 0;  // in position units (metres, feet, or stations for equal spacing)
  int min_stations = 3;
  // Two neighbouring sections whose means differ by less than this fraction of their average
  // are one section.
  double min_relative_difference = 0.10;
};

// Ends of the interval each station holds: n + 1 values, X_0 to X_n.  Positions strictly
// increasing.
std::vector<double> interval_ends(std::span<const double> position);

// Z_k at the end of every interval (n values; the last is zero up to rounding).
std::vector<double> cumulative_difference(std::span<const double> position, std::span<const double> value);

// A uniform section: stations first..last (indices into the series) and the ground it covers.
struct Section {
  std::size_t first = 0;
  std::size_t last = 0;
  double start = 0;
  double end = 0;
};

// Sections covering the whole series, in route order.  Positions strictly increasing; an
// empty series gives no section.
std::vector<Section> find_sections(std::span<const double> position, std::span<const double> value,
                                   const SectionOptions& options);

// Mean, standard deviation (n - 1) and coefficient of variation in percent of a sample.
struct Spread {
  std::size_t count = 0;
  double mean = 0;
  double standard_deviation = 0;
  double cov_percent = 0;
};
Spread spread(std::span<const double> values);

// The p-th percentile (0 to 100) by linear interpolation between order statistics; the
// sample need not be sorted.  0 for an empty sample.
double percentile(std::vector<double> values, double p);

}  // namespace basinfit::survey
