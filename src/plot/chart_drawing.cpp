#include "plot/chart_drawing.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "common/record_format.h"
#include "plot/palette.h"

namespace basinfit::plot {
namespace {

using namespace chart_geometry;

// Virtual units per pixel of the graph's viewport, for turning text metrics into layout.
struct UnitsPerPixel {
  double x = 1;
  double y = 1;
};

UnitsPerPixel units_per_pixel(const GraphRecord& graph) {
  const double width = graph.viewport_right - graph.viewport_left + 1;
  const double height = graph.viewport_bottom - graph.viewport_top + 1;
  return {kWidth / width, kHeight / height};
}

void set_colour(Canvas& canvas, int requested) { canvas.set_colour(palette_index(requested)); }

Point offset(Point p, double dx, double dy) { return {p.x + dx, p.y + dy}; }

// A line in a line type; thick types are drawn three times, on the path and 16 units to
// either side across it.
void styled_line(Canvas& canvas, Point from, Point to, const LineStyle& style) {
  if (style.mask == 0) return;
  canvas.set_line_mask(style.mask);
  canvas.line(from, to);
  if (!style.thick) return;
  const double dx = to.x - from.x;
  const double dy = to.y - from.y;
  const double length = std::hypot(dx, dy);
  if (length == 0) return;
  const double nx = -dy / length * kThickOffset;
  const double ny = dx / length * kThickOffset;
  canvas.line(offset(from, nx, ny), offset(to, nx, ny));
  canvas.line(offset(from, -nx, -ny), offset(to, -nx, -ny));
}

void draw_marker(Canvas& canvas, int type, Point at) {
  const double s = kSquareMarkerHalf;
  const double m = kMarkerHalf;
  const double d = kOctagonDiagonal;
  const Fill fill = type >= 7 ? Fill::kFilled : Fill::kBorder;
  switch (type) {
    case 1:
    case 7:
      canvas.rectangle(fill, offset(at, -s, -s), offset(at, s, s));
      break;
    case 2:
    case 8: {
      const std::array<Point, 3> triangle = {offset(at, 0, -m), offset(at, m, m), offset(at, -m, m)};
      canvas.polygon(fill, triangle);
      break;
    }
    case 3:
    case 9: {
      const std::array<Point, 4> diamond = {offset(at, 0, -m), offset(at, m, 0), offset(at, 0, m),
                                            offset(at, -m, 0)};
      canvas.polygon(fill, diamond);
      break;
    }
    case 4:
      canvas.ellipse(Fill::kBorder, offset(at, -m, -m), offset(at, m, m));
      break;
    case 5:
      canvas.line(offset(at, -m, 0), offset(at, m, 0));
      canvas.line(offset(at, 0, -m), offset(at, 0, m));
      break;
    case 6:
      canvas.line(offset(at, -m, -m), offset(at, m, m));
      canvas.line(offset(at, -m, m), offset(at, m, -m));
      break;
    case 10: {
      const std::array<Point, 8> octagon = {offset(at, m, 0),  offset(at, d, d),  offset(at, 0, m),
                                            offset(at, -d, d), offset(at, -m, 0), offset(at, -d, -d),
                                            offset(at, 0, -m), offset(at, d, -d)};
      canvas.polygon(Fill::kFilled, octagon);
      break;
    }
    default:
      break;  // 0 and unknown types: no marker
  }
}

// Text centred horizontally on centre_x with its top at top_y.
void centred_text(Canvas& canvas, std::string_view text, double centre_x, double top_y, UnitsPerPixel units) {
  if (text.empty()) return;
  const double width = canvas.text_width(text) * units.x;
  canvas.text({centre_x - width / 2, top_y}, text);
}

// Width of the column that vertical_text needs for `text`.
double vertical_text_width(Canvas& canvas, std::string_view text, UnitsPerPixel units) {
  if (canvas.can_rotate_text()) return canvas.character_height() * units.x;
  double widest = 0;
  for (char c : text) widest = std::max(widest, canvas.text_width(std::string_view(&c, 1)) * units.x);
  return widest;
}

// Text running upward in a column whose left edge is `left` and whose middle is at centre_y:
// rotated where the canvas can rotate, otherwise one character under the other, each centred
// on the column.
void vertical_text(Canvas& canvas, std::string_view text, double left, double centre_y, UnitsPerPixel units) {
  if (text.empty()) return;
  if (canvas.can_rotate_text()) {
    const double length = canvas.text_width(text) * units.y;
    canvas.text({left, centre_y + length / 2}, text, true);
    return;
  }
  const double column = vertical_text_width(canvas, text, units);
  const double line_height = canvas.character_height() * units.y;
  double top = centre_y - line_height * static_cast<double>(text.size()) / 2;
  for (char c : text) {
    const std::string_view one(&c, 1);
    const double width = canvas.text_width(one) * units.x;
    canvas.text({left + (column - width) / 2, top}, one);
    top += line_height;
  }
}

// Maps axis values to positions along the plot box, on the axis's scale.
class AxisMapping {
 public:
  explicit AxisMapping(const AxisRecord& axis)
      : axis_(axis),
        low_(transform(axis.low).value_or(0)),
        high_(transform(axis.high).value_or(0)),
        horizontal_(axis.kind == kAxisX || axis.kind == kAxisR) {}

  // Linear value, or its logarithm on logarithmic scales (nullopt for values at or below 0).
  std::optional<double> transform(double v) const {
    switch (axis_.scale) {
      case kLinear:
        return v;
      case kLog10:
        return v > 0 ? std::optional(std::log10(v)) : std::nullopt;
      case kLogE:
        return v > 0 ? std::optional(std::log(v)) : std::nullopt;
      case kLog2:
        return v > 0 ? std::optional(std::log2(v)) : std::nullopt;
      default:
        return std::nullopt;
    }
  }
  double untransform(double t) const {
    switch (axis_.scale) {
      case kLog10:
        return std::pow(10.0, t);
      case kLogE:
        return std::exp(t);
      case kLog2:
        return std::exp2(t);
      default:
        return t;
    }
  }
  // Fraction of the axis length at transformed value t.
  double fraction(double t) const { return (t - low_) / (high_ - low_); }
  double position_of_transformed(double t) const {
    return horizontal_ ? kBoxLeft + (kBoxRight - kBoxLeft) * fraction(t)
                       : kBoxBottom - (kBoxBottom - kBoxTop) * fraction(t);
  }
  std::optional<double> position(double v) const {
    const auto t = transform(v);
    if (!t) return std::nullopt;
    return position_of_transformed(*t);
  }
  // An axis maps values only when its (transformed) bounds are finite and increasing.
  bool usable() const {
    return transform(axis_.low) && transform(axis_.high) && std::isfinite(low_) && std::isfinite(high_) &&
           high_ > low_;
  }
  double low() const { return low_; }
  double high() const { return high_; }
  bool horizontal() const { return horizontal_; }

 private:
  const AxisRecord& axis_;
  double low_, high_;
  bool horizontal_;
};

int major_intervals(const AxisMapping& map, const AxisRecord& axis) {
  return static_cast<int>(std::lround((map.high() - map.low()) / axis.step));
}

bool axis_valid(const AxisRecord& axis) {
  if (axis.kind == kAxisX) {
    if (axis.position != kBottom && axis.position != kTop) return false;
  } else if (axis.kind == kAxisY) {
    if (axis.position != kLeft && axis.position != kRight) return false;
  } else {
    return false;  // polar axes are not drawn by this library
  }
  if (axis.scale < kLinear || axis.scale > kLog2) return false;
  const AxisMapping map(axis);
  if (!map.usable()) return false;
  if (!(axis.step > 0) || !std::isfinite(axis.step)) return false;
  if (axis.minor_divisions < 1 || axis.decimals < 0 || axis.decimals > 99) return false;
  // A step tiny against the axis would walk without end.
  const double intervals = (map.high() - map.low()) / axis.step;
  return intervals * axis.minor_divisions <= kMaxTickPoints;
}

// Extent of a tick across the axis line: from `inner` (toward the plot box) to `outer`.
struct TickSpan {
  double inner, outer;
};
TickSpan tick_span(int style, double length) {
  switch (style) {
    case 1:
      return {length, 0};
    case 2:
      return {0, length};
    default:
      return {length / 2, length / 2};
  }
}

int draw_axis(Canvas& canvas, const GraphRecord& graph, const AxisRecord& axis,
              const std::array<bool, 5>& occupied) {
  const UnitsPerPixel units = units_per_pixel(graph);
  const AxisMapping map(axis);
  const bool horizontal = map.horizontal();
  // Outward direction and the coordinate of the axis line.
  const double edge = axis.position == kBottom ? kBoxBottom
                      : axis.position == kTop  ? kBoxTop
                      : axis.position == kLeft ? kBoxLeft
                                               : kBoxRight;
  const double outward = (axis.position == kBottom || axis.position == kRight) ? 1.0 : -1.0;

  auto edge_line = [&](int position) {
    switch (position) {
      case kBottom:
        canvas.line({kBoxLeft, kBoxBottom}, {kBoxRight, kBoxBottom});
        break;
      case kTop:
        canvas.line({kBoxLeft, kBoxTop}, {kBoxRight, kBoxTop});
        break;
      case kLeft:
        canvas.line({kBoxLeft, kBoxTop}, {kBoxLeft, kBoxBottom});
        break;
      default:
        canvas.line({kBoxRight, kBoxTop}, {kBoxRight, kBoxBottom});
        break;
    }
  };
  set_colour(canvas, axis.colour);
  canvas.set_line_mask(kSolidMask);
  edge_line(axis.position);
  const int opposite = axis.position == kBottom ? kTop
                       : axis.position == kTop  ? kBottom
                       : axis.position == kLeft ? kRight
                                                : kLeft;
  if (!occupied[static_cast<std::size_t>(opposite)]) edge_line(opposite);

  // Tick points: every minor_divisions-th is major.  Points past the axis end (when the
  // rounded count of intervals overshoots a high bound that is not on a step) are left out,
  // so nothing is drawn outside the plot box.
  const int minor = axis.minor_divisions;
  const int points = major_intervals(map, axis) * minor;
  const double minor_step = axis.step / minor;
  struct Tick {
    double value;  // on the axis's scale (logarithm for logarithmic axes)
    double position;
    bool major;
    int index;
  };
  std::vector<Tick> ticks;
  for (int i = 0; i <= points; ++i) {
    const double t = map.low() + i * minor_step;
    if (map.fraction(t) > 1 + 1e-9) break;
    ticks.push_back({t, map.position_of_transformed(t), i % minor == 0, i});
  }

  auto across = [&](double position, double from, double to) {
    if (horizontal) {
      canvas.line({position, from}, {position, to});
    } else {
      canvas.line({from, position}, {to, position});
    }
  };

  // Grid lines across the whole box: at interior major ticks unless the style is 0 or 3,
  // and also at minor ticks for styles 2 and 5.
  const bool major_grid = axis.grid_style != 0 && axis.grid_style != 3;
  const bool minor_grid = axis.grid_style == 2 || axis.grid_style == 5;
  if (major_grid || minor_grid) {
    set_colour(canvas, axis.grid_colour);
    const LineStyle grid = line_style(axis.grid_line_type);
    for (const Tick& tick : ticks) {
      const bool wanted = tick.major ? (major_grid && tick.index != 0 && tick.index != points) : minor_grid;
      if (!wanted) continue;
      if (horizontal) {
        styled_line(canvas, {tick.position, kBoxTop}, {tick.position, kBoxBottom}, grid);
      } else {
        styled_line(canvas, {kBoxLeft, tick.position}, {kBoxRight, tick.position}, grid);
      }
    }
  }

  set_colour(canvas, axis.tick_colour);
  canvas.set_line_mask(kSolidMask);
  for (const Tick& tick : ticks) {
    const TickSpan span = tick_span(axis.tick_style, tick.major ? kMajorTick : kMinorTick);
    across(tick.position, edge - outward * span.inner, edge + outward * span.outer);
  }

  // Labels at the major ticks, 144 beyond the outer end of a major tick.
  if (!canvas.select_font(font_request(axis.label_font))) return chart_status::kFontUnavailable;
  set_colour(canvas, axis.label_colour);
  const Format label_format = tick_label_format(axis.decimals);
  const double label_distance = tick_span(axis.tick_style, kMajorTick).outer + kLabelGap;
  const double label_base = edge + outward * label_distance;
  const double label_height = canvas.character_height() * units.y;
  double label_depth = 0;  // extent of the labels away from the axis (vertical axes)
  const bool vertical_labels = !horizontal && axis.label_mode != 0;
  for (const Tick& tick : ticks) {
    if (!tick.major) continue;
    const std::string label = tick_label(label_format, map.untransform(tick.value));
    if (label.empty()) continue;
    if (horizontal) {
      centred_text(canvas, label, tick.position, label_base, units);
    } else if (vertical_labels) {
      const double column = vertical_text_width(canvas, label, units);
      const double left = outward > 0 ? label_base : label_base - column;
      vertical_text(canvas, label, left, tick.position, units);
      label_depth = std::max(label_depth, column);
    } else {
      const double width = canvas.text_width(label) * units.x;
      const double left = outward > 0 ? label_base : label_base - width;
      canvas.text({left, tick.position - label_height / 2}, label);
      label_depth = std::max(label_depth, width);
    }
  }

  // Axis title, centred along the axis and 288 further out than the labels.
  if (!canvas.select_font(font_request(axis.title_font))) return chart_status::kFontUnavailable;
  set_colour(canvas, axis.title_colour);
  const std::string_view title = axis.title.trimmed();
  if (horizontal) {
    // Rows of text are placed by their top edge, the title row 288 beyond the label row.
    centred_text(canvas, title, (kBoxLeft + kBoxRight) / 2, label_base + outward * kAxisTitleGap, units);
  } else {
    const double column = vertical_text_width(canvas, title, units);
    const double near = label_base + outward * (label_depth + kAxisTitleGap);
    double left = outward > 0 ? near : near - column;
    // A title pushed past the viewport by wide labels is kept just inside it.
    constexpr double kMargin = 32;
    left = std::clamp(left, kMargin, std::max(kMargin, kWidth - kMargin - column));
    vertical_text(canvas, title, left, (kBoxTop + kBoxBottom) / 2, units);
  }
  return chart_status::kOk;
}

}  // namespace

std::string_view font_request(int font) {
  switch (font) {
    case 2:
      return "t'Courier New'h14w9";
    case 3:
      return "t'Times New Roman'h26w13";
    case 4:
      return "t'Times New Roman'h16w8";
    case 5:
      return "t'MS Sans Serif'h24w12";
    case 6:
      return "t'Small Fonts'h11w5";
    default:
      return "t'Courier New'h20w10";
  }
}

LineStyle line_style(int line_type) {
  constexpr std::array<std::uint16_t, 5> kMasks = {0xFFFF, 0xEEEE, 0xECEC, 0xECCC, 0xAAAA};
  if (line_type == 0) return {0, false};
  if (line_type >= 1 && line_type <= 5) return {kMasks[static_cast<std::size_t>(line_type - 1)], false};
  if (line_type >= 6 && line_type <= 10) return {kMasks[static_cast<std::size_t>(line_type - 6)], true};
  return {kSolidMask, false};  // unknown types draw solid
}

Format tick_label_format(int decimals) {
  // The edit descriptor is itself written at run time: "(F10." d ")" with d in two columns.
  const std::string text = format_internal(BASINFIT_FMT("(A5, I2, A1)"), 16, "(F10.", decimals, ")");
  return Format(text);
}

std::string tick_label(const Format& label_format, double value) {
  const std::string field = format_internal(label_format, 16, value);
  const auto first = field.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = field.find_last_not_of(' ');
  return field.substr(first, last - first + 1);
}

std::string tick_label(double value, int decimals) { return tick_label(tick_label_format(decimals), value); }

int plot_graph(ChartLibrary& library, Canvas& canvas, GraphRecord& graph_io, std::span<const AxisRecord> axes,
               int announced_ranges) {
  GraphRecord graph = graph_io;
  if (axes.empty() || announced_ranges < 1) return chart_status::kCountBelowOne;

  // Viewport.
  if (graph.reconfigure_window != 0 && !library.window_reconfigured()) {
    if (!canvas.reset_window()) return chart_status::kViewportFailed;
    library.mark_window_reconfigured();
  }
  const std::optional<PixelSize> window = canvas.window_size();
  if (!window) return chart_status::kViewportFailed;
  const PixelRect viewport{graph.viewport_left, graph.viewport_top, graph.viewport_right,
                           graph.viewport_bottom};
  // A viewport with a negative corner, beyond the window, or of no extent cannot be drawn in
  // (the last would turn every coordinate into a division by zero).
  if (viewport.left < 0 || viewport.top < 0 || viewport.right >= window->width ||
      viewport.bottom >= window->height || viewport.right <= viewport.left ||
      viewport.bottom <= viewport.top) {
    return chart_status::kViewportFailed;
  }
  canvas.set_viewport(viewport);
  canvas.set_line_mask(kSolidMask);
  set_colour(canvas, graph.background_colour);
  canvas.rectangle(Fill::kFilled, {0, 0},
                   {static_cast<double>(viewport.width() - 1), static_cast<double>(viewport.height() - 1)});
  set_colour(canvas, graph.foreground_colour);
  canvas.set_window_coordinates(kWidth, kHeight);

  // Frame with rounded corners: the corners of the rectangle are erased and replaced by
  // circles centred on them.
  canvas.rectangle(Fill::kBorder, {0, 0}, {kWidth, kHeight});
  const double r = kCornerRadius;
  const std::array<Point, 4> corners = {Point{0, 0}, Point{kWidth, 0}, Point{0, kHeight},
                                        Point{kWidth, kHeight}};
  set_colour(canvas, graph.background_colour);
  for (const Point& c : corners) {
    const double sx = c.x == 0 ? r : -r;
    const double sy = c.y == 0 ? r : -r;
    canvas.rectangle(Fill::kBorder, c, offset(c, sx, sy));
  }
  set_colour(canvas, graph.foreground_colour);
  for (const Point& c : corners) canvas.ellipse(Fill::kBorder, offset(c, -r, -r), offset(c, r, r));

  // Titles.
  const UnitsPerPixel units = units_per_pixel(graph);
  if (!canvas.select_font(font_request(graph.title_font))) return chart_status::kFontUnavailable;
  const double title_height = canvas.character_height();
  set_colour(canvas, graph.title_colour);
  centred_text(canvas, graph.title.trimmed(), kWidth / 2, kTitleY, units);
  if (!canvas.select_font(font_request(graph.subtitle_font))) return chart_status::kFontUnavailable;
  set_colour(canvas, graph.subtitle_colour);
  centred_text(canvas, graph.subtitle.trimmed(), kWidth / 2, 8 * title_height + 320, units);

  // Axes: all are checked before any is drawn.
  if (graph.type == graph_type::kPolar || axes.size() < 2 || axes.size() > 4)
    return chart_status::kInvalidAxis;
  std::array<bool, 5> occupied{};
  for (const AxisRecord& axis : axes) {
    if (!axis_valid(axis)) return chart_status::kInvalidAxis;
    if (occupied[static_cast<std::size_t>(axis.position)]) return chart_status::kInvalidAxis;
    occupied[static_cast<std::size_t>(axis.position)] = true;
  }
  for (const AxisRecord& axis : axes) {
    if (const int status = draw_axis(canvas, graph, axis, occupied); status != chart_status::kOk)
      return status;
  }

  ++graph.graphs_drawn;
  graph.ranges_announced += announced_ranges;
  graph_io = graph;
  return chart_status::kOk;
}

int plot_xy_ranges(Canvas& canvas, GraphRecord& graph_io, std::span<const float> values,
                   std::span<const DataRangeRecord> ranges, const AxisRecord& x_axis,
                   const AxisRecord& y_axis) {
  GraphRecord graph = graph_io;
  if (graph.graphs_drawn < 1) return chart_status::kNoGraphDrawn;
  if (ranges.empty()) return chart_status::kCountBelowOne;
  // All ranges share one array (value, point, range): they must agree on its shape.
  const DataRangeRecord& first = ranges[0];
  for (const DataRangeRecord& range : ranges) {
    if (range.points < 1 || (range.values_per_point != 2 && range.values_per_point != 3) ||
        range.points != first.points || range.values_per_point != first.values_per_point) {
      return chart_status::kInvalidRange;
    }
  }
  const ChartData data{values, first.values_per_point, first.points};
  const int range_count = static_cast<int>(ranges.size());
  if (!data.holds(range_count)) return chart_status::kInvalidRange;
  const AxisMapping x_map(x_axis);
  const AxisMapping y_map(y_axis);
  if (!x_map.usable() || !y_map.usable()) return chart_status::kInvalidAxis;

  auto point_of = [&](int r, int p, double dy = 0) -> std::optional<Point> {
    const DataRangeRecord& range = ranges[static_cast<std::size_t>(r - 1)];
    const auto x = x_map.position(data.at(1, p, r, range.column_order));
    const auto y = y_map.position(data.at(2, p, r, range.column_order) + dy);
    // Values that are not finite numbers are not drawn (nor joined to their neighbours).
    if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y)) return std::nullopt;
    return Point{*x, *y};
  };

  // Lines joining the points in order.
  for (int r = 1; r <= range_count; ++r) {
    const DataRangeRecord& range = ranges[static_cast<std::size_t>(r - 1)];
    const LineStyle style = line_style(range.line_type);
    if (style.mask == 0) continue;
    set_colour(canvas, range.line_colour);
    for (int p = 1; p < range.points; ++p) {
      const auto from = point_of(r, p);
      const auto to = point_of(r, p + 1);
      if (from && to) styled_line(canvas, *from, *to, style);
    }
  }

  // Markers, then error bars with 160-wide caps.
  for (int r = 1; r <= range_count; ++r) {
    const DataRangeRecord& range = ranges[static_cast<std::size_t>(r - 1)];
    canvas.set_line_mask(kSolidMask);
    if (range.marker_type != 0) {
      set_colour(canvas, range.marker_colour);
      for (int p = 1; p <= range.points; ++p) {
        if (const auto at = point_of(r, p)) draw_marker(canvas, range.marker_type, *at);
      }
    }
    if (range.values_per_point == 3 && (range.error_bar_type == 1 || range.error_bar_type == 2)) {
      set_colour(canvas, range.error_bar_colour);
      const LineStyle bar{kSolidMask, range.error_bar_type == 2};
      for (int p = 1; p <= range.points; ++p) {
        const double error = data.at(3, p, r, range.column_order);
        const auto low = point_of(r, p, -error);
        const auto high = point_of(r, p, error);
        if (!low || !high) continue;
        styled_line(canvas, *low, *high, bar);
        styled_line(canvas, offset(*low, -kErrorCapHalf, 0), offset(*low, kErrorCapHalf, 0), bar);
        styled_line(canvas, offset(*high, -kErrorCapHalf, 0), offset(*high, kErrorCapHalf, 0), bar);
      }
    }
  }

  // Legend: up to 8 entries in rows of up to 4 cells, centred under the plot box.
  const int entries = std::min(range_count, kMaxLegendEntries);
  if (graph.legend_entries_drawn + entries > graph.ranges_announced) {
    graph_io = graph;
    return chart_status::kLegendFull;
  }
  const int rows = (entries - 1) / 4 + 1;
  const int columns = (entries - 1) / rows + 1;
  const double left = 1800 + (6640 - columns * kLegendCellWidth) / 2;
  const UnitsPerPixel units = units_per_pixel(graph);
  set_colour(canvas, graph.foreground_colour);
  canvas.set_line_mask(kSolidMask);
  canvas.rectangle(Fill::kBorder, {left, kLegendTop},
                   {left + columns * kLegendCellWidth, kLegendTop + rows * kLegendCellHeight});
  for (int k = 1; k <= entries; ++k) {
    const DataRangeRecord& range = ranges[static_cast<std::size_t>(k - 1)];
    const int row = (k - 1) / columns;  // whole rows before this entry
    const int column = (k - 1) % columns;
    const double cell_x = left + column * kLegendCellWidth;
    const double cell_y = kLegendTop + row * kLegendCellHeight;
    const double middle = cell_y + kLegendCellHeight / 2;
    const double sample_start = cell_x + kLegendSampleInset;
    const double sample_end = sample_start + kLegendSampleLength;
    if (range.fill_pattern != 0) {
      set_colour(canvas, range.fill_colour);
      canvas.rectangle(Fill::kFilled, {sample_start, middle - kMarkerHalf},
                       {sample_end, middle + kMarkerHalf});
    } else {
      const LineStyle style = line_style(range.line_type);
      if (style.mask != 0) {
        set_colour(canvas, range.line_colour);
        styled_line(canvas, {sample_start, middle}, {sample_end, middle}, style);
      }
      if (range.marker_type != 0) {
        set_colour(canvas, range.marker_colour);
        canvas.set_line_mask(kSolidMask);
        draw_marker(canvas, range.marker_type, {(sample_start + sample_end) / 2, middle});
      }
    }
    if (!canvas.select_font(font_request(range.title_font))) {
      graph_io = graph;
      return chart_status::kFontUnavailable;
    }
    set_colour(canvas, range.title_colour);
    const std::string_view title = range.title.trimmed();
    if (!title.empty()) {
      const double height = canvas.character_height() * units.y;
      canvas.text({sample_start + kLegendTitleOffset, middle - height / 2}, title);
    }
    ++graph.legend_entries_drawn;
  }
  graph_io = graph;
  return chart_status::kOk;
}

}  // namespace basinfit::plot
