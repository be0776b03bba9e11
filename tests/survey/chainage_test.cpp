// Station positions from identifiers.

#include "survey/chainage.h"

#include <gtest/gtest.h>

namespace basinfit::survey {
namespace {

TEST(Chainage, IdentifiersReadInEveryFormInBothUnitSystems) {
  struct Case {
    const char* id;
    std::optional<double> metric;   // metres
    std::optional<double> english;  // feet
  };
  const double ft = 1 / 0.3048;
  const Case cases[] = {
      {"1+100", 1100, 200},  // km + m; 100-ft stations + ft
      {"12+50", 12050, 1250},
      {"0+000", 0, 0},
      {"KM12+000", 12000, 12000 * ft},
      {"km3+250.5", 3250.5, 3250.5 * ft},
      {"KM12.35", 12350, 12350 * ft},
      {"KM7", 7000, 7000 * ft},
      {"12.350", 12.35, 12.35},  // a plain number is in the run's own length unit
      {"53956.32", 53956.32, 53956.32},
      {"7.6", 7.6, 7.6},
      {"1000", 1000, 1000},
      {"  1050    ", 1050, 1050},
      {"STA10+00", 10000, 1000},
      {"sta 1+00", std::nullopt, std::nullopt},
      {"STA", std::nullopt, std::nullopt},
      {"KMSTA1", std::nullopt, std::nullopt},
      {"A12", std::nullopt, std::nullopt},
      {"1+", std::nullopt, std::nullopt},
      {"+100", std::nullopt, std::nullopt},
      {"1.5+100", std::nullopt, std::nullopt},
      {"1.2.3", std::nullopt, std::nullopt},
      {"-100", std::nullopt, std::nullopt},
      {"KM", std::nullopt, std::nullopt},
      {".", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    for (const bool metric : {true, false}) {
      const auto expected = metric ? c.metric : c.english;
      const auto got = parse_chainage(c.id, metric);
      ASSERT_EQ(got.has_value(), expected.has_value()) << (metric ? "metric" : "English");
      if (expected) {
        EXPECT_NEAR(*got, *expected, 1e-9 * std::max(1.0, *expected));
      }
    }
  }
}

TEST(Chainage, SurveysArePlacedByIdentifiersOnlyWhenAllReadAndRunOneWay) {
  const StationPositions up = station_positions({"1+000", "1+050", "KM1+100", "1150"}, true);
  EXPECT_TRUE(up.from_identifiers);
  EXPECT_EQ(up.unit, "m");
  EXPECT_EQ(up.position, (std::vector<double>{1000, 1050, 1100, 1150}));
  EXPECT_TRUE(up.note.empty());

  const StationPositions down = station_positions({"300", "200", "100"}, false);
  EXPECT_TRUE(down.from_identifiers);
  EXPECT_EQ(down.unit, "ft");
  EXPECT_EQ(down.position, (std::vector<double>{300, 200, 100}));

  const struct {
    std::vector<std::string> ids;
    const char* named;
  } fallbacks[] = {
      {{"1000", "bridge", "1100"}, "bridge"},
      {{"1000", "1100", "1050"}, "1050"},
      {{"1000", "1000"}, "1000"},
  };
  for (const auto& f : fallbacks) {
    const StationPositions p = station_positions(f.ids, true);
    EXPECT_FALSE(p.along_route());
    EXPECT_FALSE(p.from_identifiers);
    EXPECT_EQ(p.unit, "station");
    ASSERT_EQ(p.position.size(), f.ids.size());
    for (std::size_t i = 0; i < p.position.size(); ++i) EXPECT_EQ(p.position[i], static_cast<double>(i + 1));
    EXPECT_NE(p.note.find(f.named), std::string::npos) << p.note;
  }
}

// Positions no survey can have fall back to survey order, whichever source gave them, and the
// note says why; a station table takes the place of the identifiers.
TEST(Chainage, ImpossiblePositionsAndStationTables) {
  const struct {
    std::vector<std::string> ids;
    std::vector<std::optional<double>> table;
    bool metric;
    bool along_route;
    const char* said;
  } cases[] = {
      {{"0", "500000", "1000001"}, {}, true, false, "more than the 1,000 km"},
      {{"0", "3000000", "3280900"}, {}, false, false, "more than the 1,000 km"},  // feet
      {{"0", "10", "20", "3000"}, {}, true, false, "spacing jumps from 10 m to 2980 m"},
      {{"0", "10", "20", "1020"}, {}, true, true, ""},  // a factor of 100 exactly is a survey
      {{"A", "B", "C"}, {7.6, 57.6, 107.6}, true, true, ""},
      {{"A", "B", "C"}, {7.6, std::nullopt, 107.6}, true, false, "has no row for the station \"B\""},
      {{"1", "2", "3"}, {0, 900000, 2000000}, true, false, "station table run.csv cannot be right"},
      {{"1", "2", "3"}, {30, 20, 20}, true, false, "do not run one way"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    const StationPositions p = station_positions(c.ids, c.metric, c.table, c.table.empty() ? "" : "run.csv");
    EXPECT_EQ(p.along_route(), c.along_route);
    EXPECT_EQ(p.from_table, c.along_route && !c.table.empty());
    EXPECT_NE(p.note.find(c.said), std::string::npos) << p.note;
    if (c.along_route && !c.table.empty()) {
      for (std::size_t i = 0; i < c.ids.size(); ++i) EXPECT_EQ(p.position[i], *c.table[i]);
    }
  }
}

}  // namespace
}  // namespace basinfit::survey
