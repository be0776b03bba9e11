// Temperature adjustment, stress-sensitivity regression and seed moduli.
#include <gtest/gtest.h>

#include <cmath>

#include "run/regression.h"
#include "run/seeds.h"
#include "run/temperature.h"

namespace basinfit {
namespace {

RunSettings english(int layers) {
  RunSettings s;
  s.unit_flag = 1;
  s.units = UnitFactors::for_flag(1);
  s.atmospheric_pressure = atmospheric_pressure(s.units);
  s.layer_count = layers;
  return s;
}

RunSettings metric(int layers) {
  RunSettings s = english(layers);
  s.unit_flag = 0;
  s.units = UnitFactors::for_flag(0);
  s.atmospheric_pressure = atmospheric_pressure(s.units);
  return s;
}

TEST(Temperature, FactorIsOneAtTheReferenceAndGrowsWhenWarmer) {
  EXPECT_EQ(temperature_factor(77.0f, 77.0f), 1.0f);
  // 10^(0.000147362 (100^2 - 77^2)) = 10^0.59991
  EXPECT_NEAR(temperature_factor(100.0f, 77.0f), std::pow(10.0, 0.000147362 * (10000.0 - 5929.0)), 1e-5);
  EXPECT_NEAR(temperature_factor(100.0f, 77.0f), 3.980f, 1e-3f);
  EXPECT_LT(temperature_factor(50.0f, 77.0f), 1.0f);
}

TEST(Temperature, OptionOtherThanOneTakesTemperatureOne) {
  RunSettings s = english(3);
  StationData st;
  st.temperature1 = 100.0f;
  st.temperature2 = 20.0f;
  EXPECT_EQ(pavement_temperature(s, st), 100.0f);
  RunSettings m = metric(3);
  st.temperature1 = 25.0f;
  EXPECT_FLOAT_EQ(pavement_temperature(m, st), 77.0f);
}

TEST(Temperature, DepthTableInterpolatesBetweenRows) {
  RunSettings s = english(3);
  s.temperature_option = 1;
  StationData st;
  st.temperature1 = 75.0f;
  st.temperature2 = 75.0f;  // S = 150
  st.thickness[0] = 6.0f;   // depth 3 in: between rows 2 and 4 in
  EXPECT_NEAR(pavement_temperature(s, st), 78.08f, 1e-4f);
  st.thickness[0] = 4.0f;  // depth exactly 2 in selects row 2 as the upper row
  EXPECT_FLOAT_EQ(pavement_temperature(s, st), 0.5594f * 150.0f - 3.52f);
  st.thickness[0] = 1.0f;  // shallower than the table
  EXPECT_FLOAT_EQ(pavement_temperature(s, st), 0.5972f * 150.0f - 6.56f);
  st.thickness[0] = 30.0f;  // deeper than the table
  EXPECT_FLOAT_EQ(pavement_temperature(s, st), 0.4331f * 150.0f + 7.03f);
}

TEST(Temperature, MetricThicknessIsTakenInInches) {
  RunSettings m = metric(3);
  m.temperature_option = 1;
  StationData st;
  st.temperature1 = (75.0f - 32.0f) / 1.8f;
  st.temperature2 = st.temperature1;
  st.thickness[0] = 6.0f / 0.3937f;  // 6 in of asphalt given in cm
  EXPECT_NEAR(pavement_temperature(m, st), 78.08f, 2e-3f);
}

// A station whose moduli follow an exact power law of the bulk stress.
struct RegressionCase {
  RunSettings s = english(3);
  StationData st;
  StationResults r;
  RegressionCase() {
    s.layers[0].poisson_ratio = 0.35f;
    s.layers[1].poisson_ratio = 0.40f;
    s.layers[2].poisson_ratio = 0.45f;
    st.drop_count = 4;
    st.thickness = {4.0f, 10.0f, 0, 0};
    st.load = {6000.0f, 9000.0f, 12000.0f, 16000.0f};
  }
};

TEST(Regression, NormalizedModuliTakeTheStandardLoadDropOrInterpolate) {
  RegressionCase c;
  for (std::size_t d = 0; d < 4; ++d)
    for (std::size_t j = 0; j < 3; ++j) c.r.modulus[d][j] = 100.0f * static_cast<float>((d + 1) * (j + 1));
  regress(c.s, c.st, c.r);
  EXPECT_EQ(c.r.statistics.normalized_modulus[1], c.r.modulus[1][1]);  // the 9000 lbf drop exactly
  EXPECT_FLOAT_EQ(c.r.statistics.mean_modulus[0], 250.0f);
  EXPECT_FLOAT_EQ(c.r.statistics.mean_modulus[2], 750.0f);

  c.st.load = {6750.0f, 11250.0f, 0, 0};  // halfway around 9000
  c.st.drop_count = 2;
  regress(c.s, c.st, c.r);
  EXPECT_FLOAT_EQ(c.r.statistics.normalized_modulus[0], 150.0f);
  EXPECT_FLOAT_EQ(c.r.statistics.normalized_modulus[2], 450.0f);

  c.st.load = {9500.0f, 12000.0f, 0, 0};  // all above: nothing to interpolate
  regress(c.s, c.st, c.r);
  EXPECT_EQ(c.r.statistics.normalized_modulus[0], 0.0f);
  EXPECT_EQ(c.r.statistics.normalized_adjusted_modulus, 0.0f);
}

TEST(Regression, MetricFortyKilonewtonDropIsTakenAlone) {
  RegressionCase c;
  c.s = metric(3);
  c.st.load = {27000.0f, 40000.0f, 53000.0f, 71000.0f};
  for (std::size_t d = 0; d < 4; ++d) {
    c.r.modulus[d] = {1000.0f + static_cast<float>(d), 200.0f, 50.0f, 0, 0};
    c.r.adjusted_surface_modulus[d] = 900.0f + static_cast<float>(d);
  }
  regress(c.s, c.st, c.r);
  EXPECT_EQ(c.r.statistics.normalized_modulus[0], 1001.0f);
  EXPECT_EQ(c.r.statistics.normalized_adjusted_modulus, 901.0f);
  EXPECT_FLOAT_EQ(c.r.statistics.mean_adjusted_modulus, 901.5f);
}

TEST(Regression, CoarseBaseAndFineSubgradeRecoverTheirPowerLaws) {
  RegressionCase c;
  const float pa = c.s.atmospheric_pressure;
  // Stresses as the model gives them (before overburden); the fit sees them with overburden,
  // so the moduli are built from the stresses after the overburden is added.
  RegressionCase probe = c;
  for (std::size_t d = 0; d < 4; ++d) {
    const float scale = c.st.load[d] / 9000.0f;
    for (std::size_t i = 0; i < 3; ++i) {
      c.r.responses.vertical_stress[d][i] = 20.0f * scale / static_cast<float>(i + 1);
      c.r.responses.radial_stress[d][i] = 2.0f * scale / static_cast<float>(i + 1);
      c.r.responses.hoop_stress[d][i] = c.r.responses.radial_stress[d][i];  // on the load axis
    }
  }
  probe.r = c.r;
  regress(probe.s, probe.st, probe.r);  // adds the overburden once
  for (std::size_t d = 0; d < 4; ++d) {
    const float bulk = probe.r.responses.bulk_stress[d][1];
    const float deviator = probe.r.responses.deviator_stress[d][2];
    c.r.modulus[d] = {500.0f, 30.0f * std::pow(bulk / pa, 0.5f), 12.0f * std::pow(deviator / pa, -0.3f), 0,
                      0};
  }
  regress(c.s, c.st, c.r);
  const StationStatistics& st = c.r.statistics;
  EXPECT_EQ(st.soil_type[1], 1);  // coarse: modulus rises with bulk stress
  EXPECT_NEAR(st.k2[1], 0.5f, 1e-3f);
  EXPECT_NEAR(st.k1[1], 30.0f, 0.05f);
  EXPECT_NEAR(st.r_squared[1], 100.0f, 0.05f);  // a perfect fit explains everything
  EXPECT_EQ(st.soil_type[2], 2);                // fine: modulus falls with stress
  EXPECT_NEAR(st.k2[2], -0.3f, 1e-3f);
  EXPECT_NEAR(st.k1[2], 12.0f, 0.05f);
}

TEST(Regression, OverburdenAddsTheWeightOfTheLayersAbove) {
  RegressionCase c;
  for (std::size_t d = 0; d < 4; ++d) c.r.modulus[d] = {500, 30, 12, 0, 0};
  regress(c.s, c.st, c.r);
  // Point 1, bottom of layer 1: 4 in x 0.0839 pcf-in; point 2, middle of layer 2.
  EXPECT_FLOAT_EQ(c.r.responses.vertical_stress[0][0], 4.0f * 0.0839f);
  EXPECT_FLOAT_EQ(c.r.responses.vertical_stress[0][1], 4.0f * 0.0839f + 10.0f * 0.0752f / 2.0f);
  EXPECT_FLOAT_EQ(c.r.responses.radial_stress[0][0], 4.0f * 0.0839f * 0.35f / 0.65f);
  // Layer 3 is the last point (top of layer 3): point 2's overburden plus half of layer 2.
  EXPECT_FLOAT_EQ(c.r.responses.vertical_stress[0][2],
                  c.r.responses.vertical_stress[0][1] + 10.0f * 0.0752f / 2.0f);
}

TEST(Regression, FixedLayersAndUnfittableLayersReportNoFit) {
  RegressionCase c;
  c.s.layers[2].type = 1;
  for (std::size_t d = 0; d < 4; ++d) c.r.modulus[d] = {500, 30, 12, 0, 0};  // constant moduli: SST = 0
  regress(c.s, c.st, c.r);
  EXPECT_EQ(c.r.statistics.soil_type[2], 0);
  EXPECT_EQ(c.r.statistics.k1[2], 0.0f);
  EXPECT_EQ(c.r.statistics.soil_type[1], 0);  // SST of 0 rejects the fit
  EXPECT_EQ(c.r.statistics.r_squared[1], 0.0f);
  EXPECT_TRUE(std::isfinite(c.r.statistics.k2[1]));
}

// A drop whose responses the model could not evaluate is left out of the fit: the law must be
// exactly the one of the station without that drop, and nothing is added to its zeros.
TEST(Regression, DropsWithoutResponsesAreLeftOutOfTheFit) {
  RegressionCase full;
  for (std::size_t d = 0; d < 4; ++d) {
    const float scale = full.st.load[d] / 9000.0f;
    for (std::size_t i = 0; i < 3; ++i) {
      full.r.responses.vertical_stress[d][i] = 20.0f * scale / static_cast<float>(i + 1);
      full.r.responses.radial_stress[d][i] = 2.0f * scale / static_cast<float>(i + 1);
      full.r.responses.hoop_stress[d][i] = 2.0f * scale / static_cast<float>(i + 1);
    }
    full.r.modulus[d] = {500.0f, 30.0f * std::pow(scale, 0.4f) * (1.0f + 0.01f * static_cast<float>(d % 2)),
                         12.0f * std::pow(scale, -0.2f), 0, 0};
  }
  RegressionCase with_missing = full;
  with_missing.r.responses.clear_drop(1);
  with_missing.r.modulus[1] = {500.0f, 9000.0f, 1.0f, 0, 0};  // would spoil any fit it entered

  RegressionCase without;  // the same station with drop 2 removed
  const std::size_t kept[] = {0, 2, 3};
  without.st.drop_count = 3;
  for (std::size_t u = 0; u < 3; ++u) {
    without.st.load[u] = full.st.load[kept[u]];
    without.r.modulus[u] = full.r.modulus[kept[u]];
    without.r.responses.vertical_stress[u] = full.r.responses.vertical_stress[kept[u]];
    without.r.responses.radial_stress[u] = full.r.responses.radial_stress[kept[u]];
    without.r.responses.hoop_stress[u] = full.r.responses.hoop_stress[kept[u]];
  }
  regress(with_missing.s, with_missing.st, with_missing.r);
  regress(without.s, without.st, without.r);
  for (std::size_t j = 1; j < 3; ++j) {
    EXPECT_NE(without.r.statistics.soil_type[j], 0) << "layer " << j + 1;
    EXPECT_EQ(with_missing.r.statistics.soil_type[j], without.r.statistics.soil_type[j]) << "layer " << j + 1;
    EXPECT_EQ(with_missing.r.statistics.k1[j], without.r.statistics.k1[j]) << "layer " << j + 1;
    EXPECT_EQ(with_missing.r.statistics.k2[j], without.r.statistics.k2[j]) << "layer " << j + 1;
    EXPECT_EQ(with_missing.r.statistics.r_squared[j], without.r.statistics.r_squared[j]) << "layer " << j + 1;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(with_missing.r.responses.vertical_stress[1][i], 0.0f);
    EXPECT_EQ(with_missing.r.responses.bulk_stress[1][i], 0.0f);
  }

  // With a single drop left there is no law at all.
  RegressionCase lone = full;
  for (std::size_t d : {0u, 1u, 3u}) lone.r.responses.clear_drop(d);
  regress(lone.s, lone.st, lone.r);
  for (std::size_t j = 1; j < 3; ++j) {
    EXPECT_EQ(lone.r.statistics.soil_type[j], 0);
    EXPECT_EQ(lone.r.statistics.k1[j], 0.0f);
  }
}

// The seed equations in psi and inches, written out independently of the code under test.
TEST(Seeds, ThreeLayerSeedsFollowTheBasinEquationsWithinTheirLimits) {
  RunSettings s = english(3);
  s.sensor_count = 7;
  s.sensor_offset = {0, 8, 12, 18, 24, 36, 60};
  StationData st;
  st.load[0] = 9000.0f;
  st.thickness = {4.0f, 10.0f, 0, 0};
  st.measured[0] = {20.0f, 14.0f, 11.0f, 8.0f, 6.0f, 4.0f, 2.0f};
  PerLayer<float> modulus{500.0f, 50.0f, 10.0f, 0, 0};
  ASSERT_EQ(compute_seed_moduli(s, st, modulus), SeedResult::kComputed);
  // Area by trapezoids (0-8-12-18-24-36), the offset 36 ends the sum with D36 = 4 mils.
  const double area_mils = 8 * 34 + 4 * 25 + 6 * 19 + 6 * 14 + 0 + (4.0 + 6.0) * 12;
  const double a = area_mils * 0.0005, d1 = 0.020, d36 = 0.004;
  const double sv = std::log10(a * 9000 / (d1 * d1));
  const double e3 = 0.00877 * 9000 / d36 - 530;
  double e2 = std::pow(10.0, 0.25424 * sv + 0.12541 * std::sqrt(5.9 / 10) - 0.09416 * std::sqrt(0.4) +
                                 0.51386 * std::log10(e3) + 0.03474 * 5.9 / 4 + 0.50634);
  double e1 = std::pow(10.0, 1.88298 * sv + 0.92874 * std::sqrt(5.9 / 10) - 0.69727 * std::sqrt(0.4) -
                                 0.96687 * std::log10(e3) + 0.25726 * 5.9 / 4 - 4.13464);
  e1 = std::fmin(std::fmax(e1, 100000), 1000000);
  e2 = std::fmin(std::fmax(e2, 10000), 50000);
  EXPECT_NEAR(modulus[2], e3 / 1000, e3 / 1000 * 1e-4);
  EXPECT_NEAR(modulus[1], e2 / 1000, e2 / 1000 * 1e-3);
  EXPECT_NEAR(modulus[0], e1 / 1000, e1 / 1000 * 1e-3);
  EXPECT_GE(modulus[1], 10.0f);
  EXPECT_LE(modulus[1], 50.0f);
  EXPECT_GE(modulus[0], 100.0f);
  EXPECT_LE(modulus[0], 1000.0f);
}

TEST(Seeds, ZeroDeflectionAtThirtySixInchesSeedsTwentyThousandPsi) {
  RunSettings s = metric(2);
  s.sensor_count = 3;
  s.sensor_offset = {0, 60, 120};  // cm; 36 in = 91.4 cm lies between the last two
  StationData st;
  st.load[0] = 40000.0f;
  st.thickness = {20.0f, 0, 0, 0};
  st.measured[0] = {300.0f, 50.0f, -50.0f};                                 // zero crossing near 91 cm
  st.measured[0][2] = 50.0f - 50.0f * (120.0f - 60.0f) / (91.44f - 60.0f);  // D36 below 0
  PerLayer<float> modulus{3000.0f, 100.0f, 0, 0, 0};
  ASSERT_EQ(compute_seed_moduli(s, st, modulus), SeedResult::kComputed);
  EXPECT_NEAR(modulus[1], 20000.0f / (0.145f * 1000.0f), 1e-3f);  // 137.9 MPa
}

TEST(Seeds, FixedLayersKeepTheirModuli) {
  RunSettings s = english(2);
  s.layers[1].type = 1;
  s.sensor_count = 3;
  s.sensor_offset = {0, 12, 48};
  StationData st;
  st.load[0] = 9000.0f;
  st.thickness = {6.0f, 0, 0, 0};
  st.measured[0] = {15.0f, 8.0f, 2.0f};
  PerLayer<float> modulus{400.0f, 25.0f, 0, 0, 0};
  ASSERT_EQ(compute_seed_moduli(s, st, modulus), SeedResult::kComputed);
  EXPECT_FLOAT_EQ(modulus[1], 25.0f);
  EXPECT_GE(modulus[0], 100.0f);
}

TEST(Seeds, UnusableBasinsKeepTheCurrentSeeds) {
  RunSettings s = english(3);
  s.sensor_count = 3;
  s.sensor_offset = {0, 12, 12};
  StationData st;
  st.load[0] = 9000.0f;
  st.thickness = {4.0f, 10.0f, 0, 0};
  st.measured[0] = {0.0f, 8.0f, 2.0f};  // no deflection under the plate
  PerLayer<float> modulus{500.0f, 50.0f, 10.0f, 0, 0};
  EXPECT_EQ(compute_seed_moduli(s, st, modulus), SeedResult::kBasinUnusable);
  st.measured[0][0] = 15.0f;  // now the repeated offset leaves no segment for D36
  EXPECT_EQ(compute_seed_moduli(s, st, modulus), SeedResult::kBasinUnusable);
  s.sensor_count = 1;
  EXPECT_EQ(compute_seed_moduli(s, st, modulus), SeedResult::kBasinUnusable);
  EXPECT_EQ(modulus, (PerLayer<float>{500.0f, 50.0f, 10.0f, 0, 0}));
}

}  // namespace
}  // namespace basinfit
