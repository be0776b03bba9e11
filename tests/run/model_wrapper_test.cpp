// The bridge from a drop's moduli to the model's working units.
#include "run/model_wrapper.h"

#include <gtest/gtest.h>

#include <cmath>

namespace basinfit {
namespace {

TEST(ModelWrapper, DefaultPointsSitAtTheirLayerPositions) {
  RunSettings s;
  std::array<float, 4> h{4.0f, 10.0f, 8.0f, 8.0f};
  PerPoint<float> depth{};
  PerPoint<int> layer{};
  s.layer_count = 4;
  EXPECT_EQ(default_point_depths(s, h, depth, layer), 4);
  EXPECT_EQ(depth[0], 4.0f);   // bottom of layer 1
  EXPECT_EQ(depth[1], 9.0f);   // middle of layer 2
  EXPECT_EQ(depth[2], 18.0f);  // middle of layer 3
  EXPECT_EQ(depth[3], 22.0f);  // top of layer 4
  EXPECT_EQ(layer[3], 4);
  s.layer_count = 2;  // two layers: three points, the last two in layer 2
  EXPECT_EQ(default_point_depths(s, h, depth, layer), 3);
  EXPECT_EQ(depth[2], 11.0f);
  EXPECT_EQ(layer[2], 2);
  s.stiff_layer = 1;  // one layer above a stiff layer: its bottom only
  EXPECT_EQ(default_point_depths(s, h, depth, layer), 1);
}

TEST(ModelWrapper, MissingLayersRepeatTheLastOneInWorkingUnits) {
  RunSettings s;
  s.layer_count = 2;
  s.units = UnitFactors::for_flag(0);
  s.layers[0].poisson_ratio = 0.35f;
  s.layers[1].poisson_ratio = 0.45f;
  StationData st;
  st.thickness = {20.0f, 0, 0, 0};
  const model::LayerSystem sys = wrapper_layer_system(s, st, {3000.0f, 80.0f, 0, 0, 0});
  EXPECT_EQ(sys.modulus[0], static_cast<double>(3000.0f * 0.145f * 1000.0f));
  for (std::size_t j = 1; j < 5; ++j) {
    EXPECT_EQ(sys.modulus[j], static_cast<double>(80.0f * 0.145f * 1000.0f));
    EXPECT_EQ(sys.poisson[j], static_cast<double>(0.45f));
  }
  for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(sys.thickness[j], static_cast<double>(20.0f * 0.3937f));
  s.layer_count = 1;
  const model::LayerSystem one = wrapper_layer_system(s, st, {3000.0f, 0, 0, 0, 0});
  for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(one.thickness[j], 10.0);
}

TEST(ModelWrapper, HomogeneousSystemGivesTheHalfSpaceDeflectionUnderThePlate) {
  // English units: 9000 lbf on a 5.91 in plate over 30 ksi, nu = 0.4 everywhere.
  RunSettings s;
  s.unit_flag = 1;
  s.layer_count = 3;
  s.plate_radius = 5.91f;
  s.sensor_count = 1;
  for (auto& l : s.layers) l.poisson_ratio = 0.4f;
  StationData st;
  st.thickness = {5.0f, 10.0f, 0, 0};
  st.load[0] = 9000.0f;
  StationResults r;
  r.modulus[0] = {30.0f, 30.0f, 30.0f, 0, 0};
  ASSERT_TRUE(run_model(s, st, r, 1, WrapperMode::kSensorDeflections));
  // Boussinesq: w = 2 (1 - nu^2) p a / E, in mils.
  const double a = 5.91, p = 9000.0 / (M_PI * a * a), e = 30000.0;
  const double w = 2.0 * (1.0 - 0.16) * p * a / e * 1000.0;
  EXPECT_NEAR(r.calculated[0][0], w, w * 1e-4);
}

// Stresses of a homogeneous half-space (compression positive) at (0, y, z) under a uniform
// circular pressure p of radius a, by integrating the point-load (Boussinesq) solution over the
// loaded circle in long double.  Each element's radial and hoop stresses are resolved on the
// global x and y axes.
struct HalfSpaceStresses {
  double xx, yy, zz;
};
HalfSpaceStresses boussinesq_circle(double nu, double p, double a, double y, double z) {
  constexpr long double pi = 3.14159265358979323846264338327950288L;
  const int nr = 600, nt = 1200;
  long double xx = 0, yy = 0, zz = 0;
  for (int i = 0; i < nr; ++i) {
    const long double s = (i + 0.5L) * a / nr;
    for (int j = 0; j < nt; ++j) {
      const long double t = (j + 0.5L) * 2 * pi / nt;
      const long double dx = -s * cosl(t), dy = y - s * sinl(t);
      const long double rho2 = dx * dx + dy * dy;
      const long double R = sqrtl(rho2 + (long double)z * z);
      const long double P = p * s * (a / (long double)nr) * (2 * pi / nt);
      const long double radial =
          P / (2 * pi) * (3 * rho2 * z / (R * R * R * R * R) - (1 - 2 * nu) / (R * (R + z)));
      const long double hoop = (1 - 2 * nu) * P / (2 * pi) * (1 / (R * (R + z)) - z / (R * R * R));
      zz += 3 * P * z * z * z / (2 * pi * R * R * R * R * R);
      xx += (radial * dx * dx + hoop * dy * dy) / rho2;
      yy += (radial * dy * dy + hoop * dx * dx) / rho2;
    }
  }
  return {static_cast<double>(xx), static_cast<double>(yy), static_cast<double>(zz)};
}

// English units, three layers of one material: the model is a half-space.
struct HalfSpaceSurvey {
  RunSettings s;
  StationData st;
  StationResults r;
  HalfSpaceSurvey() {
    s.unit_flag = 1;
    s.units = UnitFactors::for_flag(1);
    s.layer_count = 3;
    s.plate_radius = 5.91f;
    for (auto& l : s.layers) l.poisson_ratio = 0.35f;
    st.thickness = {8.0f, 8.0f, 0, 0};
    st.drop_count = 1;
    st.load[0] = 9000.0f;
    r.modulus[0] = {30.0f, 30.0f, 30.0f, 0, 0};
  }
};

TEST(ModelWrapper, OffAxisPointsReportTheRadialComponentsOfTheIndependentQuadrature) {
  HalfSpaceSurvey h;
  // On the axis, at the bottom of layer 1 off the plate edge, inside layer 2, at the top of layer 3.
  const EvaluationPoint points[] = {
      {0.0f, 2, kTopOfLayer}, {8.0f, 1, kBottomOfLayer}, {12.0f, 2, kMiddleOfLayer}, {20.0f, 3, kTopOfLayer}};
  const double depth[] = {8.0, 8.0, 12.0, 16.0};
  h.s.point_count = 4;
  for (std::size_t i = 0; i < 4; ++i) h.s.points[i] = points[i];
  ASSERT_TRUE(run_model(h.s, h.st, h.r, 1, WrapperMode::kUserPoints));
  EXPECT_FALSE(h.r.responses.missing[0]);

  const double nu = 0.35, E = 30000.0;
  const double p = static_cast<double>(9000.0f / (3.1415927f * (5.91f * 5.91f)));
  const double tolerance = 3e-4 * p;
  const PointResponses& out = h.r.responses;
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("point " + std::to_string(i));
    const HalfSpaceStresses e = boussinesq_circle(nu, p, 5.91, points[i].radial_distance, depth[i]);
    EXPECT_NEAR(out.vertical_stress[0][i], e.zz, tolerance);
    EXPECT_NEAR(out.radial_stress[0][i], e.yy, tolerance);
    EXPECT_NEAR(out.hoop_stress[0][i], e.xx, tolerance);
    EXPECT_NEAR(out.bulk_stress[0][i], e.xx + e.yy + e.zz, 3.0 * tolerance);
    EXPECT_NEAR(out.deviator_stress[0][i], std::fabs(e.yy - e.zz), 2.0 * tolerance);
    const double radial_strain = (e.yy - nu * (e.xx + e.zz)) / E * 1e6;
    EXPECT_NEAR(out.radial_strain[0][i], radial_strain, 2.0 * (1 + 2 * nu) * tolerance / E * 1e6);
    if (i == 0) {
      // On the axis radial and hoop are one, and the bulk stress keeps its old form exactly.
      EXPECT_EQ(out.radial_stress[0][i], out.hoop_stress[0][i]);
      EXPECT_EQ(out.bulk_stress[0][i], 2.0f * out.radial_stress[0][i] + out.vertical_stress[0][i]);
    } else {
      // Off the axis the two differ by far more than the tolerance: the test tells them apart.
      EXPECT_GT(std::fabs(e.yy - e.xx), 20.0 * tolerance);
    }
  }
  // The quadrature itself against Love's closed form on the axis.
  const double zr = 8.0 / std::sqrt(64.0 + 5.91 * 5.91);
  const HalfSpaceStresses axis = boussinesq_circle(nu, p, 5.91, 0.0, 8.0);
  EXPECT_NEAR(axis.xx, p / 2 * ((1 + 2 * nu) - 2 * (1 + nu) * zr + zr * zr * zr), 1e-4 * p);
  EXPECT_NEAR(axis.zz, p * (1 - zr * zr * zr), 1e-4 * p);
}

TEST(ModelWrapper, PointsOnEitherHorizontalAxisGiveTheSameRadialAndHoopValues) {
  // A layered metric pavement; the wrapper places its points at x = 0, y = r, the model is
  // asked directly at x = r, y = 0, where x is the radial direction.
  RunSettings s;
  s.unit_flag = 0;
  s.units = UnitFactors::for_flag(0);
  s.layer_count = 3;
  s.plate_radius = 15.0f;
  const float nu[] = {0.35f, 0.35f, 0.45f};
  for (std::size_t j = 0; j < 3; ++j) s.layers[j].poisson_ratio = nu[j];
  StationData st;
  st.thickness = {15.0f, 30.0f, 0, 0};
  st.load[0] = 40000.0f;
  StationResults r;
  r.modulus[0] = {3000.0f, 300.0f, 60.0f, 0, 0};
  const EvaluationPoint points[] = {{30.0f, 1, kBottomOfLayer},
                                    {30.0f, 2, kMiddleOfLayer},
                                    {30.0f, 3, kTopOfLayer},
                                    {60.0f, 3, kMiddleOfLayer}};
  s.point_count = 4;
  for (std::size_t i = 0; i < 4; ++i) s.points[i] = points[i];
  ASSERT_TRUE(run_model(s, st, r, 1, WrapperMode::kUserPoints));

  const float h1 = 15.0f * 0.3937f, h2 = 30.0f * 0.3937f;
  const float depth[] = {h1, h1 + h2 / 2.0f, h1 + h2, h1 + h2 + h2 / 2.0f};
  std::array<model::EvaluationPoint, 4> on_x{};
  for (std::size_t i = 0; i < 4; ++i)
    on_x[i] = {static_cast<double>(points[i].radial_distance * 0.3937f), 0.0, static_cast<double>(depth[i]),
               points[i].layer};
  const float radius = 15.0f * 0.3937f;
  const model::CircularLoad load{static_cast<double>(40000.0f * 0.2248f / (3.1415927f * (radius * radius))),
                                 static_cast<double>(radius), 0.0, 0.0};
  const model::ModelResult direct = model::evaluate_response(wrapper_layer_system(s, st, r.modulus[0]),
                                                             std::span(&load, 1), std::span(on_x));
  ASSERT_TRUE(model::succeeded(direct.status));
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("point " + std::to_string(i));
    const model::ResultRow& row = direct.rows[i];
    const float radial = static_cast<float>(row[model::kSigmaXX] / 0.145);
    const float hoop = static_cast<float>(row[model::kSigmaYY] / 0.145);
    const float scale = std::fabs(radial) + std::fabs(hoop) + std::fabs(r.responses.vertical_stress[0][i]);
    EXPECT_NEAR(r.responses.radial_stress[0][i], radial, 1e-6f * scale);
    EXPECT_NEAR(r.responses.hoop_stress[0][i], hoop, 1e-6f * scale);
    EXPECT_NEAR(r.responses.radial_strain[0][i], static_cast<float>(row[model::kEpsilonXX] * 1e6),
                1e-6f * std::fabs(r.responses.vertical_strain[0][i]));
    EXPECT_GT(std::fabs(radial - hoop), 0.1f * scale);  // the two directions are told apart
  }
}

TEST(ModelWrapper, FailedEvaluationsClearTheDropsResponsesAndLeaveDeflectionsAlone) {
  struct Failure {
    const char* what;
    float thickness1;
    float modulus;
  };
  const Failure failures[] = {
      {"plate radius of 1500 top layers", 0.01f, 30.0f},      // the model refuses it
      {"deflections beyond single precision", 8.0f, 1e-25f},  // the model computes, the wrapper refuses
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.what);
    HalfSpaceSurvey h;
    h.st.drop_count = 2;
    h.st.load[1] = 9000.0f;
    h.st.thickness[0] = f.thickness1;
    h.r.modulus[1] = {f.modulus, f.modulus, f.modulus, 0, 0};
    h.s.sensor_count = 1;
    h.s.point_count = 1;
    h.s.points[0] = {12.0f, 2, kMiddleOfLayer};
    // Values of an earlier station stand in both drops.
    for (std::size_t d = 0; d < 2; ++d) {
      h.r.responses.radial_stress[d].fill(7.0f);
      h.r.responses.bulk_stress[d].fill(7.0f);
      h.r.responses.radial_strain[d].fill(7.0f);
    }
    h.r.calculated[1][0] = 5.0f;
    EXPECT_FALSE(run_model(h.s, h.st, h.r, 2, WrapperMode::kSensorDeflections));
    EXPECT_EQ(h.r.calculated[1][0], 5.0f);  // the caller decides what a failed basin shows
    EXPECT_FALSE(run_model(h.s, h.st, h.r, 2, WrapperMode::kUserPoints));
    EXPECT_TRUE(h.r.responses.missing[1]);
    EXPECT_EQ(h.r.responses.radial_stress[1][0], 0.0f);
    EXPECT_EQ(h.r.responses.bulk_stress[1][0], 0.0f);
    EXPECT_EQ(h.r.responses.radial_strain[1][0], 0.0f);
    EXPECT_EQ(h.r.responses.radial_stress[0][0], 7.0f);  // another drop is not touched
    // The report copy of a missing drop shows 0, not -0.
    const PointResponses copy = h.r.responses.negated();
    EXPECT_TRUE(copy.missing[1]);
    EXPECT_EQ(copy.radial_stress[1][0], 0.0f);
    EXPECT_FALSE(std::signbit(copy.radial_stress[1][0]));
    EXPECT_EQ(copy.radial_stress[0][0], -7.0f);
  }
  // A later evaluation that succeeds makes the drop available again.
  HalfSpaceSurvey h;
  h.r.responses.clear_drop(0);
  ASSERT_TRUE(run_model(h.s, h.st, h.r, 1, WrapperMode::kDefaultPoints));
  EXPECT_FALSE(h.r.responses.missing[0]);
  EXPECT_NE(h.r.responses.vertical_stress[0][0], 0.0f);
}

}  // namespace
}  // namespace basinfit
