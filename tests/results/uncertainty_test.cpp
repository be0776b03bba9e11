// The uncertainty of backcalculated moduli.  Oracles: the homogeneous half-space, whose
// deflections are exactly proportional to 1/E, gives a closed-form standard error; a
// well-determined pavement gives small errors; pavements that hide a layer give the flags.
#include "results/uncertainty.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pavement_fixture.h"
#include "results/data_checks.h"

namespace basinfit::results {
namespace {

TEST(Uncertainty, HalfSpaceMatchesTheClosedForm) {
  // w_i = k_i / E, so d w_i / d log10 E = -ln(10) w_i, and with unit weights the standard error
  // of log10 E is sqrt(sum (sigma_i / w_i)^2) / (n ln 10): in percent 100 sqrt(sum (sigma_i/w_i)^2) / n.
  Pavement pavement({{0, 150.0f}});
  pavement.make_basins();
  pavement.settle_at_truth();
  const SensorPrecision precision{2.0, 0.02};
  const Uncertainty u = analyse_uncertainty(pavement.state.settings, pavement.state.station,
                                            pavement.state.results, 1, precision);
  ASSERT_TRUE(u.available);
  double sum = 0;
  const int n = pavement.state.settings.sensor_count;
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    const double w = pavement.state.station.measured[0][i];
    const double sigma = precision.absolute + precision.relative * w;
    sum += (sigma / w) * (sigma / w);
  }
  EXPECT_NEAR(u.standard_error_percent[0], 100.0 * std::sqrt(sum) / n, 1e-3 * u.standard_error_percent[0]);
  EXPECT_DOUBLE_EQ(u.condition_number, 1.0);
  EXPECT_TRUE(missing(u.max_correlation));
  for (std::size_t j = 1; j < kMaxLayers; ++j) EXPECT_TRUE(missing(u.standard_error_percent[j]));
}

TEST(Uncertainty, EigenDecompositionRebuildsTheMatrix) {
  std::array<std::array<double, kMaxLayers>, kMaxLayers> m{};
  const double values[4][4] = {{4, 1, 0.5, 0.2}, {1, 3, 0.3, 0.1}, {0.5, 0.3, 2, 0.7}, {0.2, 0.1, 0.7, 1}};
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t j = 0; j < 4; ++j) m[i][j] = values[i][j];
  const SymmetricEigen e = symmetric_eigen(m, 4);
  for (std::size_t i = 0; i + 1 < 4; ++i) EXPECT_LE(e.values[i], e.values[i + 1]);
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t j = 0; j < 4; ++j) {
      double rebuilt = 0;
      for (std::size_t k = 0; k < 4; ++k) rebuilt += e.vectors[i][k] * e.values[k] * e.vectors[j][k];
      EXPECT_NEAR(rebuilt, m[i][j], 1e-12);
    }
}

struct DeterminationCase {
  const char* name;
  std::vector<Pavement::Layer> layers;
  bool one_sensor;
  std::uint32_t expected;
};

TEST(Uncertainty, FlagsFollowHowWellTheBasinDeterminesTheModuli) {
  const CheckLimits limits = CheckLimits::for_units(true);
  const DeterminationCase cases[] = {
      {"moderate asphalt on a thick base: well determined",
       {{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}},
       false,
       0},
      // The deflections hardly feel a thin base under a very stiff thick top: its modulus trades
      // against the top's.
      {"a very stiff thick top hiding a thin base",
       {{30.0f, 20000.0f}, {15.0f, 100.0f}, {0, 80.0f}},
       false,
       kPoorlyDetermined | kNotSeparable},
      {"one sensor for three moduli",
       {{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}},
       true,
       kPoorlyDetermined | kNotSeparable},
  };
  for (const DeterminationCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pavement pavement(c.layers);
    if (c.one_sensor) pavement.set_sensors({0});
    pavement.make_basins();
    pavement.settle_at_truth();
    const RunState& state = pavement.state;
    const Uncertainty u = analyse_uncertainty(state.settings, state.station, state.results, 1,
                                              SensorPrecision::for_units(true));
    ASSERT_TRUE(u.available);
    EXPECT_EQ(uncertainty_flags(u, 3, limits), c.expected)
        << "se " << u.standard_error_percent[0] << " " << u.standard_error_percent[1] << " "
        << u.standard_error_percent[2] << " corr " << u.max_correlation << " cond " << u.condition_number;
    if (c.expected == 0) {
      for (std::size_t j = 0; j < 3; ++j) EXPECT_LT(u.standard_error_percent[j], 15.0);
      EXPECT_TRUE(std::isfinite(u.condition_number));
    }
    if (c.one_sensor) {
      EXPECT_TRUE(std::isinf(u.standard_error_percent[0]));
      EXPECT_TRUE(std::isinf(u.condition_number));
      EXPECT_EQ(u.max_correlation, 1.0);
    }
  }
}

TEST(Uncertainty, SensorPrecisionScalesTheErrors) {
  // Twice the precision figures, twice the standard error: the covariance is quadratic in sigma.
  Pavement pavement({{30.0f, 5000.0f}, {30.0f, 300.0f}, {0, 80.0f}});
  pavement.make_basins();
  pavement.settle_at_truth();
  const RunState& s = pavement.state;
  const Uncertainty one =
      analyse_uncertainty(s.settings, s.station, s.results, 1, SensorPrecision{2.0, 0.02});
  const Uncertainty two =
      analyse_uncertainty(s.settings, s.station, s.results, 1, SensorPrecision{4.0, 0.04});
  for (std::size_t j = 0; j < 3; ++j)
    EXPECT_NEAR(two.standard_error_percent[j], 2.0 * one.standard_error_percent[j],
                1e-9 * one.standard_error_percent[j]);
  EXPECT_NEAR(two.max_correlation, one.max_correlation, 1e-12);
  EXPECT_NEAR(two.condition_number, one.condition_number, 1e-9 * one.condition_number);
}

}  // namespace
}  // namespace basinfit::results

namespace basinfit::results {
namespace {

TEST(Uncertainty, SensitivitiesAddUpToTheScalingOfEveryModulus) {
  // Scaling every modulus by f scales every deflection by 1/f, so the sensitivities of a sensor
  // to the log moduli of all layers add up to -ln(10) times its deflection (Euler's theorem for
  // a function homogeneous of degree -1).  A wrong column or a missed repeated layer breaks it.
  Pavement pavement({{12.0f, 4000.0f}, {25.0f, 400.0f}, {30.0f, 150.0f}, {0, 60.0f}});
  pavement.make_basins();
  pavement.settle_at_truth();
  const RunState& s = pavement.state;
  const Sensitivity j = sensitivity(s.settings, s.station, s.results, 1, DifferenceScheme::kCentral);
  ASSERT_TRUE(j.available);
  ASSERT_EQ(j.count, 4u);
  for (std::size_t i = 0; i < 9; ++i) {
    double sum = 0;
    for (std::size_t k = 0; k < j.count; ++k) sum += j.column[k][i];
    const double w = s.results.calculated[0][i];
    EXPECT_NEAR(sum, -std::log(10.0) * w, 2e-4 * w) << "sensor " << i + 1;
  }
}

}  // namespace
}  // namespace basinfit::results

namespace basinfit::results {
namespace {

TEST(Uncertainty, OneSidedDifferencesWithTheScalingIdentityAgreeWithCentralDifferences) {
  // Central differences (2p model runs, truncation error of order h^2) are the reference; the
  // one-sided scheme (p - 1 runs, the deepest column from the scaling identity) must give the
  // same standard errors within 1 % and the same flags, on determined and poorly determined
  // pavements, with every layer backcalculated or one fixed (no identity then), and with the
  // reported basin missing (the scheme then evaluates it itself).
  struct Case {
    const char* name;
    std::vector<Pavement::Layer> layers;
    int fixed_layer;  // 0-based, -1 for none
    bool drop_reported_basin;
    std::vector<float> noise;
  };
  const std::vector<float> noise = {0.01f, -0.012f, 0.008f, -0.01f, 0.015f, -0.006f, 0.01f, -0.02f, 0.012f};
  const Case cases[] = {
      {"three layers, well determined", {{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}}, -1, false, {}},
      {"three layers fitted to a noisy basin",
       {{15.9f, 3000.0f}, {35.2f, 360.0f}, {0, 60.0f}},
       -1,
       false,
       noise},
      {"a stiff thick top hiding a thin base",
       {{30.0f, 20000.0f}, {15.0f, 100.0f}, {0, 80.0f}},
       -1,
       false,
       {}},
      {"four layers", {{12.0f, 4000.0f}, {25.0f, 400.0f}, {30.0f, 150.0f}, {0, 60.0f}}, -1, false, {}},
      {"a fixed subgrade", {{20.0f, 3000.0f}, {40.0f, 300.0f}, {0, 70.0f}}, 2, false, {}},
      {"no reported basin", {{20.0f, 3000.0f}, {40.0f, 300.0f}, {0, 70.0f}}, -1, true, {}},
  };
  const CheckLimits limits = CheckLimits::for_units(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pavement pavement(c.layers);
    if (c.fixed_layer >= 0) pavement.state.settings.layers[static_cast<std::size_t>(c.fixed_layer)].type = 1;
    pavement.make_basins(c.noise);
    pavement.settle_at_truth();
    RunState& s = pavement.state;
    if (c.drop_reported_basin) s.results.calculated[0].fill(0.0f);
    for (const SensorPrecision precision : {SensorPrecision{2.0, 0.02}, SensorPrecision::for_units(true)}) {
      const Uncertainty reference =
          analyse_uncertainty(s.settings, s.station, s.results, 1, precision, DifferenceScheme::kCentral);
      const Uncertainty fast = analyse_uncertainty(s.settings, s.station, s.results, 1, precision,
                                                   DifferenceScheme::kOneSidedWithScaling);
      ASSERT_TRUE(reference.available);
      ASSERT_TRUE(fast.available);
      const int backcalculated = static_cast<int>(c.layers.size()) - (c.fixed_layer >= 0 ? 1 : 0);
      PerLayer<std::uint32_t> reference_layers{}, fast_layers{};
      EXPECT_EQ(uncertainty_flags(fast, backcalculated, limits, &fast_layers),
                uncertainty_flags(reference, backcalculated, limits, &reference_layers));
      EXPECT_EQ(fast_layers, reference_layers);
      for (std::size_t j = 0; j < c.layers.size(); ++j) {
        const double se = reference.standard_error_percent[j];
        if (missing(se)) {
          EXPECT_TRUE(missing(fast.standard_error_percent[j]));
          continue;
        }
        EXPECT_NEAR(fast.standard_error_percent[j], se, 0.01 * se) << "layer " << j + 1;
      }
    }
  }
}

}  // namespace
}  // namespace basinfit::results
