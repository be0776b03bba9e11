#pragma once
// Chart settings: the graph, data-range and axis records, their defaults, and the automatic
// choice of axis bounds and tick steps.
//
// A client describes a chart with one GraphRecord, one DataRangeRecord per data range and
// one AxisRecord per axis, asks for defaults derived from its data, overrides what it wants
// and then draws (chart_drawing.h).  Every routine returns an integer status, 0 on success
// (see ChartStatus).  Colours are VGA palette indices (palette.h); fonts are the font
// numbers of chart_drawing.h.

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace basinfit::plot {

// Status codes shared by the settings and drawing routines.  Code 3 means a graph type the
// range defaults cannot serve, or (when drawing) more legend entries than were announced.
namespace chart_status {
inline constexpr int kOk = 0;
inline constexpr int kViewportFailed = 1;
inline constexpr int kFontUnavailable = 2;
inline constexpr int kWrongGraphType = 3;
inline constexpr int kLegendFull = 3;
inline constexpr int kInvalidAxis = 4;
inline constexpr int kEmptyAxisRange = 5;
inline constexpr int kInvalidRange = 6;
inline constexpr int kCountBelowOne = 7;
inline constexpr int kNoGraphDrawn = 8;
}  // namespace chart_status

// Blank-padded text of fixed length: assigning cuts or pads to N characters.
template <std::size_t N>
class FixedText {
 public:
  FixedText() { text_.fill(' '); }
  FixedText(std::string_view s) { assign(s); }  // NOLINT: titles read naturally as literals
  void assign(std::string_view s) {
    text_.fill(' ');
    for (std::size_t i = 0; i < N && i < s.size(); ++i) text_[i] = s[i];
  }
  FixedText& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  // All N characters, padding included.
  std::string_view view() const { return std::string_view(text_.data(), N); }
  // Without leading and trailing blanks.
  std::string_view trimmed() const {
    std::string_view v = view();
    const auto first = v.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = v.find_last_not_of(' ');
    return v.substr(first, last - first + 1);
  }
  friend bool operator==(const FixedText&, const FixedText&) = default;

 private:
  std::array<char, N> text_;
};

// Graph types: 1 to 3 one value per point (3 with an error value), 4 (x, y) pairs,
// 5 (x, y, error) triples, 6 polar.
namespace graph_type {
inline constexpr int kXy = 4;
inline constexpr int kXyError = 5;
inline constexpr int kPolar = 6;
}  // namespace graph_type

enum AxisKind : int { kAxisX = 0, kAxisY = 1, kAxisR = 2, kAxisTheta = 3 };
enum AxisScale : int { kLinear = 0, kLog10 = 1, kLogE = 2, kLog2 = 3 };
// Positions: edges of the plot box.
enum AxisPosition : int { kBottom = 1, kTop = 2, kLeft = 3, kRight = 4 };

struct GraphRecord {
  FixedText<40> title{"Graph"};
  int title_font = 1;
  int title_colour = 14;
  FixedText<40> subtitle;
  int subtitle_font = 2;
  int subtitle_colour = 7;
  int type = graph_type::kXy;
  int foreground_colour = 15;
  int background_colour = 1;
  int viewport_left = 0, viewport_top = 0, viewport_right = 639, viewport_bottom = 479;
  // 1: set the window to its default configuration before the first drawing.
  int reconfigure_window = 1;
  int spare1 = 0;
  int x_axes_defined = 0;  // counted by axis_defaults
  int y_axes_defined = 0;
  int graphs_drawn = 0;          // counted by plot_graph
  int ranges_announced = 0;      // legend capacity, raised by plot_graph
  int legend_entries_drawn = 0;  // counted by plot_xy_ranges
  int spare2 = 0, spare3 = 0;
};

struct DataRangeRecord {
  FixedText<20> title;
  int title_font = 2;
  int title_colour = 15;
  int marker_type = 1;
  int marker_colour = 15;
  int line_type = 1;
  int line_colour = 15;
  int fill_pattern = 0;
  int fill_colour = 0;
  int error_bar_type = 0;
  int error_bar_colour = 0;
  int data_layout = 1;   // 1 (x, y) data, 2 one value per point
  int column_order = 1;  // 1 natural, 0 the values of a point in reverse order
  int points = 0;
  int values_per_point = 2;
  double x_low = 0, x_high = 0, y_low = 0, y_high = 0;  // data extents
};

struct AxisRecord {
  FixedText<25> title;
  int title_font = 1;
  int title_colour = 14;
  int label_font = 6;
  int label_mode = 0;  // 0: labels of vertical axes written horizontally
  int position = kBottom;
  int kind = kAxisX;
  int colour = 15;
  int scale = kLinear;
  int spare = 0;
  double low = 0, high = 0;
  double step = 0;
  int decimals = 0;
  int tick_style = 3;  // 1 inside the plot box, 2 outside, 3 across the axis line
  int tick_colour = 15;
  int label_colour = 7;
  int minor_divisions = 5;  // intervals per step; 1 means no minor ticks
  int grid_style = 1;       // 0 or 3 none; 1 and 4 at major ticks; 2 and 5 also at minor ticks
  int grid_line_type = 5;
  int grid_colour = 15;
};

// The library's run-long state: the count of data ranges created so far (their default
// titles and colours follow it) and whether the window has been reset to its default
// configuration.  One object per output, kept for the whole run.
class ChartLibrary {
 public:
  int ranges_created() const { return ranges_created_; }
  // Advances the counter and returns the new range's number k (1 for the first).
  int next_range_number() { return ++ranges_created_; }
  bool window_reconfigured() const { return window_reconfigured_; }
  void mark_window_reconfigured() { window_reconfigured_ = true; }

 private:
  int ranges_created_ = 0;
  bool window_reconfigured_ = false;
};

// Colour of the k-th range created in the run (k from 1), and its marker type.
int range_colour(int k);
int range_marker_type(int k);

// Chart data: values indexed (value, point, range), the first index fastest, as the range
// records describe them (values_per_point values for each of `points` points per range).
struct ChartData {
  std::span<const float> values;
  int values_per_point = 2;
  int points = 0;
  // Value v (1-based: 1 x, 2 y, 3 error) of point p of range r, honouring the column order.
  float at(int v, int p, int r, int column_order = 1) const {
    const int column = column_order == 0 ? values_per_point + 1 - v : v;
    const std::size_t index = static_cast<std::size_t>(column - 1) +
                              static_cast<std::size_t>(values_per_point) *
                                  (static_cast<std::size_t>(p - 1) +
                                   static_cast<std::size_t>(points) * static_cast<std::size_t>(r - 1));
    return values[index];
  }
  bool holds(int ranges) const {
    return values_per_point > 0 && points > 0 && ranges > 0 &&
           values.size() >= static_cast<std::size_t>(values_per_point) * static_cast<std::size_t>(points) *
                                static_cast<std::size_t>(ranges);
  }
};

// Fills `graph` with the defaults for `type`.  Always 0.
int graph_defaults(int type, GraphRecord& graph);

// Fills one record per range with the defaults of the next ranges of the run and with the
// data extents.  `values` holds the points of every range (2 values per point, 3 for graph
// type 5).  0; 7 when points or ranges.size() is below 1; 3 for graph types 1 to 3; 6 when
// `values` is too short for the points and ranges.
int xy_range_defaults(ChartLibrary& library, const GraphRecord& graph, int points,
                      std::span<const float> values, std::span<DataRangeRecord> ranges);

// Fills `axis` with the defaults of an axis of `kind` and `scale` enclosing the ranges, and
// counts it in the graph.  0; 7 when ranges is empty; 4 for a kind or scale unknown or not
// fitting the graph type; 5 when the data give no extent or a logarithmic axis would start at
// 0 or below.
int axis_defaults(GraphRecord& graph, std::span<const DataRangeRecord> ranges, int kind, int scale,
                  AxisRecord& axis);

// The automatic bounds of a linear axis: `low` and `high` rounded outward to multiples of a
// power of ten, and the tick step.  Exposed for the axis-scaling tests.
struct LinearScale {
  double low = 0, high = 0, step = 0;
  int intervals = 0;
};
LinearScale linear_scale(double low, double high);

}  // namespace basinfit::plot
