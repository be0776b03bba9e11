#include "structural/station.h"

#include <cmath>
#include <vector>

namespace basinfit::structural {

namespace {

bool positive(double x) { return std::isfinite(x) && x > 0.0; }

// The drop whose load is nearest the standard load (0-based), or kMaxDrops when none has one.
std::size_t nearest_drop(const StationInput& input, double standard_load_kn) {
  std::size_t best = kMaxDrops;
  for (std::size_t d = 0; d < input.drop_count && d < kMaxDrops; ++d) {
    if (!positive(input.drops[d].load_kn)) continue;
    if (best == kMaxDrops || std::fabs(input.drops[d].load_kn - standard_load_kn) <
                                 std::fabs(input.drops[best].load_kn - standard_load_kn))
      best = d;
  }
  return best;
}

bool complete(const std::array<double, kMaxLayers>& modulus, std::size_t layer_count) {
  if (layer_count == 0 || layer_count > kMaxLayers) return false;
  for (std::size_t j = 0; j < layer_count; ++j)
    if (!positive(modulus[j])) return false;
  return true;
}

// Strains and lives that cannot be had, all with the same reason.
void leave_mechanistic_empty(StationStructure& out, const Value& none) {
  out.strains.single_wheel.horizontal_tensile.microstrain = none;
  out.strains.single_wheel.vertical_compressive.microstrain = none;
  out.strains.dual_wheel = out.strains.single_wheel;
  RemainingLife& life = out.single_wheel_life;
  life.fatigue_repetitions = life.rutting_repetitions = life.allowable_repetitions = none;
  life.damage_ratio = life.remaining_life_years = none;
  out.dual_wheel_life = life;
}

void evaluate_mechanistic(const StationInput& input, const StructuralOptions& options, std::size_t reference,
                          StationStructure& out) {
  const std::size_t layers = input.layers.layer_count;
  double adjusted = kNoValue;
  if (complete(input.standard_load_modulus_mpa, layers)) {
    out.modulus_basis = ModulusBasis::kStandardLoad;
    out.modulus_mpa = input.standard_load_modulus_mpa;
    adjusted = input.standard_load_adjusted_surface_modulus_mpa;
  } else if (reference < kMaxDrops && complete(input.drop_modulus_mpa[reference], layers)) {
    out.modulus_basis = ModulusBasis::kReferenceDrop;
    out.modulus_mpa = input.drop_modulus_mpa[reference];
    adjusted = input.drop_adjusted_surface_modulus_mpa[reference];
  } else {
    const Value none = Value::none("no complete set of backcalculated moduli");
    out.strains.single_wheel.horizontal_tensile.microstrain =
        out.strains.single_wheel.vertical_compressive.microstrain = none;
    out.strains.dual_wheel = out.strains.single_wheel;
    out.single_wheel_life =
        remaining_life(out.strains.single_wheel, kNoValue, options.traffic, options.transfer);
    out.dual_wheel_life = out.single_wheel_life;
    return;
  }
  if (positive(adjusted)) {
    out.modulus_mpa[0] = adjusted;
    out.temperature_adjusted = true;
  }
  const LayerStructure structure{input.layers, out.modulus_mpa};
  out.strains = critical_strains(structure, options.wheels);
  // The fatigue law takes the modulus of the layer whose bottom carries the tension.
  const std::size_t bound = input.layers.bound_layer_count;
  const double asphalt = bound >= 1 && bound <= kMaxLayers ? out.modulus_mpa[bound - 1] : kNoValue;
  out.single_wheel_life =
      remaining_life(out.strains.single_wheel, asphalt, options.traffic, options.transfer);
  out.dual_wheel_life = remaining_life(out.strains.dual_wheel, asphalt, options.traffic, options.transfer);
}

}  // namespace

std::string_view modulus_basis_word(ModulusBasis basis) {
  switch (basis) {
    case ModulusBasis::kStandardLoad:
      return "standard load";
    case ModulusBasis::kReferenceDrop:
      return "reference drop";
    case ModulusBasis::kNone:
      break;
  }
  return "";
}

StationStructure evaluate_station(const StationInput& input, const StructuralOptions& options) {
  StationStructure out;
  if (input.drop_count > kMaxDrops) {
    // Not a station the engine can produce: say so rather than evaluate a part of it.
    const Value none = Value::none("more drops than a station holds");
    out.ndt = NdtDrop{none, none, none, none, none, none};
    out.overlay = OverlayDesign{none, none, none, none};
    out.strains.single_wheel.horizontal_tensile.microstrain =
        out.strains.single_wheel.vertical_compressive.microstrain = none;
    out.strains.dual_wheel = out.strains.single_wheel;
    out.single_wheel_life =
        remaining_life(out.strains.single_wheel, kNoValue, options.traffic, options.transfer);
    out.dual_wheel_life = out.single_wheel_life;
    return out;
  }
  out.drop_count = input.drop_count;
  const double pavement_mm = input.layers.layer_count >= 2 ? input.layers.pavement_thickness_mm() : 0.0;
  for (std::size_t d = 0; d < out.drop_count; ++d) {
    DropStructure& drop = out.drops[d];
    drop.drop = static_cast<int>(d + 1);
    drop.indices = basin_indices(input.drops[d], options.basin);
    if (options.rate_condition) drop.ratings = rate_basin(drop.indices, options.base_type);
    drop.ndt = evaluate_ndt(input.drops[d], input.plate_radius_mm, pavement_mm, input.d0_temperature_factor,
                            options.ndt, options.basin);
  }
  const std::size_t reference = nearest_drop(input, options.basin.standard_load_kn);
  if (reference < kMaxDrops) {
    out.reference_drop = static_cast<int>(reference + 1);
    out.ndt = out.drops[reference].ndt;
  } else {
    const Value none = Value::none("no drop has a load");
    out.ndt = NdtDrop{none, none, none, none, none, none};
  }
  out.overlay = design_overlay(out.ndt.effective_structural_number, out.ndt.design_subgrade_modulus_psi,
                               options.traffic, options.overlay_layer_coefficient);
  if (options.mechanistic) {
    evaluate_mechanistic(input, options, reference, out);
  } else {
    leave_mechanistic_empty(out, Value::none("the mechanistic evaluation is off"));
  }
  return out;
}

SectionStructure summarise_section(std::span<const StationStructure> stations,
                                   const StructuralOptions& options) {
  SectionStructure section;
  section.stations = stations.size();
  const double level = options.design_level_percent;
  std::vector<Value> values(stations.size());
  const auto summary = [&](auto pick, Tail tail) {
    for (std::size_t i = 0; i < stations.size(); ++i) values[i] = pick(stations[i]);
    return summarise_values(values, tail, level);
  };
  const auto reference_index = [](const StationStructure& s, Value BasinIndices::*index) {
    if (s.reference_drop < 1) return Value::none("no drop has a load");
    return s.drops[static_cast<std::size_t>(s.reference_drop - 1)].indices.*index;
  };
  using T = const StationStructure&;
  section.d0_um = summary([&](T s) { return reference_index(s, &BasinIndices::d0_um); }, Tail::kUpper);
  section.sci_um = summary([&](T s) { return reference_index(s, &BasinIndices::sci_um); }, Tail::kUpper);
  section.bdi_um = summary([&](T s) { return reference_index(s, &BasinIndices::bdi_um); }, Tail::kUpper);
  section.bci_um = summary([&](T s) { return reference_index(s, &BasinIndices::bci_um); }, Tail::kUpper);
  section.area_in = summary([&](T s) { return reference_index(s, &BasinIndices::area_in); }, Tail::kLower);
  section.subgrade_modulus_psi = summary([](T s) { return s.ndt.subgrade_modulus_psi; }, Tail::kLower);
  section.design_subgrade_modulus_psi =
      summary([](T s) { return s.ndt.design_subgrade_modulus_psi; }, Tail::kLower);
  section.effective_modulus_psi = summary([](T s) { return s.ndt.effective_modulus_psi; }, Tail::kLower);
  section.effective_structural_number =
      summary([](T s) { return s.ndt.effective_structural_number; }, Tail::kLower);
  section.required_structural_number =
      summary([](T s) { return s.overlay.required_structural_number; }, Tail::kUpper);
  section.overlay_thickness_in = summary([](T s) { return s.overlay.overlay_thickness_in; }, Tail::kUpper);
  const auto wheel = [&](T s) -> const WheelStrains& {
    return options.design_wheel == DesignWheel::kSingle ? s.strains.single_wheel : s.strains.dual_wheel;
  };
  section.tensile_microstrain =
      summary([&](T s) { return wheel(s).horizontal_tensile.microstrain; }, Tail::kUpper);
  section.compressive_microstrain =
      summary([&](T s) { return wheel(s).vertical_compressive.microstrain; }, Tail::kUpper);
  section.allowable_repetitions =
      summary([&](T s) { return s.design_life(options.design_wheel).allowable_repetitions; }, Tail::kLower);
  section.remaining_life_years =
      summary([&](T s) { return s.design_life(options.design_wheel).remaining_life_years; }, Tail::kLower);
  section.damage_ratio =
      summary([&](T s) { return s.design_life(options.design_wheel).damage_ratio; }, Tail::kUpper);
  section.overlay = design_overlay(section.effective_structural_number.design_value,
                                   section.design_subgrade_modulus_psi.mean, options.traffic,
                                   options.overlay_layer_coefficient);
  return section;
}

}  // namespace basinfit::structural
