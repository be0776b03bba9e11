// One number of the structural evaluation, or the reason there is none.  Every index, modulus,
// strain and life the room computes is a Value: a reader writes the number, or leaves the cell
// empty and shows the reason, and never has to guess why a value is absent.
#pragma once

#include <cmath>
#include <limits>
#include <string>
#include <utility>

namespace basinfit::structural {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

struct Value {
  double value = kNoValue;  // NaN when there is no value
  std::string reason;       // why there is no value ("" when there is one)

  bool has_value() const { return !std::isnan(value); }
  static Value of(double v) { return Value{v, {}}; }
  static Value none(std::string why) { return Value{kNoValue, std::move(why)}; }
};

}  // namespace basinfit::structural
