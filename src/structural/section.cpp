#include "structural/section.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace basinfit::structural {

double percentile_of_sorted(std::span<const double> sorted, double percent) {
  const double position = (static_cast<double>(sorted.size()) - 1.0) * percent / 100.0;
  const auto below = static_cast<std::size_t>(std::floor(position));
  if (below + 1 >= sorted.size()) return sorted.back();
  const double fraction = position - static_cast<double>(below);
  return sorted[below] + fraction * (sorted[below + 1] - sorted[below]);
}

SectionValue summarise_values(std::span<const Value> values, Tail critical, double design_level_percent) {
  SectionValue section;
  std::vector<double> present;
  present.reserve(values.size());
  for (const Value& v : values) {
    if (v.has_value())
      present.push_back(v.value);
    else
      ++section.missing;
  }
  section.count = present.size();
  if (present.empty()) {
    section.mean = section.standard_deviation = section.design_value = Value::none("no station has a value");
    return section;
  }
  if (!(design_level_percent >= 0.0 && design_level_percent <= 100.0)) {
    section.design_value = Value::none("the design level must lie between 0 and 100 percent");
  } else {
    std::sort(present.begin(), present.end());
    const double percent = critical == Tail::kLower ? 100.0 - design_level_percent : design_level_percent;
    section.design_value = Value::of(percentile_of_sorted(present, percent));
  }
  double sum = 0.0;
  for (const double x : present) sum += x;
  const double mean = sum / static_cast<double>(present.size());
  section.mean = Value::of(mean);
  if (present.size() < 2) {
    section.standard_deviation = Value::none("one station: no spread");
  } else {
    double squares = 0.0;
    for (const double x : present) squares += (x - mean) * (x - mean);
    section.standard_deviation = Value::of(std::sqrt(squares / static_cast<double>(present.size() - 1)));
  }
  return section;
}

}  // namespace basinfit::structural
