// Behaviour of the summary report on variations of the test surveys.

#include "report/summary_report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "report_scenarios.h"

namespace basinfit::testing {
namespace {

std::vector<std::string> summary_lines(const RunState& state) {
  std::ostringstream text;
  TextUnit unit(text);
  SummaryReport report(unit);
  report.write_header(state);
  report.write_station(state);
  return lines_of(text.str());
}

RunState metric_station() { return metric_default_points().stations.front(); }

TEST(SummaryHeader, ColumnLineNamesEveryColumn) {
  EXPECT_EQ(summary_lines(metric_station())[5],
            "Station\tLoad (N)\tE(1)(MPa)\tE(2)(MPa)\tE(3)(MPa)\tRMS Error");
  RunState state = metric_station();
  state.settings.temperature_adjustment = 1;
  EXPECT_EQ(summary_lines(state)[5],
            "Station\tLoad (N)\tEAdj(MPa)\tE(1)(MPa)\tE(2)(MPa)\tE(3)(MPa)\tRMS Error");
  state.settings.unit_flag = 1;
  state.settings.layer_count = 5;
  EXPECT_EQ(
      summary_lines(state)[5],
      "Station\tLoad (lbf)\tEAdj(ksi)\tE(1)(ksi)\tE(2)(ksi)\tE(3)(ksi)\tE(4)(ksi)\tE(5)(ksi)\tRMS Error");
}

TEST(SummaryStation, ThicknessLineWithAdjustmentHasDashesWhereNoThicknessBelongs) {
  RunState state = metric_station();
  state.settings.temperature_adjustment = 1;
  EXPECT_EQ(summary_lines(state)[6], "1250      \tThickness (cm)\t-\t  10.20\t  25.40\t-\t-");
  state.settings.temperature_adjustment = 0;
  EXPECT_EQ(summary_lines(state)[6], "1250      \tThickness (cm)\t  10.20\t  25.40\t-\t-");
}

TEST(SummaryStation, ASingleLayerKeepsItsThicknessLineWhole) {
  // No layer above the half-space: the open thickness record gets no thickness and is closed
  // by the two dashes on the same line.
  RunState state = metric_station();
  state.settings.layer_count = 1;
  const auto lines = summary_lines(state);
  EXPECT_EQ(lines[5], "Station\tLoad (N)\tE(1)(MPa)\tRMS Error");
  EXPECT_EQ(lines[6], "1250      \tThickness (cm)\t-\t-");
  EXPECT_EQ(lines[7], "1250      \t 27012.0\t 3512.5\t 1.23");
}

TEST(SummaryStation, ValuesTooWideForTheirFieldsBecomeAsterisks) {
  RunState state = metric_station();
  state.report.modulus[1][2] = 100000.0f;  // one decimal in seven columns: 99999.9 is the widest
  state.report.modulus[0][2] = 99999.94f;
  state.station.load[1] = 1.0e7f;
  state.results.average_rms_error = 100.0f;
  const auto lines = summary_lines(state);
  EXPECT_EQ(lines[7], "1250      \t 27012.0\t 3512.5\t  231.6\t99999.9\t 1.23");
  EXPECT_EQ(lines[8], "1250      \t********\t 3398.0\t  228.9\t*******\t 0.87");
  EXPECT_EQ(lines[9], "1250      \t 53110.2\t*******\t  225.0\t   81.3\t*****");
  EXPECT_EQ(lines[10], "1250      \tNorm.\t 3398.0\t  228.9\t   82.7\t*****");
}

TEST(SummaryStation, ColumnCountHoldsForEveryLayerCountWithAndWithoutAdjustment) {
  for (int layers = 1; layers <= kMaxLayers; ++layers) {
    for (int adjustment : {0, 1}) {
      RunState state = metric_station();
      state.settings.layer_count = layers;
      state.settings.temperature_adjustment = adjustment;
      const auto lines = summary_lines(state);
      const std::size_t expected =
          1 + 1 + static_cast<std::size_t>(adjustment) + static_cast<std::size_t>(layers) + 1;
      for (std::size_t i = 5; i < lines.size(); ++i)
        EXPECT_EQ(columns_of(lines[i]).size(), expected)
            << layers << " layers, adjustment " << adjustment << ": " << lines[i];
    }
  }
}

}  // namespace
}  // namespace basinfit::testing
