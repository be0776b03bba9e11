#include "results/normalisation.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "run/regression.h"

namespace basinfit::results {

namespace {

// A load as people read it: kN in metric runs, lbf in English runs.
std::string load_text(double load, bool metric) {
  char buffer[32];
  const double value = metric ? load / 1000.0 : load;
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, metric ? 1 : 0);
  std::string text = error == std::errc() ? std::string(buffer, end) : std::string("?");
  return text + (metric ? " kN" : " lbf");
}

// The drop at the standard load, or the nearest drops below and above it, as the reports look
// for them (a drop 100000 load units or more away does not count).
bool reports_normalise(const StationData& st, float p0) {
  bool below = false, above = false;
  for (std::size_t d = 0; d < static_cast<std::size_t>(st.drop_count); ++d) {
    const float load = st.load[d];
    if (load == p0) return true;
    if (load < p0 && p0 - load < 100000.0f) below = true;
    if (load > p0 && load - p0 < 100000.0f) above = true;
  }
  return below && above;
}

// The power law log10 y = a + b log10 P over the drops, evaluated at p0.
double trend_at(const StationData& st, const PerDrop<float>& values, double p0) {
  const auto drops = static_cast<std::size_t>(st.drop_count);
  double x_mean = 0, y_mean = 0;
  for (std::size_t d = 0; d < drops; ++d) {
    x_mean += std::log10(static_cast<double>(st.load[d]));
    y_mean += std::log10(static_cast<double>(values[d]));
  }
  x_mean /= static_cast<double>(drops);
  y_mean /= static_cast<double>(drops);
  double sxx = 0, sxy = 0;
  for (std::size_t d = 0; d < drops; ++d) {
    const double dx = std::log10(static_cast<double>(st.load[d])) - x_mean;
    sxx += dx * dx;
    sxy += dx * (std::log10(static_cast<double>(values[d])) - y_mean);
  }
  return std::pow(10.0, y_mean + sxy / sxx * (std::log10(p0) - x_mean));
}

}  // namespace

std::string_view normalisation_word(Normalisation normalisation) {
  switch (normalisation) {
    case Normalisation::kInterpolated:
      return "interpolated";
    case Normalisation::kTrend:
      return "trend";
    case Normalisation::kNone:
      break;
  }
  return "none";
}

void normalise_station(const RunSettings& s, const StationData& st, const StationResults& r,
                       StationRecord& record) {
  const auto layers = static_cast<std::size_t>(s.layer_count);
  const auto drops = static_cast<std::size_t>(st.drop_count);
  const bool metric = s.metric();
  const float p0 = standard_load(s);
  const std::string standard = load_text(p0, metric);
  record.normalisation = Normalisation::kNone;
  record.normalised_modulus.fill(kMissing);
  record.normalised_adjusted_surface_modulus = kMissing;
  if (drops < 2) {
    record.normalisation_note = "a single drop: no trend of modulus against load";
    return;
  }
  if (reports_normalise(st, p0)) {
    record.normalisation = Normalisation::kInterpolated;
    record.normalisation_note = "interpolated to " + standard + " between the drops around it";
    for (std::size_t j = 0; j < layers; ++j)
      record.normalised_modulus[j] = r.statistics.normalized_modulus[j];
    if (record.adjusted)
      record.normalised_adjusted_surface_modulus = r.statistics.normalized_adjusted_modulus;
    return;
  }

  double lightest = 0, heaviest = 0, nearest = -1;
  bool usable = true;
  for (std::size_t d = 0; d < drops; ++d) {
    const double load = st.load[d];
    if (!(load > 0)) usable = false;
    lightest = d == 0 ? load : std::min(lightest, load);
    heaviest = d == 0 ? load : std::max(heaviest, load);
    const double gap = std::fabs(load - p0);
    if (nearest < 0 || gap < nearest) nearest = gap;
  }
  const std::string range = "drops at " + load_text(lightest, metric) + " to " + load_text(heaviest, metric);
  if (!usable) {
    record.normalisation_note = "a drop without a positive load: no trend of modulus against load";
    return;
  }
  if (nearest > kTrendReach * p0) {
    record.normalisation_note = range + ": the nearest is more than " + load_text(kTrendReach * p0, metric) +
                                " from " + standard + ", too far to carry the trend";
    return;
  }
  if (heaviest == lightest) {
    record.normalisation_note = range + ": every drop at one load, no trend of modulus against load";
    return;
  }
  for (std::size_t j = 0; j < layers; ++j) {
    PerDrop<float> modulus{};
    bool positive = true;
    for (std::size_t d = 0; d < drops; ++d) {
      modulus[d] = r.modulus[d][j];
      if (!(modulus[d] > 0) || !std::isfinite(modulus[d])) positive = false;
    }
    if (!positive) {
      record.normalised_modulus.fill(kMissing);
      record.normalisation_note =
          range + ": a modulus that is not positive, no trend of modulus against load";
      return;
    }
    // A fixed modulus is the same at every load.
    record.normalised_modulus[j] = s.layers[j].backcalculated() ? trend_at(st, modulus, p0) : modulus[0];
  }
  if (record.adjusted) {
    PerDrop<float> adjusted{};
    bool positive = true;
    for (std::size_t d = 0; d < drops; ++d) {
      adjusted[d] = r.adjusted_surface_modulus[d];
      if (!(adjusted[d] > 0) || !std::isfinite(adjusted[d])) positive = false;
    }
    if (positive) record.normalised_adjusted_surface_modulus = trend_at(st, adjusted, p0);
  }
  record.normalisation = Normalisation::kTrend;
  record.normalisation_note = range + " do not bracket " + standard +
                              ": carried to it by the station's power-law trend of modulus against load";
}

}  // namespace basinfit::results
