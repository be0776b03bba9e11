// The 1993 AASHTO Guide's equations: its printed examples and tables, the design equation
// solved back and forth, and the NDT method on a basin whose answer is known in closed form.
#include "structural/aashto.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/half_space.h"
#include "structural/units.h"

namespace basinfit::structural {
namespace {

TEST(AashtoDesignEquation, ReproducesTheGuidesNomographExample) {
  // The Guide's flexible design chart (Part II, Figure 3.1), its printed example: W18 = 5e6,
  // R = 95 %, S0 = 0.35, MR = 5000 psi, dPSI = 1.9, solution SN = 5.0.
  DesignTraffic traffic;
  traffic.design_esals = 5e6;
  traffic.reliability_percent = 95.0;
  traffic.overall_standard_deviation = 0.35;
  traffic.serviceability_loss = 1.9;
  const Value sn = aashto_required_structural_number(traffic, 5000.0);
  ASSERT_TRUE(sn.has_value()) << sn.reason;
  EXPECT_EQ(std::round(sn.value * 10.0) / 10.0, 5.0) << sn.value;
}

TEST(AashtoDesignEquation, SolvesBackToTheStructuralNumberItWasGiven) {
  // SN -> W18 -> SN over the range of practice.
  for (const double sn : {1.0, 2.5, 4.0, 5.5, 7.0, 9.0})
    for (const double mr : {3000.0, 7500.0, 20000.0})
      for (const double dpsi : {1.0, 1.7, 2.5}) {
        DesignTraffic traffic;
        traffic.standard_normal_deviate = -1.282;
        traffic.overall_standard_deviation = 0.45;
        traffic.serviceability_loss = dpsi;
        traffic.design_esals = std::pow(10.0, aashto_log10_esals(sn, -1.282, 0.45, dpsi, mr));
        const Value back = aashto_required_structural_number(traffic, mr);
        ASSERT_TRUE(back.has_value()) << back.reason;
        EXPECT_NEAR(back.value, sn, 1e-9) << "MR " << mr << " dPSI " << dpsi;
      }
  DesignTraffic none;
  EXPECT_FALSE(aashto_required_structural_number(none, 5000.0).has_value());
  none.design_esals = 1e6;
  none.serviceability_loss = 3.0;  // beyond 4.2 - 1.5: outside the equation's basis
  EXPECT_FALSE(aashto_required_structural_number(none, 5000.0).has_value());
}

TEST(StandardNormalDeviate, ReproducesTheGuidesTable41) {
  // The Guide's Table 4.1 (Part I, p. I-62), printed to three decimals.  Five entries differ
  // from the normal quantile by one unit in the last printed digit (the Guide's rounding);
  // 99.99 % is printed -3.750 where the quantile is -3.719.
  const struct {
    double reliability, printed;
  } table[] = {{50, 0.000},  {60, -0.253}, {70, -0.524}, {75, -0.674}, {80, -0.841},  {85, -1.037},
               {90, -1.282}, {91, -1.340}, {92, -1.405}, {93, -1.476}, {94, -1.555},  {95, -1.645},
               {96, -1.751}, {97, -1.881}, {98, -2.054}, {99, -2.327}, {99.9, -3.090}};
  for (const auto& row : table) {
    const Value z = standard_normal_deviate(row.reliability);
    ASSERT_TRUE(z.has_value());
    EXPECT_NEAR(z.value, row.printed, 0.0011) << row.reliability;
  }
  EXPECT_NEAR(standard_normal_deviate(99.99).value, -3.719, 0.0005);
  EXPECT_NEAR(standard_normal_deviate(97.5).value, -1.959964, 1e-6);
  EXPECT_FALSE(standard_normal_deviate(100.0).has_value());
}

// A homogeneous half-space (E psi, nu 0.5) under 9000 lbf on a 5.9 in plate: the basin in
// inches from the model's closed form, as a drop in SI.
DropBasin half_space_drop(double modulus_psi, std::initializer_list<double> offsets_in) {
  const double radius_in = 5.9, load_lbf = 9000.0;
  const double pressure = load_lbf / (M_PI * radius_in * radius_in);
  DropBasin basin;
  basin.load_kn = kn_from_lbf(load_lbf);
  for (const double r : offsets_in) {
    const double w_in = -model::half_space_surface(0.5, modulus_psi, pressure, radius_in, r).w;
    basin.offset_mm[basin.sensor_count] = mm_from_inches(r);
    basin.deflection_um[basin.sensor_count] = mm_from_inches(w_in) * 1000.0;
    ++basin.sensor_count;
  }
  return basin;
}

TEST(AashtoNdt, GivesTheHalfSpaceModulusForBothLayersOfAHalfSpace) {
  // On an incompressible half-space the Guide's d0 = 1.5 p a / E is exact, and 0.24 P / (d_r r)
  // is the point-load deflection 3 P / (4 pi E r) with 0.24 for 3/(4 pi) = 0.2387, the plate's
  // size adding (1 + (a/r)^2 / 8 + 3 (a/r)^4 / 64 + ...) to d_r.  Ep follows MR's small error.
  const double e = 12000.0;
  const DropBasin basin = half_space_drop(e, {0, 8, 12, 18, 24, 36, 60});
  const NdtDrop ndt =
      evaluate_ndt(basin, mm_from_inches(5.9), mm_from_inches(12.0), 1.0, NdtOptions{}, BasinOptions{});
  ASSERT_TRUE(ndt.subgrade_modulus_psi.has_value()) << ndt.subgrade_modulus_psi.reason;
  const double r = ndt.subgrade_sensor_offset_in.value;
  const double s = 5.9 * 5.9 / (r * r);
  EXPECT_NEAR(ndt.subgrade_modulus_psi.value / e,
              0.24 / (3.0 / (4.0 * M_PI)) / (1.0 + s / 8.0 + 3.0 * s * s / 64.0), 5e-4);
  EXPECT_NEAR(ndt.effective_modulus_psi.value / e, 1.0, 0.05);
  // The innermost sensor at or beyond 0.7 a_e: none of the sensors inside it qualifies.
  EXPECT_GE(r, 0.7 * ndt.stress_bulb_radius_in.value);
  DropBasin inner = basin;
  inner.sensor_count = 0;
  for (std::size_t i = 0; i < basin.sensor_count; ++i)
    if (basin.offset_mm[i] < mm_from_inches(r) - 1.0) {
      inner.offset_mm[inner.sensor_count] = basin.offset_mm[i];
      inner.deflection_um[inner.sensor_count++] = basin.deflection_um[i];
    }
  EXPECT_FALSE(
      evaluate_ndt(inner, mm_from_inches(5.9), mm_from_inches(12.0), 1.0, NdtOptions{}, BasinOptions{})
          .subgrade_modulus_psi.has_value());
  EXPECT_NEAR(ndt.design_subgrade_modulus_psi.value, 0.33 * ndt.subgrade_modulus_psi.value, 1e-9);
  EXPECT_NEAR(ndt.effective_structural_number.value,
              0.0045 * 12.0 * std::cbrt(ndt.effective_modulus_psi.value), 1e-12);
  // Exactly: with d0 = 1.5 p a / MR the equation returns Ep = MR.
  const double p = 80.0, a = 5.9, mr = 9000.0;
  EXPECT_NEAR(aashto_effective_modulus_psi(1.5 * p * a / mr, p, a, 10.0, mr).value / mr, 1.0, 1e-10);
}

TEST(AashtoNdt, SaysWhenNoSensorSeesTheSubgradeAlone) {
  // A 60 in pavement puts 0.7 a_e beyond the outermost sensor at 36 in.
  const DropBasin basin = half_space_drop(12000.0, {0, 8, 12, 18, 24, 36});
  const NdtDrop ndt =
      evaluate_ndt(basin, mm_from_inches(5.9), mm_from_inches(60.0), 1.0, NdtOptions{}, BasinOptions{});
  EXPECT_FALSE(ndt.effective_structural_number.has_value());
  EXPECT_NE(ndt.subgrade_modulus_psi.reason.find("0.7 a_e"), std::string::npos)
      << ndt.subgrade_modulus_psi.reason;
}

TEST(AashtoOverlay, IsTheDeficiencyOverTheLayerCoefficient) {
  DesignTraffic traffic;
  traffic.design_esals = 5e6;
  traffic.reliability_percent = 95.0;
  traffic.overall_standard_deviation = 0.35;
  traffic.serviceability_loss = 1.9;
  const double snf = aashto_required_structural_number(traffic, 5000.0).value;
  const OverlayDesign weak = design_overlay(Value::of(3.0), Value::of(5000.0), traffic, 0.44);
  EXPECT_DOUBLE_EQ(weak.structural_deficiency.value, snf - 3.0);
  EXPECT_DOUBLE_EQ(weak.overlay_thickness_in.value, (snf - 3.0) / 0.44);
  EXPECT_DOUBLE_EQ(weak.overlay_thickness_mm.value, (snf - 3.0) / 0.44 * 25.4);
  const OverlayDesign strong = design_overlay(Value::of(6.0), Value::of(5000.0), traffic, 0.44);
  EXPECT_EQ(strong.overlay_thickness_in.value, 0.0);
  const OverlayDesign unknown =
      design_overlay(Value::none("no sensor at 0"), Value::of(5000.0), traffic, 0.44);
  EXPECT_TRUE(unknown.required_structural_number.has_value());
  EXPECT_EQ(unknown.overlay_thickness_in.reason, "no sensor at 0");
}

TEST(SurveyUnits, CarryEnglishValuesToSiExactly) {
  EXPECT_DOUBLE_EQ(mm_from_survey_length(12.0, SurveyUnits::kEnglish), 304.8);
  EXPECT_DOUBLE_EQ(mm_from_survey_length(30.0, SurveyUnits::kMetric), 300.0);
  EXPECT_NEAR(kn_from_survey_load(9000.0, SurveyUnits::kEnglish), 40.0340, 1e-4);
  EXPECT_NEAR(mpa_from_survey_modulus(1.0, SurveyUnits::kEnglish), 6.894757, 1e-6);
  EXPECT_DOUBLE_EQ(um_from_survey_deflection(10.0, SurveyUnits::kEnglish), 254.0);
  EXPECT_NEAR(celsius_from_survey_temperature(68.0, SurveyUnits::kEnglish), 20.0, 1e-12);
  EXPECT_NEAR(psi_from_mpa(mpa_from_psi(450000.0)), 450000.0, 1e-8);
}

}  // namespace
}  // namespace basinfit::structural
