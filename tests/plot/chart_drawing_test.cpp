// Chart drawing through the recording canvas: viewport, frame, titles, axes, ticks, grid,
// labels, data lines, markers, error bars, legend and the status codes.

#include "plot/chart_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "plot/recording_canvas.h"

namespace basinfit::plot {
namespace {

namespace g = chart_geometry;

// Virtual units per pixel of a 640 x 480 viewport.
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
  int announced = 2;  // data ranges announced to plot_graph
  Chart() {
    graph_defaults(graph_type::kXy, graph);
    axes = {make_axis(kAxisX, kBottom, 0, 100, 20), make_axis(kAxisY, kLeft, -10, 0, 2)};
  }
  int plot() { return plot_graph(library, canvas, graph, axes, announced); }
};

// Short vertical lines crossing height y: the ticks of a horizontal axis there.
std::vector<RecordedOp> ticks_across(const RecordingCanvas& canvas, double y) {
  std::vector<RecordedOp> found;
  for (const RecordedOp& op : canvas.ops_of(OpKind::kLine)) {
    const Point a = op.points[0], b = op.points[1];
    if (a.x == b.x && std::min(a.y, b.y) <= y && std::max(a.y, b.y) >= y && std::abs(b.y - a.y) <= 240) {
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

double x_at(double v, double low, double high) { return 1300 + 7640 * (v - low) / (high - low); }
double y_at(double v, double low, double high) { return 6032 - 4784 * (v - low) / (high - low); }

TEST(GraphViewport, IsFilledWithTheBackgroundThenGivenWindowCoordinates) {
  Chart chart;
  chart.graph.viewport_right = 599;
  chart.graph.viewport_bottom = 379;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto& ops = chart.canvas.ops();
  auto first = [&](OpKind kind) {
    return std::find_if(ops.begin(), ops.end(), [&](const RecordedOp& op) { return op.kind == kind; });
  };
  const auto viewport = first(OpKind::kViewport), fill = first(OpKind::kRectangle);
  const auto coords = first(OpKind::kWindowCoordinates);
  ASSERT_TRUE(viewport < fill && fill < coords) << "the fill uses viewport pixels";
  EXPECT_EQ(viewport->points[1], (Point{599, 379}));
  EXPECT_EQ(fill->fill, Fill::kFilled);
  EXPECT_EQ(fill->colour, 1);
  EXPECT_EQ(fill->points[1], (Point{599, 379}));
  EXPECT_EQ(coords->points[1], (Point{10240, 7680}));
  // The window is reset to its default configuration once per run, as the flag asks.
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  EXPECT_EQ(chart.canvas.ops_of(OpKind::kResetWindow).size(), 1u);
}

TEST(ChartStatus, PlotGraphReportsEachFailure) {
  struct Case {
    const char* what;
    std::function<void(Chart&)> change;
    int status;
  };
  const std::vector<Case> cases = {
      {"no ranges announced", [](Chart& c) { c.announced = 0; }, chart_status::kCountBelowOne},
      {"no axes", [](Chart& c) { c.axes.clear(); }, chart_status::kCountBelowOne},
      {"beyond the window", [](Chart& c) { c.graph.viewport_right = 640; }, chart_status::kViewportFailed},
      {"negative corner", [](Chart& c) { c.graph.viewport_top = -1; }, chart_status::kViewportFailed},
      {"no extent", [](Chart& c) { c.graph.viewport_bottom = 0; }, chart_status::kViewportFailed},
      {"no window", [](Chart& c) { c.canvas.set_size(std::nullopt); }, chart_status::kViewportFailed},
      {"reset fails", [](Chart& c) { c.canvas.set_reset_fails(true); }, chart_status::kViewportFailed},
      {"title font", [](Chart& c) { c.canvas.refuse_font("t'Courier New'h20w10"); },
       chart_status::kFontUnavailable},
      {"label font", [](Chart& c) { c.canvas.refuse_font("t'Small Fonts'h11w5"); },
       chart_status::kFontUnavailable},
      {"one axis", [](Chart& c) { c.axes.pop_back(); }, chart_status::kInvalidAxis},
      {"five axes", [](Chart& c) { c.axes.resize(5, c.axes[0]); }, chart_status::kInvalidAxis},
      {"X on the left", [](Chart& c) { c.axes[0].position = kLeft; }, chart_status::kInvalidAxis},
      {"Y on top", [](Chart& c) { c.axes[1].position = kTop; }, chart_status::kInvalidAxis},
      {"same position", [](Chart& c) { c.axes.push_back(c.axes[0]); }, chart_status::kInvalidAxis},
      {"high not above low", [](Chart& c) { c.axes[0].high = 0; }, chart_status::kInvalidAxis},
      {"step 0", [](Chart& c) { c.axes[1].step = 0; }, chart_status::kInvalidAxis},
      {"polar graph", [](Chart& c) { c.graph.type = graph_type::kPolar; }, chart_status::kInvalidAxis},
      // Beyond the listed checks: values that would divide by zero, walk without end or
      // build an unreadable label format.
      {"no minor division", [](Chart& c) { c.axes[0].minor_divisions = 0; }, chart_status::kInvalidAxis},
      {"tiny step", [](Chart& c) { c.axes[0].step = 1e-9; }, chart_status::kInvalidAxis},
      {"negative decimals", [](Chart& c) { c.axes[0].decimals = -1; }, chart_status::kInvalidAxis},
      {"log from 0", [](Chart& c) { c.axes[0].scale = kLog10; }, chart_status::kInvalidAxis},
  };
  for (const Case& c : cases) {
    Chart chart;
    c.change(chart);
    EXPECT_EQ(chart.plot(), c.status) << c.what;
    EXPECT_EQ(chart.graph.graphs_drawn, 0) << c.what;
    // Axes are all checked before any is drawn: no tick reached the canvas.
    if (c.status == chart_status::kInvalidAxis) {
      EXPECT_TRUE(ticks_across(chart.canvas, 6032).empty()) << c.what;
    }
  }
}

TEST(GraphFrame, HasRoundedCorners) {
  Chart chart;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto rectangles = chart.canvas.ops_of(OpKind::kRectangle);
  ASSERT_GE(rectangles.size(), 6u);
  EXPECT_EQ(rectangles[1].points, (std::vector<Point>{{0, 0}, {10240, 7680}}));
  EXPECT_EQ(rectangles[1].colour, 15);
  for (std::size_t i = 2; i < 6; ++i) {  // corner squares erased in the background colour
    EXPECT_EQ(rectangles[i].colour, 1);
    EXPECT_EQ(std::abs(rectangles[i].points[1].x - rectangles[i].points[0].x), 128);
    EXPECT_EQ(std::abs(rectangles[i].points[1].y - rectangles[i].points[0].y), 128);
  }
  std::vector<Point> centres;  // circles of radius 128 on the corners, in the foreground colour
  for (const RecordedOp& c : chart.canvas.ops_of(OpKind::kEllipse)) {
    EXPECT_EQ(c.colour, 15);
    EXPECT_EQ(c.points[1].x - c.points[0].x, 256);
    centres.push_back({(c.points[0].x + c.points[1].x) / 2, (c.points[0].y + c.points[1].y) / 2});
  }
  EXPECT_EQ(centres, (std::vector<Point>{{0, 0}, {10240, 0}, {0, 7680}, {10240, 7680}}));
}

TEST(GraphTitles, AreCentredWithoutSurroundingBlanks) {
  Chart chart;
  chart.graph.title = "  Station: 7 ";
  chart.graph.subtitle = "Fit";
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto title = chart.canvas.texts("Station: 7");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_EQ(title[0].points[0], (Point{5120 - 10 * 10 * kUnitsX / 2, 192}));  // font 1: 10 pixels wide
  EXPECT_EQ(title[0].colour, 14);
  const auto subtitle = chart.canvas.texts("Fit");
  ASSERT_EQ(subtitle.size(), 1u);
  EXPECT_EQ(subtitle[0].points[0], (Point{5120 - 3 * 9 * kUnitsX / 2, 8 * 20 + 320}));  // title font 20 high
  EXPECT_EQ(subtitle[0].colour, 7);
}

TEST(GraphAxes, BoxIsClosedWhenOppositeEdgesHaveNoAxis) {
  Chart chart;
  chart.axes[0].position = kTop;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  EXPECT_TRUE(has_line(chart.canvas, {1300, 1248}, {8940, 1248}));
  EXPECT_TRUE(has_line(chart.canvas, {1300, 6032}, {8940, 6032}));
  EXPECT_TRUE(has_line(chart.canvas, {8940, 1248}, {8940, 6032}));
}

TEST(GraphAxes, MajorTicksStopAtTheLastWholeStepInsideTheBox) {
  for (const double high : {180.0, 190.0}) {  // 190 / 25 rounds up to 8 intervals: 200 is outside
    Chart chart;
    chart.axes[0] = make_axis(kAxisX, kBottom, 0, high, 25);
    chart.axes[0].grid_style = 1;
    ASSERT_EQ(chart.plot(), chart_status::kOk);
    const auto ticks = ticks_across(chart.canvas, 6032);
    ASSERT_EQ(ticks.size(), 8u) << high;  // 0, 25, ..., 175
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      EXPECT_NEAR(ticks[i].points[0].x, x_at(25.0 * i, 0, high), 1e-9);
      EXPECT_EQ(ticks[i].points[1].y - ticks[i].points[0].y, 240);  // outward, major
    }
    EXPECT_EQ(chart.canvas.texts("175.0").size(), 1u);
    EXPECT_TRUE(chart.canvas.texts("200.0").empty());
    for (const RecordedOp& line : chart.canvas.ops_of(OpKind::kLine))
      EXPECT_LE(line.points[1].x, 8940 + 1e-6);
  }
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
    const auto ticks = ticks_across(chart.canvas, 6032);
    ASSERT_EQ(ticks.size(), 21u) << c.style;  // 4 steps of 5 divisions, both ends
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      const double top = std::min(ticks[i].points[0].y, ticks[i].points[1].y);
      const double bottom = std::max(ticks[i].points[0].y, ticks[i].points[1].y);
      EXPECT_NEAR(ticks[i].points[0].x, x_at(5.0 * i, 0, 100), 1e-9);
      EXPECT_EQ(bottom - top, i % 5 == 0 ? 240 : 80) << i;
      if (i % 5 == 0) {
        EXPECT_EQ((std::pair{top, bottom}), (std::pair{c.from, c.to})) << c.style;
      }
    }
  }
}

TEST(GraphAxes, GridLinesAtInteriorMajorTicksInTheGridStyle) {
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 100, 25, 5);
  chart.axes[0].grid_style = 1;
  chart.axes[0].grid_colour = 14;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  std::vector<double> grid_x;
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) {
    if (op.points[0].y == 1248 && op.points[1].y == 6032 && op.colour == 14) {
      grid_x.push_back(op.points[0].x);
      EXPECT_EQ(op.mask, 0xAAAA);  // line type 5, dotted
    }
  }
  EXPECT_EQ(grid_x, (std::vector<double>{x_at(25, 0, 100), x_at(50, 0, 100), x_at(75, 0, 100)}));
}

TEST(TickLabels, AreF10FieldsTrimmed) {
  EXPECT_EQ(tick_label(25, 1), "25.0");
  EXPECT_EQ(tick_label(-900, 2), "-900.00");
  EXPECT_EQ(tick_label(0.5, 3), "0.500");
  EXPECT_EQ(tick_label(175, 0), "175.");
  EXPECT_EQ(tick_label(123456789.0, 2), "**********");  // too wide for ten columns
}

TEST(TickLabels, SitBeyondTheTicksInTheLabelFontAndColour) {
  Chart chart;
  chart.axes[0] = make_axis(kAxisX, kBottom, 0, 180, 25);
  chart.axes[0].label_colour = 7;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  // Small Fonts: 5 x 11 pixels; X labels centred on the tick, 144 below its outer end.
  const auto label = chart.canvas.texts("25.0");
  ASSERT_EQ(label.size(), 1u);
  EXPECT_NEAR(label[0].points[0].x, x_at(25, 0, 180) - 4 * 5 * kUnitsX / 2, 1e-9);
  EXPECT_EQ(label[0].points[0].y, 6032 + 240 + 144);
  EXPECT_EQ(label[0].font, font_request(6));
  EXPECT_EQ(label[0].colour, 7);
  // Left Y axis: labels end 144 beyond the tick, centred on it; label mode 1 turns them.
  const auto y_label = chart.canvas.texts("-4.0");
  ASSERT_EQ(y_label.size(), 1u);
  EXPECT_EQ(y_label[0].points[0],
            (Point{1300 - 240 - 144 - 4 * 5 * kUnitsX, y_at(-4, -10, 0) - 11 * kUnitsY / 2}));
  Chart turned;
  turned.axes[1].label_mode = 1;
  ASSERT_EQ(turned.plot(), chart_status::kOk);
  ASSERT_EQ(turned.canvas.texts("-4.0").size(), 1u);
  EXPECT_TRUE(turned.canvas.texts("-4.0")[0].vertical);
  EXPECT_EQ(turned.canvas.texts("-4.0")[0].points[0].y, y_at(-4, -10, 0) + 4 * 5 * kUnitsY / 2);
}

TEST(AxisTitles, CentredBeyondTheLabelsRotatedOrStackedOnVerticalAxes) {
  Chart chart;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  const auto x_title = chart.canvas.texts("Distance");
  ASSERT_EQ(x_title.size(), 1u);
  EXPECT_EQ(x_title[0].points[0], (Point{5120 - 8 * 10 * kUnitsX / 2, 6032 + 240 + 144 + 288}));
  const auto y_title = chart.canvas.texts("Height");
  ASSERT_EQ(y_title.size(), 1u);
  EXPECT_TRUE(y_title[0].vertical);
  EXPECT_EQ(y_title[0].points[0].y, 3640 + 6 * 10 * kUnitsY / 2);
  EXPECT_LT(y_title[0].points[0].x, 1300 - 240 - 144 - 288);

  Chart stacked;  // a canvas that cannot rotate text: one character under the other
  stacked.canvas.set_can_rotate(false);
  ASSERT_EQ(stacked.plot(), chart_status::kOk);
  double previous_y = 3640 - 3 * 20 * kUnitsY - 20 * kUnitsY;
  for (const char* c : {"H", "e", "i", "g", "h", "t"}) {
    const auto letter = stacked.canvas.texts(c);
    ASSERT_FALSE(letter.empty()) << c;
    EXPECT_EQ(letter.back().points[0].y - previous_y, 20 * kUnitsY) << c;
    EXPECT_EQ(letter.back().points[0].x, stacked.canvas.texts("H").back().points[0].x) << c;
    previous_y = letter.back().points[0].y;
  }
}

TEST(ChartColours, RequestsOutsideThePaletteAreClamped) {
  Chart chart;
  chart.axes[0].colour = 99;
  chart.axes[1].colour = -4;
  ASSERT_EQ(chart.plot(), chart_status::kOk);
  for (const RecordedOp& op : chart.canvas.ops_of(OpKind::kLine)) {
    if (op.points[0] == Point{1300, 6032} && op.points[1] == Point{8940, 6032}) {
      EXPECT_EQ(op.colour, 15);
    }
    if (op.points[0] == Point{1300, 1248} && op.points[1] == Point{1300, 6032}) {
      EXPECT_EQ(op.colour, 0);
    }
  }
  EXPECT_EQ(chart.graph.graphs_drawn, 1);
  EXPECT_EQ(chart.graph.ranges_announced, 2);
}

// ---- data ranges ---------------------------------------------------------------------------

struct RangesChart : Chart {
  std::vector<float> values;
  std::vector<DataRangeRecord> ranges;
  // `count` ranges of the points (0, -2), (50, -6), (100, -4), shifted down by 1 per range.
  explicit RangesChart(int count, int type = graph_type::kXy) {
    graph.type = type;
    for (int r = 0; r < count; ++r) {
      for (const auto& [x, y] : {std::pair{0.f, -2.f}, {50.f, -6.f}, {100.f, -4.f}}) {
        values.insert(values.end(), {x, y - static_cast<float>(r)});
        if (type == graph_type::kXyError) values.push_back(1.f);
      }
    }
    ranges.resize(static_cast<std::size_t>(count));
    EXPECT_EQ(xy_range_defaults(library, graph, 3, values, ranges), chart_status::kOk);
  }
  int draw() { return plot_xy_ranges(canvas, graph, values, ranges, axes[0], axes[1]); }
  // Draws the graph, forgets its operations, then draws the ranges.
  int draw_on_graph(int ranges_announced = 2) {
    announced = ranges_announced;
    EXPECT_EQ(plot(), chart_status::kOk);
    canvas.clear();
    return draw();
  }
};

TEST(ChartStatus, PlotXyRangesReportsEachFailure) {
  RangesChart before_graph(2);
  EXPECT_EQ(before_graph.draw(), chart_status::kNoGraphDrawn);
  EXPECT_TRUE(before_graph.canvas.ops().empty());
  struct Case {
    const char* what;
    std::function<void(RangesChart&)> change;
    int status;
  };
  const std::vector<Case> cases = {
      {"no points", [](RangesChart& c) { c.ranges[1].points = 0; }, chart_status::kInvalidRange},
      {"4 values", [](RangesChart& c) { c.ranges[0].values_per_point = 4; }, chart_status::kInvalidRange},
      {"array too short", [](RangesChart& c) { c.values.resize(10); }, chart_status::kInvalidRange},
      {"empty Y axis", [](RangesChart& c) { c.axes[1].high = c.axes[1].low; }, chart_status::kInvalidAxis},
      {"legend font", [](RangesChart& c) { c.canvas.refuse_font("t'Courier New'h14w9"); },
       chart_status::kFontUnavailable},
  };
  for (const Case& c : cases) {
    RangesChart chart(2);
    ASSERT_EQ(chart.plot(), chart_status::kOk);
    c.change(chart);
    EXPECT_EQ(chart.draw(), c.status) << c.what;
  }
  // A second call after the announced ranges were used draws the data but no legend.
  RangesChart twice(2);
  ASSERT_EQ(twice.draw_on_graph(), chart_status::kOk);
  twice.canvas.clear();
  EXPECT_EQ(twice.draw(), chart_status::kLegendFull);
  EXPECT_FALSE(twice.canvas.ops_of(OpKind::kLine).empty());
  EXPECT_TRUE(twice.canvas.texts("Data Range 1").empty());
  EXPECT_EQ(twice.graph.legend_entries_drawn, 2);
}

TEST(DataLines, JoinPointsInOrderInTheLineColour) {
  RangesChart chart(1);
  chart.ranges[0].line_colour = 2;
  chart.ranges[0].marker_type = 0;
  ASSERT_EQ(chart.draw_on_graph(), chart_status::kOk);
  const auto lines = chart.canvas.ops_of(OpKind::kLine);
  ASSERT_GE(lines.size(), 2u);
  const double xs[] = {0, 50, 100}, ys[] = {-2, -6, -4};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NEAR(lines[i].points[0].x, x_at(xs[i], 0, 100), 1e-9);
    EXPECT_NEAR(lines[i].points[0].y, y_at(ys[i], -10, 0), 1e-9);
    EXPECT_NEAR(lines[i].points[1].x, x_at(xs[i + 1], 0, 100), 1e-9);
    EXPECT_NEAR(lines[i].points[1].y, y_at(ys[i + 1], -10, 0), 1e-9);
    EXPECT_EQ(lines[i].colour, 2);
    EXPECT_EQ(lines[i].mask, kSolidMask);
  }
  // Column order 0 reads each point's values in reverse: (y, x) storage plots the same.
  RangesChart reversed(1);
  reversed.values = {-2, 0, -6, 50, -4, 100};
  reversed.ranges[0].column_order = 0;
  ASSERT_EQ(reversed.draw_on_graph(), chart_status::kOk);
  EXPECT_NEAR(reversed.canvas.ops_of(OpKind::kLine)[0].points[1].y, y_at(-6, -10, 0), 1e-9);
}

TEST(DataLines, LineTypesSelectMasksAndThickness) {
  const std::uint16_t masks[] = {0xFFFF, 0xEEEE, 0xECEC, 0xECCC, 0xAAAA};
  EXPECT_EQ(line_style(0).mask, 0);
  for (int type = 1; type <= 10; ++type) {
    EXPECT_EQ(line_style(type).mask, masks[(type - 1) % 5]) << type;
    EXPECT_EQ(line_style(type).thick, type > 5) << type;
  }
  RangesChart chart(1);
  chart.ranges[0].line_type = 6;  // thick solid
  chart.ranges[0].marker_type = 0;
  ASSERT_EQ(chart.draw_on_graph(), chart_status::kOk);
  const auto lines = chart.canvas.ops_of(OpKind::kLine);
  ASSERT_GE(lines.size(), 6u);
  // The first segment three times: on its path and 16 units to either side across it.
  const Point a = lines[0].points[0], b = lines[0].points[1];
  for (std::size_t i : {1u, 2u}) {
    const Point c = lines[i].points[0];
    const double across =
        ((c.x - a.x) * (b.y - a.y) - (c.y - a.y) * (b.x - a.x)) / std::hypot(b.x - a.x, b.y - a.y);
    EXPECT_NEAR(std::abs(across), 16, 1e-9);
  }
}

TEST(DataMarkers, ShapesAndSizesAtEveryPoint) {
  struct Case {
    int type;
    OpKind kind;
    Fill fill;
    double half;
  };
  for (const Case c :
       {Case{1, OpKind::kRectangle, Fill::kBorder, 48}, Case{7, OpKind::kRectangle, Fill::kFilled, 48},
        Case{4, OpKind::kEllipse, Fill::kBorder, 64}, Case{2, OpKind::kPolygon, Fill::kBorder, 64},
        Case{9, OpKind::kPolygon, Fill::kFilled, 64}, Case{10, OpKind::kPolygon, Fill::kFilled, 64}}) {
    RangesChart chart(1);
    chart.ranges[0].marker_type = c.type;
    chart.ranges[0].marker_colour = 13;
    chart.ranges[0].line_type = 0;
    ASSERT_EQ(chart.draw_on_graph(1), chart_status::kOk);
    const auto shapes = chart.canvas.ops_of(c.kind);
    ASSERT_GE(shapes.size(), 3u) << c.type;
    for (std::size_t p = 0; p < 3; ++p) {
      double min_x = 1e9, max_x = -1e9;
      for (const Point& v : shapes[p].points) {
        min_x = std::min(min_x, v.x);
        max_x = std::max(max_x, v.x);
      }
      EXPECT_EQ(shapes[p].fill, c.fill) << c.type;
      EXPECT_EQ(shapes[p].colour, 13) << c.type;
      EXPECT_NEAR((max_x - min_x) / 2, c.half, 1e-9) << c.type;
      EXPECT_NEAR((max_x + min_x) / 2, x_at(50.0 * p, 0, 100), 1e-9) << c.type;
    }
    if (c.type == 10) {  // octagon: vertices at 64 on the axes and 45.248 on the diagonals
      const Point centre{x_at(0, 0, 100), y_at(-2, -10, 0)};
      EXPECT_NEAR(shapes[0].points[1].x - centre.x, 45.248, 1e-9);
      EXPECT_NEAR(shapes[0].points[1].y - centre.y, 45.248, 1e-9);
      EXPECT_NEAR(shapes[0].points[2].y - centre.y, 64, 1e-9);
    }
  }
}

TEST(ErrorBars, SpanTheErrorWithCaps) {
  RangesChart chart(1, graph_type::kXyError);
  chart.ranges[0].marker_type = 0;
  chart.ranges[0].line_type = 0;
  chart.ranges[0].error_bar_colour = 12;
  ASSERT_EQ(chart.draw_on_graph(), chart_status::kOk);
  const double x = x_at(50, 0, 100), low = y_at(-7, -10, 0), high = y_at(-5, -10, 0);
  EXPECT_TRUE(has_line(chart.canvas, {x, low}, {x, high}));
  EXPECT_TRUE(has_line(chart.canvas, {x - 80, low}, {x + 80, low}));
  EXPECT_TRUE(has_line(chart.canvas, {x - 80, high}, {x + 80, high}));
  EXPECT_EQ(chart.canvas.ops_of(OpKind::kLine)[0].colour, 12);
}

// The bordered rectangle drawn below the plot box.
RecordedOp legend_box(const RecordingCanvas& canvas) {
  for (const RecordedOp& op : canvas.ops_of(OpKind::kRectangle)) {
    if (op.fill == Fill::kBorder && op.points[0].y == g::kLegendTop) return op;
  }
  ADD_FAILURE() << "no legend box";
  return {};
}

TEST(Legend, TwoRangesMakeOneRowFourThousandWide) {
  RangesChart chart(2);
  ASSERT_EQ(chart.draw_on_graph(), chart_status::kOk);
  const RecordedOp box = legend_box(chart.canvas);
  EXPECT_EQ(box.points, (std::vector<Point>{{3120, 6672}, {7120, 6992}}));
  EXPECT_EQ(box.colour, 15);
  // Samples 160 into each cell, 240 long; titles 272 after the sample start.
  EXPECT_TRUE(has_line(chart.canvas, {3280, 6832}, {3520, 6832}));
  EXPECT_TRUE(has_line(chart.canvas, {5280, 6832}, {5520, 6832}));
  const auto first = chart.canvas.texts("Data Range 1");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].points[0], (Point{3280 + 272, 6832 - 14 * kUnitsY / 2}));  // font 2, 14 high
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
    ASSERT_EQ(chart.draw_on_graph(c.ranges), chart_status::kOk);
    const RecordedOp box = legend_box(chart.canvas);
    const double left = 1800 + (6640 - c.columns * 2000) / 2.0;
    EXPECT_EQ(box.points[0].x, left) << c.ranges;
    EXPECT_EQ(box.points[1].x - box.points[0].x, c.columns * 2000) << c.ranges;
    EXPECT_EQ(box.points[1].y - box.points[0].y, c.rows * 320) << c.ranges;
    // The last entry sits in its row and column.
    const int k = c.ranges;
    const auto title = chart.canvas.texts(std::string(chart.ranges.back().title.trimmed()));
    ASSERT_FALSE(title.empty());
    EXPECT_EQ(title.back().points[0].x, left + ((k - 1) % c.columns) * 2000 + 432) << c.ranges;
    EXPECT_NEAR(title.back().points[0].y, 6672 + ((k - 1) / c.columns) * 320 + 160 - 7 * kUnitsY, 1e-9);
  }
}

}  // namespace
}  // namespace basinfit::plot
