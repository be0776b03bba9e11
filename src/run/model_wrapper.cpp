#include "run/model_wrapper.h"

#include <cmath>

namespace basinfit {

namespace {

// pi as the driver holds it, in single precision.
constexpr float kPi = 3.1415927f;

// Responses in working units (in, psi, strain) beyond this come from no pavement and could
// overflow single precision later: deflections are scaled by up to 25400 into microns and
// then divided by a measured deflection of 0.1 and squared in the RMS error.
constexpr double kResponseLimit = 1.0e10;

// Layer thicknesses in inches for the model: layers below the last one repeat the last
// thickness; a one-layer system gets 10 in everywhere (the half-space has no thickness, the
// model only needs a length scale).
std::array<float, 4> model_thickness(const RunSettings& s, const StationData& st) {
  std::array<float, 4> h{};
  if (s.layer_count == 1) {
    h.fill(10.0f);
    return h;
  }
  for (int j = 1; j <= 4; ++j) {
    const auto i = static_cast<std::size_t>(j - 1);
    h[i] = j <= s.layer_count - 1 ? st.thickness[i] * s.units.length : h[i - 1];
  }
  return h;
}

}  // namespace

model::LayerSystem wrapper_layer_system(const RunSettings& s, const StationData& st,
                                        const PerLayer<float>& modulus) {
  model::LayerSystem system;
  const auto nl = static_cast<std::size_t>(s.layer_count);
  for (std::size_t j = 0; j < model::kMaxLayers; ++j) {
    const std::size_t from = j < nl ? j : nl - 1;
    const float e = modulus[from] * s.units.modulus * 1000.0f;  // psi
    system.modulus[j] = static_cast<double>(e);
    system.poisson[j] = static_cast<double>(s.layers[from].poisson_ratio);
  }
  const std::array<float, 4> h = model_thickness(s, st);
  for (std::size_t j = 0; j < 4; ++j) system.thickness[j] = static_cast<double>(h[j]);
  system.interface_factor = {1.0, 1.0, 1.0};
  return system;
}

int default_point_depths(const RunSettings& s, const std::array<float, 4>& h, PerPoint<float>& depth,
                         PerPoint<int>& layer) {
  const int last = s.layers_above_stiff();
  depth[0] = h[0];
  layer[0] = 1;
  if (last < 2) return 1;  // a single layer above the stiff layer: the bottom of layer 1 only
  depth[1] = h[0] + h[1] / 2.0f;
  layer[1] = 2;
  int count = 2;
  for (int j = 3; j <= last - 1; ++j) {
    const auto i = static_cast<std::size_t>(count);
    depth[i] =
        depth[i - 1] + h[static_cast<std::size_t>(j - 2)] / 2.0f + h[static_cast<std::size_t>(j - 1)] / 2.0f;
    layer[i] = j;
    ++count;
  }
  const auto i = static_cast<std::size_t>(count);
  depth[i] = depth[i - 1] + h[static_cast<std::size_t>(last - 2)] / 2.0f;
  layer[i] = last;
  return count + 1;
}

bool run_model(const RunSettings& s, const StationData& st, StationResults& r, int drop, WrapperMode mode) {
  const auto d = static_cast<std::size_t>(drop - 1);
  const model::LayerSystem system = wrapper_layer_system(s, st, r.modulus[d]);
  const std::array<float, 4> h = model_thickness(s, st);

  const float radius = s.plate_radius * s.units.length;
  const float pressure = st.load[d] * s.units.load / (kPi * (radius * radius));
  const model::CircularLoad load{static_cast<double>(pressure), static_cast<double>(radius), 0.0, 0.0};

  std::array<model::EvaluationPoint, model::kMaxPoints> points{};
  std::size_t count = 0;
  switch (mode) {
    case WrapperMode::kSensorDeflections:
      count = static_cast<std::size_t>(s.sensor_count);
      for (std::size_t i = 0; i < count; ++i) {
        const float y = s.sensor_offset[i] * s.units.length;
        points[i] = model::EvaluationPoint{0.0, static_cast<double>(y), 0.0, 1};
      }
      break;
    case WrapperMode::kDefaultPoints: {
      PerPoint<float> depth{};
      PerPoint<int> layer{};
      count = static_cast<std::size_t>(default_point_depths(s, h, depth, layer));
      for (std::size_t i = 0; i < count; ++i)
        points[i] = model::EvaluationPoint{0.0, 0.0, static_cast<double>(depth[i]), layer[i]};
      break;
    }
    case WrapperMode::kUserPoints:
      count = static_cast<std::size_t>(s.point_count);
      for (std::size_t i = 0; i < count; ++i) {
        const EvaluationPoint& p = s.points[i];
        float z = 0;
        for (int j = 1; j < p.layer; ++j) z = z + h[static_cast<std::size_t>(j - 1)];
        // The half-space has no thickness: its middle and bottom are its top.
        const float own = p.layer <= 4 ? h[static_cast<std::size_t>(p.layer - 1)] : 0.0f;
        if (p.position == kMiddleOfLayer) z = z + own / 2.0f;
        if (p.position == kBottomOfLayer) z = z + own;
        const float y = p.radial_distance * s.units.length;
        points[i] = model::EvaluationPoint{0.0, static_cast<double>(y), static_cast<double>(z), p.layer};
      }
      break;
  }

  const model::ModelResult result =
      model::evaluate_response(system, std::span<const model::CircularLoad>(&load, 1),
                               std::span<const model::EvaluationPoint>(points.data(), count));
  // Results beyond single precision count as a failed evaluation, like the model's own.
  bool usable = model::succeeded(result.status);
  for (std::size_t i = 0; usable && i < count; ++i)
    for (const std::size_t column : {model::kDisplacementZ, model::kSigmaXX, model::kSigmaYY, model::kSigmaZZ,
                                     model::kEpsilonYY, model::kEpsilonZZ})
      usable = usable && std::fabs(result.rows[i][column]) < kResponseLimit;
  if (!usable) {
    // Stresses of another drop or of the default points must not stand for this drop's.
    if (mode != WrapperMode::kSensorDeflections) r.responses.clear_drop(d);
    return false;
  }

  if (mode == WrapperMode::kSensorDeflections) {
    const double deflection_factor = static_cast<double>(s.units.deflection);
    for (std::size_t i = 0; i < count; ++i)
      r.calculated[d][i] =
          static_cast<float>(-1000.0 * result.rows[i][model::kDisplacementZ] / deflection_factor);
    return true;
  }
  const double modulus_factor = static_cast<double>(s.units.modulus);
  PointResponses& out = r.responses;
  out.missing[d] = false;
  for (std::size_t i = 0; i < count; ++i) {
    const model::ResultRow& row = result.rows[i];
    // The points lie on the y axis (x = 0): y is the radial direction, x the hoop direction.
    out.vertical_strain[d][i] = static_cast<float>(row[model::kEpsilonZZ] * 1000000.0);
    out.radial_strain[d][i] = static_cast<float>(row[model::kEpsilonYY] * 1000000.0);
    const float vertical = static_cast<float>(row[model::kSigmaZZ] / modulus_factor);
    const float radial = static_cast<float>(row[model::kSigmaYY] / modulus_factor);
    const float hoop = static_cast<float>(row[model::kSigmaXX] / modulus_factor);
    out.vertical_stress[d][i] = vertical;
    out.radial_stress[d][i] = radial;
    out.hoop_stress[d][i] = hoop;
    out.bulk_stress[d][i] = radial + hoop + vertical;
    out.deviator_stress[d][i] = std::fabs(radial - vertical);
  }
  return true;
}

}  // namespace basinfit
