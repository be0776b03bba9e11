#include "structural/mechanistic.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "model/response_model.h"
#include "structural/units.h"

namespace basinfit::structural {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Where the two strains are read, and the layer whose constants turn stresses into strains.
struct StrainDepths {
  double bound_bottom_mm = 0.0;
  int bound_layer = 0;        // 0: no bound layer
  int bound_point_layer = 0;  // the model layer the point at the bottom of the bound layers is evaluated in
  double subgrade_top_mm = 0.0;
  int subgrade_point_layer = 0;         // the model layer the point is evaluated in
  bool subgrade_is_half_space = false;  // the subgrade is layer 5: read across the 4/5 interface
};

// Load radius in mm of `load_kn` at `pressure_kpa`: P = p pi a^2 (N = MPa mm^2).
double radius_mm(double load_kn, double pressure_kpa) {
  return std::sqrt(load_kn * 1000.0 / (kPi * pressure_kpa / 1000.0));
}

std::string check(const LayerStructure& structure, const WheelLoads& loads) {
  const PavementLayers& p = structure.layers;
  if (p.layer_count < 2 || p.layer_count > kMaxLayers) return "the pavement needs 2 to 5 layers";
  const std::size_t subgrade = p.subgrade_layer == 0 ? p.layer_count : p.subgrade_layer;
  if (subgrade < 2 || subgrade > p.layer_count) return "the subgrade must be a layer below the first";
  if (p.bound_layer_count >= subgrade) return "the bound layers must lie above the subgrade";
  for (std::size_t j = 0; j < p.layer_count; ++j) {
    if (!(std::isfinite(structure.modulus_mpa[j]) && structure.modulus_mpa[j] > 0.0))
      return "layer " + std::to_string(j + 1) + " has no positive modulus";
    if (!(p.poisson[j] >= 0.0 && p.poisson[j] < 0.5))
      return "layer " + std::to_string(j + 1) + " has a Poisson's ratio outside [0, 0.5)";
    if (j + 1 < p.layer_count && !(std::isfinite(p.thickness_mm[j]) && p.thickness_mm[j] > 0.0))
      return "layer " + std::to_string(j + 1) + " has no positive thickness";
  }
  for (const double x : {loads.single_load_kn, loads.single_pressure_kpa, loads.dual_load_kn,
                         loads.dual_pressure_kpa, loads.dual_spacing_mm})
    if (!(std::isfinite(x) && x > 0.0)) return "the wheel loads, pressures and spacing must be positive";
  if (loads.dual_spacing_mm < 2.0 * radius_mm(loads.dual_load_kn, loads.dual_pressure_kpa))
    return "the dual tyres overlap: the spacing is below a tyre's diameter";
  return {};
}

model::LayerSystem layer_system(const LayerStructure& structure) {
  const PavementLayers& p = structure.layers;
  model::LayerSystem system;
  for (std::size_t j = 0; j < model::kMaxLayers; ++j) {
    const std::size_t from = std::min(j, p.layer_count - 1);
    system.modulus[j] = structure.modulus_mpa[from];
    system.poisson[j] = p.poisson[from];
  }
  // Layers below the last repeat its thickness (the model only needs a length there).
  for (std::size_t j = 0; j < model::kMaxThicknesses; ++j)
    system.thickness[j] = j + 1 < p.layer_count ? p.thickness_mm[j] : system.thickness[j - 1];
  system.interface_factor = {1.0, 1.0, 1.0};
  return system;
}

StrainDepths depths(const PavementLayers& p) {
  StrainDepths d;
  const std::size_t subgrade = p.subgrade_layer == 0 ? p.layer_count : p.subgrade_layer;
  for (std::size_t j = 0; j < p.bound_layer_count; ++j) d.bound_bottom_mm += p.thickness_mm[j];
  d.bound_layer = static_cast<int>(p.bound_layer_count);
  // The horizontal strains (e_xx, e_yy, e_xy) are continuous across a fully bonded interface,
  // so the bottom of the bound layers is read at the top of the layer below, with that layer's
  // constants: the same strains, and the model's points in layers 2-4 cost a tenth of those in
  // layer 1 off the load axis (layer 1 adds back the half-space by Simpson sums over the load).
  // Not below into the half-space (layer 5), where the model returns nothing.
  d.bound_point_layer = d.bound_layer > 0 && d.bound_layer + 1 < static_cast<int>(model::kMaxLayers)
                            ? d.bound_layer + 1
                            : d.bound_layer;
  for (std::size_t j = 0; j + 1 < subgrade; ++j) d.subgrade_top_mm += p.thickness_mm[j];
  // The model returns nothing inside its half-space (layer 5): a subgrade that is layer 5 is
  // read at the bottom of layer 4 and carried across the fully bonded interface.
  d.subgrade_is_half_space = subgrade == model::kMaxLayers;
  d.subgrade_point_layer = static_cast<int>(d.subgrade_is_half_space ? subgrade - 1 : subgrade);
  return d;
}

// Largest horizontal tension (positive microstrain) at a point: the smaller eigenvalue of the
// horizontal strain tensor in the model's compression-positive convention, with the shear
// strain from the horizontal shear stress, e_xy = s_xy (1 + nu) / E.
double horizontal_tension_microstrain(const model::ResultRow& row, double modulus, double poisson) {
  const double exy = row[model::kSigmaXY] * (1.0 + poisson) / modulus;
  const double mean = 0.5 * (row[model::kEpsilonXX] + row[model::kEpsilonYY]);
  const double half_difference = 0.5 * (row[model::kEpsilonXX] - row[model::kEpsilonYY]);
  const double least = mean - std::sqrt(half_difference * half_difference + exy * exy);
  return -least * 1e6;
}

// Vertical compression (positive microstrain) at the top of the subgrade.  Across the bonded
// interface 4/5 the horizontal strains and the vertical stress are continuous; Hooke's law in
// layer 5 then gives s_xx + s_yy = (E5 (e_xx + e_yy) + 2 nu5 s_zz) / (1 - nu5) and
// e_zz = (s_zz - nu5 (s_xx + s_yy)) / E5.
double vertical_compression_microstrain(const model::ResultRow& row, const LayerStructure& p, bool across) {
  if (!across) return row[model::kEpsilonZZ] * 1e6;
  const double e5 = p.modulus_mpa[model::kMaxLayers - 1], nu5 = p.layers.poisson[model::kMaxLayers - 1];
  const double horizontal_stress =
      (e5 * (row[model::kEpsilonXX] + row[model::kEpsilonYY]) + 2.0 * nu5 * row[model::kSigmaZZ]) /
      (1.0 - nu5);
  return (row[model::kSigmaZZ] - nu5 * horizontal_stress) / e5 * 1e6;
}

// A candidate worst point along the axle line.
struct Best {
  double microstrain = -std::numeric_limits<double>::infinity();
  double offset_mm = kNoValue;
  void take(double value, double x) {
    if (value > microstrain) {
      microstrain = value;
      offset_mm = x;
    }
  }
};

// Evaluates the loads at up to five offsets x along the axle line, at both depths.  False when
// the model refuses the evaluation.
bool evaluate_line(const model::LayerSystem& system, std::span<const model::CircularLoad> loads,
                   std::span<const double> offsets, const StrainDepths& d, const LayerStructure& p,
                   std::span<AxlePoint> out, int& evaluations) {
  std::array<model::EvaluationPoint, model::kMaxPoints> points{};
  std::size_t count = 0;
  for (const double x : offsets) {
    if (d.bound_layer > 0)
      points[count++] = model::EvaluationPoint{x, 0.0, d.bound_bottom_mm, d.bound_point_layer};
    points[count++] = model::EvaluationPoint{x, 0.0, d.subgrade_top_mm, d.subgrade_point_layer};
  }
  const model::ModelResult result = model::evaluate_response(system, loads, std::span(points.data(), count));
  ++evaluations;
  if (!model::succeeded(result.status)) return false;
  const std::size_t bound = d.bound_layer > 0 ? static_cast<std::size_t>(d.bound_point_layer - 1) : 0;
  std::size_t row = 0;
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    out[k].offset_mm = offsets[k];
    out[k].tensile_microstrain = d.bound_layer > 0
                                     ? horizontal_tension_microstrain(
                                           result.rows[row++], p.modulus_mpa[bound], p.layers.poisson[bound])
                                     : kNoValue;
    out[k].compressive_microstrain =
        vertical_compression_microstrain(result.rows[row++], p, d.subgrade_is_half_space);
  }
  return true;
}

// Evaluates a line and keeps the worst point of each depth.
bool search_line(const model::LayerSystem& system, std::span<const model::CircularLoad> loads,
                 std::span<const double> offsets, const StrainDepths& d, const LayerStructure& p,
                 Best& tension, Best& compression, int& evaluations) {
  std::array<AxlePoint, kMaxAxlePoints> line{};
  if (!evaluate_line(system, loads, offsets, d, p, std::span(line.data(), offsets.size()), evaluations))
    return false;
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    if (d.bound_layer > 0) tension.take(line[k].tensile_microstrain, line[k].offset_mm);
    compression.take(line[k].compressive_microstrain, line[k].offset_mm);
  }
  return true;
}

std::array<model::CircularLoad, 2> dual_tyres(const WheelLoads& loads) {
  const double s = loads.dual_spacing_mm;
  const double a = radius_mm(loads.dual_load_kn, loads.dual_pressure_kpa);
  const double p = loads.dual_pressure_kpa / 1000.0;
  return {model::CircularLoad{p, a, -0.5 * s, 0.0}, model::CircularLoad{p, a, 0.5 * s, 0.0}};
}

WheelStrains strains_of(const Best& tension, const Best& compression, const StrainDepths& d) {
  WheelStrains s;
  if (d.bound_layer > 0)
    s.horizontal_tensile = CriticalStrain{Value::of(tension.microstrain), tension.offset_mm};
  else
    s.horizontal_tensile.microstrain = Value::none("no bound layer");
  s.vertical_compressive = CriticalStrain{Value::of(compression.microstrain), compression.offset_mm};
  return s;
}

WheelStrains failed(const std::string& reason) {
  WheelStrains s;
  s.horizontal_tensile.microstrain = Value::none(reason);
  s.vertical_compressive.microstrain = Value::none(reason);
  return s;
}

}  // namespace

CriticalStrains critical_strains(const LayerStructure& pavement, const WheelLoads& loads) {
  CriticalStrains out;
  const std::string fault = check(pavement, loads);
  if (!fault.empty()) {
    out.single_wheel = out.dual_wheel = failed(fault);
    return out;
  }
  const model::LayerSystem system = layer_system(pavement);
  const StrainDepths d = depths(pavement.layers);

  // The single wheel: its worst points are on its axis.
  {
    const model::CircularLoad wheel{loads.single_pressure_kpa / 1000.0,
                                    radius_mm(loads.single_load_kn, loads.single_pressure_kpa), 0.0, 0.0};
    Best tension, compression;
    const double axis[] = {0.0};
    if (search_line(system, std::span(&wheel, 1), axis, d, pavement, tension, compression,
                    out.model_evaluations))
      out.single_wheel = strains_of(tension, compression, d);
    else
      out.single_wheel = failed("the layered model could not evaluate the single wheel");
  }

  // The dual wheel: a coarse line from the midpoint (x = 0) to the outer half of a tyre, then a
  // finer one around the worst coarse point of each depth.
  const double s = loads.dual_spacing_mm;
  const double a = radius_mm(loads.dual_load_kn, loads.dual_pressure_kpa);
  const std::array<model::CircularLoad, 2> tyres = dual_tyres(loads);
  const double reach = 0.5 * s + 0.5 * a;
  const std::array<double, 5> coarse{0.0, s / 6.0, s / 3.0, 0.5 * s, reach};
  Best tension, compression;
  if (!search_line(system, tyres, coarse, d, pavement, tension, compression, out.model_evaluations)) {
    out.dual_wheel = failed("the layered model could not evaluate the dual wheel");
    return out;
  }
  // Around each worst coarse point, a third and two thirds of the way to its neighbours.
  const double step = s / 6.0;
  std::array<double, 5> fine{};
  std::size_t n = 0;
  const auto around = [&](double centre, std::size_t points) {
    const double offsets[] = {-step / 3.0, step / 3.0, -2.0 * step / 3.0, 2.0 * step / 3.0};
    for (std::size_t k = 0; k < points; ++k) {
      const double x = std::clamp(centre + offsets[k], 0.0, reach);
      if (x != centre) fine[n++] = x;
    }
  };
  if (d.bound_layer > 0) {
    around(tension.offset_mm, 2);
    around(compression.offset_mm, 2);
  } else {
    around(compression.offset_mm, 4);
  }
  if (n > 0 && !search_line(system, tyres, std::span(fine.data(), n), d, pavement, tension, compression,
                            out.model_evaluations)) {
    out.dual_wheel = failed("the layered model could not evaluate the dual wheel");
    return out;
  }
  out.dual_wheel = strains_of(tension, compression, d);
  return out;
}

bool dual_wheel_strains_along_axle(const LayerStructure& pavement, const WheelLoads& loads,
                                   std::span<const double> offsets_mm, std::span<AxlePoint> out) {
  if (offsets_mm.size() > kMaxAxlePoints || out.size() < offsets_mm.size()) return false;
  if (!check(pavement, loads).empty()) return false;
  int evaluations = 0;
  return evaluate_line(layer_system(pavement), dual_tyres(loads), offsets_mm, depths(pavement.layers),
                       pavement, out, evaluations);
}

double ai_fatigue_repetitions(double tensile_strain, double asphalt_modulus_psi,
                              const TransferOptions& options) {
  double c = 1.0;
  if (!std::isnan(options.air_voids_percent) || !std::isnan(options.binder_volume_percent)) {
    const double m =
        4.84 *
        (options.binder_volume_percent / (options.air_voids_percent + options.binder_volume_percent) - 0.69);
    c = std::pow(10.0, m);
  }
  return 18.4 * c * 4.325e-3 * std::pow(tensile_strain, -3.291) * std::pow(asphalt_modulus_psi, -0.854);
}

double ai_rutting_repetitions(double compressive_strain) {
  return 1.365e-9 * std::pow(compressive_strain, -4.477);
}

std::string_view criterion_word(Criterion criterion) {
  switch (criterion) {
    case Criterion::kFatigue:
      return "fatigue";
    case Criterion::kRutting:
      return "rutting";
    case Criterion::kNone:
      break;
  }
  return "";
}

RemainingLife remaining_life(const WheelStrains& strains, double asphalt_modulus_mpa,
                             const DesignTraffic& traffic, const TransferOptions& options) {
  RemainingLife life;
  const Value& tension = strains.horizontal_tensile.microstrain;
  const Value& compression = strains.vertical_compressive.microstrain;
  if (!tension.has_value())
    life.fatigue_repetitions = Value::none(tension.reason);
  else if (!(tension.value > 0.0))
    life.fatigue_repetitions = Value::none("no tension at the bottom of the bound layers");
  else if (!(std::isfinite(asphalt_modulus_mpa) && asphalt_modulus_mpa > 0.0))
    life.fatigue_repetitions = Value::none("no modulus of the bound layer");
  else
    life.fatigue_repetitions =
        Value::of(ai_fatigue_repetitions(tension.value * 1e-6, psi_from_mpa(asphalt_modulus_mpa), options));
  if (!compression.has_value())
    life.rutting_repetitions = Value::none(compression.reason);
  else if (!(compression.value > 0.0))
    life.rutting_repetitions = Value::none("no compression at the top of the subgrade");
  else
    life.rutting_repetitions = Value::of(ai_rutting_repetitions(compression.value * 1e-6));

  const bool fatigue = life.fatigue_repetitions.has_value(), rutting = life.rutting_repetitions.has_value();
  if (!fatigue && !rutting) {
    const std::string reason = life.fatigue_repetitions.reason;
    life.allowable_repetitions = life.damage_ratio = life.remaining_life_years = Value::none(reason);
    return life;
  }
  // The governing criterion is the one that allows fewer repetitions; a criterion without a
  // value cannot govern (a pavement without a bound layer is governed by rutting alone).
  if (fatigue && (!rutting || life.fatigue_repetitions.value <= life.rutting_repetitions.value)) {
    life.governing = Criterion::kFatigue;
    life.allowable_repetitions = life.fatigue_repetitions;
  } else {
    life.governing = Criterion::kRutting;
    life.allowable_repetitions = life.rutting_repetitions;
  }
  if (!traffic.given()) {
    life.damage_ratio = life.remaining_life_years = Value::none("no design traffic (W18) given");
    return life;
  }
  life.damage_ratio = Value::of(traffic.design_esals / life.allowable_repetitions.value);
  life.remaining_life_years = years_to_carry(life.allowable_repetitions.value, traffic);
  return life;
}

}  // namespace basinfit::structural
