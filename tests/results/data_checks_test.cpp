// Each data-check flag on a drop crafted to raise it, starting from a clean drop (a basin from
// the model, fitted exactly) that raises none.
#include "results/data_checks.h"

#include <gtest/gtest.h>

#include <functional>

#include "pavement_fixture.h"

namespace basinfit::results {
namespace {

struct CheckCase {
  const char* name;
  std::function<void(RunState&, CheckLimits&)> craft;
  std::uint32_t expected;
};

TEST(DataChecks, EachFlagOnTheDropCraftedForIt) {
  auto measured = [](RunState& s, std::size_t sensor) -> float& { return s.station.measured[0][sensor]; };
  const CheckCase cases[] = {
      {"a clean drop", [](RunState&, CheckLimits&) {}, 0},
      {"a zero reading", [&](RunState& s, CheckLimits&) { measured(s, 8) = 0.0f; }, kDeflectionNotPositive},
      {"a negative reading", [&](RunState& s, CheckLimits&) { measured(s, 8) = -3.0f; },
       kDeflectionNotPositive},
      {"a negative reading followed by a normal one",
       [&](RunState& s, CheckLimits&) { measured(s, 7) = -3.0f; },
       kDeflectionNotPositive | kBasinNotDecreasing},
      {"a reading 5 microns above its inner neighbour",
       [&](RunState& s, CheckLimits&) { measured(s, 6) = measured(s, 5) + 5.0f; }, kBasinNotDecreasing},
      {"a rise of 1.5 microns is within the sensors' precision",
       [&](RunState& s, CheckLimits&) { measured(s, 8) = measured(s, 7) + 1.5f; }, 0},
      {"a rise within 2 % of a large reading",
       [&](RunState& s, CheckLimits&) { measured(s, 1) = measured(s, 0) * 1.015f; }, 0},
      {"a rise just beyond 2 % of a large reading",
       [&](RunState& s, CheckLimits&) { measured(s, 1) = measured(s, 0) * 1.03f; }, kBasinNotDecreasing},
      {"sensors listed out of order are checked by offset",
       [&](RunState& s, CheckLimits&) {
         std::swap(s.settings.sensor_offset[0], s.settings.sensor_offset[8]);
         std::swap(measured(s, 0), measured(s, 8));
       },
       0},
      {"a load 12 % off 40 kN", [](RunState& s, CheckLimits&) { s.station.load[0] = 44800.0f; },
       kLoadOffLevel},
      {"a load 8 % off 40 kN", [](RunState& s, CheckLimits&) { s.station.load[0] = 43200.0f; }, 0},
      {"a load between two levels, far from both",
       [](RunState& s, CheckLimits&) { s.station.load[0] = 33300.0f; }, kLoadOffLevel},
      {"the user's own levels",
       [](RunState& s, CheckLimits& limits) {
         s.station.load[0] = 33300.0f;
         limits.load_levels = {33000.0};
       },
       0},
      {"an RMS error above 2 %", [](RunState& s, CheckLimits&) { s.results.rms_error[0] = 2.01f; }, kRmsHigh},
      {"an RMS error of exactly 2 %", [](RunState& s, CheckLimits&) { s.results.rms_error[0] = 2.0f; }, 0},
      {"false convergence", [](RunState& s, CheckLimits&) { s.results.convergence_code[0] = 18; },
       kNotConverged},
      {"singular convergence", [](RunState& s, CheckLimits&) { s.results.convergence_code[0] = 17; },
       kNotConverged},
      {"the evaluation limit", [](RunState& s, CheckLimits&) { s.results.convergence_code[0] = 19; },
       kNotConverged},
      {"the iteration limit", [](RunState& s, CheckLimits&) { s.results.convergence_code[0] = 20; },
       kNotConverged},
      {"an unknown code", [](RunState& s, CheckLimits&) { s.results.convergence_code[0] = 99; },
       kNotConverged},
      {"the modulus tolerance", [](RunState& s, CheckLimits&) { s.results.convergence_code[0] = 3; }, 0},
      {"every modulus fixed: nothing to converge",
       [](RunState& s, CheckLimits&) {
         s.results.convergence_code[0] = 0;
         for (LayerSettings& layer : s.settings.layers) layer.type = 1;
       },
       0},
      {"a modulus 0.5 % above its lower bound",
       [](RunState& s, CheckLimits&) { s.results.modulus[0][1] = s.settings.layers[1].lower_bound * 1.005f; },
       kModulusAtBound},
      {"a modulus at its upper bound",
       [](RunState& s, CheckLimits&) { s.results.modulus[0][2] = s.settings.layers[2].upper_bound; },
       kModulusAtBound},
      {"a fixed layer's modulus is not held against bounds",
       [](RunState& s, CheckLimits&) {
         s.settings.layers[2].type = 1;
         s.results.modulus[0][2] = s.settings.layers[2].upper_bound;
       },
       0},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pavement pavement({{20.0f, 3000.0f}, {30.0f, 300.0f}, {0, 80.0f}});
    pavement.make_basins();
    pavement.settle_at_truth();
    CheckLimits limits = CheckLimits::for_units(true);
    c.craft(pavement.state, limits);
    const RunState& s = pavement.state;
    EXPECT_EQ(flag_names(check_drop(s.settings, s.station, s.results, 1, limits)), flag_names(c.expected));
  }
}

TEST(DataChecks, UncertaintyFlags) {
  const CheckLimits limits = CheckLimits::for_units(true);
  Uncertainty u;
  u.available = true;
  u.standard_error_percent = {10.0, 25.0, 3.0, kMissing, kMissing};
  u.max_correlation = 0.95;
  EXPECT_EQ(uncertainty_flags(u, 3, limits), 0u) << "the limits themselves pass";
  u.standard_error_percent[1] = 25.5;
  EXPECT_EQ(uncertainty_flags(u, 3, limits), kPoorlyDetermined);
  u.max_correlation = 0.951;
  EXPECT_EQ(uncertainty_flags(u, 3, limits), kPoorlyDetermined | kNotSeparable);
  u.available = false;
  EXPECT_EQ(uncertainty_flags(u, 3, limits), kUncertaintyFailed);
  EXPECT_EQ(uncertainty_flags(u, 0, limits), 0u) << "nothing backcalculated, nothing to determine";
}

TEST(DataChecks, EnglishLimitsAreTheMetricOnesConverted) {
  const CheckLimits english = CheckLimits::for_units(false);
  const CheckLimits metric = CheckLimits::for_units(true);
  ASSERT_EQ(english.load_levels.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_NEAR(english.load_levels[i] * kNewtonsPerPoundForce, metric.load_levels[i], 1e-9);
  EXPECT_NEAR(english.load_levels[1], 8992.4, 0.1);  // 40 kN
  EXPECT_NEAR(english.basin_rise_absolute * 25.4, 2.0, 1e-12);
}

TEST(DataChecks, FlagNamesAreStableAndDistinct) {
  EXPECT_EQ(flag_names(0), "");
  EXPECT_EQ(flag_names(kRmsHigh | kDeflectionNotPositive), "deflection_not_positive;rms_high");
  std::uint32_t all = 0;
  for (const FlagDescription& f : drop_flags()) {
    EXPECT_EQ(all & f.flag, 0u) << f.name;
    all |= f.flag;
    EXPECT_EQ(f.name.find_first_of(",; \""), std::string_view::npos) << f.name;
    EXPECT_FALSE(f.meaning.empty());
  }
}

}  // namespace
}  // namespace basinfit::results
