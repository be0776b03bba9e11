#include "run/seeds.h"

#include <cmath>

namespace basinfit {

SeedResult compute_seed_moduli(const RunSettings& s, const StationData& st, PerLayer<float>& modulus) {
  const UnitFactors& u = s.units;
  const int ns = s.sensor_count;
  const auto& offset = s.sensor_offset;
  const auto& measured = st.measured[0];
  const float p1 = st.load[0] * u.load;                  // lbf
  const float d1 = measured[0] * u.deflection * 0.001f;  // in
  const float r36 = 36.0f / u.length;                    // 36 in, in file units

  // The basin area needs a deflection under the plate and a segment to interpolate on.
  if (ns < 2 || !(d1 > 0)) return SeedResult::kBasinUnusable;

  // Basin area by trapezoids out to 36 in.
  float area = 0;
  int k = ns;
  for (int i = 2; i <= ns; ++i) {
    const auto c = static_cast<std::size_t>(i - 1);
    if (!(offset[c] < r36)) {
      k = i;
      break;
    }
    area = area + (offset[c] - offset[c - 1]) * (measured[c - 1] + measured[c]);
  }
  const auto kk = static_cast<std::size_t>(k - 1);
  const float segment = offset[kk] - offset[kk - 1];
  if (!(segment != 0)) return SeedResult::kBasinUnusable;
  // Deflection at 36 in, interpolated or extrapolated on the segment k-1 to k.
  const float d36_file =
      measured[kk - 1] + (measured[kk] - measured[kk - 1]) / segment * (r36 - offset[kk - 1]);
  area = (area + (d36_file + measured[kk - 1]) * (r36 - offset[kk - 1])) * u.deflection * u.length * 0.0005f;
  const float d36 = d36_file * u.deflection * 0.001f;

  PerLayer<float> e{};
  for (std::size_t j = 0; j < kMaxLayers; ++j) e[j] = modulus[j] * u.modulus * 1000.0f;  // psi
  const float h1 = st.thickness[0] * u.length;
  const float h2 = st.thickness[1] * u.length;
  const float thickness_ratio = st.thickness[0] / st.thickness[1];
  const float s_term = std::log10(area * p1 / (d1 * d1));
  if (!std::isfinite(s_term)) return SeedResult::kBasinUnusable;
  const bool back1 = s.layers[0].backcalculated();
  const bool back2 = s.layers[1].backcalculated();
  const bool back3 = s.layers[2].backcalculated();

  switch (s.layer_count) {
    case 1:
      if (back1) e[0] = d36 > 0 ? 0.00762f * p1 / d36 - 466.0f : 20000.0f;
      break;
    case 2:
      if (s.layers[1].backcalculated()) e[1] = d36 > 0 ? 0.00762f * p1 / d36 - 466.0f : 20000.0f;
      if (back1)
        e[0] = std::pow(10.0f, 1.78046f * s_term - 0.95144f * std::log10(e[1]) -
                                   1.21181f * std::pow(h1, 1.0f / 3.0f) - 0.5374f);
      break;
    case 3:
      // The base equation needs a base thickness.
      if (!(h2 > 0) && (back1 || back2)) return SeedResult::kBasinUnusable;
      if (back3) e[2] = d36 > 0 ? 0.00877f * p1 / d36 - 530.0f : 20000.0f;
      if (back2)
        e[1] = std::pow(10.0f, 0.25424f * s_term + 0.12541f * std::sqrt(5.9f / h2) -
                                   0.09416f * std::sqrt(thickness_ratio) + 0.51386f * std::log10(e[2]) +
                                   0.03474f * 5.9f / h1 + 0.50634f);
      if (back1)
        e[0] = std::pow(10.0f, 1.88298f * s_term + 0.92874f * std::sqrt(5.9f / h2) -
                                   0.69727f * std::sqrt(thickness_ratio) - 0.96687f * std::log10(e[2]) +
                                   0.25726f * 5.9f / h1 - 4.13464f);
      break;
    default:
      return SeedResult::kBasinUnusable;
  }

  // Limits on the computed surface and base seeds.
  if (back1 && (s.layer_count == 2 || s.layer_count == 3)) {
    if (e[0] < 100000.0f) e[0] = 100000.0f;
    if (e[0] > 1000000.0f) e[0] = 1000000.0f;
  }
  if (back2 && s.layer_count == 3) {
    if (e[1] < 10000.0f) e[1] = 10000.0f;
    if (e[1] > 50000.0f) e[1] = 50000.0f;
  }
  // A subgrade equation can go to 0 or below for a very stiff basin: keep a positive seed.
  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
    const float seed = e[j] / (u.modulus * 1000.0f);
    if (seed > 0 && std::isfinite(seed)) modulus[j] = seed;
  }
  return SeedResult::kComputed;
}

}  // namespace basinfit
