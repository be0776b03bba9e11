// The deflection-basin plot through the recording canvas: records it builds, what it draws,
// and the chart-file names.

#include "plot/basin_plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "plot/chart_drawing.h"
#include "plot/recording_canvas.h"

namespace basinfit::plot {
namespace {

namespace g = chart_geometry;

// A metric basin: nine sensors, the first 20 cm from the plate centre.
constexpr std::array<float, 9> kOffsets = {20, 30, 45, 60, 90, 120, 150, 180, 210};
constexpr std::array<float, 9> kMeasured = {812, 640, 560, 455, 370, 250, 170, 110, 35};
constexpr std::array<float, 9> kCalculated = {800, 652, 548, 450, 380, 245, 160, 118, 40};

struct Basin {
  std::string caption = basin_caption("1250      ", 3);
  BasinDrop drop{caption, 9, kOffsets, kMeasured, kCalculated};
  ChartLibrary library;
  RecordingCanvas canvas;
  int plot() { return dispplot(library, canvas, drop); }
  BasinChart chart() {
    BasinChart c;
    EXPECT_EQ(prepare_basin_chart(library, drop, {640, 480}, c), chart_status::kOk);
    return c;
  }
};

std::vector<RecordedOp> polygons_in_box(const RecordingCanvas& canvas) {
  std::vector<RecordedOp> found;
  for (const RecordedOp& op : canvas.ops_of(OpKind::kPolygon)) {
    if (op.points[0].y < g::kBoxBottom + 100) found.push_back(op);
  }
  return found;
}

TEST(BasinCaption, NamesStationAndDrop) {
  const std::string caption = basin_caption("1250      ", 3);
  EXPECT_EQ(caption.size(), 80u);
  EXPECT_EQ(caption.substr(0, 27), "Station: 1250 - Drop No:  3");
  EXPECT_EQ(caption.find_first_not_of(' ', 27), std::string::npos);
  EXPECT_EQ(basin_caption("K2+300", 16).substr(0, 29), "Station: K2+300 - Drop No: 16");
}

TEST(BasinChartRecords, ViewportLeavesTheBottomHundredRowsFree) {
  Basin basin;
  const BasinChart chart = basin.chart();
  EXPECT_EQ(chart.graph.viewport_left, 0);
  EXPECT_EQ(chart.graph.viewport_top, 0);
  EXPECT_EQ(chart.graph.viewport_right, 639);
  EXPECT_EQ(chart.graph.viewport_bottom, 380);
  EXPECT_EQ(chart.graph.reconfigure_window, 0);
  EXPECT_EQ(chart.graph.background_colour, 1);
  EXPECT_EQ(chart.graph.type, graph_type::kXy);
}

TEST(BasinChartRecords, XAxisRunsFromZeroToTheLastOffsetAlongTheTop) {
  Basin basin;
  const BasinChart chart = basin.chart();
  const AxisRecord& x = chart.axes[0];
  EXPECT_EQ(x.kind, kAxisX);
  EXPECT_EQ(x.position, kTop);
  EXPECT_DOUBLE_EQ(x.low, 0);  // although the first sensor is at 20
  EXPECT_DOUBLE_EQ(x.high, 210);
  // The automatic step of the data extent 20..210 (0..300 in 6 intervals) is kept.
  EXPECT_DOUBLE_EQ(x.step, 50);
  EXPECT_EQ(x.decimals, 1);
  EXPECT_EQ(x.tick_style, 2);
  EXPECT_EQ(x.minor_divisions, 1);
  EXPECT_EQ(x.grid_style, 1);
  EXPECT_EQ(x.grid_colour, 14);
  EXPECT_EQ(x.title.trimmed(), "Radial Distance");
}

TEST(BasinChartRecords, YAxisEnclosesBothNegatedBasins) {
  Basin basin;
  const BasinChart chart = basin.chart();
  const AxisRecord& y = chart.axes[1];
  EXPECT_EQ(y.position, kLeft);
  EXPECT_DOUBLE_EQ(y.low, -900);
  EXPECT_DOUBLE_EQ(y.high, 0);
  EXPECT_DOUBLE_EQ(y.step, 100);
  EXPECT_EQ(y.decimals, 2);
  EXPECT_EQ(y.grid_line_type, 5);
  EXPECT_EQ(y.title.trimmed(), "Deflection");
}

TEST(BasinChartRecords, RangesAreMeasuredMarkersAndACalculatedLine) {
  Basin basin;
  const BasinChart chart = basin.chart();
  const DataRangeRecord& measured = chart.ranges[0];
  const DataRangeRecord& calculated = chart.ranges[1];
  EXPECT_EQ(measured.title.trimmed(), "Measured");
  EXPECT_EQ(measured.marker_type, 10);
  EXPECT_EQ(measured.marker_colour, 14);
  EXPECT_EQ(measured.line_type, 0);
  EXPECT_EQ(calculated.title.trimmed(), "Calculated");
  EXPECT_EQ(calculated.marker_type, 0);
  EXPECT_EQ(calculated.line_type, 1);
  EXPECT_EQ(calculated.line_colour, 2);
  // Deflections hang below zero.
  EXPECT_DOUBLE_EQ(measured.y_low, -812);
  EXPECT_DOUBLE_EQ(calculated.y_high, -40);
}

TEST(BasinChartRecords, LongCaptionIsCutToTheTitleField) {
  Basin basin;
  const std::string long_caption = "Station: ABCDEFGHIJ - Drop No: 12 and more text";
  basin.drop.caption = long_caption;
  const BasinChart chart = basin.chart();
  EXPECT_EQ(chart.graph.title.view(), long_caption.substr(0, 40));
}

TEST(BasinPlot, DrawsOctagonsAtTheMeasuredPointsAndAGreenLineThroughTheCalculated) {
  Basin basin;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  const auto octagons = polygons_in_box(basin.canvas);
  ASSERT_EQ(octagons.size(), 9u);
  for (std::size_t i = 0; i < octagons.size(); ++i) {
    const RecordedOp& octagon = octagons[i];
    EXPECT_EQ(octagon.points.size(), 8u);
    EXPECT_EQ(octagon.fill, Fill::kFilled);
    EXPECT_EQ(octagon.colour, 14);
    // Vertex 0 lies 64 to the right of the point.
    EXPECT_NEAR(octagon.points[0].x - 64, 1300 + 7640 * kOffsets[i] / 210.0, 1e-6);
    EXPECT_NEAR(octagon.points[0].y, 6032 - 4784 * (900 - kMeasured[i]) / 900.0, 1e-6);
  }
  // The deepest point is under the plate: lowest on the screen.
  EXPECT_GT(octagons[0].points[0].y, octagons[8].points[0].y);

  std::vector<RecordedOp> green;
  for (const RecordedOp& op : basin.canvas.ops_of(OpKind::kLine)) {
    if (op.colour == 2 && op.points[0].y < g::kBoxBottom + 1) green.push_back(op);
  }
  ASSERT_EQ(green.size(), 8u);  // m - 1 segments in sensor order
  for (std::size_t i = 0; i < green.size(); ++i) {
    EXPECT_EQ(green[i].mask, kSolidMask);
    EXPECT_NEAR(green[i].points[0].x, 1300 + 7640 * kOffsets[i] / 210.0, 1e-6);
    EXPECT_NEAR(green[i].points[1].y, 6032 - 4784 * (900 - kCalculated[i + 1]) / 900.0, 1e-6);
  }
}

TEST(BasinPlot, AxesHaveOutsideTicksDottedYellowGridAndLabels) {
  Basin basin;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  int x_ticks = 0, grid = 0;
  for (const RecordedOp& op : basin.canvas.ops_of(OpKind::kLine)) {
    // X ticks above the top edge.
    if (op.points[0].x == op.points[1].x && op.points[0].y == g::kBoxTop &&
        op.points[1].y == g::kBoxTop - 240) {
      ++x_ticks;
    }
    if (op.colour == 14 && op.mask == 0xAAAA) ++grid;
  }
  EXPECT_EQ(x_ticks, 5);   // 0, 50, ..., 200 on an axis ending at 210
  EXPECT_EQ(grid, 3 + 8);  // interior majors: 50..150 on X, -800..-100 on Y
  for (const char* label : {"0.0", "50.0", "200.0", "-900.00", "-100.00", "0.00"}) {
    EXPECT_EQ(basin.canvas.texts(label).size(), 1u) << label;
  }
  EXPECT_TRUE(basin.canvas.texts("250.0").empty());
  EXPECT_EQ(basin.canvas.texts("Radial Distance").size(), 1u);
  EXPECT_EQ(basin.canvas.texts("Deflection").size(), 1u);
  EXPECT_EQ(basin.canvas.texts("Station: 1250 - Drop No:  3").size(), 1u);
}

TEST(BasinPlot, LegendNamesBothRangesInColoursThatMoveOnEachDrop) {
  Basin basin;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  const auto measured = basin.canvas.texts("Measured");
  const auto calculated = basin.canvas.texts("Calculated");
  ASSERT_EQ(measured.size(), 1u);
  ASSERT_EQ(calculated.size(), 1u);
  EXPECT_EQ(measured[0].colour, 15);  // ranges 1 and 2 of the run
  EXPECT_EQ(calculated[0].colour, 14);
  EXPECT_DOUBLE_EQ(measured[0].points[0].x, 3120 + 432);
  EXPECT_DOUBLE_EQ(calculated[0].points[0].x, 5120 + 432);

  basin.canvas.clear();
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  EXPECT_EQ(basin.library.ranges_created(), 4);
  EXPECT_EQ(basin.canvas.texts("Measured")[0].colour, 13);  // ranges 3 and 4
  EXPECT_EQ(basin.canvas.texts("Calculated")[0].colour, 11);
  // Marker and line colours are the plot's own, whatever the count.
  EXPECT_EQ(polygons_in_box(basin.canvas)[0].colour, 14);
}

TEST(BasinPlot, FollowsTheWindowSize) {
  Basin basin;
  basin.canvas.set_size(PixelSize{1000, 700});
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  const auto viewport = basin.canvas.ops_of(OpKind::kViewport);
  ASSERT_EQ(viewport.size(), 1u);
  EXPECT_EQ(viewport[0].points[1], (Point{999, 600}));
}

TEST(BasinPlot, WithoutAWindowNothingIsDrawn) {
  Basin basin;
  basin.canvas.set_size(std::nullopt);
  EXPECT_EQ(basin.plot(), kWindowNotOpen);
  EXPECT_TRUE(basin.canvas.ops().empty());
  EXPECT_EQ(kWindowNotOpenMessage, "Window Not Open");
}

TEST(BasinPlot, SensorCountOutsideItsRangeDrawsNothing) {
  for (const int sensors : {0, -1, 11}) {
    Basin basin;
    basin.drop.sensors = sensors;
    EXPECT_EQ(basin.plot(), chart_status::kCountBelowOne) << sensors;
    EXPECT_TRUE(basin.canvas.ops().empty());
    EXPECT_EQ(basin.library.ranges_created(), 0);
  }
  Basin short_spans;
  short_spans.drop.measured = std::span(kMeasured).first(4);
  EXPECT_EQ(short_spans.plot(), chart_status::kCountBelowOne);
}

TEST(BasinPlot, FlatBasinIsStillDrawn) {
  // One sensor at the plate centre and a zero deflection: no extent on either axis.
  const std::array<float, 1> offset = {0};
  const std::array<float, 1> zero = {0};
  Basin basin;
  basin.drop = BasinDrop{basin.caption, 1, offset, zero, zero};
  EXPECT_EQ(basin.plot(), chart_status::kOk);
  EXPECT_EQ(polygons_in_box(basin.canvas).size(), 1u);
  EXPECT_EQ(basin.canvas.texts("Deflection").size(), 1u);
}

TEST(ChartFileNames, StationIdentifiersBecomeSafeNames) {
  EXPECT_EQ(safe_file_name("1250      "), "1250");
  EXPECT_EQ(safe_file_name("K2+300.5"), "K2+300.5");
  EXPECT_EQ(safe_file_name("A/B 3"), "A_B_3");
  EXPECT_EQ(safe_file_name("..\\x:y*"), "_._x_y_");
  EXPECT_EQ(safe_file_name("-rf"), "_rf");
  EXPECT_EQ(safe_file_name("St\xc3\xa9"), "St__");
  EXPECT_EQ(safe_file_name("   "), "station");
  EXPECT_EQ(safe_file_name(""), "station");
  EXPECT_EQ(basin_image_stem("/tmp/charts", "K 12  ", 3), std::filesystem::path("/tmp/charts/K_12-3"));
}

}  // namespace
}  // namespace basinfit::plot
