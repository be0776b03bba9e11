// The vector path (AVX2 or AVX-512, chosen at run time) must give the very bits of the portable
// path: whole evaluations over every kind of pavement, point and guard the model knows, and its
// two kernels on their own, including lane counts that end inside a vector.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "model/bessel_series.h"
#include "model/layer_solution.h"
#include "model/panel_kernels.h"
#include "model/response_model.h"
#include "test_pavements.h"

namespace basinfit::model {
namespace {

// The vector forms this processor can run (AVX2, AVX-512); the portable form comes first.
std::span<const PanelKernels> vector_kernels() { return supported_panel_kernels().subspan(1); }
const PanelKernels& portable_kernels() { return supported_panel_kernels()[0]; }

#define SKIP_WITHOUT_A_WIDER_UNIT()                                                            \
  if (vector_kernels().empty()) GTEST_SKIP() << "this processor has neither AVX2 nor AVX-512"; \
  static_assert(true)

struct Case {
  std::string name;
  LayerSystem system;
  std::vector<CircularLoad> loads;
  std::vector<EvaluationPoint> points;
  IntegrationLimits limits{};
};

using test::kPavement;
using test::kPlate;
using test::layers;
using test::sensors;

// The cases of the model's own tests, and more: every point kind and layer, loads off the origin,
// slip at the interfaces, the initial-step search, the step caps, the most Bessel lanes there can
// be, random pavements, and evaluations that end in each of the failures.
std::vector<Case> model_cases() {
  std::vector<Case> cases;
  const auto add = [&cases](std::string name, const LayerSystem& s, std::vector<CircularLoad> loads,
                            std::vector<EvaluationPoint> points, IntegrationLimits limits = {}) {
    cases.push_back({std::move(name), s, std::move(loads), std::move(points), limits});
  };
  add("3-layer, 9 sensors", kPavement, {kPlate}, sensors());
  add("5-layer stiff bottom, 9 sensors",
      layers({4000, 400, 150, 60, 5000}, {0.35, 0.35, 0.4, 0.45, 0.3}, {100, 200, 300, 2500}),
      {{0.566, 150, 0, 0}}, sensors());
  add("thin top layer", layers({3000, 300, 60, 60, 60}, {0.35, 0.35, 0.45, 0.45, 0.45}, {30, 300, 300, 300}),
      {kPlate}, sensors());
  std::vector<EvaluationPoint> mixed;
  for (std::size_t i = 0; i < 10; ++i)
    mixed.push_back({0, 150.0 * i, i < 6 ? 0.0 : 200.0 + 50.0 * (i - 6), i < 6 ? 1 : 2});
  add("ten points, surface and layer 2", kPavement, {kPlate}, mixed);
  add("points in every layer and the half-space", kPavement, {kPlate},
      {{0, 0, 75, 1},
       {40, 300, 75, 1},
       {0, 0, 300, 2},
       {-120, 450, 449, 2},
       {0, 600, 451, 3},
       {200, -50, 900, 4},
       {0, 0, 2000, 5},
       {0, 300, 0, 2},
       {0, 300, 0, 4},
       {0, 1800, 0, 1}});
  const LayerSystem homogeneous =
      layers({100, 100, 100, 100, 100}, {0.3, 0.3, 0.3, 0.3, 0.3}, {10, 10, 10, 10});
  add("homogeneous, load radius H1", homogeneous, {{1.0, 10.0, 0, 0}}, {{0, 0, 0, 1}});
  add("homogeneous, small load, step cap", homogeneous, {{1.0, 0.1, 0, 0}}, {{0, 0, 0, 1}, {0, 120, 0, 1}});
  add("homogeneous at depth", homogeneous, {{1.0, 10.0, 0, 0}},
      {{0, 0, 5, 1}, {0, 7, 15, 2}, {3, 4, 25, 3}, {0, 20, 35, 4}});
  LayerSystem slip = layers({4000, 400, 150, 60, 300}, {0.35, 0.35, 0.4, 0.45, 0.3}, {150, 250, 300, 1500});
  slip.interface_factor = {0.5, 0.2, 0.9};
  add("partial bond at the interfaces", slip, {kPlate},
      {{0, 0, 0, 1},
       {0, 300, 149.9, 1},
       {0, 300, 150.1, 2},
       {0, 450, 399.9, 2},
       {0, 450, 400.1, 3},
       {0, 600, 699.9, 3},
       {0, 600, 700.1, 4}});
  add("dual wheels, points off both axes", kPavement, {{0.7, 110, -170, 0}, {0.7, 110, 170, 0}},
      {{0, 0, 0, 1},
       {-170, 0, 0, 1},
       {-170, 300, 40, 1},
       {250, 250, 300, 2},
       {0, 0, 600, 3},
       {90, -60, 0, 1}});
  std::vector<CircularLoad> ten_loads;
  std::vector<EvaluationPoint> ten_points;
  for (int k = 0; k < 10; ++k) {
    ten_loads.push_back({0.3 + 0.05 * k, 80.0 + 9 * k, 37.0 * k - 150, 23.0 * k});
    ten_points.push_back({-400.0 + 95 * k, 60.0 * k, k < 5 ? 0.0 : 90.0 * k, k < 5 ? 1 : 1 + k % 4});
  }
  add("ten loads, ten points: every Bessel lane in use", kPavement, ten_loads, ten_points);

  std::uint64_t state = 12345;
  const auto uniform = [&state](double lo, double hi) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return lo + (hi - lo) * static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  for (int trial = 0; trial < 60; ++trial) {
    LayerSystem s;
    for (std::size_t j = 0; j < kMaxLayers; ++j) {
      s.modulus[j] = std::pow(10.0, uniform(1.0, 4.5));
      s.poisson[j] = uniform(0.15, 0.49);
    }
    for (std::size_t j = 0; j < kMaxThicknesses; ++j) s.thickness[j] = uniform(30.0, 1000.0);
    std::vector<EvaluationPoint> points = {{0, 0, 0, 1}, {0, uniform(0, 1800), 0, 1}};
    double top = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
      const double bottom = top + s.thickness[k];
      points.push_back({uniform(-300, 300), uniform(0, 900), top + uniform(0.05, 0.95) * (bottom - top),
                        static_cast<int>(k) + 1});
      top = bottom;
    }
    add("random pavement " + std::to_string(trial), s, {{uniform(0.2, 1.5), 150.0, 0.0, 0.0}}, points);
  }

  // Evaluations that fail: the failure and its counters must agree too.
  for (double nu : {1.0, 0.999, 0.9999999}) {
    for (std::size_t layer = 0; layer < 4; ++layer) {
      LayerSystem s = kPavement;
      s.poisson[layer] = nu;
      if (layer == 3) s.poisson = {nu, nu, 0.45, nu, 0.45};  // degenerate for 0.9999999
      add("Poisson's ratio " + std::to_string(nu) + " in layer " + std::to_string(layer + 1), s, {kPlate},
          {{0, 300, 0, 1}});
    }
  }
  LayerSystem huge_plate = kPavement;
  huge_plate.thickness[0] = 1.5;
  add("load radius of a hundred top layers", huge_plate, {kPlate}, {{0, 0, 0, 1}});
  IntegrationLimits tight;
  tight.max_lambda_values = 60;
  add("transform value count limit", kPavement, {kPlate}, {{0, 1800, 0, 1}}, tight);
  IntegrationLimits low;
  low.max_lambda = 1.0;
  add("transform value limit", kPavement, {kPlate}, {{0, 1800, 0, 1}}, low);
  return cases;
}

template <class T>
bool same_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

TEST(VectorPath, EveryModelCaseGivesThePortableBits) {
  SKIP_WITHOUT_A_WIDER_UNIT();
  const std::vector<Case> cases = model_cases();
  for (const PanelKernels& kernels : vector_kernels()) {
    int succeeded_cases = 0;
    for (const Case& c : cases) {
      const ModelResult portable =
          evaluate_response_with(portable_kernels(), c.system, c.loads, c.points, c.limits);
      const ModelResult wide = evaluate_response_with(kernels, c.system, c.loads, c.points, c.limits);
      const std::string where = std::string(kernels.name) + ", " + c.name;
      EXPECT_EQ(wide.status, portable.status) << where;
      EXPECT_EQ(wide.point_count, portable.point_count) << where;
      EXPECT_EQ(wide.lambda_values, portable.lambda_values) << where;
      EXPECT_TRUE(same_bits(wide.initial_step, portable.initial_step)) << where;
      EXPECT_TRUE(same_bits(wide.final_lambda, portable.final_lambda)) << where;
      for (std::size_t i = 0; i < kMaxPoints; ++i) {
        for (std::size_t col = 0; col < kResultColumns; ++col) {
          EXPECT_TRUE(same_bits(wide.rows[i][col], portable.rows[i][col]))
              << where << ", point " << i + 1 << ", " << result_column_name(col) << ": " << wide.rows[i][col]
              << " against " << portable.rows[i][col];
        }
      }
      if (succeeded(portable.status)) ++succeeded_cases;
    }
    EXPECT_GE(succeeded_cases, 70);  // the comparison is not vacuous: most cases have results
  }
}

TEST(VectorPath, BesselSeriesKernelGivesThePortableBitsForEveryLaneCount) {
  SKIP_WITHOUT_A_WIDER_UNIT();
  // Arguments from 0 through the series range to beyond the asymptotic threshold, in no order,
  // some lanes marked as load radii.
  const auto argument = [](std::size_t l) {
    return l % 11 == 0 ? 0.0 : (l % 7 == 3 ? kAsymptoticThreshold : std::fmod(0.37 * l * l, 19.0));
  };
  const auto fill = [&](BesselLanes& lanes, std::size_t count) {
    lanes.count = count;
    for (std::size_t l = 0; l < count; ++l) {
      lanes.x[l] = argument(l);
      lanes.load_radius[l] = l % 5 == 1;
    }
  };
  std::vector<std::size_t> counts;
  for (std::size_t n = 1; n <= 40; ++n) counts.push_back(n);
  counts.push_back(kBesselLaneCapacity - 1);
  counts.push_back(kBesselLaneCapacity);
  static BesselLanes portable, wide, reused;
  for (const PanelKernels& kernels : vector_kernels()) {
    const BesselSeriesKernel series = kernels.bessel_series;
    // `reused` first holds every lane in use, so its lanes beyond each shorter count hold the
    // leftovers of a live series when the vector kernel reaches into them.
    fill(reused, kBesselLaneCapacity);
    evaluate_bessel_lanes(reused, series);
    for (std::size_t n : counts) {
      fill(portable, n);
      fill(wide, n);
      fill(reused, n);
      evaluate_bessel_lanes(portable, sum_bessel_series);
      evaluate_bessel_lanes(wide, series);
      evaluate_bessel_lanes(reused, series);
      for (std::size_t l = 0; l < n; ++l) {
        EXPECT_TRUE(same_bits(wide.j0[l], portable.j0[l]) && same_bits(wide.j1[l], portable.j1[l]))
            << kernels.name << ", " << n << " lanes, lane " << l << ", x = " << portable.x[l];
        EXPECT_TRUE(same_bits(reused.j0[l], portable.j0[l]) && same_bits(reused.j1[l], portable.j1[l]))
            << n << " lanes after a longer use, lane " << l;
      }
    }
  }
}

TEST(VectorPath, PanelLayerSolutionsGiveThePortableBitsFromSmallToVanishingTransformValues) {
  SKIP_WITHOUT_A_WIDER_UNIT();
  LayerSystem slip = layers({4000, 400, 150, 60, 5000}, {0.35, 0.3, 0.4, 0.45, 0.2}, {100, 200, 300, 2500});
  slip.interface_factor = {0.7, 1.0, 0.3};
  for (const PanelKernels& kernels : vector_kernels()) {
    for (const LayerSystem& s : {kPavement, slip}) {
      const double H1 = s.thickness[0];
      const std::array<double, 4> depth = {1.0, (H1 + s.thickness[1]) / H1,
                                           (H1 + s.thickness[1] + s.thickness[2]) / H1,
                                           (H1 + s.thickness[1] + s.thickness[2] + s.thickness[3]) / H1};
      const LayerConstants constants = make_layer_constants(s, depth);
      // Panels from 1e-6 up to where every exponential has been cut off.
      for (double start = 1e-6; start < 200.0; start *= 1.7) {
        PanelLambdas lambda;
        for (std::size_t m = 0; m < kPanelNodes; ++m) lambda[m] = start * (1 + 0.013 * m);
        PanelCoefficients portable, wide;
        solve_layers_panel(lambda, constants, 0.05, portable);
        kernels.solve_layers(lambda, constants, 0.05, wide);
        for (std::size_t m = 0; m < kPanelNodes; ++m) {
          const LayerCoefficients &p = portable[m], &v = wide[m];
          const bool same = same_bits(v.layer1, p.layer1) && same_bits(v.layer2, p.layer2) &&
                            same_bits(v.layer3, p.layer3) && same_bits(v.layer4, p.layer4) &&
                            same_bits(v.measure, p.measure) && v.above_threshold == p.above_threshold;
          EXPECT_TRUE(same) << kernels.name << ", lambda " << lambda[m];
        }
      }
    }
  }
}

TEST(VectorPath, NamesAndTheSettingThatForcesThePortablePath) {
  EXPECT_EQ(vector_path_name(VectorPath::kPortable), "portable");
  EXPECT_EQ(std::string(portable_kernels().name), "portable");
  const PanelKernels& widest = panel_kernels(VectorPath::kWidest);
  EXPECT_EQ(vector_path_name(VectorPath::kWidest), widest.name);
  EXPECT_EQ(std::string(widest.name), supported_panel_kernels().back().name);
  for (const char* setting : {static_cast<const char*>(nullptr), "", "auto"}) {
    const AutomaticChoice choice = choose_automatic_path(setting, widest);
    EXPECT_EQ(choice.kernels, &widest);
    EXPECT_EQ(choice.name, widest.name);
  }
  const AutomaticChoice forced = choose_automatic_path("portable", widest);
  EXPECT_EQ(forced.kernels, &panel_kernels(VectorPath::kPortable));
  EXPECT_EQ(forced.name, "portable");
  // A value the model does not know falls back to the portable path and says so in the name.
  const AutomaticChoice unknown = choose_automatic_path("avx1024", widest);
  EXPECT_EQ(unknown.kernels, &panel_kernels(VectorPath::kPortable));
  EXPECT_EQ(unknown.name, "portable (BASINFIT_VECTOR_PATH=avx1024 not recognised)");
  SKIP_WITHOUT_A_WIDER_UNIT();
  for (const PanelKernels& kernels : vector_kernels()) {
    EXPECT_TRUE(kernels.name == std::string("avx2") || kernels.name == std::string("avx512")) << kernels.name;
  }
}

}  // namespace
}  // namespace basinfit::model
