// A station and a section evaluated whole: what comes from which drop and which moduli, what is
// missing and why, and the section's design values.
#include "structural/station.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "model/response_model.h"
#include "structural/units.h"

namespace basinfit::structural {
namespace {

// A linear-elastic three-layer station: the basins of four drops computed by the model.
StationInput model_station(double e1 = 3000.0) {
  StationInput input;
  input.plate_radius_mm = 150.0;
  input.layers.layer_count = 3;
  input.layers.thickness_mm = {150.0, 300.0, 0.0, 0.0};
  input.layers.poisson = {0.35, 0.35, 0.45, 0.0, 0.0};
  input.layers.subgrade_layer = 3;
  model::LayerSystem system;
  system.modulus = {e1, 300, 60, 60, 60};
  system.thickness = {150, 300, 300, 300};
  system.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  const std::array<double, 9> offsets{0, 200, 300, 450, 600, 900, 1200, 1500, 1800};
  std::array<model::EvaluationPoint, 9> points{};
  for (std::size_t i = 0; i < offsets.size(); ++i)
    points[i] = model::EvaluationPoint{0.0, offsets[i], 0.0, 1};
  const std::array<double, 4> loads{27.0, 53.0, 41.0, 71.0};
  input.drop_count = loads.size();
  for (std::size_t d = 0; d < loads.size(); ++d) {
    const model::CircularLoad load{loads[d] * 1000.0 / (M_PI * 150.0 * 150.0), 150.0, 0.0, 0.0};
    const model::ModelResult r = model::evaluate_response(system, std::span(&load, 1), points);
    input.drops[d].load_kn = loads[d];
    input.drops[d].sensor_count = offsets.size();
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      input.drops[d].offset_mm[i] = offsets[i];
      input.drops[d].deflection_um[i] = -1000.0 * r.rows[i][model::kDisplacementZ];
    }
    input.drop_modulus_mpa[d] = {e1 * (1.0 + 0.01 * static_cast<double>(d)), 300, 60, 0, 0};
  }
  return input;
}

TEST(StationStructure, NormalisesEveryDropAndTakesTheReferenceDrop) {
  StationInput input = model_station();
  StructuralOptions options;
  options.rate_condition = true;
  const StationStructure s = evaluate_station(input, options);
  ASSERT_EQ(s.drop_count, 4u);
  // The basins are linear in the load, so every drop gives the same indices at 40 kN.
  for (std::size_t d = 1; d < 4; ++d) {
    EXPECT_NEAR(s.drops[d].indices.sci_um.value, s.drops[0].indices.sci_um.value, 1e-9) << d;
    EXPECT_NEAR(s.drops[d].indices.area_in.value, s.drops[0].indices.area_in.value, 1e-12) << d;
    EXPECT_NEAR(s.drops[d].ndt.effective_structural_number.value,
                s.drops[0].ndt.effective_structural_number.value, 1e-9);
  }
  EXPECT_NE(s.drops[0].ratings.d0, Condition::kNone);
  // The 41 kN drop is nearest the standard load: the station's AASHTO values are its own.
  EXPECT_EQ(s.reference_drop, 3);
  EXPECT_EQ(s.ndt.effective_modulus_psi.value, s.drops[2].ndt.effective_modulus_psi.value);
  // No normalised moduli: the reference drop's, with its adjusted surface modulus.
  EXPECT_EQ(s.modulus_basis, ModulusBasis::kReferenceDrop);
  EXPECT_EQ(s.modulus_mpa[0], input.drop_modulus_mpa[2][0]);
  EXPECT_FALSE(s.temperature_adjusted);
  // Without traffic the strains and the allowable repetitions exist, the rest says why not.
  EXPECT_TRUE(s.dual_wheel_life.allowable_repetitions.has_value());
  EXPECT_FALSE(s.overlay.required_structural_number.has_value());
  EXPECT_EQ(s.dual_wheel_life.remaining_life_years.reason, "no design traffic (W18) given");

  // Moduli at the standard load win over the drop's; the adjusted surface modulus replaces E1
  // and is the modulus of the fatigue law.
  input.standard_load_modulus_mpa = {2500.0, 280.0, 55.0, kNoValue, kNoValue};
  input.standard_load_adjusted_surface_modulus_mpa = 2000.0;
  options.traffic.design_esals = 2e6;
  const StationStructure t = evaluate_station(input, options);
  EXPECT_EQ(t.modulus_basis, ModulusBasis::kStandardLoad);
  EXPECT_TRUE(t.temperature_adjusted);
  EXPECT_EQ(t.modulus_mpa[0], 2000.0);
  EXPECT_EQ(t.modulus_mpa[2], 55.0);
  const double nf = ai_fatigue_repetitions(t.strains.dual_wheel.horizontal_tensile.microstrain.value * 1e-6,
                                           psi_from_mpa(2000.0), {});
  EXPECT_DOUBLE_EQ(t.dual_wheel_life.fatigue_repetitions.value, nf);
  EXPECT_TRUE(t.overlay.overlay_thickness_mm.has_value()) << t.overlay.overlay_thickness_mm.reason;
  EXPECT_NEAR(t.dual_wheel_life.damage_ratio.value, 2e6 / t.dual_wheel_life.allowable_repetitions.value,
              1e-12);
}

TEST(StationStructure, SaysWhyWhereTheStationLacksData) {
  StationInput input = model_station();
  for (auto& moduli : input.drop_modulus_mpa) moduli[1] = kNoValue;  // a failed fit of layer 2
  input.drops[2].deflection_um[0] = kNoValue;                        // the centre sensor of the 41 kN drop
  const StationStructure s = evaluate_station(input, StructuralOptions{});
  EXPECT_EQ(s.modulus_basis, ModulusBasis::kNone);
  EXPECT_EQ(s.strains.dual_wheel.vertical_compressive.microstrain.reason,
            "no complete set of backcalculated moduli");
  EXPECT_FALSE(s.ndt.effective_structural_number.has_value());
  EXPECT_NE(s.ndt.effective_structural_number.reason.find("no deflection under the load"), std::string::npos);
  EXPECT_TRUE(s.drops[0].ndt.effective_structural_number.has_value());  // the other drops keep theirs
}

TEST(SectionStructure, TakesTheCriticalTailOfEachQuantity) {
  // Definition 7 percentiles of 1..10 with one station missing: the 10th is 1.9, the 90th 9.1.
  std::vector<Value> values;
  for (int k = 1; k <= 10; ++k) values.push_back(Value::of(k));
  values.push_back(Value::none("no sensor"));
  const SectionValue lower = summarise_values(values, Tail::kLower);
  EXPECT_EQ(lower.count, 10u);
  EXPECT_EQ(lower.missing, 1u);
  EXPECT_DOUBLE_EQ(lower.mean.value, 5.5);
  EXPECT_NEAR(lower.standard_deviation.value, std::sqrt(82.5 / 9.0), 1e-12);
  EXPECT_NEAR(lower.design_value.value, 1.9, 1e-12);
  EXPECT_NEAR(summarise_values(values, Tail::kUpper).design_value.value, 9.1, 1e-12);
  EXPECT_NEAR(summarise_values(values, Tail::kLower, 50.0).design_value.value, 5.5, 1e-12);
  EXPECT_FALSE(
      summarise_values(std::vector<Value>{Value::of(3.0)}, Tail::kLower).standard_deviation.has_value());

  // A section of three stations of different stiffness: SNeff's design value is the weak end,
  // the overlay is designed on it and on the mean design MR.
  StructuralOptions options;
  options.traffic.design_esals = 5e6;
  std::vector<StationStructure> stations;
  for (const double e1 : {1500.0, 3000.0, 6000.0})
    stations.push_back(evaluate_station(model_station(e1), options));
  const SectionStructure section = summarise_section(stations, options);
  EXPECT_EQ(section.stations, 3u);
  double weakest = 1e9, sum_mr = 0.0;
  for (const StationStructure& s : stations) {
    weakest = std::min(weakest, s.ndt.effective_structural_number.value);
    sum_mr += s.ndt.design_subgrade_modulus_psi.value;
  }
  EXPECT_LT(section.effective_structural_number.design_value.value,
            section.effective_structural_number.mean.value);
  EXPECT_GE(section.effective_structural_number.design_value.value, weakest);
  const OverlayDesign expected = design_overlay(section.effective_structural_number.design_value,
                                                Value::of(sum_mr / 3.0), options.traffic, 0.44);
  EXPECT_NEAR(section.overlay.overlay_thickness_in.value, expected.overlay_thickness_in.value, 1e-9);
  EXPECT_GT(section.tensile_microstrain.design_value.value, section.tensile_microstrain.mean.value);
}

}  // namespace
}  // namespace basinfit::structural
