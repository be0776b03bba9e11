// Chart settings: record defaults, the run-long range counter, data extents and the
// automatic choice of axis bounds and tick steps.

#include "plot/chart_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace basinfit::plot {
namespace {

GraphRecord graph_of(int type) {
  GraphRecord graph;
  graph_defaults(type, graph);
  return graph;
}

// A range record with the given extents.
DataRangeRecord extent(double x_low, double x_high, double y_low, double y_high) {
  DataRangeRecord range;
  range.x_low = x_low;
  range.x_high = x_high;
  range.y_low = y_low;
  range.y_high = y_high;
  return range;
}

AxisRecord axis_for(GraphRecord graph, DataRangeRecord range, int kind, int scale = kLinear) {
  AxisRecord axis;
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kind, scale, axis), chart_status::kOk);
  return axis;
}

TEST(AxisScaling, TwentyToOneEightyGivesEightStepsOfTwentyFive) {
  const AxisRecord axis = axis_for(graph_of(graph_type::kXy), extent(0, 1, 20, 180), kAxisY);
  EXPECT_EQ(axis.low, 0);
  EXPECT_EQ(axis.high, 200);
  EXPECT_EQ(axis.step, 25);
  EXPECT_EQ(axis.decimals, 3);
  EXPECT_EQ(axis.minor_divisions, 5);
}

TEST(AxisScaling, NegativeBasinRoundsOutwardToHundreds) {
  const AxisRecord axis = axis_for(graph_of(graph_type::kXy), extent(0, 1, -812, -35), kAxisY);
  EXPECT_EQ(axis.low, -900);
  EXPECT_EQ(axis.high, 0);
  EXPECT_EQ(axis.step, 100);
}

TEST(AxisScaling, ExtentBelowOneUsesUnitPower) {
  const LinearScale scale = linear_scale(0.2, 0.7);
  EXPECT_EQ(scale.low, 0);
  EXPECT_EQ(scale.high, 1);
  EXPECT_EQ(scale.intervals, 10);
  EXPECT_DOUBLE_EQ(scale.step, 0.1);
}

TEST(AxisScaling, FewUnitsGetMoreIntervals) {
  // s units of the power of ten -> intervals: 1 -> 10, 2 -> 8, 3 -> 6, 4 -> 8, 5 -> 10, more -> s.
  EXPECT_EQ(linear_scale(0, 100).intervals, 10);
  EXPECT_EQ(linear_scale(10, 290).intervals, 6);
  EXPECT_EQ(linear_scale(100, 480).intervals, 8);
  EXPECT_EQ(linear_scale(100, 540).intervals, 10);
  EXPECT_EQ(linear_scale(100, 1000).intervals, 9);
  EXPECT_EQ(linear_scale(-0.5, 7.2).intervals, 9);  // -1 .. 8 in units of 1
  // 300 / 100 is exactly 3: bounds on a multiple gain no extra unit.
  EXPECT_EQ(linear_scale(100, 400).low, 100);
  EXPECT_EQ(linear_scale(100, 400).high, 400);
}

TEST(AxisScaling, TinyExtentsStillEncloseTheDataWithAPositiveStep) {
  for (const double span : {0.1, 0.05, 0.003, 1e-6}) {
    const LinearScale scale = linear_scale(0.31, 0.31 + span);
    EXPECT_GT(scale.step, 0) << span;
    EXPECT_LE(scale.low, 0.31) << span;
    EXPECT_GE(scale.high, 0.31 + span) << span;
    EXPECT_LT(scale.high - scale.low, 21 * span) << span;  // about ten times the data at most
  }
}

TEST(AxisScaling, OtherScalesAndAxisKinds) {
  // Base-10 and base-2 logarithmic axes span whole powers.
  const AxisRecord decades = axis_for(graph_of(graph_type::kXy), extent(3, 420, 0, 1), kAxisX, kLog10);
  EXPECT_EQ(decades.low, 1);
  EXPECT_EQ(decades.high, 1000);
  EXPECT_EQ(decades.step, 1);
  EXPECT_EQ(decades.minor_divisions, 9);
  EXPECT_EQ(decades.decimals, 2);
  const AxisRecord octaves = axis_for(graph_of(graph_type::kXy), extent(0, 1, 0.3, 5), kAxisY, kLog2);
  EXPECT_EQ(octaves.low, 0.25);
  EXPECT_EQ(octaves.high, 8);
  EXPECT_EQ(octaves.minor_divisions, 8);
  // Polar radius from 0 (data -30..20 -> 0..30, six intervals of 5, doubled on a polar graph).
  const GraphRecord polar = graph_of(graph_type::kPolar);
  const AxisRecord radius = axis_for(polar, extent(-30, 20, 0, 5), kAxisR);
  EXPECT_EQ(radius.low, 0);
  EXPECT_EQ(radius.high, 30);
  EXPECT_EQ(radius.step, 10);
  // Angles up to 4 pi in quarter turns, beyond in units of 90.
  const AxisRecord radians = axis_for(polar, extent(0, 1, 0, 5), kAxisTheta);
  EXPECT_NEAR(radians.high, 2 * std::numbers::pi, 1e-12);
  EXPECT_NEAR(radians.step, std::numbers::pi / 2, 1e-12);
  EXPECT_EQ(radians.decimals, 3);
  EXPECT_EQ(radians.position, kRight);
  const AxisRecord degrees = axis_for(polar, extent(0, 1, 0, 400), kAxisTheta);
  EXPECT_EQ(degrees.high, 450);
  EXPECT_EQ(degrees.step, 90);
  // A category range counts its points.
  DataRangeRecord categories = extent(0, 0, 0, 3);
  categories.data_layout = 2;
  categories.points = 7;
  const AxisRecord category = axis_for(graph_of(graph_type::kXy), categories, kAxisX);
  EXPECT_EQ(category.high, 7);
  EXPECT_EQ(category.step, 1);
  EXPECT_EQ(category.decimals, 0);
}

TEST(RangeDefaults, ExtentsComeFromThePointsAndTheirErrors) {
  ChartLibrary library;
  const std::vector<float> values = {20, -100, 0, -350, 90, -20, 20, -120, 0, -300, 90, -10};
  std::array<DataRangeRecord, 2> ranges;
  ASSERT_EQ(xy_range_defaults(library, graph_of(graph_type::kXy), 3, values, ranges), chart_status::kOk);
  EXPECT_EQ((std::array{ranges[0].x_low, ranges[0].x_high, ranges[0].y_low, ranges[0].y_high}),
            (std::array{0.0, 90.0, -350.0, -20.0}));
  EXPECT_EQ((std::array{ranges[1].y_low, ranges[1].y_high}), (std::array{-300.0, -10.0}));
  EXPECT_EQ(ranges[1].points, 3);
  EXPECT_EQ(ranges[1].values_per_point, 2);
  EXPECT_EQ(ranges[0].error_bar_type, 0);

  const std::vector<float> with_errors = {0, 10, 2, 5, 40, 8};
  DataRangeRecord range;
  ASSERT_EQ(xy_range_defaults(library, graph_of(graph_type::kXyError), 2, with_errors, std::span(&range, 1)),
            chart_status::kOk);
  EXPECT_EQ(range.y_low, 8);
  EXPECT_EQ(range.y_high, 48);
  EXPECT_EQ(range.values_per_point, 3);
  EXPECT_EQ(range.error_bar_type, 1);
  EXPECT_EQ(range.error_bar_colour, range.title_colour);
}

TEST(RangeCounter, TitlesAndColoursFollowTheRunLongCount) {
  ChartLibrary library;
  const std::vector<float> values(2 * 8, 1.0f);
  const std::array<int, 16> colours = {15, 14, 13, 11, 7, 10, 12, 9, 6, 5, 3, 8, 2, 4, 0, 1};
  std::vector<DataRangeRecord> all;
  for (int call = 0; call < 3; ++call) {  // 24 ranges in three calls
    std::array<DataRangeRecord, 8> ranges;
    ASSERT_EQ(xy_range_defaults(library, graph_of(graph_type::kXy), 1, values, ranges), chart_status::kOk);
    all.insert(all.end(), ranges.begin(), ranges.end());
  }
  EXPECT_EQ(library.ranges_created(), 24);
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].title_colour, colours[i % 16]) << i;
    EXPECT_EQ(all[i].marker_colour, colours[i % 16]) << i;
    EXPECT_EQ(all[i].line_colour, colours[i % 16]) << i;
    EXPECT_EQ(all[i].marker_type, static_cast<int>(i % 10) + 1) << i;
  }
  EXPECT_EQ(all[0].title.view(), "Data Range 1        ");
  // The 17th range wraps to the first colour and takes marker type 7.
  EXPECT_EQ(all[16].title.trimmed(), "Data Range17");
  EXPECT_EQ(all[16].title_colour, 15);
  EXPECT_EQ(all[16].marker_type, 7);
  // Past 99 the count no longer fits its two columns.
  std::vector<DataRangeRecord> more(76);
  const std::vector<float> more_values(2 * 76, 1.0f);
  ASSERT_EQ(xy_range_defaults(library, graph_of(graph_type::kXy), 1, more_values, more), chart_status::kOk);
  EXPECT_EQ(more[74].title.trimmed(), "Data Range99");
  EXPECT_EQ(more[75].title.trimmed(), "Data Range**");
}

TEST(ChartStatus, RangeDefaultsRejectEmptyAndSingleValueRequests) {
  ChartLibrary library;
  const std::vector<float> values(8, 0.0f);
  std::array<DataRangeRecord, 2> ranges;
  GraphRecord graph = graph_of(graph_type::kXy);
  EXPECT_EQ(xy_range_defaults(library, graph, 0, values, ranges), chart_status::kCountBelowOne);
  EXPECT_EQ(xy_range_defaults(library, graph, 2, values, {}), chart_status::kCountBelowOne);
  EXPECT_EQ(xy_range_defaults(library, graph, 3, values, ranges), chart_status::kInvalidRange);  // too short
  for (int type : {1, 2, 3}) {
    graph.type = type;
    EXPECT_EQ(xy_range_defaults(library, graph, 2, values, ranges), chart_status::kWrongGraphType);
  }
  EXPECT_EQ(library.ranges_created(), 0) << "a refused request creates no ranges";
}

TEST(ChartStatus, AxisDefaultsRejectBadRequests) {
  GraphRecord graph = graph_of(graph_type::kXy);
  const DataRangeRecord range = extent(0, 10, -5, -5);
  const auto one = std::span(&range, 1);
  AxisRecord axis;
  EXPECT_EQ(axis_defaults(graph, {}, kAxisX, kLinear, axis), chart_status::kCountBelowOne);
  for (const int kind : {-1, 4, static_cast<int>(kAxisR), static_cast<int>(kAxisTheta)}) {
    EXPECT_EQ(axis_defaults(graph, one, kind, kLinear, axis), chart_status::kInvalidAxis) << kind;
  }
  EXPECT_EQ(axis_defaults(graph, one, kAxisX, 4, axis), chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(graph, one, kAxisY, kLinear, axis), chart_status::kEmptyAxisRange);  // no y extent
  EXPECT_EQ(axis_defaults(graph, one, kAxisX, kLog10, axis), chart_status::kEmptyAxisRange);   // log from 0
  EXPECT_EQ(graph.x_axes_defined + graph.y_axes_defined, 0) << "failed axes are not counted";
  GraphRecord polar = graph_of(graph_type::kPolar);
  EXPECT_EQ(axis_defaults(polar, one, kAxisX, kLinear, axis), chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(polar, one, kAxisY, kLinear, axis), chart_status::kInvalidAxis);
}

TEST(AxisDefaults, PositionsFollowTheAxisCountAndStylesComeFromTheGraph) {
  GraphRecord graph = graph_of(graph_type::kXy);
  graph.foreground_colour = 13;
  graph.title_font = 3;
  graph.title_colour = 10;
  const DataRangeRecord range = extent(0, 10, 0, 10);
  std::array<AxisRecord, 4> axes;
  const std::array<int, 4> kinds = {kAxisX, kAxisY, kAxisX, kAxisY};
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kinds[i], kLinear, axes[i]), chart_status::kOk);
  }
  EXPECT_EQ((std::array{axes[0].position, axes[1].position, axes[2].position, axes[3].position}),
            (std::array<int, 4>{kBottom, kLeft, kTop, kRight}));
  EXPECT_EQ(graph.x_axes_defined, 2);
  EXPECT_EQ(graph.y_axes_defined, 2);
  const AxisRecord& x = axes[0];
  EXPECT_EQ(x.title.trimmed(), "X Axis");
  EXPECT_EQ(axes[1].title.trimmed(), "Y Axis");
  EXPECT_EQ((std::array{x.colour, x.tick_colour, x.grid_colour, x.label_colour}),
            (std::array{13, 13, 13, 5}));
  EXPECT_EQ((std::array{x.title_font, x.title_colour, x.label_font}), (std::array{3, 10, 6}));
  EXPECT_EQ((std::array{x.tick_style, x.grid_style, x.grid_line_type, x.label_mode}),
            (std::array{3, 1, 5, 0}));
}

TEST(GraphDefaults, FillsTheDocumentedDefaults) {
  GraphRecord graph;
  graph.graphs_drawn = 5;
  EXPECT_EQ(graph_defaults(graph_type::kXyError, graph), chart_status::kOk);
  EXPECT_EQ(graph.title.view(), std::string("Graph") + std::string(35, ' '));
  EXPECT_EQ(graph.type, graph_type::kXyError);
  EXPECT_EQ((std::array{graph.title_font, graph.title_colour, graph.subtitle_font, graph.subtitle_colour}),
            (std::array{1, 14, 2, 7}));
  EXPECT_EQ((std::array{graph.foreground_colour, graph.background_colour, graph.reconfigure_window}),
            (std::array{15, 1, 1}));
  EXPECT_EQ(
      (std::array{graph.viewport_left, graph.viewport_top, graph.viewport_right, graph.viewport_bottom}),
      (std::array{0, 0, 639, 479}));
  EXPECT_EQ(graph.graphs_drawn, 0);
}

}  // namespace
}  // namespace basinfit::plot
