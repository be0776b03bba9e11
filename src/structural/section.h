// Section design values from per-station values: count, mean, standard deviation and the value
// at a chosen design level in the critical tail.
//
// The design level is the share of the section's stations that are at least as good as the
// design value (default 90 %, SAPEM Chapter 10 Table 24's level for road category B: 10 % of
// the road allowed to perform unsatisfactorily).  Which tail is critical depends on the
// quantity:
//   * capacities, where low is weak (SNeff, Ep, MR, AREA, allowable repetitions, remaining
//     life): the lower tail, the (100 - level)th percentile;
//   * demands, where high is weak (deflections and the curvature indices, strains, SNf, SNol,
//     overlay thickness, damage): the upper tail, the level-th percentile.
// Percentiles are Hyndman and Fan's definition 7 (Sample quantiles in statistical packages,
// The American Statistician 50(4), 1996, 361-365): linear between the order statistics at
// (n - 1) p, the definition of R's default and of spreadsheets' PERCENTILE.
#pragma once

#include <cstddef>
#include <span>

#include "structural/value.h"

namespace basinfit::structural {

enum class Tail {
  kLower,  // low values are weak: the design value is a low percentile
  kUpper,  // high values are weak: the design value is a high percentile
};

inline constexpr double kDefaultDesignLevelPercent = 90.0;

struct SectionValue {
  std::size_t count = 0;    // stations with a value
  std::size_t missing = 0;  // stations without one
  Value mean;
  Value standard_deviation;  // sample standard deviation (n - 1); needs two stations
  Value design_value;        // at the design level in the critical tail
};

// Values without a number are counted as missing and left out.
SectionValue summarise_values(std::span<const Value> values, Tail critical,
                              double design_level_percent = kDefaultDesignLevelPercent);

// The p-th percentile (0-100) of `sorted` (ascending, not empty), Hyndman and Fan definition 7.
double percentile_of_sorted(std::span<const double> sorted, double percent);

}  // namespace basinfit::structural
