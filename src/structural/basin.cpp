#include "structural/basin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace basinfit::structural {

namespace {

std::string millimetres(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g mm", value);
  return text;
}

// The Fritsch-Carlson end slope: the three-point estimate, kept from changing the sign of the
// end secant and from tripling it where the data turn.
double end_slope(double h0, double h1, double secant0, double secant1) {
  double slope = ((2.0 * h0 + h1) * secant0 - h0 * secant1) / (h0 + h1);
  if ((slope > 0.0) != (secant0 > 0.0) || secant0 == 0.0) return 0.0;
  if ((secant0 > 0.0) != (secant1 > 0.0) && std::fabs(slope) > 3.0 * std::fabs(secant0))
    slope = 3.0 * secant0;
  return slope;
}

// The sensors of a drop split into usable readings (sorted by offset, the knots of the
// interpolant) and the rest, with what is wrong with the basin as a whole.
struct PreparedBasin {
  MonotoneCubic curve;
  std::array<double, kMaxSensors> knot_offset{}, knot_deflection{};
  std::size_t knots = 0;
  std::string fault;  // the basin cannot be read at all
};

bool usable(double deflection_um) { return std::isfinite(deflection_um) && deflection_um > 0.0; }

PreparedBasin prepare(const DropBasin& basin) {
  PreparedBasin prepared;
  if (basin.sensor_count > kMaxSensors) {
    prepared.fault = "more sensors than the basin can hold";
    return prepared;
  }
  for (std::size_t i = 0; i < basin.sensor_count; ++i) {
    // Knots are in log offset: the centre sensor (offset 0) is not one (see basin.h).
    if (!std::isfinite(basin.offset_mm[i]) || !(basin.offset_mm[i] > 0.0)) continue;
    if (!usable(basin.deflection_um[i])) continue;
    prepared.knot_offset[prepared.knots] = basin.offset_mm[i];
    prepared.knot_deflection[prepared.knots] = basin.deflection_um[i];
    ++prepared.knots;
  }
  // Sort the knots by offset (at most ten: insertion sort keeps the pairs together).
  for (std::size_t i = 1; i < prepared.knots; ++i)
    for (std::size_t j = i; j > 0 && prepared.knot_offset[j - 1] > prepared.knot_offset[j]; --j) {
      std::swap(prepared.knot_offset[j - 1], prepared.knot_offset[j]);
      std::swap(prepared.knot_deflection[j - 1], prepared.knot_deflection[j]);
    }
  for (std::size_t i = 1; i < prepared.knots; ++i)
    if (prepared.knot_offset[i] == prepared.knot_offset[i - 1]) {
      prepared.fault = "two sensors at the same offset " + millimetres(prepared.knot_offset[i]);
      return prepared;
    }
  if (prepared.knots >= 2) {
    std::array<double, kMaxSensors> log_offset{}, log_deflection{};
    for (std::size_t i = 0; i < prepared.knots; ++i) {
      log_offset[i] = std::log(prepared.knot_offset[i]);
      log_deflection[i] = std::log(prepared.knot_deflection[i]);
    }
    prepared.curve.build(std::span<const double>(log_offset.data(), prepared.knots),
                         std::span<const double>(log_deflection.data(), prepared.knots));
  }
  return prepared;
}

double tolerance_mm(double nominal_offset_mm, const BasinOptions& options) {
  return std::max(options.offset_tolerance_mm, options.offset_tolerance_percent / 100.0 * nominal_offset_mm);
}

BasinReading read_prepared(const DropBasin& basin, const PreparedBasin& prepared, double nominal,
                           const BasinOptions& options) {
  BasinReading reading;
  reading.nominal_offset_mm = nominal;
  if (!prepared.fault.empty()) {
    reading.reason = prepared.fault;
    return reading;
  }
  // The sensor nearest the nominal offset, if it is within the tolerance.
  const double tolerance = tolerance_mm(nominal, options);
  std::size_t nearest = kMaxSensors;
  for (std::size_t i = 0; i < basin.sensor_count; ++i) {
    const double distance = std::fabs(basin.offset_mm[i] - nominal);
    if (std::isfinite(distance) && distance <= tolerance &&
        (nearest == kMaxSensors || distance < std::fabs(basin.offset_mm[nearest] - nominal)))
      nearest = i;
  }
  if (nearest != kMaxSensors) {
    if (!usable(basin.deflection_um[nearest])) {
      reading.reason = "the sensor at " + millimetres(basin.offset_mm[nearest]) + " has no usable deflection";
      return reading;
    }
    reading.deflection_um = basin.deflection_um[nearest];
    reading.sensor_offset_mm = basin.offset_mm[nearest];
    reading.source = ReadingSource::kSensor;
    return reading;
  }
  if (prepared.knots < 2 || nominal < prepared.knot_offset[0] ||
      nominal > prepared.knot_offset[prepared.knots - 1]) {
    if (prepared.knots == 0)
      reading.reason = "no sensor beyond the centre has a usable deflection";
    else if (nominal > prepared.knot_offset[prepared.knots - 1])
      reading.reason = "no sensor at or beyond " + millimetres(nominal) + " (outermost usable sensor at " +
                       millimetres(prepared.knot_offset[prepared.knots - 1]) +
                       "); the basin is not extrapolated";
    else
      reading.reason = "no sensor at " + millimetres(nominal) +
                       " and none inside it beyond the centre (first usable " + "sensor at " +
                       millimetres(prepared.knot_offset[0]) +
                       "); the basin is not interpolated across the edge of the load plate";
    return reading;
  }
  reading.deflection_um = std::exp(prepared.curve(std::log(nominal)));
  reading.source = ReadingSource::kInterpolated;
  return reading;
}

// The reason of the first reading among `needed` that has no deflection ("" when all have one).
template <std::size_t N>
const BasinReading* first_missing(const BasinIndices& indices, const std::array<std::size_t, N>& needed) {
  for (const std::size_t i : needed)
    if (indices.readings[i].source == ReadingSource::kNone) return &indices.readings[i];
  return nullptr;
}

Value missing_because(const BasinReading& reading) {
  return Value::none("deflection at " + millimetres(reading.nominal_offset_mm) + ": " + reading.reason);
}

}  // namespace

bool MonotoneCubic::build(std::span<const double> x, std::span<const double> y) {
  count_ = 0;
  const std::size_t n = x.size();
  if (n < 2 || n > kMaxSensors || y.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) return false;
    if (i > 0 && !(x[i] > x[i - 1])) return false;
    x_[i] = x[i];
    y_[i] = y[i];
  }
  std::array<double, kMaxSensors> h{}, secant{};
  for (std::size_t i = 0; i + 1 < n; ++i) {
    h[i] = x_[i + 1] - x_[i];
    secant[i] = (y_[i + 1] - y_[i]) / h[i];
  }
  if (n == 2) {
    slope_[0] = slope_[1] = secant[0];
  } else {
    for (std::size_t i = 1; i + 1 < n; ++i) {
      if (secant[i - 1] * secant[i] <= 0.0) {
        slope_[i] = 0.0;  // the data turn (or are flat): a local extremum stays at the knot
      } else {
        const double w1 = 2.0 * h[i] + h[i - 1];
        const double w2 = h[i] + 2.0 * h[i - 1];
        slope_[i] = (w1 + w2) / (w1 / secant[i - 1] + w2 / secant[i]);
      }
    }
    slope_[0] = end_slope(h[0], h[1], secant[0], secant[1]);
    slope_[n - 1] = end_slope(h[n - 2], h[n - 3], secant[n - 2], secant[n - 3]);
  }
  count_ = n;
  return true;
}

double MonotoneCubic::operator()(double x) const {
  std::size_t i = 0;
  while (i + 2 < count_ && x > x_[i + 1]) ++i;
  const double h = x_[i + 1] - x_[i];
  const double t = (x - x_[i]) / h;
  const double t2 = t * t, t3 = t2 * t;
  // Cubic Hermite basis on [x_i, x_i+1].
  return (2.0 * t3 - 3.0 * t2 + 1.0) * y_[i] + (t3 - 2.0 * t2 + t) * h * slope_[i] +
         (-2.0 * t3 + 3.0 * t2) * y_[i + 1] + (t3 - t2) * h * slope_[i + 1];
}

BasinReading read_basin(const DropBasin& basin, double nominal_offset_mm, const BasinOptions& options) {
  return read_prepared(basin, prepare(basin), nominal_offset_mm, options);
}

BasinIndices basin_indices(const DropBasin& basin, const BasinOptions& options) {
  BasinIndices indices;
  indices.load_kn = basin.load_kn;
  indices.standard_load_kn = options.standard_load_kn;
  const PreparedBasin prepared = prepare(basin);
  for (std::size_t i = 0; i < kNominalOffsetsMm.size(); ++i) {
    indices.readings[i] = read_prepared(basin, prepared, kNominalOffsetsMm[i], options);
    if (indices.readings[i].source == ReadingSource::kInterpolated) indices.interpolated = true;
  }
  if (!(std::isfinite(basin.load_kn) && basin.load_kn > 0.0) ||
      !(std::isfinite(options.standard_load_kn) && options.standard_load_kn > 0.0)) {
    const Value none = Value::none("the drop has no positive load to normalise by");
    indices.d0_um = indices.sci_um = indices.bdi_um = indices.bci_um = indices.roc_m = indices.area_in = none;
    indices.f1 = indices.f2 = indices.impulse_stiffness_kn_per_mm = none;
    return indices;
  }
  // Linear normalisation to the standard load.
  const double scale = options.standard_load_kn / basin.load_kn;
  const auto d = [&](std::size_t i) { return indices.readings[i].deflection_um; };
  enum : std::size_t { k0 = 0, k200 = 1, k300 = 2, k600 = 3, k900 = 4, k12in = 5, k24in = 6, k36in = 7 };

  const auto difference = [&](std::size_t inner, std::size_t outer) {
    if (const BasinReading* m = first_missing(indices, std::array<std::size_t, 2>{inner, outer}))
      return missing_because(*m);
    return Value::of((d(inner) - d(outer)) * scale);
  };
  indices.d0_um = indices.readings[k0].source == ReadingSource::kNone ? missing_because(indices.readings[k0])
                                                                      : Value::of(d(k0) * scale);
  indices.sci_um = difference(k0, k300);
  indices.bdi_um = difference(k300, k600);
  indices.bci_um = difference(k600, k900);

  if (const BasinReading* m = first_missing(indices, std::array<std::size_t, 2>{k0, k200})) {
    indices.roc_m = missing_because(*m);
  } else if (d(k0) - d(k200) <= 0.0) {
    indices.roc_m = Value::none("D0 is not above D200: the basin has no curvature under the load");
  } else {
    // L^2 / (2 (D0 - D200)) with L = 200 mm: mm^2 / um is metres.
    indices.roc_m = Value::of(200.0 * 200.0 / (2.0 * (d(k0) - d(k200)) * scale));
  }

  if (const BasinReading* m = first_missing(indices, std::array<std::size_t, 4>{k0, k12in, k24in, k36in})) {
    indices.area_in = indices.f1 = indices.f2 = missing_because(*m);
  } else {
    indices.area_in =
        Value::of(6.0 * (1.0 + 2.0 * d(k12in) / d(k0) + 2.0 * d(k24in) / d(k0) + d(k36in) / d(k0)));
    indices.f1 = Value::of((d(k0) - d(k24in)) / d(k12in));
    indices.f2 = Value::of((d(k12in) - d(k36in)) / d(k24in));
  }
  indices.impulse_stiffness_kn_per_mm = indices.readings[k0].source == ReadingSource::kNone
                                            ? missing_because(indices.readings[k0])
                                            : Value::of(basin.load_kn / (d(k0) / 1000.0));
  return indices;
}

}  // namespace basinfit::structural
