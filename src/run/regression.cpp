#include "run/regression.h"

#include <cmath>

namespace basinfit {

namespace {

struct LogFit {
  float x_mean = 0;
  float y_mean = 0;
  float sxx = 0;
  float sxy = 0;
};

// Means and sums of squares of x = log10(stress / Pa), y = log10(modulus) over the drops.
LogFit log_sums(const PerDrop<float>& stress, const PerDrop<float>& modulus, int drops, float pa,
                PerDrop<float>& x, PerDrop<float>& y) {
  LogFit f;
  for (std::size_t d = 0; d < static_cast<std::size_t>(drops); ++d) {
    x[d] = std::log10(stress[d] / pa);
    y[d] = std::log10(modulus[d]);
    f.x_mean = f.x_mean + x[d];
    f.y_mean = f.y_mean + y[d];
  }
  f.x_mean = f.x_mean / static_cast<float>(drops);
  f.y_mean = f.y_mean / static_cast<float>(drops);
  for (std::size_t d = 0; d < static_cast<std::size_t>(drops); ++d) {
    const float dx = x[d] - f.x_mean;
    f.sxx = f.sxx + dx * dx;
    f.sxy = f.sxy + dx * (y[d] - f.y_mean);
  }
  return f;
}

void add_overburden(const RunSettings& s, const StationData& st, StationResults& r) {
  const int points = s.layers_above_stiff();
  PerPoint<float> overburden{};
  auto h = [&](int layer) { return st.thickness[static_cast<std::size_t>(layer - 1)] * s.units.length; };
  auto w = [&](int layer) { return kLayerUnitWeight[static_cast<std::size_t>(layer - 1)]; };
  for (int i = 1; i <= points; ++i) {
    float o = 0;
    if (i == points && i > 1) {
      o = overburden[static_cast<std::size_t>(i - 2)] + h(i - 1) * w(i - 1) / 2.0f;
    } else if (i == 1) {
      o = h(1) * w(1);
    } else if (i == 2) {
      o = overburden[0] + h(2) * w(2) / 2.0f;
    } else {
      o = overburden[static_cast<std::size_t>(i - 2)] + (h(i - 1) * w(i - 1) + h(i) * w(i)) / 2.0f;
    }
    overburden[static_cast<std::size_t>(i - 1)] = o;
  }
  for (int i = 0; i < points; ++i)
    overburden[static_cast<std::size_t>(i)] = overburden[static_cast<std::size_t>(i)] / s.units.modulus;

  PointResponses& p = r.responses;
  for (std::size_t d = 0; d < static_cast<std::size_t>(st.drop_count); ++d) {
    if (p.missing[d]) continue;  // no responses to add to: the drop stays out of the fit
    for (std::size_t i = 0; i < static_cast<std::size_t>(points); ++i) {
      const float nu = s.layers[i].poisson_ratio;
      const float lateral = overburden[i] * nu / (1.0f - nu);
      p.vertical_stress[d][i] = p.vertical_stress[d][i] + overburden[i];
      p.radial_stress[d][i] = p.radial_stress[d][i] + lateral;
      p.hoop_stress[d][i] = p.hoop_stress[d][i] + lateral;
      p.bulk_stress[d][i] = p.radial_stress[d][i] + p.hoop_stress[d][i] + p.vertical_stress[d][i];
      p.deviator_stress[d][i] = std::fabs(p.radial_stress[d][i] - p.vertical_stress[d][i]);
    }
  }
}

void normalise(const RunSettings& s, const StationData& st, StationResults& r) {
  StationStatistics& stats = r.statistics;
  stats.normalized_modulus.fill(0.0f);
  stats.normalized_adjusted_modulus = 0.0f;
  const float p0 = standard_load(s);
  int exact = -1, lo = -1, hi = -1;
  float lo_gap = 100000.0f, hi_gap = 100000.0f;
  for (int d = 0; d < st.drop_count; ++d) {
    const float load = st.load[static_cast<std::size_t>(d)];
    if (load == p0) {
      exact = d;
      break;
    }
    if (load < p0 && p0 - load < lo_gap) {
      lo = d;
      lo_gap = p0 - load;
    } else if (load > p0 && load - p0 < hi_gap) {
      hi = d;
      hi_gap = load - p0;
    }
  }
  const auto layers = static_cast<std::size_t>(s.layer_count);
  if (exact >= 0) {
    const auto e = static_cast<std::size_t>(exact);
    for (std::size_t j = 0; j < layers; ++j) stats.normalized_modulus[j] = r.modulus[e][j];
    stats.normalized_adjusted_modulus = r.adjusted_surface_modulus[e];
    return;
  }
  if (lo < 0 || hi < 0) return;
  const auto l = static_cast<std::size_t>(lo), u = static_cast<std::size_t>(hi);
  const float span = st.load[u] - st.load[l];
  const float along = p0 - st.load[l];
  for (std::size_t j = 0; j < layers; ++j)
    stats.normalized_modulus[j] = r.modulus[l][j] + (r.modulus[u][j] - r.modulus[l][j]) / span * along;
  stats.normalized_adjusted_modulus =
      r.adjusted_surface_modulus[l] +
      (r.adjusted_surface_modulus[u] - r.adjusted_surface_modulus[l]) / span * along;
}

}  // namespace

void regress(const RunSettings& s, const StationData& st, StationResults& r) {
  const int drops = st.drop_count;
  const int points = s.layers_above_stiff();
  StationStatistics& stats = r.statistics;
  add_overburden(s, st, r);

  // The fit runs over the drops whose responses the model could evaluate, in drop order.
  PerDrop<std::size_t> used{};
  int fitted = 0;
  for (std::size_t d = 0; d < static_cast<std::size_t>(drops); ++d)
    if (!r.responses.missing[d]) used[static_cast<std::size_t>(fitted++)] = d;

  const float pa = s.atmospheric_pressure;
  PerDrop<float> x{}, y{}, stress{}, modulus{};
  for (int j = 2; j <= s.layer_count; ++j) {
    const auto k = static_cast<std::size_t>(j - 1);
    stats.soil_type[k] = 0;
    stats.k1[k] = 0;
    stats.k2[k] = 0;
    stats.r_squared[k] = 0;
    if (s.layers[k].type == 1) continue;
    // A layer below the default points (a stiff layer) has no stresses to fit.
    if (j > points) continue;
    // Fewer than two drops with responses give no law.
    if (fitted < 2) continue;
    bool any_tension = false;
    for (std::size_t u = 0; u < static_cast<std::size_t>(fitted); ++u) {
      stress[u] = r.responses.bulk_stress[used[u]][k];
      modulus[u] = r.modulus[used[u]][k];
      if (stress[u] <= 0) any_tension = true;
    }
    int soil = 2;
    if (!any_tension) {
      const LogFit f = log_sums(stress, modulus, fitted, pa, x, y);
      soil = (f.sxx <= 0 || f.sxy / f.sxx <= 0) ? 2 : 1;
    }
    stats.soil_type[k] = soil;

    bool defined = true;
    for (std::size_t u = 0; u < static_cast<std::size_t>(fitted); ++u) {
      const std::size_t d = used[u];
      stress[u] = soil == 1 ? r.responses.bulk_stress[d][k] : r.responses.deviator_stress[d][k];
      // A stress of 0 has no logarithm: such a layer gets no fit.
      if (!(stress[u] > 0)) defined = false;
    }
    auto reject = [&]() {
      stats.soil_type[k] = 0;
      stats.k1[k] = 0;
      stats.k2[k] = 0;
      stats.r_squared[k] = 0;
    };
    if (!defined) {
      reject();
      continue;
    }
    const LogFit f = log_sums(stress, modulus, fitted, pa, x, y);
    if (f.sxx <= 0) {
      reject();
      continue;
    }
    const float k2 = f.sxy / f.sxx;
    if ((soil == 1 && k2 < 0) || (soil == 2 && k2 > 0)) {
      reject();
      continue;
    }
    const float a = f.y_mean - k2 * f.x_mean;
    float ssr = 0, sst = 0;
    for (std::size_t u = 0; u < static_cast<std::size_t>(fitted); ++u) {
      const float fitted_y = a + k2 * x[u] - f.y_mean;
      ssr = ssr + fitted_y * fitted_y;
      const float spread = y[u] - f.y_mean;
      sst = sst + spread * spread;
    }
    const float k1 = std::pow(10.0f, a);
    // Stresses that hardly differ between drops can give a law beyond single precision.
    if (sst <= 0 || !std::isfinite(k1) || !std::isfinite(k2) || !std::isfinite(ssr / sst)) {
      reject();
      continue;
    }
    stats.k2[k] = k2;
    stats.k1[k] = k1;
    stats.r_squared[k] = 100.0f * std::sqrt(ssr / sst);
  }

  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
    float sum = 0;
    for (std::size_t d = 0; d < static_cast<std::size_t>(drops); ++d) sum = sum + r.modulus[d][j];
    stats.mean_modulus[j] = sum / static_cast<float>(drops);
  }
  float adjusted = 0;
  for (std::size_t d = 0; d < static_cast<std::size_t>(drops); ++d)
    adjusted = adjusted + r.adjusted_surface_modulus[d];
  stats.mean_adjusted_modulus = adjusted / static_cast<float>(drops);
  normalise(s, st, r);
}

}  // namespace basinfit
