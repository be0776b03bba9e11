// Chart settings: record defaults, the run-long range counter, data extents and the
// automatic choice of axis bounds and tick steps.

#include "plot/chart_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace basinfit::plot {
namespace {

// Two ranges of (x, y) points laid out (value, point, range).
std::vector<float> two_ranges(const std::vector<float>& x, const std::vector<float>& y1,
                              const std::vector<float>& y2) {
  std::vector<float> values;
  for (std::size_t i = 0; i < x.size(); ++i) values.insert(values.end(), {x[i], y1[i]});
  for (std::size_t i = 0; i < x.size(); ++i) values.insert(values.end(), {x[i], y2[i]});
  return values;
}

// Defaults for an axis enclosing one range whose y values span [low, high].
AxisRecord y_axis_for(double low, double high) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  DataRangeRecord range;
  range.x_low = 0;
  range.x_high = 1;
  range.y_low = low;
  range.y_high = high;
  AxisRecord axis;
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisY, kLinear, axis), chart_status::kOk);
  return axis;
}

TEST(AxisScaling, TwentyToOneEightyGivesEightStepsOfTwentyFive) {
  const AxisRecord axis = y_axis_for(20, 180);
  EXPECT_DOUBLE_EQ(axis.low, 0);
  EXPECT_DOUBLE_EQ(axis.high, 200);
  EXPECT_DOUBLE_EQ(axis.step, 25);
  EXPECT_EQ(axis.decimals, 3);
  EXPECT_EQ(axis.minor_divisions, 5);
}

TEST(AxisScaling, NegativeBasinRoundsOutwardToHundreds) {
  const AxisRecord axis = y_axis_for(-812, -35);
  EXPECT_DOUBLE_EQ(axis.low, -900);
  EXPECT_DOUBLE_EQ(axis.high, 0);
  EXPECT_DOUBLE_EQ(axis.step, 100);
}

TEST(AxisScaling, ExtentBelowOneUsesUnitPower) {
  const LinearScale scale = linear_scale(0.2, 0.7);
  EXPECT_DOUBLE_EQ(scale.low, 0);
  EXPECT_DOUBLE_EQ(scale.high, 1);
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
}

TEST(AxisScaling, BoundsOnAMultipleAreKept) {
  // 300 / 100 is exactly 3: no extra unit is added on either side.
  const LinearScale scale = linear_scale(100, 400);
  EXPECT_DOUBLE_EQ(scale.low, 100);
  EXPECT_DOUBLE_EQ(scale.high, 400);
  EXPECT_DOUBLE_EQ(scale.step, 50);
}

TEST(AxisScaling, TinyExtentsStillEncloseTheDataWithAPositiveStep) {
  for (const double extent : {0.1, 0.05, 0.003, 1e-6}) {
    const double low = 0.31;
    const LinearScale scale = linear_scale(low, low + extent);
    EXPECT_GT(scale.step, 0) << extent;
    EXPECT_LE(scale.low, low) << extent;
    EXPECT_GE(scale.high, low + extent) << extent;
    EXPECT_GE(scale.intervals, 6) << extent;
    // The rounded span is at most about ten times the data extent.
    EXPECT_LT(scale.high - scale.low, 21 * extent) << extent;
  }
}

TEST(AxisScaling, YAxisEnclosesBothRanges) {
  ChartLibrary library;
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  const std::vector<float> values = two_ranges({0, 30, 60}, {-420, -210, -90}, {-400, -230, -60});
  std::array<DataRangeRecord, 2> ranges;
  ASSERT_EQ(xy_range_defaults(library, graph, 3, values, ranges), chart_status::kOk);
  AxisRecord x, y;
  ASSERT_EQ(axis_defaults(graph, ranges, kAxisX, kLinear, x), chart_status::kOk);
  ASSERT_EQ(axis_defaults(graph, ranges, kAxisY, kLinear, y), chart_status::kOk);
  EXPECT_DOUBLE_EQ(y.low, -500);
  EXPECT_DOUBLE_EQ(y.high, 0);
  EXPECT_DOUBLE_EQ(x.low, 0);
  EXPECT_DOUBLE_EQ(x.high, 60);
  EXPECT_DOUBLE_EQ(x.step, 10);
}

TEST(AxisScaling, LogarithmicAxisSpansWholeDecades) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  DataRangeRecord range;
  range.x_low = 3;
  range.x_high = 420;
  AxisRecord axis;
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, kLog10, axis), chart_status::kOk);
  EXPECT_DOUBLE_EQ(axis.low, 1);
  EXPECT_DOUBLE_EQ(axis.high, 1000);
  EXPECT_DOUBLE_EQ(axis.step, 1);
  EXPECT_EQ(axis.minor_divisions, 9);
  EXPECT_EQ(axis.decimals, 2);
}

TEST(AxisScaling, PolarRadiusStartsAtZeroWithADoubledStep) {
  GraphRecord graph;
  graph_defaults(graph_type::kPolar, graph);
  DataRangeRecord range;
  range.x_low = -30;
  range.x_high = 20;
  range.y_low = 0;
  range.y_high = 5;
  AxisRecord radius, angle;
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisR, kLinear, radius), chart_status::kOk);
  // Extent 0..30: p = 10, three units, six intervals of 5, doubled on a polar graph.
  EXPECT_DOUBLE_EQ(radius.low, 0);
  EXPECT_DOUBLE_EQ(radius.high, 30);
  EXPECT_DOUBLE_EQ(radius.step, 10);
  EXPECT_EQ(radius.position, kBottom);
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisTheta, kLinear, angle), chart_status::kOk);
  // 0..5 radians: quarter turns, rounded out to 0..2 pi, four intervals.
  EXPECT_DOUBLE_EQ(angle.low, 0);
  EXPECT_NEAR(angle.high, 2 * 3.141592653589793, 1e-12);
  EXPECT_NEAR(angle.step, 3.141592653589793 / 2, 1e-12);
  EXPECT_EQ(angle.decimals, 3);
  EXPECT_EQ(angle.position, kRight);
  EXPECT_EQ(angle.title.trimmed(), "Theta Axis");

  range.y_high = 400;  // degrees: units of 90, 0..450 in five intervals
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisTheta, kLinear, angle), chart_status::kOk);
  EXPECT_DOUBLE_EQ(angle.high, 450);
  EXPECT_DOUBLE_EQ(angle.step, 90);
  EXPECT_EQ(angle.decimals, 2);
}

TEST(AxisScaling, CategoryAxisCountsPoints) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  DataRangeRecord range;
  range.data_layout = 2;
  range.points = 7;
  range.y_high = 3;
  AxisRecord axis;
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, kLinear, axis), chart_status::kOk);
  EXPECT_DOUBLE_EQ(axis.low, 0);
  EXPECT_DOUBLE_EQ(axis.high, 7);
  EXPECT_DOUBLE_EQ(axis.step, 1);
  EXPECT_EQ(axis.minor_divisions, 1);
  EXPECT_EQ(axis.decimals, 0);
}

TEST(AxisScaling, BaseTwoAxisUsesPowersOfTwo) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  DataRangeRecord range;
  range.y_low = 0.3;
  range.y_high = 5;
  AxisRecord axis;
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisY, kLog2, axis), chart_status::kOk);
  EXPECT_DOUBLE_EQ(axis.low, 0.25);
  EXPECT_DOUBLE_EQ(axis.high, 8);
  EXPECT_EQ(axis.minor_divisions, 8);
  EXPECT_GE(axis.decimals, 2);  // 0.25 needs two decimals
}

TEST(RangeDefaults, ExtentsComeFromThePoints) {
  ChartLibrary library;
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  const std::vector<float> values = two_ranges({20, 0, 90}, {-100, -350, -20}, {-120, -300, -10});
  std::array<DataRangeRecord, 2> ranges;
  ASSERT_EQ(xy_range_defaults(library, graph, 3, values, ranges), chart_status::kOk);
  EXPECT_DOUBLE_EQ(ranges[0].x_low, 0);
  EXPECT_DOUBLE_EQ(ranges[0].x_high, 90);
  EXPECT_DOUBLE_EQ(ranges[0].y_low, -350);
  EXPECT_DOUBLE_EQ(ranges[0].y_high, -20);
  EXPECT_DOUBLE_EQ(ranges[1].y_low, -300);
  EXPECT_DOUBLE_EQ(ranges[1].y_high, -10);
  EXPECT_EQ(ranges[1].points, 3);
  EXPECT_EQ(ranges[1].values_per_point, 2);
  EXPECT_EQ(ranges[0].error_bar_type, 0);
}

TEST(RangeDefaults, ErrorValuesWidenTheYExtent) {
  ChartLibrary library;
  GraphRecord graph;
  graph_defaults(graph_type::kXyError, graph);
  const std::vector<float> values = {0, 10, 2, 5, 40, 8};
  DataRangeRecord range;
  ASSERT_EQ(xy_range_defaults(library, graph, 2, values, std::span(&range, 1)), chart_status::kOk);
  EXPECT_DOUBLE_EQ(range.y_low, 8);
  EXPECT_DOUBLE_EQ(range.y_high, 48);
  EXPECT_EQ(range.values_per_point, 3);
  EXPECT_EQ(range.error_bar_type, 1);
  EXPECT_EQ(range.error_bar_colour, range.title_colour);
}

TEST(RangeCounter, TitlesAndColoursFollowTheRunLongCount) {
  ChartLibrary library;
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  const std::vector<float> values(2 * 1 * 8, 1.0f);
  const std::array<int, 16> colours = {15, 14, 13, 11, 7, 10, 12, 9, 6, 5, 3, 8, 2, 4, 0, 1};
  std::vector<DataRangeRecord> all;
  for (int call = 0; call < 3; ++call) {  // 24 ranges in three calls
    std::array<DataRangeRecord, 8> ranges;
    ASSERT_EQ(xy_range_defaults(library, graph, 1, values, ranges), chart_status::kOk);
    all.insert(all.end(), ranges.begin(), ranges.end());
  }
  EXPECT_EQ(library.ranges_created(), 24);
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].title_colour, colours[i % 16]) << i;
    EXPECT_EQ(all[i].marker_colour, colours[i % 16]) << i;
    EXPECT_EQ(all[i].line_colour, colours[i % 16]) << i;
    EXPECT_EQ(all[i].marker_type, static_cast<int>(i % 10) + 1) << i;
    EXPECT_EQ(all[i].line_type, 1);
  }
  EXPECT_EQ(all[0].title.view(), "Data Range 1        ");
  EXPECT_EQ(all[16].title.trimmed(), "Data Range17");
  // The 17th range wraps to the first colour and takes marker type 7.
  EXPECT_EQ(all[16].title_colour, 15);
  EXPECT_EQ(all[16].marker_type, 7);
}

TEST(RangeCounter, CountsPastNinetyNineWithAsterisks) {
  ChartLibrary library;
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  const std::vector<float> values(2 * 100, 1.0f);
  std::vector<DataRangeRecord> ranges(100);
  ASSERT_EQ(xy_range_defaults(library, graph, 1, values, ranges), chart_status::kOk);
  EXPECT_EQ(ranges[98].title.trimmed(), "Data Range99");
  EXPECT_EQ(ranges[99].title.trimmed(), "Data Range**");
}

TEST(ChartStatus, RangeDefaultsRejectEmptyAndSingleValueRequests) {
  ChartLibrary library;
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  const std::vector<float> values(8, 0.0f);
  std::array<DataRangeRecord, 2> ranges;
  EXPECT_EQ(xy_range_defaults(library, graph, 0, values, ranges), chart_status::kCountBelowOne);
  EXPECT_EQ(xy_range_defaults(library, graph, 2, values, std::span<DataRangeRecord>()),
            chart_status::kCountBelowOne);
  EXPECT_EQ(xy_range_defaults(library, graph, 3, values, ranges), chart_status::kInvalidRange);
  for (int type : {1, 2, 3}) {
    graph.type = type;
    EXPECT_EQ(xy_range_defaults(library, graph, 2, values, ranges), chart_status::kWrongGraphType);
  }
  EXPECT_EQ(library.ranges_created(), 0) << "a refused request creates no ranges";
}

TEST(ChartStatus, AxisDefaultsRejectBadRequests) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  DataRangeRecord range;
  range.x_high = 10;
  range.y_low = -5;
  range.y_high = -5;
  AxisRecord axis;
  EXPECT_EQ(axis_defaults(graph, {}, kAxisX, kLinear, axis), chart_status::kCountBelowOne);
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), 4, kLinear, axis), chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), -1, kLinear, axis), chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisR, kLinear, axis), chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisTheta, kLinear, axis),
            chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, 4, axis), chart_status::kInvalidAxis);
  // No extent in y, and a logarithmic x axis starting at 0.
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisY, kLinear, axis), chart_status::kEmptyAxisRange);
  EXPECT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, kLog10, axis), chart_status::kEmptyAxisRange);
  EXPECT_EQ(graph.x_axes_defined + graph.y_axes_defined, 0) << "failed axes are not counted";

  GraphRecord polar;
  graph_defaults(graph_type::kPolar, polar);
  EXPECT_EQ(axis_defaults(polar, std::span(&range, 1), kAxisX, kLinear, axis), chart_status::kInvalidAxis);
  EXPECT_EQ(axis_defaults(polar, std::span(&range, 1), kAxisY, kLinear, axis), chart_status::kInvalidAxis);
}

TEST(AxisDefaults, PositionsFollowTheAxisCount) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  DataRangeRecord range;
  range.x_high = 10;
  range.y_high = 10;
  AxisRecord x1, x2, y1, y2;
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, kLinear, x1), chart_status::kOk);
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisY, kLinear, y1), chart_status::kOk);
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, kLinear, x2), chart_status::kOk);
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisY, kLinear, y2), chart_status::kOk);
  EXPECT_EQ(x1.position, kBottom);
  EXPECT_EQ(x2.position, kTop);
  EXPECT_EQ(y1.position, kLeft);
  EXPECT_EQ(y2.position, kRight);
  EXPECT_EQ(graph.x_axes_defined, 2);
  EXPECT_EQ(graph.y_axes_defined, 2);
  EXPECT_EQ(x1.title.trimmed(), "X Axis");
  EXPECT_EQ(y1.title.trimmed(), "Y Axis");
}

TEST(AxisDefaults, ColoursAndFontsComeFromTheGraph) {
  GraphRecord graph;
  graph_defaults(graph_type::kXy, graph);
  graph.foreground_colour = 13;
  graph.title_font = 3;
  graph.title_colour = 10;
  DataRangeRecord range;
  range.x_high = 10;
  AxisRecord axis;
  ASSERT_EQ(axis_defaults(graph, std::span(&range, 1), kAxisX, kLinear, axis), chart_status::kOk);
  EXPECT_EQ(axis.colour, 13);
  EXPECT_EQ(axis.tick_colour, 13);
  EXPECT_EQ(axis.grid_colour, 13);
  EXPECT_EQ(axis.label_colour, 5);  // 13 modulo 8
  EXPECT_EQ(axis.title_font, 3);
  EXPECT_EQ(axis.title_colour, 10);
  EXPECT_EQ(axis.label_font, 6);
  EXPECT_EQ(axis.tick_style, 3);
  EXPECT_EQ(axis.grid_style, 1);
  EXPECT_EQ(axis.grid_line_type, 5);
}

TEST(GraphDefaults, FillsTheDocumentedDefaults) {
  GraphRecord graph;
  graph.graphs_drawn = 5;
  EXPECT_EQ(graph_defaults(graph_type::kXyError, graph), chart_status::kOk);
  EXPECT_EQ(graph.title.view(), std::string("Graph") + std::string(35, ' '));
  EXPECT_EQ(graph.type, graph_type::kXyError);
  EXPECT_EQ(graph.title_colour, 14);
  EXPECT_EQ(graph.subtitle_font, 2);
  EXPECT_EQ(graph.subtitle_colour, 7);
  EXPECT_EQ(graph.foreground_colour, 15);
  EXPECT_EQ(graph.background_colour, 1);
  EXPECT_EQ(graph.viewport_right, 639);
  EXPECT_EQ(graph.viewport_bottom, 479);
  EXPECT_EQ(graph.reconfigure_window, 1);
  EXPECT_EQ(graph.graphs_drawn, 0);
}

TEST(FixedTextField, CutsAndPadsToItsLength) {
  FixedText<5> text("Radial Distance");
  EXPECT_EQ(text.view(), "Radia");
  text = "  ab ";
  EXPECT_EQ(text.trimmed(), "ab");
  text = "";
  EXPECT_EQ(text.view(), "     ");
  EXPECT_TRUE(text.trimmed().empty());
}

}  // namespace
}  // namespace basinfit::plot
