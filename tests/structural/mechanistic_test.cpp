// Critical strains against closed forms and independent evaluations of the model, and the
// lives that follow from them.
#include "structural/mechanistic.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "model/response_model.h"
#include "structural/units.h"

namespace basinfit::structural {
namespace {

LayerStructure three_layers(double e1, double e2, double e3) {
  LayerStructure s;
  s.layers.layer_count = 3;
  s.layers.thickness_mm = {120.0, 250.0, 0.0, 0.0};
  s.layers.poisson = {0.35, 0.35, 0.45, 0.0, 0.0};
  s.layers.bound_layer_count = 1;
  s.layers.subgrade_layer = 3;
  s.modulus_mpa = {e1, e2, e3, 0.0, 0.0};
  return s;
}

TEST(CriticalStrains, OfOneLayerAreBoussinesqsOnTheAxis) {
  // A homogeneous pavement is a half-space: under a uniform circular load (p, a) on its axis
  //   s_z = p (1 - z^3 / R^3),  s_r = s_t = p/2 (1 + 2 nu - 2 (1 + nu) z / R + z^3 / R^3),
  // R = sqrt(a^2 + z^2), and Hooke's law gives the strains.
  const double e = 250.0, nu = 0.35;
  LayerStructure s = three_layers(e, e, e);
  s.layers.poisson = {nu, nu, nu, 0.0, 0.0};
  const WheelLoads loads;
  const CriticalStrains strains = critical_strains(s, loads);
  const double p = loads.single_pressure_kpa / 1000.0;
  const double a = std::sqrt(loads.single_load_kn * 1000.0 / (M_PI * p));
  const auto boussinesq = [&](double z, double& tension, double& compression) {
    const double r = std::sqrt(a * a + z * z), c = z * z * z / (r * r * r);
    const double sz = p * (1.0 - c);
    const double sr = p / 2.0 * (1.0 + 2.0 * nu - 2.0 * (1.0 + nu) * z / r + c);
    tension = -(sr - nu * (sr + sz)) / e * 1e6;
    compression = (sz - 2.0 * nu * sr) / e * 1e6;
  };
  double tension, compression, unused;
  boussinesq(120.0, tension, unused);
  boussinesq(370.0, unused, compression);
  ASSERT_TRUE(strains.single_wheel.horizontal_tensile.microstrain.has_value())
      << strains.single_wheel.horizontal_tensile.microstrain.reason;
  EXPECT_NEAR(strains.single_wheel.horizontal_tensile.microstrain.value / tension, 1.0, 2e-4);
  EXPECT_NEAR(strains.single_wheel.vertical_compressive.microstrain.value / compression, 1.0, 2e-4);
  EXPECT_EQ(strains.single_wheel.horizontal_tensile.offset_mm, 0.0);
}

// One tyre of the dual wheel alone, evaluated by the model at (x, 0) in layer `layer` at depth
// z: the row in the x, y frame (x radial, y tangential).
model::ResultRow one_tyre(const LayerStructure& s, const WheelLoads& loads, double x, double z, int layer) {
  model::LayerSystem system;
  for (std::size_t j = 0; j < 5; ++j) {
    system.modulus[j] = s.modulus_mpa[std::min<std::size_t>(j, 2)];
    system.poisson[j] = s.layers.poisson[std::min<std::size_t>(j, 2)];
  }
  system.thickness = {s.layers.thickness_mm[0], s.layers.thickness_mm[1], s.layers.thickness_mm[1],
                      s.layers.thickness_mm[1]};
  const double p = loads.dual_pressure_kpa / 1000.0;
  const model::CircularLoad tyre{p, std::sqrt(loads.dual_load_kn * 1000.0 / (M_PI * p)), 0.0, 0.0};
  const model::EvaluationPoint point{x, 0.0, z, layer};
  const model::ModelResult r = model::evaluate_response(system, std::span(&tyre, 1), std::span(&point, 1));
  EXPECT_TRUE(model::succeeded(r.status));
  return r.rows[0];
}

TEST(CriticalStrains, OfTheDualWheelAreTheSumOfItsTyresInOneFrame) {
  // Superposition checked by symmetry: at the midpoint each tyre is s/2 away along x, so the
  // dual wheel's strains are twice one tyre's at offset s/2, radial along x and tangential
  // along y.  Off the midpoint the two tyres are at |x - s/2| and x + s/2, both along x.  The
  // single tyre is read in layer 1 (bottom of the asphalt) and layer 3 (top of the subgrade),
  // where the room reads across the interfaces: continuity is checked with it.
  const LayerStructure s = three_layers(4000.0, 350.0, 70.0);
  const WheelLoads loads;
  const double half = loads.dual_spacing_mm / 2.0, z1 = 120.0, z3 = 370.0;
  const std::array<double, 3> offsets{0.0, 100.0, half + 40.0};
  std::array<AxlePoint, 3> line{};
  ASSERT_TRUE(dual_wheel_strains_along_axle(s, loads, offsets, line));
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    const double x = offsets[k];
    const model::ResultRow near1 = one_tyre(s, loads, std::fabs(x - half), z1, 1);
    const model::ResultRow far1 = one_tyre(s, loads, x + half, z1, 1);
    const double exx = near1[model::kEpsilonXX] + far1[model::kEpsilonXX];
    const double eyy = near1[model::kEpsilonYY] + far1[model::kEpsilonYY];
    EXPECT_NEAR(line[k].tensile_microstrain, -std::min(exx, eyy) * 1e6, 1e-3 * std::fabs(exx) * 1e6) << x;
    const double ezz = one_tyre(s, loads, std::fabs(x - half), z3, 3)[model::kEpsilonZZ] +
                       one_tyre(s, loads, x + half, z3, 3)[model::kEpsilonZZ];
    EXPECT_NEAR(line[k].compressive_microstrain, ezz * 1e6, 1e-5 * std::fabs(ezz) * 1e6) << x;
  }
  // At the midpoint: twice one tyre at s/2 (the two evaluations end their integrations at
  // slightly different transform values: agreement to 1e-5).
  const model::ResultRow mid = one_tyre(s, loads, half, z3, 3);
  EXPECT_NEAR(line[0].compressive_microstrain / (2.0 * mid[model::kEpsilonZZ] * 1e6), 1.0, 1e-5);
  // The search finds nothing worse than the points of this line.
  const CriticalStrains strains = critical_strains(s, loads);
  for (const AxlePoint& point : line) {
    EXPECT_GE(strains.dual_wheel.horizontal_tensile.microstrain.value,
              point.tensile_microstrain * (1.0 - 1e-5));
    EXPECT_GE(strains.dual_wheel.vertical_compressive.microstrain.value,
              point.compressive_microstrain * (1.0 - 1e-5));
  }
}

TEST(CriticalStrains, ReadASubgradeHalfSpaceAcrossItsInterface) {
  // The model returns nothing inside its half-space (layer 5): a five-layer pavement whose
  // layers 2-4 are one base cut in three is the three-layer pavement, whose subgrade (layer 3)
  // the model evaluates directly.
  const LayerStructure three = three_layers(4000.0, 350.0, 70.0);
  LayerStructure five;
  five.layers.layer_count = 5;
  five.layers.thickness_mm = {120.0, 100.0, 100.0, 50.0};
  five.layers.poisson = {0.35, 0.35, 0.35, 0.35, 0.45};
  five.layers.bound_layer_count = 1;
  five.layers.subgrade_layer = 5;
  five.modulus_mpa = {4000.0, 350.0, 350.0, 350.0, 70.0};
  const CriticalStrains a = critical_strains(three, WheelLoads{});
  const CriticalStrains b = critical_strains(five, WheelLoads{});
  EXPECT_NEAR(b.single_wheel.vertical_compressive.microstrain.value /
                  a.single_wheel.vertical_compressive.microstrain.value,
              1.0, 1e-4);
  EXPECT_NEAR(
      b.dual_wheel.horizontal_tensile.microstrain.value / a.dual_wheel.horizontal_tensile.microstrain.value,
      1.0, 1e-4);
}

TEST(CriticalStrains, RefuseWhatTheyCannotEvaluate) {
  LayerStructure s = three_layers(4000.0, 350.0, 70.0);
  s.layers.bound_layer_count = 3;  // bound layers reaching into the subgrade
  EXPECT_FALSE(critical_strains(s, WheelLoads{}).single_wheel.horizontal_tensile.microstrain.has_value());
  s = three_layers(4000.0, -1.0, 70.0);
  const CriticalStrains bad = critical_strains(s, WheelLoads{});
  EXPECT_NE(bad.dual_wheel.vertical_compressive.microstrain.reason.find("layer 2"), std::string::npos);
  WheelLoads overlapping;
  overlapping.dual_spacing_mm = 150.0;  // two tyres of 95 mm radius
  EXPECT_FALSE(critical_strains(three_layers(4000.0, 350.0, 70.0), overlapping)
                   .dual_wheel.vertical_compressive.microstrain.has_value());
  s = three_layers(4000.0, 350.0, 70.0);
  s.layers.bound_layer_count = 0;  // no bound layer: rutting only
  const CriticalStrains unbound = critical_strains(s, WheelLoads{});
  EXPECT_FALSE(unbound.dual_wheel.horizontal_tensile.microstrain.has_value());
  EXPECT_TRUE(unbound.dual_wheel.vertical_compressive.microstrain.has_value());
  DesignTraffic traffic;
  EXPECT_EQ(remaining_life(unbound.dual_wheel, 4000.0, traffic, {}).governing, Criterion::kRutting);
}

TEST(RemainingLife, FollowsTheAsphaltInstituteCriteriaAndTheTraffic) {
  WheelStrains strains;
  strains.horizontal_tensile.microstrain = Value::of(150.0);
  strains.vertical_compressive.microstrain = Value::of(300.0);
  DesignTraffic traffic;
  traffic.design_esals = 3e6;
  traffic.design_period_years = 20.0;
  traffic.annual_growth_percent = 3.0;
  const RemainingLife life = remaining_life(strains, 3000.0, traffic, {});
  // The printed forms: Nf = 0.0796 et^-3.291 E^-0.854 (E psi), Nd = 1.365e-9 ec^-4.477.
  const double nf = 0.0796 * std::pow(150e-6, -3.291) * std::pow(psi_from_mpa(3000.0), -0.854);
  const double nd = 1.365e-9 * std::pow(300e-6, -4.477);
  EXPECT_NEAR(life.fatigue_repetitions.value / nf, 1.0, 3e-4);  // 18.4 x 4.325e-3 = 0.07958
  EXPECT_NEAR(life.rutting_repetitions.value / nd, 1.0, 1e-12);
  EXPECT_EQ(life.governing, nf < nd ? Criterion::kFatigue : Criterion::kRutting);
  EXPECT_DOUBLE_EQ(life.damage_ratio.value, 3e6 / life.allowable_repetitions.value);
  // The design traffic itself takes exactly the design period to add up.
  EXPECT_NEAR(years_to_carry(3e6, traffic).value, 20.0, 1e-9);
  traffic.annual_growth_percent = 0.0;
  EXPECT_NEAR(years_to_carry(1.5e6, traffic).value, 10.0, 1e-12);
  // Volumetrics: Vb / (Va + Vb) = 0.69 is the printed form's C = 1.
  TransferOptions mix;
  mix.air_voids_percent = 31.0;
  mix.binder_volume_percent = 69.0;
  EXPECT_NEAR(ai_fatigue_repetitions(150e-6, 450000.0, mix) / ai_fatigue_repetitions(150e-6, 450000.0, {}),
              1.0, 1e-12);
  DesignTraffic none;
  EXPECT_EQ(remaining_life(strains, 3000.0, none, {}).remaining_life_years.reason,
            "no design traffic (W18) given");
}

}  // namespace
}  // namespace basinfit::structural
