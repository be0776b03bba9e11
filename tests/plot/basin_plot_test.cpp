// The deflection-basin plot through the recording canvas: the records it builds, what it
// draws, and the chart-file names.

#include "plot/basin_plot.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "plot/recording_canvas.h"

namespace basinfit::plot {
namespace {

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
  // Marker polygons inside the plot box (the legend's lies below it).
  std::vector<RecordedOp> markers() const {
    std::vector<RecordedOp> found;
    for (const RecordedOp& op : canvas.ops_of(OpKind::kPolygon)) {
      if (op.points[0].y < 6200) found.push_back(op);
    }
    return found;
  }
};

// Positions of an offset and of a deflection on the basin's axes (0..210, -900..0).
double x_of(double offset) { return 1300 + 7640 * offset / 210; }
double y_of(double deflection) { return 6032 - 4784 * (900 - deflection) / 900; }

TEST(BasinCaption, NamesStationAndDrop) {
  const std::string caption = basin_caption("1250      ", 3);
  EXPECT_EQ(caption, "Station: 1250 - Drop No:  3" + std::string(80 - 27, ' '));
  EXPECT_EQ(basin_caption("K2+300", 16).substr(0, 29), "Station: K2+300 - Drop No: 16");
}

TEST(BasinChartRecords, GraphAndAxesAsTheBasinPlotSetsThem) {
  Basin basin;
  const BasinChart chart = basin.chart();
  // A 640 x 480 window gets the chart viewport (0, 0)..(639, 380).
  EXPECT_EQ((std::array{chart.graph.viewport_left, chart.graph.viewport_top, chart.graph.viewport_right,
                        chart.graph.viewport_bottom}),
            (std::array{0, 0, 639, 380}));
  EXPECT_EQ(chart.graph.reconfigure_window, 0);
  EXPECT_EQ(chart.graph.background_colour, 1);
  // X from 0 (although the first sensor is at 20) to the last offset, along the top, with the
  // automatic step of 20..210 (0..300 in six intervals of 50).
  const AxisRecord& x = chart.axes[0];
  EXPECT_EQ((std::array{x.low, x.high, x.step}), (std::array{0.0, 210.0, 50.0}));
  EXPECT_EQ(
      (std::array{x.position, x.decimals, x.tick_style, x.minor_divisions, x.grid_style, x.grid_colour}),
      (std::array<int, 6>{kTop, 1, 2, 1, 1, 14}));
  EXPECT_EQ(x.title.trimmed(), "Radial Distance");
  // Y encloses both negated basins.
  const AxisRecord& y = chart.axes[1];
  EXPECT_EQ((std::array{y.low, y.high, y.step}), (std::array{-900.0, 0.0, 100.0}));
  EXPECT_EQ(
      (std::array{y.position, y.decimals, y.tick_style, y.minor_divisions, y.grid_colour, y.grid_line_type}),
      (std::array<int, 6>{kLeft, 2, 2, 1, 14, 5}));
  EXPECT_EQ(y.title.trimmed(), "Deflection");
  // Ranges: measured octagons without a line, calculated green line without markers.
  const DataRangeRecord& measured = chart.ranges[0];
  const DataRangeRecord& calculated = chart.ranges[1];
  EXPECT_EQ(measured.title.trimmed(), "Measured");
  EXPECT_EQ((std::array{measured.marker_type, measured.marker_colour, measured.line_type}),
            (std::array{10, 14, 0}));
  EXPECT_EQ(calculated.title.trimmed(), "Calculated");
  EXPECT_EQ((std::array{calculated.marker_type, calculated.line_type, calculated.line_colour}),
            (std::array{0, 1, 2}));
}

TEST(BasinChartRecords, LongCaptionIsCutToTheTitleField) {
  Basin basin;
  const std::string long_caption = "Station: ABCDEFGHIJ - Drop No: 12 and more text";
  basin.drop.caption = long_caption;
  EXPECT_EQ(basin.chart().graph.title.view(), long_caption.substr(0, 40));
}

TEST(BasinPlot, DrawsOctagonsAtTheMeasuredPointsAndAGreenLineThroughTheCalculated) {
  Basin basin;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  const auto octagons = basin.markers();
  ASSERT_EQ(octagons.size(), 9u);
  for (std::size_t i = 0; i < octagons.size(); ++i) {
    EXPECT_EQ(octagons[i].points.size(), 8u);
    EXPECT_EQ(octagons[i].colour, 14);
    EXPECT_NEAR(octagons[i].points[0].x - 64, x_of(kOffsets[i]), 1e-6);  // vertex 0 is 64 to the right
    EXPECT_NEAR(octagons[i].points[0].y, y_of(kMeasured[i]), 1e-6);
  }
  EXPECT_GT(octagons[0].points[0].y, octagons[8].points[0].y) << "deepest under the plate, lowest on screen";
  std::vector<RecordedOp> green;
  for (const RecordedOp& op : basin.canvas.ops_of(OpKind::kLine)) {
    if (op.colour == 2 && op.points[0].y < 6100) green.push_back(op);
  }
  ASSERT_EQ(green.size(), 8u);  // m - 1 solid segments in sensor order
  for (std::size_t i = 0; i < green.size(); ++i) {
    EXPECT_EQ(green[i].mask, kSolidMask);
    EXPECT_NEAR(green[i].points[0].x, x_of(kOffsets[i]), 1e-6);
    EXPECT_NEAR(green[i].points[1].y, y_of(kCalculated[i + 1]), 1e-6);
  }
}

TEST(BasinPlot, AxesHaveOutsideTicksDottedYellowGridAndLabels) {
  Basin basin;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  int x_ticks = 0, grid = 0;
  for (const RecordedOp& op : basin.canvas.ops_of(OpKind::kLine)) {
    if (op.points[0].x == op.points[1].x && op.points[0].y == 1248 && op.points[1].y == 1248 - 240) ++x_ticks;
    if (op.colour == 14 && op.mask == 0xAAAA) ++grid;
  }
  EXPECT_EQ(x_ticks, 5);   // 0, 50, ..., 200 above an axis ending at 210
  EXPECT_EQ(grid, 3 + 8);  // interior majors: 50..150 on X, -800..-100 on Y
  for (const char* text : {"0.0", "50.0", "200.0", "-900.00", "-100.00", "0.00", "Radial Distance",
                           "Deflection", "Station: 1250 - Drop No:  3"}) {
    EXPECT_EQ(basin.canvas.texts(text).size(), 1u) << text;
  }
  EXPECT_TRUE(basin.canvas.texts("250.0").empty());
}

TEST(BasinPlot, LegendColoursMoveOnEachDropMarkerColoursDoNot) {
  Basin basin;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  ASSERT_EQ(basin.canvas.texts("Measured").size(), 1u);
  EXPECT_EQ(basin.canvas.texts("Measured")[0].colour, 15);  // ranges 1 and 2 of the run
  EXPECT_EQ(basin.canvas.texts("Calculated")[0].colour, 14);
  EXPECT_EQ(basin.canvas.texts("Measured")[0].points[0].x, 3120 + 432);
  EXPECT_EQ(basin.canvas.texts("Calculated")[0].points[0].x, 5120 + 432);
  basin.canvas.clear();
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  EXPECT_EQ(basin.library.ranges_created(), 4);
  EXPECT_EQ(basin.canvas.texts("Measured")[0].colour, 13);  // ranges 3 and 4
  EXPECT_EQ(basin.canvas.texts("Calculated")[0].colour, 11);
  EXPECT_EQ(basin.markers()[0].colour, 14);
  // Drop 8 of the run takes ranges 15 and 16, black and blue: a blue title on the blue
  // background would vanish, so it is written in the foreground colour.
  for (int drop = 3; drop <= 8; ++drop) {
    basin.canvas.clear();
    ASSERT_EQ(basin.plot(), chart_status::kOk);
  }
  EXPECT_EQ(basin.canvas.texts("Measured")[0].colour, 0);
  EXPECT_EQ(basin.canvas.texts("Calculated")[0].colour, 15);
}

TEST(BasinPlot, FollowsTheWindowAndDrawsNothingWithoutOne) {
  Basin basin;
  basin.canvas.set_size(PixelSize{1000, 700});
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  EXPECT_EQ(basin.canvas.ops_of(OpKind::kViewport).at(0).points[1], (Point{999, 600}));
  Basin windowless;
  windowless.canvas.set_size(std::nullopt);
  EXPECT_EQ(windowless.plot(), kWindowNotOpen);
  EXPECT_TRUE(windowless.canvas.ops().empty());
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
  const std::array<float, 1> zero = {0};
  Basin basin;
  basin.drop = BasinDrop{basin.caption, 1, zero, zero, zero};
  EXPECT_EQ(basin.plot(), chart_status::kOk);
  EXPECT_EQ(basin.markers().size(), 1u);
  EXPECT_EQ(basin.canvas.texts("Deflection").size(), 1u);
}

TEST(BasinPlot, DeflectionThatIsNotANumberIsLeftOut) {
  std::array<float, 9> calculated = kCalculated;
  calculated[4] = std::numeric_limits<float>::quiet_NaN();
  Basin basin;
  basin.drop.calculated = calculated;
  ASSERT_EQ(basin.plot(), chart_status::kOk);
  int green = 0;
  for (const RecordedOp& op : basin.canvas.ops_of(OpKind::kLine)) {
    for (const Point& p : op.points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    green += op.colour == 2 && op.points[0].y < 6100 ? 1 : 0;
  }
  EXPECT_EQ(green, 6);  // the two segments touching sensor 5 are missing
  EXPECT_EQ(basin.chart().axes[1].low, -900);
}

TEST(ChartFileNames, StationIdentifiersBecomeSafeNames) {
  EXPECT_EQ(safe_file_name("1250      "), "1250");
  EXPECT_EQ(safe_file_name("K2+300.5"), "K2+300.5");
  EXPECT_EQ(safe_file_name("A/B 3"), "A_B_3");
  EXPECT_EQ(safe_file_name("..\\x:y*"), "_._x_y_");
  EXPECT_EQ(safe_file_name("-rf"), "_rf");
  EXPECT_EQ(safe_file_name("St\xc3\xa9"), "St__");
  EXPECT_EQ(safe_file_name("   "), "station");
  EXPECT_EQ(basin_image_stem("/tmp/charts", "K 12  ", 3), std::filesystem::path("/tmp/charts/K_12-3"));
}

}  // namespace
}  // namespace basinfit::plot
