// The station records: a noise-free basin fitted by the engine's own station loop gives its
// moduli back with small standard errors and no flag at all; a hidden layer is flagged; the
// records hold what the tables print; listeners see every station in survey order.
#include "results/results_analysis.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pavement_fixture.h"

namespace basinfit::results {
namespace {

TEST(StationRecords, NoiseFreeBasinFitsBackWithoutFlags) {
  Pavement pavement({{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}});
  pavement.state.station.drop_count = 3;
  pavement.state.station.load[0] = 26700.0f;
  pavement.state.station.load[1] = 40000.0f;
  pavement.state.station.load[2] = 53400.0f;
  pavement.make_basins();
  pavement.fit();
  const StationRecord station =
      analyse_station(pavement.state, CheckLimits::for_units(true), SensorPrecision::for_units(true), 4);
  ASSERT_EQ(station.drops.size(), 3u);
  EXPECT_TRUE(station.has_statistics);
  for (const DropRecord& drop : station.drops) {
    SCOPED_TRACE(drop.drop);
    EXPECT_EQ(flag_names(drop.flags), "");
    for (std::size_t j = 0; j < 3; ++j) {
      EXPECT_NEAR(drop.modulus[j], pavement.truth[j], 1e-3f * pavement.truth[j]);
      EXPECT_LT(drop.uncertainty.standard_error_percent[j], 15.0);
    }
    EXPECT_EQ(drop.multistart.runs, 4);
    EXPECT_FALSE(drop.multistart.non_unique);
    EXPECT_LT(drop.rms_percent, 0.01f);
    // The records hold the basin as the fit left it.
    ASSERT_EQ(drop.sensors.size(), 9u);
    double squares = 0;
    for (const SensorRecord& s : drop.sensors) {
      EXPECT_EQ(s.weight, 1.0f);
      EXPECT_EQ(s.weighted_residual, (s.measured - s.calculated) / s.measured);
      squares +=
          (static_cast<double>(s.measured) - s.calculated) * (static_cast<double>(s.measured) - s.calculated);
    }
    EXPECT_DOUBLE_EQ(drop.rms_deflection, std::sqrt(squares / 9.0));
    EXPECT_TRUE(std::isnan(drop.adjusted_surface_modulus)) << "no temperature adjustment in this run";
  }
}

TEST(StationRecords, AHiddenLayerIsFlaggedThroughTheWholeChain) {
  Pavement pavement({{30.0f, 20000.0f}, {15.0f, 100.0f}, {0, 80.0f}});
  pavement.make_basins();
  pavement.fit();
  const StationRecord station =
      analyse_station(pavement.state, CheckLimits::for_units(true), SensorPrecision::for_units(true), 0);
  ASSERT_EQ(station.drops.size(), 1u);
  const std::uint32_t flags = station.drops[0].flags;
  EXPECT_NE(flags & kPoorlyDetermined, 0u) << flag_names(flags);
  EXPECT_NE(flags & kNotSeparable, 0u) << flag_names(flags);
  // The flags name the layers that raised them: the hidden base is poorly determined and
  // inseparable from the top it trades against; the subgrade, which the far sensors pin down,
  // is not poorly determined.
  const DropRecord& drop = station.drops[0];
  EXPECT_NE(drop.layer_flags[1] & kPoorlyDetermined, 0u);
  EXPECT_NE(drop.layer_flags[0] & kNotSeparable, 0u);
  EXPECT_NE(drop.layer_flags[1] & kNotSeparable, 0u);
  EXPECT_EQ(drop.layer_flags[2] & kPoorlyDetermined, 0u);
  for (std::size_t j = 0; j < 3; ++j)
    EXPECT_EQ((drop.layer_flags[j] & kPoorlyDetermined) != 0,
              drop.uncertainty.standard_error_percent[j] > 25.0);
  EXPECT_FALSE(station.has_statistics) << "a one-drop station has no statistics of its own";
  EXPECT_EQ(station.normalisation, Normalisation::kNone);
  EXPECT_TRUE(missing(station.normalised_modulus[0]));
  EXPECT_EQ(station.drops[0].multistart.runs, 0);
}

TEST(StationRecords, AModulusHeldAtItsBoundNamesTheLayerAndTheBound) {
  // The base is stiffer than its upper bound allows, so the fit leaves it at that bound.
  Pavement pavement({{20.0f, 1000.0f}, {60.0f, 400.0f}, {0, 80.0f}});
  RunSettings& s = pavement.state.settings;
  s.layers[1].upper_bound = 200.0f;
  s.layers[1].upper_exponent = std::log10(200.0f);
  pavement.make_basins();
  pavement.fit(1.0f);
  const StationRecord station =
      analyse_station(pavement.state, CheckLimits::for_units(true), SensorPrecision::for_units(true), 0);
  const DropRecord& drop = station.drops[0];
  ASSERT_NE(drop.flags & kModulusAtBound, 0u) << flag_names(drop.flags) << " E2 " << drop.modulus[1];
  EXPECT_NE(drop.layer_flags[1] & kModulusAtBound, 0u);
  EXPECT_EQ(drop.layer_flags[0] & kModulusAtBound, 0u);
  EXPECT_EQ(drop.layer_flags[2] & kModulusAtBound, 0u);
  EXPECT_NEAR(drop.bound_reached[1], 200.0, 1e-3);
  EXPECT_TRUE(missing(drop.bound_reached[0]));
}

TEST(StationRecords, ListenersSeeEveryStationInOrderWithoutFiles) {
  ResultsAnalysis analysis(ResultsOptions{});  // no folder: records for the listeners only
  std::vector<std::pair<int, std::string>> seen;
  analysis.add_listener([&](const StationRecord& s) { seen.emplace_back(s.sequence, s.id); });
  Pavement pavement({{20.0f, 1000.0f}, {60.0f, 100.0f}, {0, 80.0f}});
  pavement.make_basins();
  pavement.settle_at_truth();
  analysis.begin(pavement.state);
  for (const char* id : {"A1        ", "B2 \"x\",y", "C3        "}) {
    pavement.state.station.id = id;
    analysis.record(pavement.state, analysis.analyse(pavement.state));
  }
  const std::vector<std::pair<int, std::string>> expected = {{1, "A1"}, {2, "B2 \"x\",y"}, {3, "C3"}};
  EXPECT_EQ(seen, expected);
  std::ostringstream errors;
  EXPECT_EQ(analysis.finish({}, 0, errors), 0);
  EXPECT_EQ(errors.str(), "");
}

}  // namespace
}  // namespace basinfit::results

namespace basinfit::results {
namespace {

TEST(LoadLevels, UnitsConvertExactlyAndBareValuesMustBeDropLevelsOfTheSurvey) {
  const struct {
    const char* text;
    bool metric;
    double expected;  // in the survey's unit; 0: refused
  } cases[] = {
      {"40kN", true, 40000.0},
      {"40000", true, 40000.0},
      {"9000lbf", true, 9000.0 * kNewtonsPerPoundForce},
      {"9kip", false, 9000.0},
      {"40kN", false, 40000.0 / kNewtonsPerPoundForce},
      {"9000", false, 9000.0},
      {"40", true, 0},     // 40 N: kilonewtons meant
      {"9", false, 0},     // 9 lbf: kips meant
      {"500kN", true, 0},  // beyond the heaviest deflectometer
      {"500000", true, 0},
  };
  for (const auto& c : cases) {
    const std::optional<LoadLevel> level = parse_load_level(c.text);
    ASSERT_TRUE(level) << c.text;
    if (c.expected > 0) {
      EXPECT_DOUBLE_EQ(load_levels_in_unit({*level}, c.metric).at(0), c.expected) << c.text;
    } else {
      EXPECT_THROW(load_levels_in_unit({*level}, c.metric), InputError) << c.text;
    }
  }
  for (const char* bad : {"nan", "inf", "-40kN", "0", "40 kN", "40kg", "kN", ""})
    EXPECT_FALSE(parse_load_level(bad)) << bad;
}

}  // namespace
}  // namespace basinfit::results
