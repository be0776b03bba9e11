#include "survey/sections.h"

#include <algorithm>
#include <cmath>

namespace basinfit::survey {
namespace {

double mean_of(std::span<const double> values) {
  double sum = 0;
  for (double v : values) sum += v;
  return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

double relative_difference(double a, double b) {
  const double scale = (std::fabs(a) + std::fabs(b)) / 2;
  return scale > 0 ? std::fabs(a - b) / scale : 0.0;
}

// Length-weighted mean of stations first..last.
double section_mean(std::span<const double> ends, std::span<const double> value, std::size_t first,
                    std::size_t last) {
  double area = 0;
  for (std::size_t i = first; i <= last; ++i) area += value[i] * (ends[i + 1] - ends[i]);
  return area / (ends[last + 1] - ends[first]);
}

struct Splitter {
  std::span<const double> ends;
  std::span<const double> value;
  const SectionOptions& options;
  std::vector<std::size_t> cuts;  // a cut k: a section ends with station k

  bool long_enough(std::size_t first, std::size_t last) const {
    return last + 1 - first >= static_cast<std::size_t>(std::max(options.min_stations, 1)) &&
           ends[last + 1] - ends[first] >= options.min_length;
  }

  void split(std::size_t first, std::size_t last) {
    if (last <= first) return;
    const double mean = section_mean(ends, value, first, last);
    double area = 0;
    double best = -1;
    std::size_t best_cut = last;
    for (std::size_t k = first; k < last; ++k) {
      area += value[k] * (ends[k + 1] - ends[k]);
      const double z = std::fabs(area - mean * (ends[k + 1] - ends[first]));
      if (z > best && long_enough(first, k) && long_enough(k + 1, last)) {
        best = z;
        best_cut = k;
      }
    }
    if (best_cut == last) return;
    const double left = section_mean(ends, value, first, best_cut);
    const double right = section_mean(ends, value, best_cut + 1, last);
    if (relative_difference(left, right) < options.min_relative_difference) return;
    split(first, best_cut);
    cuts.push_back(best_cut);
    split(best_cut + 1, last);
  }
};

}  // namespace

std::vector<double> interval_ends(std::span<const double> position) {
  const std::size_t n = position.size();
  std::vector<double> ends;
  if (n == 0) return ends;
  ends.reserve(n + 1);
  const double first_half = n > 1 ? (position[1] - position[0]) / 2 : 0.5;
  const double last_half = n > 1 ? (position[n - 1] - position[n - 2]) / 2 : 0.5;
  ends.push_back(position[0] - first_half);
  for (std::size_t i = 1; i < n; ++i) ends.push_back((position[i - 1] + position[i]) / 2);
  ends.push_back(position[n - 1] + last_half);
  return ends;
}

std::vector<double> cumulative_difference(std::span<const double> position, std::span<const double> value) {
  const std::vector<double> ends = interval_ends(position);
  std::vector<double> z;
  if (position.empty()) return z;
  const double mean = section_mean(ends, value, 0, position.size() - 1);
  double area = 0;
  for (std::size_t k = 0; k < position.size(); ++k) {
    area += value[k] * (ends[k + 1] - ends[k]);
    z.push_back(area - mean * (ends[k + 1] - ends[0]));
  }
  return z;
}

std::vector<Section> find_sections(std::span<const double> position, std::span<const double> value,
                                   const SectionOptions& options) {
  std::vector<Section> sections;
  const std::size_t n = std::min(position.size(), value.size());
  if (n == 0) return sections;
  const std::vector<double> ends = interval_ends(position.first(n));
  Splitter splitter{ends, value.first(n), options, {}};
  splitter.split(0, n - 1);

  std::size_t first = 0;
  for (std::size_t cut : splitter.cuts) {
    sections.push_back({first, cut, ends[first], ends[cut + 1]});
    first = cut + 1;
  }
  sections.push_back({first, n - 1, ends[first], ends[n]});

  // Merge the neighbours that are not significantly different, the closest pair first.
  while (sections.size() > 1) {
    double smallest = options.min_relative_difference;
    std::size_t at = sections.size();
    for (std::size_t i = 0; i + 1 < sections.size(); ++i) {
      const double d =
          relative_difference(section_mean(ends, value, sections[i].first, sections[i].last),
                              section_mean(ends, value, sections[i + 1].first, sections[i + 1].last));
      if (d < smallest) {
        smallest = d;
        at = i;
      }
    }
    if (at == sections.size()) break;
    sections[at].last = sections[at + 1].last;
    sections[at].end = sections[at + 1].end;
    sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(at + 1));
  }
  return sections;
}

Spread spread(std::span<const double> values) {
  Spread s;
  s.count = values.size();
  if (values.empty()) return s;
  s.mean = mean_of(values);
  if (values.size() > 1) {
    double sum = 0;
    for (double v : values) sum += (v - s.mean) * (v - s.mean);
    s.standard_deviation = std::sqrt(sum / static_cast<double>(values.size() - 1));
  }
  s.cov_percent = s.mean != 0 ? 100.0 * s.standard_deviation / std::fabs(s.mean) : 0.0;
  return s;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(rank));
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (rank - static_cast<double>(below));
}

}  // namespace basinfit::survey
