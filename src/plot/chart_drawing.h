#pragma once
// Chart drawing: the graph frame, titles and axes (plot_graph), then the data ranges and
// their legend (plot_xy_ranges), on any Canvas.
//
// Geometry is computed in a virtual space 10240 units wide and 7680 high laid over the
// graph's viewport, origin top left, y downward; the canvas maps it to pixels.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/record_format.h"
#include "plot/canvas.h"
#include "plot/chart_settings.h"

namespace basinfit::plot {

// Virtual coordinate space and the fixed layout within it.
namespace chart_geometry {
inline constexpr double kWidth = 10240;
inline constexpr double kHeight = 7680;
inline constexpr double kBoxLeft = 1300;
inline constexpr double kBoxRight = 8940;
inline constexpr double kBoxTop = 1248;
inline constexpr double kBoxBottom = 6032;
inline constexpr double kCornerRadius = 128;
inline constexpr double kTitleY = 192;
inline constexpr double kMajorTick = 240;
inline constexpr double kMinorTick = 80;
inline constexpr double kLabelGap = 144;
inline constexpr double kAxisTitleGap = 288;
inline constexpr double kSquareMarkerHalf = 48;
inline constexpr double kMarkerHalf = 64;
inline constexpr double kOctagonDiagonal = 45.248;
inline constexpr double kErrorCapHalf = 80;
inline constexpr double kThickOffset = 16;
inline constexpr double kLegendTop = 6672;
inline constexpr double kLegendCellWidth = 2000;
inline constexpr double kLegendCellHeight = 320;
inline constexpr double kLegendSampleInset = 160;
inline constexpr double kLegendSampleLength = 240;
// The range title follows 272 after the start of the sample (32 beyond its end).
inline constexpr double kLegendTitleOffset = 272;
inline constexpr int kMaxLegendEntries = 8;
// A graph never walks more than this many tick points per axis.
inline constexpr int kMaxTickPoints = 10000;
}  // namespace chart_geometry

// Font number -> typeface request.  Numbers not listed select font 1.
std::string_view font_request(int font);

// Line type -> 16-bit dash mask (0 for type 0, no line) and whether it is drawn thick.
struct LineStyle {
  std::uint16_t mask = 0;
  bool thick = false;
};
LineStyle line_style(int line_type);

// Tick labels: the value written with an F10.d edit descriptor (d = decimals) into a
// 16-character field, trimmed of blanks.  The descriptor is built at run time, once per axis.
Format tick_label_format(int decimals);
std::string tick_label(const Format& label_format, double value);
std::string tick_label(double value, int decimals);

// Prepares the viewport, draws the frame, the titles and the axes, counts the graph as drawn
// and raises its legend capacity by `announced_ranges`.
// 0; 7 when axes or announced_ranges is below 1; 1 when the viewport cannot be set up;
// 2 when a font cannot be selected; 4 when the axes are invalid.
int plot_graph(ChartLibrary& library, Canvas& canvas, GraphRecord& graph, std::span<const AxisRecord> axes,
               int announced_ranges);

// Draws the data ranges against the X and Y axes, then one legend entry per range.
// 0; 8 when no graph has been drawn yet; 2 when a font cannot be selected; 6 when a range is
// malformed or `values` is too short for it; 4 when an axis cannot map values; 3 when the
// legend entries would exceed the ranges announced to plot_graph.
int plot_xy_ranges(Canvas& canvas, GraphRecord& graph, std::span<const float> values,
                   std::span<const DataRangeRecord> ranges, const AxisRecord& x_axis,
                   const AxisRecord& y_axis);

}  // namespace basinfit::plot
