// Chart drawing through the recording canvas: viewport, frame, titles, axes, ticks, grid,
// labels, data lines, markers, error bars, legend and the status codes.

#include "plot/chart_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "plot/recording_canvas.h"

namespace basinfit::plot {
namespace {

namespace g = chart_geometry;

// Virtual units per pixel for a 640-pixel-wide, 480-high viewport.
constexpr double kUnitsX = 10240.0 / 640;
constexpr double kUnitsY = 7680.0 / 480;

AxisRecord make_axis(int kind, int position, double low, double high, double step, int minor = 1) {
  AxisRecord axis;
  axis.kind = kind;
  axis.position = position;
  axis.low = low;
  axis.high = high;
  axis.step = step;
  axis.minor_divisions = minor;
  axis.decimals = 1;
  axis.title = kind == kAxisX ? "Distance" : "Height";
  axis.tick_style = 2;
  axis.grid_style = 0;
  return axis;
}

struct Chart {
  ChartLibrary library;
  RecordingCanvas canvas;
  GraphRecord graph;
  std::vector<AxisRecord> axes;
  Chart() {
    graph_defaults(graph_type::kXy, graph);
    axes = {make_axis(kAxisX, kBottom, 0, 100, 20), make_axis(kAxisY, kLeft, -10, 0, 2)};
  }
  int plot(int announced = 2) { return plot_graph(library, canvas, graph, axes, announced); }
};

// Lines that run across the axis line at the given coordinate (ticks of a horizontal axis
// at `edge`), keyed by their x.
std::vector<RecordedOp> vertical_lines_touching(const RecordingCanvas& canvas, double y) {
  std::vector<RecordedOp> found;
  for (const RecordedOp& op : canvas.ops_of(OpKind::kLine)) {
    const Point a = op.points[0], b = op.points[1];
    if (a.x == b.x && std::min(a.y, b.y) <= y && std::max(a.y, b.y) >= y &&
        std::abs(b.y - a.y) <= g::kMajorTick) {
      found.push_back(op);
    }
  }
  return found;
}

bool has_line(const RecordingCanvas& canvas, Point a, Point b) {
  for (const RecordedOp& op : canvas.ops_of(OpKind::kLine)) {
    if ((op.points[0] == a && op.points[1] == b) || (op.points[0] == b && op.points[1] == a)) return true;
  }
  return false;
}

double x_at(double v, double low, double high) { return g::kBoxLeft + 7640 * (v - low) / (high - low); }
double y_at(double v, double low, double high) { return g::kBoxBottom - 4784 * (v - low) / (high - low); }

TEST(GraphViewport, IsFilledWithTheBackgroundBeforeWindowCoordinatesAreSet) {
  Chart chart;
  chart.graph.viewport_right = 599;
  chart.graph.viewport_bottom = 379;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto& ops = chart.canvas.ops();
  const auto viewport =
      std::find_if(ops.begin(), ops.end(), [](auto& op) { return op.kind == OpKind::kViewport; });
  ASSERT_NE(viewport, ops.end());
  EXPECT_EQ(viewport->points[1], (Point{599, 379}));
  const auto fill = std::find_if(viewport, ops.end(), [](auto& op) { return op.kind == OpKind::kRectangle; });
  ASSERT_NE(fill, ops.end());
  EXPECT_EQ(fill->fill, Fill::kFilled);
  EXPECT_EQ(fill->colour, 1);
  EXPECT_EQ(fill->points[1], (Point{599, 379}));
  const auto coords =
      std::find_if(viewport, ops.end(), [](auto& op) { return op.kind == OpKind::kWindowCoordinates; });
  ASSERT_NE(coords, ops.end());
  EXPECT_GT(coords - fill, 0) << "the fill uses viewport pixels, before the window coordinates";
  EXPECT_EQ(coords->points[1], (Point{10240, 7680}));
}

TEST(GraphViewport, WindowIsReconfiguredOnlyOncePerRun) {
  Chart chart;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  EXPECT_EQ(chart.canvas.ops_of(OpKind::kResetWindow).size(), 1u);

  Chart unflagged;
  unflagged.graph.reconfigure_window = 0;
  ASSERT_EQ(unflagged.plot(), chart_status::kOk);
  EXPECT_TRUE(unflagged.canvas.ops_of(OpKind::kResetWindow).empty());
}

TEST(ChartStatus, ViewportThatCannotBeSetUpGivesOne) {
  auto status_with = [](auto adjust) {
    Chart chart;
    adjust(chart);
    return chart.plot();
  };
  EXPECT_EQ(status_with([](Chart& c) { c.graph.viewport_right = 640; }), chart_status::kViewportFailed);
  EXPECT_EQ(status_with([](Chart& c) { c.graph.viewport_bottom = 480; }), chart_status::kViewportFailed);
  EXPECT_EQ(status_with([](Chart& c) { c.graph.viewport_left = -1; }), chart_status::kViewportFailed);
  EXPECT_EQ(status_with([](Chart& c) { c.graph.viewport_top = -5; }), chart_status::kViewportFailed);
  EXPECT_EQ(status_with([](Chart& c) { c.canvas.set_size(std::nullopt); }), chart_status::kViewportFailed);
  EXPECT_EQ(status_with([](Chart& c) { c.canvas.set_reset_fails(true); }), chart_status::kViewportFailed);
  // A viewport of no extent would divide every coordinate by zero.
  EXPECT_EQ(status_with([](Chart& c) { c.graph.viewport_right = c.graph.viewport_left; }),
            chart_status::kViewportFailed);
  EXPECT_EQ(status_with([](Chart& c) {
              c.graph.viewport_top = 300;
              c.graph.viewport_bottom = 200;
            }),
            chart_status::kViewportFailed);
  // The window grown larger accepts the viewport that failed before.
  EXPECT_EQ(status_with([](Chart& c) {
              c.graph.viewport_right = 640;
              c.canvas.set_size(PixelSize{800, 600});
            }),
            chart_status::kOk);
}

TEST(ChartStatus, PlotGraphNeedsAxesAndRanges) {
  Chart chart;
  EXPECT_EQ(chart.plot(0), chart_status::kCountBelowOne);
  chart.axes.clear();
  EXPECT_EQ(chart.plot(), chart_status::kCountBelowOne);
  EXPECT_TRUE(chart.canvas.ops().empty());
}

TEST(ChartStatus, FontThatCannotBeSelectedGivesTwo) {
  for (const int font : {1, 2, 6}) {
    Chart chart;
    chart.canvas.refuse_font(std::string(font_request(font)));
    EXPECT_EQ(chart.plot(), chart_status::kFontUnavailable) << font;
    EXPECT_EQ(chart.graph.graphs_drawn, 0);
  }
}

TEST(ChartStatus, InvalidAxesGiveFour) {
  auto status_with = [](auto adjust) {
    Chart chart;
    adjust(chart);
    return chart.plot();
  };
  EXPECT_EQ(status_with([](Chart& c) { c.axes.pop_back(); }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) {
              for (int i = 0; i < 3; ++i) c.axes.push_back(c.axes[0]);
            }),
            chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[0].position = kLeft; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[1].position = kTop; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[0].high = c.axes[0].low; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[1].step = 0; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[1].step = -2; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes.push_back(c.axes[0]); }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.graph.type = graph_type::kPolar; }), chart_status::kInvalidAxis);
  // Beyond the listed checks: counts that would divide by zero, walk without end or build an
  // unreadable label format are refused too.
  EXPECT_EQ(status_with([](Chart& c) { c.axes[0].minor_divisions = 0; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[0].step = 1e-9; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) { c.axes[0].decimals = -1; }), chart_status::kInvalidAxis);
  EXPECT_EQ(status_with([](Chart& c) {
              c.axes[0].scale = kLog10;
              c.axes[0].low = 0;
            }),
            chart_status::kInvalidAxis);
  // Axes are checked before any is drawn.
  Chart chart;
  chart.axes[1].step = 0;
  chart.plot();
  EXPECT_TRUE(vertical_lines_touching(chart.canvas, g::kBoxBottom).empty());
}

TEST(GraphFrame, HasRoundedCorners) {
  Chart chart;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto rectangles = chart.canvas.ops_of(OpKind::kRectangle);
  ASSERT_GE(rectangles.size(), 6u);
  EXPECT_EQ(rectangles[1].points[0], (Point{0, 0}));
  EXPECT_EQ(rectangles[1].points[1], (Point{10240, 7680}));
  EXPECT_EQ(rectangles[1].colour, 15);
  EXPECT_EQ(rectangles[1].fill, Fill::kBorder);
  // The four 128 x 128 corner squares erased in the background colour.
  for (std::size_t i = 2; i < 6; ++i) {
    EXPECT_EQ(rectangles[i].colour, 1);
    EXPECT_EQ(std::abs(rectangles[i].points[1].x - rectangles[i].points[0].x), 128);
    EXPECT_EQ(std::abs(rectangles[i].points[1].y - rectangles[i].points[0].y), 128);
  }
  // Circles of radius 128 centred on the corners, in the foreground colour.
  const auto circles = chart.canvas.ops_of(OpKind::kEllipse);
  ASSERT_EQ(circles.size(), 4u);
  std::vector<Point> centres;
  for (const RecordedOp& c : circles) {
    EXPECT_EQ(c.colour, 15);
    EXPECT_EQ(c.points[1].x - c.points[0].x, 256);
    EXPECT_EQ(c.points[1].y - c.points[0].y, 256);
    centres.push_back({(c.points[0].x + c.points[1].x) / 2, (c.points[0].y + c.points[1].y) / 2});
  }
  for (const Point corner : {Point{0, 0}, Point{10240, 0}, Point{0, 7680}, Point{10240, 7680}}) {
    EXPECT_NE(std::find(centres.begin(), centres.end(), corner), centres.end());
  }
}

TEST(GraphTitles, AreCentredWithoutSurroundingBlanks) {
  Chart chart;
  chart.graph.title = "  Station: 7 ";
  chart.graph.subtitle = "Fit";
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto title = chart.canvas.texts("Station: 7");
  ASSERT_EQ(title.size(), 1u);
  // Font 1 is 10 pixels per character.
  EXPECT_DOUBLE_EQ(title[0].points[0].x, 5120 - 10 * 10 * kUnitsX / 2);
  EXPECT_DOUBLE_EQ(title[0].points[0].y, 192);
  EXPECT_EQ(title[0].colour, 14);
  EXPECT_EQ(title[0].font, font_request(1));
  const auto subtitle = chart.canvas.texts("Fit");
  ASSERT_EQ(subtitle.size(), 1u);
  EXPECT_DOUBLE_EQ(subtitle[0].points[0].y, 8 * 20 + 320);  // title font 20 pixels high
  EXPECT_DOUBLE_EQ(subtitle[0].points[0].x, 5120 - 3 * 9 * kUnitsX / 2);
  EXPECT_EQ(subtitle[0].colour, 7);
}

TEST(GraphAxes, BoxIsClosedWhenOppositeEdgesHaveNoAxis) {
  Chart chart;
  chart.axes[0].position = kTop;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  EXPECT_TRUE(has_line(chart.canvas, {1300, 1248}, {8940, 1248}));
  EXPECT_TRUE(has_line(chart.canvas, {1300, 6032}, {8940, 6032}));
  EXPECT_TRUE(has_line(chart.canvas, {1300, 1248}, {1300, 6032}));
  EXPECT_TRUE(has_line(chart.canvas, {8940, 1248}, {8940, 6032}));
}

TEST(GraphAxes, MajorTicksStopAtTheLastWholeStep) {
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 180, 25);
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto ticks = vertical_lines_touching(chart.canvas, g::kBoxBottom);
  ASSERT_EQ(ticks.size(), 8u);  // 0, 25, ..., 175
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_NEAR(ticks[i].points[0].x, x_at(25.0 * i, 0, 180), 1e-9);
    // Outside the box (downward from the bottom edge), 240 long.
    EXPECT_DOUBLE_EQ(ticks[i].points[0].y, g::kBoxBottom);
    EXPECT_DOUBLE_EQ(ticks[i].points[1].y, g::kBoxBottom + 240);
  }
  EXPECT_EQ(chart.canvas.texts("25.0").size(), 1u);
  EXPECT_EQ(chart.canvas.texts("175.0").size(), 1u);
  EXPECT_TRUE(chart.canvas.texts("200.0").empty());
}

TEST(GraphAxes, NothingIsDrawnBeyondTheAxisEnd) {
  // 190 / 25 rounds to 8 intervals; the 8th (200) would lie outside the box.
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 190, 25);
  chart.axes[0].grid_style = 1;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  for (const RecordedOp& line : chart.canvas.ops_of(OpKind::kLine)) {
    EXPECT_LE(line.points[0].x, g::kBoxRight + 1e-6);
    EXPECT_LE(line.points[1].x, g::kBoxRight + 1e-6);
  }
  EXPECT_TRUE(chart.canvas.texts("200.0").empty());
  EXPECT_EQ(chart.canvas.texts("175.0").size(), 1u);
}

TEST(GraphAxes, TickStylesAndMinorTicks) {
  struct Case {
    int style;
    double from, to;  // major tick extent in y on the bottom edge
  };
  for (const Case c :
       {Case{1, 6032 - 240, 6032}, Case{2, 6032, 6032 + 240}, Case{3, 6032 - 120, 6032 + 120}}) {
    Chart chart;
    chart.axes[0] = make_axis(kAxisX, kBottom, 0, 100, 25, 5);
    chart.axes[0].tick_style = c.style;
    ASSERT_EQ(chart.plot(), chart_status::kOk);
    const auto ticks = vertical_lines_touching(chart.canvas, g::kBoxBottom);
    ASSERT_EQ(ticks.size(), 21u) << c.style;  // 4 steps of 5 divisions, both ends included
    int majors = 0;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      const double length = std::abs(ticks[i].points[1].y - ticks[i].points[0].y);
      EXPECT_NEAR(ticks[i].points[0].x, x_at(5.0 * i, 0, 100), 1e-9);
      EXPECT_EQ(length, i % 5 == 0 ? 240 : 80) << i;
      if (i % 5 == 0) {
        ++majors;
        EXPECT_DOUBLE_EQ(std::min(ticks[i].points[0].y, ticks[i].points[1].y), c.from);
        EXPECT_DOUBLE_EQ(std::max(ticks[i].points[0].y, ticks[i].points[1].y), c.to);
      }
    }
    EXPECT_EQ(majors, 5);
  }
}

TEST(GraphAxes, GridLinesAtInteriorMajorTicksInTheGridStyle) {
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 100, 25, 5);
  chart.axes[0].grid_style = 1;
  chart.axes[0].grid_colour = 14;
  chart.axes[0].grid_line_type = 5;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  std::vector<double> grid_x;
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) {
    const bool box_edge = op.points[0].x == g::kBoxLeft || op.points[0].x == g::kBoxRight;
    if (op.points[0].y == g::kBoxTop && op.points[1].y == g::kBoxBottom && op.points[0].x == op.points[1].x &&
        !box_edge) {
      grid_x.push_back(op.points[0].x);
      EXPECT_EQ(op.colour, 14);
      EXPECT_EQ(op.mask, 0xAAAA);
    }
  }
  const std::vector<double> expected = {x_at(25, 0, 100), x_at(50, 0, 100), x_at(75, 0, 100)};
  EXPECT_EQ(grid_x, expected);

  Chart minor;
  minor.axes[1] = make_axis(kAxisY, kLeft, 0, 10, 5, 5);
  minor.axes[1].grid_style = 2;
  ASSERT_EQ(minor.plot(), chart_status::kOk);
  int horizontal_grid = 0;
  for (const RecordedOp& op : minor.canvas.ops_of(OpKind::kLine)) {
    if (op.points[0].x == g::kBoxLeft && op.points[1].x == g::kBoxRight && op.points[0].y != g::kBoxTop &&
        op.points[0].y != g::kBoxBottom) {
      ++horizontal_grid;
    }
  }
  EXPECT_EQ(horizontal_grid, 9);  // 8 minor points and the interior major at 5
}

TEST(GraphAxes, ThickGridLinesAreDrawnThreeTimes) {
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 100, 50);
  chart.axes[0].grid_style = 1;
  chart.axes[0].grid_line_type = 7;  // thick 0xEEEE
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  std::vector<double> xs;
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) {
    if (op.mask == 0xEEEE) xs.push_back(op.points[0].x);
  }
  std::sort(xs.begin(), xs.end());
  const double mid = x_at(50, 0, 100);
  EXPECT_EQ(xs, (std::vector<double>{mid - 16, mid, mid + 16}));
}

TEST(TickLabels, AreF10FieldsTrimmed) {
  EXPECT_EQ(tick_label(25, 1), "25.0");
  EXPECT_EQ(tick_label(-900, 2), "-900.00");
  EXPECT_EQ(tick_label(0.5, 3), "0.500");
  EXPECT_EQ(tick_label(175, 0), "175.");
  // Too wide for ten columns: asterisks, as any overflowing field.
  EXPECT_EQ(tick_label(123456789.0, 2), "**********");
}

TEST(TickLabels, SitBeyondTheTicksInTheLabelFontAndColour) {
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 180, 25);
  chart.axes[0].label_colour = 7;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto label = chart.canvas.texts("25.0");
  ASSERT_EQ(label.size(), 1u);
  // Small Fonts: 5 pixels per character; centred on the tick, 144 below its outer end.
  EXPECT_NEAR(label[0].points[0].x, x_at(25, 0, 180) - 4 * 5 * kUnitsX / 2, 1e-9);
  EXPECT_DOUBLE_EQ(label[0].points[0].y, 6032 + 240 + 144);
  EXPECT_EQ(label[0].font, font_request(6));
  EXPECT_EQ(label[0].colour, 7);

  // Left Y axis: labels end 144 beyond the tick, centred on it.
  const auto y_label = chart.canvas.texts("-4.0");
  ASSERT_EQ(y_label.size(), 1u);
  EXPECT_DOUBLE_EQ(y_label[0].points[0].x + 4 * 5 * kUnitsX, 1300 - 240 - 144);
  EXPECT_DOUBLE_EQ(y_label[0].points[0].y, y_at(-4, -10, 0) - 11 * kUnitsY / 2);
  EXPECT_FALSE(y_label[0].vertical);
}

TEST(TickLabels, VerticalAxisLabelsTurnWithTheLabelMode) {
  Chart chart;
  chart.axes[1].label_mode = 1;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto label = chart.canvas.texts("-4.0");
  ASSERT_EQ(label.size(), 1u);
  EXPECT_TRUE(label[0].vertical);
  // The rotated label is centred on its tick.
  EXPECT_DOUBLE_EQ(label[0].points[0].y, y_at(-4, -10, 0) + 4 * 5 * kUnitsY / 2);
}

TEST(AxisTitles, VerticalTitleIsRotatedOrStacked) {
  Chart rotated;
  ASSERT_EQ(rotated.plot(), chart_status::kOk);
  const auto title = rotated.canvas.texts("Height");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_TRUE(title[0].vertical);
  EXPECT_DOUBLE_EQ(title[0].points[0].y, 3640 + 6 * 10 * kUnitsY / 2);
  EXPECT_LT(title[0].points[0].x, 1300 - 240 - 144 - 288);

  Chart stacked;
  stacked.canvas.set_can_rotate(false);
  ASSERT_EQ(stacked.plot(), chart_status::kOk);
  std::vector<RecordedOp> letters;
  for (const char* c : {"H", "e", "i", "g", "h", "t"}) {
    const auto found = stacked.canvas.texts(c);
    ASSERT_FALSE(found.empty()) << c;
    letters.push_back(found.back());
  }
  for (std::size_t i = 1; i < letters.size(); ++i) {
    EXPECT_DOUBLE_EQ(letters[i].points[0].x, letters[0].points[0].x);
    EXPECT_DOUBLE_EQ(letters[i].points[0].y - letters[i - 1].points[0].y, 20 * kUnitsY);
  }
  // The column is centred on the plot box's middle.
  EXPECT_DOUBLE_EQ(letters[0].points[0].y, 3640 - 3 * 20 * kUnitsY);
}

TEST(AxisTitles, HorizontalTitleIsCentredBeyondTheLabels) {
  Chart chart;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto title = chart.canvas.texts("Distance");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_DOUBLE_EQ(title[0].points[0].x, 5120 - 8 * 10 * kUnitsX / 2);
  EXPECT_DOUBLE_EQ(title[0].points[0].y, 6032 + 240 + 144 + 288);
  EXPECT_EQ(title[0].colour, 14);
}

TEST(ChartColours, RequestsOutsideThePaletteAreClamped) {
  Chart chart;
  chart.axes[0].colour = 99;
  chart.axes[1].colour = -4;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  bool bottom = false, left = false;
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) {
    if (op.points[0] == Point{1300, 6032} && op.points[1] == Point{8940, 6032}) {
      EXPECT_EQ(op.colour, 15);
      bottom = true;
    }
    if (op.points[0] == Point{1300, 1248} && op.points[1] == Point{1300, 6032}) {
      EXPECT_EQ(op.colour, 0);
      left = true;
    }
  }
  EXPECT_TRUE(bottom && left);
}

TEST(GraphCounters, CountGraphsAndAnnouncedRanges) {
  Chart chart;
  ASSERT_EQ(chart.plot(3), chart_status::kOk);
  ASSERT_EQ(chart.plot(2), chart_status::kOk);
  EXPECT_EQ(chart.graph.graphs_drawn, 2);
  EXPECT_EQ(chart.graph.ranges_announced, 5);
}

// ---- data ranges ---------------------------------------------------------------------------

struct RangesChart : Chart {
  std::vector<float> values;
  std::vector<DataRangeRecord> ranges;
  // `count` ranges of three points (0, -2), (50, -6), (100, -4), shifted down by 1 per range.
  explicit RangesChart(int count, int type = graph_type::kXy) {
    graph.type = type;
    const int per_point = type == graph_type::kXyError ? 3 : 2;
    for (int r = 0; r < count; ++r) {
      const float shift = static_cast<float>(r);
      for (const auto& [x, y] : {std::pair{0.f, -2.f}, {50.f, -6.f}, {100.f, -4.f}}) {
        values.push_back(x);
        values.push_back(y - shift);
        if (per_point == 3) values.push_back(1.f);
      }
    }
    ranges.resize(static_cast<std::size_t>(count));
    EXPECT_EQ(xy_range_defaults(library, graph, 3, values, ranges), chart_status::kOk);
  }
  int draw() { return plot_xy_ranges(canvas, graph, values, ranges, axes[0], axes[1]); }
};

TEST(ChartStatus, RangesNeedAGraphFirst) {
  RangesChart chart(2);
  EXPECT_EQ(chart.draw(), chart_status::kNoGraphDrawn);
  EXPECT_TRUE(chart.canvas.ops().empty());
}

TEST(ChartStatus, MalformedRangesGiveSix) {
  auto status_with = [](auto adjust) {
    RangesChart chart(2);
    EXPECT_EQ(chart.plot(), chart_status::kOk);
    adjust(chart);
    return chart.draw();
  };
  EXPECT_EQ(status_with([](RangesChart& c) { c.ranges[1].points = 0; }), chart_status::kInvalidRange);
  EXPECT_EQ(status_with([](RangesChart& c) { c.ranges[0].values_per_point = 4; }),
            chart_status::kInvalidRange);
  EXPECT_EQ(status_with([](RangesChart& c) { c.ranges[0].values_per_point = 1; }),
            chart_status::kInvalidRange);
  // More points than the array holds would read past its end.
  EXPECT_EQ(status_with([](RangesChart& c) { c.values.resize(10); }), chart_status::kInvalidRange);
  EXPECT_EQ(status_with([](RangesChart&) {}), chart_status::kOk);
}

TEST(ChartStatus, AxisThatCannotMapValuesGivesFour) {
  RangesChart chart(1);
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.axes[1].high = chart.axes[1].low;
  EXPECT_EQ(chart.draw(), chart_status::kInvalidAxis);
}

TEST(DataLines, JoinPointsInOrderInTheLineStyle) {
  RangesChart chart(1);
  chart.ranges[0].line_colour = 2;
  chart.ranges[0].marker_type = 0;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  const Point p1{x_at(0, 0, 100), y_at(-2, -10, 0)};
  const Point p2{x_at(50, 0, 100), y_at(-6, -10, 0)};
  const Point p3{x_at(100, 0, 100), y_at(-4, -10, 0)};
  const auto lines = chart.canvas.ops_of(OpKind::kLine);
  ASSERT_GE(lines.size(), 2u);
  auto expect_segment = [](const RecordedOp& op, Point a, Point b) {
    EXPECT_NEAR(op.points[0].x, a.x, 1e-9);
    EXPECT_NEAR(op.points[0].y, a.y, 1e-9);
    EXPECT_NEAR(op.points[1].x, b.x, 1e-9);
    EXPECT_NEAR(op.points[1].y, b.y, 1e-9);
  };
  expect_segment(lines[0], p1, p2);
  expect_segment(lines[1], p2, p3);
  EXPECT_EQ(lines[0].colour, 2);
  EXPECT_EQ(lines[0].mask, kSolidMask);
  // No marker shapes were drawn apart from the legend box.
  EXPECT_TRUE(chart.canvas.ops_of(OpKind::kPolygon).empty());
}

TEST(DataLines, ReversedColumnOrderSwapsTheValuesOfAPoint) {
  RangesChart chart(1);
  // Each point stored as (y, x); column order 0 reads it back as (x, y).
  chart.values = {-2, 0, -6, 50, -4, 100};
  chart.ranges[0].column_order = 0;
  chart.ranges[0].marker_type = 0;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  const auto lines = chart.canvas.ops_of(OpKind::kLine);
  ASSERT_GE(lines.size(), 1u);
  EXPECT_NEAR(lines[0].points[1].x, x_at(50, 0, 100), 1e-9);
  EXPECT_NEAR(lines[0].points[1].y, y_at(-6, -10, 0), 1e-9);
}

TEST(DataLines, LineTypesSelectMasksAndThickness) {
  EXPECT_EQ(line_style(0).mask, 0);
  EXPECT_EQ(line_style(2).mask, 0xEEEE);
  EXPECT_EQ(line_style(3).mask, 0xECEC);
  EXPECT_EQ(line_style(4).mask, 0xECCC);
  EXPECT_EQ(line_style(5).mask, 0xAAAA);
  EXPECT_FALSE(line_style(5).thick);
  EXPECT_EQ(line_style(9).mask, 0xECCC);
  EXPECT_TRUE(line_style(9).thick);

  RangesChart chart(1);
  chart.ranges[0].line_type = 6;  // thick solid
  chart.ranges[0].marker_type = 0;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  const auto lines = chart.canvas.ops_of(OpKind::kLine);
  ASSERT_GE(lines.size(), 6u);
  // The first segment three times: on its path and 16 units to either side across it.
  const Point a = lines[0].points[0], b = lines[0].points[1];
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  for (int i : {1, 2}) {
    const Point c = lines[static_cast<std::size_t>(i)].points[0];
    const double cross = ((c.x - a.x) * (b.y - a.y) - (c.y - a.y) * (b.x - a.x)) / length;
    EXPECT_NEAR(std::abs(cross), 16, 1e-9);
  }
}

TEST(DataMarkers, FilledOctagonAtEveryPoint) {
  RangesChart chart(1);
  chart.ranges[0].marker_type = 10;
  chart.ranges[0].marker_colour = 14;
  chart.ranges[0].line_type = 0;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  const auto polygons = chart.canvas.ops_of(OpKind::kPolygon);
  ASSERT_EQ(polygons.size(), 4u);  // three points and the legend sample
  const Point centre{x_at(50, 0, 100), y_at(-6, -10, 0)};
  const RecordedOp& octagon = polygons[1];
  EXPECT_EQ(octagon.fill, Fill::kFilled);
  EXPECT_EQ(octagon.colour, 14);
  ASSERT_EQ(octagon.points.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    const double dx = octagon.points[i].x - centre.x, dy = octagon.points[i].y - centre.y;
    if (i % 2 == 0) {
      EXPECT_NEAR(std::hypot(dx, dy), 64, 1e-9);
    } else {
      EXPECT_NEAR(std::abs(dx), 45.248, 1e-9);
      EXPECT_NEAR(std::abs(dy), 45.248, 1e-9);
    }
  }
  // Line type 0: no connecting line in the marker colour.
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) EXPECT_NE(op.colour, 14);
}

TEST(DataMarkers, ShapesAndSizes) {
  struct Case {
    int type;
    OpKind kind;
    Fill fill;
    double half;
  };
  for (const Case c :
       {Case{1, OpKind::kRectangle, Fill::kBorder, 48}, Case{7, OpKind::kRectangle, Fill::kFilled, 48},
        Case{4, OpKind::kEllipse, Fill::kBorder, 64}, Case{2, OpKind::kPolygon, Fill::kBorder, 64},
        Case{9, OpKind::kPolygon, Fill::kFilled, 64}}) {
    RangesChart chart(1);
    chart.ranges[0].marker_type = c.type;
    chart.ranges[0].line_type = 0;
    ASSERT_EQ(chart.plot(), chart_status::kOk);
    chart.canvas.clear();
    ASSERT_EQ(chart.draw(), chart_status::kOk);
    const auto shapes = chart.canvas.ops_of(c.kind);
    ASSERT_FALSE(shapes.empty()) << c.type;
    const RecordedOp& first = shapes[0];
    EXPECT_EQ(first.fill, c.fill) << c.type;
    double max_x = -1e9, min_x = 1e9;
    for (const Point& p : first.points) {
      max_x = std::max(max_x, p.x);
      min_x = std::min(min_x, p.x);
    }
    EXPECT_DOUBLE_EQ((max_x - min_x) / 2, c.half) << c.type;
    EXPECT_DOUBLE_EQ((max_x + min_x) / 2, g::kBoxLeft) << c.type;
  }
}

TEST(ErrorBars, SpanTheErrorWithCaps) {
  RangesChart chart(1, graph_type::kXyError);
  chart.ranges[0].marker_type = 0;
  chart.ranges[0].line_type = 0;
  chart.ranges[0].error_bar_colour = 12;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  const double x = x_at(50, 0, 100);
  const Point low{x, y_at(-7, -10, 0)}, high{x, y_at(-5, -10, 0)};
  EXPECT_TRUE(has_line(chart.canvas, low, high));
  EXPECT_TRUE(has_line(chart.canvas, {x - 80, low.y}, {x + 80, low.y}));
  EXPECT_TRUE(has_line(chart.canvas, {x - 80, high.y}, {x + 80, high.y}));
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) {
    if (op.points[0].x == x) {
      EXPECT_EQ(op.colour, 12);
    }
  }
}

// Legend box: the bordered rectangle drawn by plot_xy_ranges below the plot box.
RecordedOp legend_box(const RecordingCanvas& canvas) {
  for (const RecordedOp& op : canvas.ops_of(OpKind::kRectangle)) {
    if (op.fill == Fill::kBorder && op.points[0].y == g::kLegendTop) return op;
  }
  ADD_FAILURE() << "no legend box";
  return {};
}

TEST(Legend, TwoRangesMakeOneRowFourThousandWide) {
  RangesChart chart(2);
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  const RecordedOp box = legend_box(chart.canvas);
  EXPECT_DOUBLE_EQ(box.points[0].x, 3120);
  EXPECT_DOUBLE_EQ(box.points[1].x, 7120);
  EXPECT_DOUBLE_EQ(box.points[1].y - box.points[0].y, 320);
  EXPECT_EQ(box.colour, 15);
  // Samples 160 into each cell, 240 long, titles 272 after the sample start.
  EXPECT_TRUE(has_line(chart.canvas, {3280, 6832}, {3520, 6832}));
  EXPECT_TRUE(has_line(chart.canvas, {5280, 6832}, {5520, 6832}));
  const auto first = chart.canvas.texts("Data Range 1");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_DOUBLE_EQ(first[0].points[0].x, 3280 + 272);
  EXPECT_DOUBLE_EQ(first[0].points[0].y, 6832 - 14 * kUnitsY / 2);  // font 2, 14 pixels high
  EXPECT_EQ(first[0].colour, chart.ranges[0].title_colour);
  EXPECT_EQ(chart.canvas.texts("Data Range 2").size(), 1u);
  EXPECT_EQ(chart.graph.legend_entries_drawn, 2);
}

TEST(Legend, RowsAndColumnsFollowTheRangeCount) {
  struct Case {
    int ranges, rows, columns;
  };
  for (const Case c : {Case{1, 1, 1}, Case{4, 1, 4}, Case{5, 2, 3}, Case{8, 2, 4}}) {
    RangesChart chart(c.ranges);
    ASSERT_EQ(chart.plot(c.ranges), chart_status::kOk);
    chart.canvas.clear();
    ASSERT_EQ(chart.draw(), chart_status::kOk);
    const RecordedOp box = legend_box(chart.canvas);
    const double left = 1800 + (6640 - c.columns * 2000) / 2.0;
    EXPECT_DOUBLE_EQ(box.points[0].x, left) << c.ranges;
    EXPECT_DOUBLE_EQ(box.points[1].x - box.points[0].x, c.columns * 2000) << c.ranges;
    EXPECT_DOUBLE_EQ(box.points[1].y - box.points[0].y, c.rows * 320) << c.ranges;
    // The last entry's title sits in its row and column.
    const int k = c.ranges;
    const auto title = chart.canvas.texts(std::string(chart.ranges.back().title.trimmed()));
    ASSERT_FALSE(title.empty());
    EXPECT_DOUBLE_EQ(title.back().points[0].x, left + ((k - 1) % c.columns) * 2000 + 432) << c.ranges;
    EXPECT_NEAR(title.back().points[0].y, 6672 + ((k - 1) / c.columns) * 320 + 160 - 14 * kUnitsY / 2, 1e-9);
  }
}

TEST(Legend, FilledRangesShowABox) {
  RangesChart chart(1);
  chart.ranges[0].fill_pattern = 1;
  chart.ranges[0].fill_colour = 4;
  ASSERT_EQ(chart.plot(1), chart_status::kOk);
  chart.canvas.clear();
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  bool found = false;
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kRectangle)) {
    if (op.fill == Fill::kFilled && op.colour == 4) {
      found = true;
      EXPECT_DOUBLE_EQ(op.points[0].x, legend_box(chart.canvas).points[0].x + 160);
    }
  }
  EXPECT_TRUE(found);
}

TEST(ChartStatus, LegendBeyondTheAnnouncedRangesGivesThree) {
  RangesChart chart(2);
  ASSERT_EQ(chart.plot(2), chart_status::kOk);
  ASSERT_EQ(chart.draw(), chart_status::kOk);
  chart.canvas.clear();
  EXPECT_EQ(chart.draw(), chart_status::kLegendFull);
  // The data were drawn again, the legend was not.
  EXPECT_FALSE(chart.canvas.ops_of(OpKind::kLine).empty());
  EXPECT_TRUE(chart.canvas.texts("Data Range 1").empty());
  EXPECT_EQ(chart.graph.legend_entries_drawn, 2);
}

TEST(ChartStatus, LegendFontThatCannotBeSelectedGivesTwo) {
  RangesChart chart(2);
  ASSERT_EQ(chart.plot(2), chart_status::kOk);
  chart.canvas.refuse_font(std::string(font_request(2)));
  EXPECT_EQ(chart.draw(), chart_status::kFontUnavailable);
}

}  // namespace
}  // namespace basinfit::plot
