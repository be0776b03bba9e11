#include "structural/traffic.h"

#include <cmath>
#include <limits>

namespace basinfit::structural {

double first_year_esals(const DesignTraffic& traffic) {
  if (!traffic.given() || !(traffic.design_period_years > 0.0) ||
      !std::isfinite(traffic.annual_growth_percent) || traffic.annual_growth_percent <= -100.0)
    return kNoValue;
  const double g = traffic.annual_growth_percent / 100.0;
  if (g == 0.0) return traffic.design_esals / traffic.design_period_years;
  return traffic.design_esals * g / (std::pow(1.0 + g, traffic.design_period_years) - 1.0);
}

Value years_to_carry(double repetitions, const DesignTraffic& traffic) {
  if (!traffic.given()) return Value::none("no design traffic (W18) given");
  const double first_year = first_year_esals(traffic);
  if (!(first_year > 0.0)) return Value::none("the design period and growth give no yearly traffic");
  if (!(repetitions >= 0.0)) return Value::none("no allowable repetitions");
  if (std::isinf(repetitions)) return Value::of(repetitions);
  const double g = traffic.annual_growth_percent / 100.0;
  if (g == 0.0) return Value::of(repetitions / first_year);
  const double growth = repetitions * g / first_year;
  // With traffic shrinking (g < 0) the total traffic of all years to come is finite.
  if (!(growth > -1.0)) return Value::of(std::numeric_limits<double>::infinity());
  return Value::of(std::log1p(growth) / std::log1p(g));
}

}  // namespace basinfit::structural
