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

}  // namespace
}  // namespace basinfit
