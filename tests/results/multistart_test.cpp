// Side fits from spread seeds: the seed pattern is a reproducible Latin hypercube, the side fits
// leave the reported fit alone, and a basin with two near-equal fits is flagged non-unique.
#include "results/multistart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "pavement_fixture.h"

namespace basinfit::results {
namespace {

TEST(Multistart, SeedsFillEveryStratumOfEveryDimensionOnce) {
  for (const int starts : {1, 2, 3, 4, 7, 16}) {
    for (int dimension = 0; dimension < kMaxLayers; ++dimension) {
      std::vector<int> seen(static_cast<std::size_t>(starts), 0);
      for (int start = 0; start < starts; ++start) {
        const double u = spread_position(start, starts, dimension);
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
        // At the middle of its stratum.
        const double scaled = u * starts;
        EXPECT_DOUBLE_EQ(scaled - std::floor(scaled), 0.5);
        ++seen[static_cast<std::size_t>(scaled)];
        EXPECT_EQ(u, spread_position(start, starts, dimension)) << "not reproducible";
      }
      for (const int count : seen) EXPECT_EQ(count, 1) << starts << " starts, dimension " << dimension;
    }
  }
  // The dimensions are not all in the same order (the starts would lie on the box's diagonal).
  bool differs = false;
  for (int start = 0; start < 8; ++start)
    differs = differs || spread_position(start, 8, 0) != spread_position(start, 8, 1);
  EXPECT_TRUE(differs);
}

struct UniquenessCase {
  const char* name;
  std::vector<Pavement::Layer> layers;
  bool far_sensors_only;
  bool non_unique;
};

TEST(Multistart, FlagsABasinWithTwoNearEqualFitsOnly) {
  const std::vector<float> noise = {0.015f, -0.01f, 0.012f, -0.015f, 0.01f, -0.012f, 0.015f, -0.01f, 0.012f};
  const UniquenessCase cases[] = {
      {"moderate asphalt on a thick base", {{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}}, false, false},
      // Sensors far from the plate see the subgrade and hardly the thin top: fits with very
      // different top moduli match the basin about equally well.
      {"a thin top seen by far sensors only", {{5.0f, 3000.0f}, {0, 80.0f}}, true, true},
  };
  const CheckLimits limits = CheckLimits::for_units(true);
  for (const UniquenessCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pavement pavement(c.layers);
    if (c.far_sensors_only) pavement.set_sensors({120, 150, 180});
    pavement.make_basins(noise);
    pavement.fit();
    const RunState before = pavement.state;
    const MultistartOutcome outcome = run_multistart(pavement.state, 1, 8, limits);
    EXPECT_EQ(outcome.runs, 8);
    EXPECT_EQ(outcome.non_unique, c.non_unique)
        << "reported rms " << pavement.state.results.rms_error[0] << " best side rms "
        << outcome.best_rms_percent << " difference " << outcome.best_max_difference_percent;
    // The side fits work on a copy: the reported fit is untouched, bit for bit.
    EXPECT_EQ(std::memcmp(&before.results, &pavement.state.results, sizeof before.results), 0);
    EXPECT_EQ(before.settings.sensor_weight, pavement.state.settings.sensor_weight);
  }
}

TEST(Multistart, NothingToDoWithoutStartsOrFreeModuli) {
  Pavement pavement({{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}});
  pavement.make_basins();
  pavement.settle_at_truth();
  EXPECT_EQ(run_multistart(pavement.state, 1, 0, CheckLimits::for_units(true)).runs, 0);
  for (LayerSettings& layer : pavement.state.settings.layers) layer.type = 1;
  const MultistartOutcome fixed = run_multistart(pavement.state, 1, 4, CheckLimits::for_units(true));
  EXPECT_EQ(fixed.runs, 0);
  EXPECT_TRUE(missing(fixed.best_rms_percent));
}

}  // namespace
}  // namespace basinfit::results
