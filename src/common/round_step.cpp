#include "common/round_step.h"

#include <cmath>
#include <initializer_list>

namespace basinfit {

double round_step(double raw) {
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * decade >= raw) return m * decade;
  return 10 * decade;
}

}  // namespace basinfit
