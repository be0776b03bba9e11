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
      {"12.350", 12350, 12.35 * 5280},
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
    EXPECT_FALSE(p.from_identifiers);
    EXPECT_EQ(p.unit, "station");
    ASSERT_EQ(p.position.size(), f.ids.size());
    for (std::size_t i = 0; i < p.position.size(); ++i) EXPECT_EQ(p.position[i], static_cast<double>(i + 1));
    EXPECT_NE(p.note.find(f.named), std::string::npos) << p.note;
  }
}

}  // namespace
}  // namespace basinfit::survey
