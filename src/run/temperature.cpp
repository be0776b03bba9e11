#include "run/temperature.h"

#include <array>
#include <cmath>

namespace basinfit {

namespace {

struct DepthRow {
  float depth;  // inches below the surface
  float slope;
  float intercept;  // degrees F
};

// Pavement temperature at a depth as a linear function of the sum of the two temperatures.
constexpr std::array<DepthRow, 6> kDepthTable{{
    {1.0f, 0.5972f, -6.56f},
    {2.0f, 0.5594f, -3.52f},
    {4.0f, 0.5082f, -0.46f},
    {6.0f, 0.4753f, 1.88f},
    {8.0f, 0.4563f, 4.04f},
    {12.0f, 0.4331f, 7.03f},
}};

float to_fahrenheit(float t, const RunSettings& s) { return s.metric() ? t * 1.8f + 32.0f : t; }

}  // namespace

float pavement_temperature(const RunSettings& s, const StationData& station) {
  if (s.temperature_option != 1) return to_fahrenheit(station.temperature1, s);
  const float sum = to_fahrenheit(station.temperature1, s) + to_fahrenheit(station.temperature2, s);
  // The table is in inches: a metric thickness is carried into inches before the look-up.
  const float depth = station.thickness[0] * s.units.length * 0.5f;
  if (depth <= kDepthTable.front().depth)
    return kDepthTable.front().slope * sum + kDepthTable.front().intercept;
  if (depth >= kDepthTable.back().depth) return kDepthTable.back().slope * sum + kDepthTable.back().intercept;
  std::size_t i = 1;
  while (kDepthTable[i].depth < depth) ++i;
  const DepthRow& hi = kDepthTable[i];
  const DepthRow& lo = kDepthTable[i - 1];
  const float t_hi = hi.slope * sum + hi.intercept;
  const float t_lo = lo.slope * sum + lo.intercept;
  return t_lo + (t_hi - t_lo) * (depth - lo.depth) / (hi.depth - lo.depth);
}

float temperature_factor(float pavement_f, float reference_f) {
  return std::pow(10.0f, 0.000147362f * (pavement_f * pavement_f - reference_f * reference_f));
}

}  // namespace basinfit
