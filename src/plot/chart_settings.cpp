#include "plot/chart_settings.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/record_format.h"

namespace basinfit::plot {
namespace {

// Default colours of successive data ranges: bright and well separated on the blue
// background first, the background-like colours last.
constexpr std::array<int, 16> kRangeColours = {15, 14, 13, 11, 7, 10, 12, 9, 6, 5, 3, 8, 2, 4, 0, 1};

// A quotient this close to an integer is taken as that integer when bounds are rounded
// outward, so that data lying on a multiple of the tick unit do not gain a spurious step.
constexpr double kIntegerTolerance = 1.192092895507813e-07;

double floor_tolerant(double q) {
  const double nearest = std::round(q);
  return std::abs(q - nearest) <= kIntegerTolerance ? nearest : std::floor(q);
}
double ceil_tolerant(double q) {
  const double nearest = std::round(q);
  return std::abs(q - nearest) <= kIntegerTolerance ? nearest : std::ceil(q);
}

// Number of tick intervals for a span of s units: at least six ticks, on steps of 1, 2 or 5
// times a power of ten.
int intervals_for_units(long long s) {
  if (s > 5) return static_cast<int>(s);
  constexpr std::array<int, 6> kFew = {10, 10, 8, 6, 8, 10};
  return kFew[static_cast<std::size_t>(std::max(s, 0LL))];
}

bool is_polar(const GraphRecord& graph) { return graph.type == graph_type::kPolar; }

}  // namespace

int range_colour(int k) { return kRangeColours[static_cast<std::size_t>((k - 1) % 16)]; }
int range_marker_type(int k) { return (k - 1) % 10 + 1; }

int graph_defaults(int type, GraphRecord& graph) {
  graph = GraphRecord{};
  graph.type = type;
  return chart_status::kOk;
}

int xy_range_defaults(ChartLibrary& library, const GraphRecord& graph, int points,
                      std::span<const float> values, std::span<DataRangeRecord> ranges) {
  if (points < 1 || ranges.empty()) return chart_status::kCountBelowOne;
  if (graph.type >= 1 && graph.type <= 3) return chart_status::kWrongGraphType;
  const bool with_errors = graph.type == graph_type::kXyError;
  const ChartData data{values, with_errors ? 3 : 2, points};
  const int range_count = static_cast<int>(ranges.size());
  if (!data.holds(range_count)) return chart_status::kInvalidRange;

  for (int r = 1; r <= range_count; ++r) {
    DataRangeRecord& range = ranges[static_cast<std::size_t>(r - 1)];
    const int k = library.next_range_number();
    const int colour = range_colour(k);
    range = DataRangeRecord{};
    range.title = format_internal(BASINFIT_FMT("(a,i2)"), 20, "Data Range", k);
    range.title_colour = colour;
    range.marker_type = range_marker_type(k);
    range.marker_colour = colour;
    range.line_type = 1;
    range.line_colour = colour;
    range.error_bar_type = with_errors ? 1 : 0;
    range.error_bar_colour = with_errors ? colour : 0;
    range.data_layout = 1;
    range.column_order = 1;
    range.points = points;
    range.values_per_point = data.values_per_point;
    // The first point sets all four extents.  Points with a value that is not a finite
    // number (a failed computation upstream) are left out rather than poisoning the axes.
    bool first = true;
    for (int p = 1; p <= points; ++p) {
      const double x = data.at(1, p, r);
      const double y = data.at(2, p, r);
      const double error = with_errors ? data.at(3, p, r) : 0.0;
      if (!std::isfinite(x) || !std::isfinite(y - error) || !std::isfinite(y + error)) continue;
      if (first) {
        range.x_low = range.x_high = x;
        range.y_low = y - error;
        range.y_high = y + error;
        first = false;
      } else {
        range.x_low = std::min(range.x_low, x);
        range.x_high = std::max(range.x_high, x);
        range.y_low = std::min(range.y_low, y - error);
        range.y_high = std::max(range.y_high, y + error);
      }
    }
  }
  return chart_status::kOk;
}

LinearScale linear_scale(double low, double high) {
  // p is the power of ten not above the extent's magnitude (exponent truncated toward zero),
  // so an extent below 1 uses p = 1 while a tiny extent gets a small but positive p.
  const double p = std::pow(10.0, std::trunc(std::log10(high - low)));
  const double low_units = floor_tolerant(low / p);
  const double high_units = ceil_tolerant(high / p);
  LinearScale scale;
  scale.low = p * low_units;
  scale.high = p * high_units;
  // The span in units of p, taken from the rounded quotients so that it is exact.
  const auto s = static_cast<long long>(high_units - low_units);
  scale.intervals = intervals_for_units(s);
  scale.step = (scale.high - scale.low) / scale.intervals;
  return scale;
}

namespace {

void theta_scale(double& low, double& high, AxisRecord& axis) {
  const bool radians = high - low <= 12.566370614359172;
  const double unit = radians ? std::numbers::pi / 2 : 90.0;
  const double low_units = floor_tolerant(low / unit);
  const double high_units = ceil_tolerant(high / unit);
  low = unit * low_units;
  high = unit * high_units;
  const auto s = static_cast<long long>(high_units - low_units);
  int intervals = static_cast<int>(s);
  if (s < 5) intervals = s == 3 ? 6 : 4;
  axis.step = (high - low) / intervals;
  axis.decimals = radians ? 3 : 2;
  axis.minor_divisions = 5;
}

double log_in_base(double v, int scale) {
  switch (scale) {
    case kLog10:
      return std::log10(v);
    case kLog2:
      return std::log2(v);
    default:
      return std::log(v);
  }
}

double base_of(int scale) {
  switch (scale) {
    case kLog10:
      return 10.0;
    case kLog2:
      return 2.0;
    default:
      return std::numbers::e;
  }
}

}  // namespace

int axis_defaults(GraphRecord& graph, std::span<const DataRangeRecord> ranges, int kind, int scale,
                  AxisRecord& axis) {
  if (ranges.empty()) return chart_status::kCountBelowOne;
  if (kind < kAxisX || kind > kAxisTheta) return chart_status::kInvalidAxis;
  const bool polar_kind = kind == kAxisR || kind == kAxisTheta;
  if (polar_kind != is_polar(graph)) return chart_status::kInvalidAxis;
  if (scale < kLinear || scale > kLog2) return chart_status::kInvalidAxis;

  AxisRecord result;
  constexpr std::array<std::string_view, 4> kTitles = {"X Axis", "Y Axis", "R Axis", "Theta Axis"};
  result.title = kTitles[static_cast<std::size_t>(kind)];
  result.title_font = graph.title_font;
  result.title_colour = graph.title_colour;
  result.label_font = 6;
  result.label_mode = 0;
  result.kind = kind;
  result.colour = graph.foreground_colour;
  result.scale = scale;
  result.tick_style = 3;
  result.tick_colour = graph.foreground_colour;
  result.label_colour = graph.foreground_colour % 8;
  result.grid_style = 1;
  result.grid_line_type = 5;
  result.grid_colour = graph.foreground_colour;

  const bool horizontal_kind = kind == kAxisX || kind == kAxisR;
  const int earlier_axes = horizontal_kind ? graph.x_axes_defined : graph.y_axes_defined;
  if (kind == kAxisTheta) {
    result.position = kRight;
  } else if (horizontal_kind) {
    result.position = earlier_axes == 0 ? kBottom : kTop;
  } else {
    result.position = earlier_axes == 0 ? kLeft : kRight;
  }

  // Data extent over all ranges.
  double low = horizontal_kind ? ranges[0].x_low : ranges[0].y_low;
  double high = horizontal_kind ? ranges[0].x_high : ranges[0].y_high;
  for (const DataRangeRecord& range : ranges) {
    low = std::min(low, horizontal_kind ? range.x_low : range.y_low);
    high = std::max(high, horizontal_kind ? range.x_high : range.y_high);
  }

  const DataRangeRecord& first = ranges[0];
  if (first.data_layout == 2 && horizontal_kind) {
    // Category axis: one unit per point.
    result.low = 0;
    result.high = first.points;
    result.step = 1;
    result.minor_divisions = 1;
    result.decimals = 0;
  } else {
    if (kind == kAxisR && low < 0) {
      high = std::max(high, -low);
      low = 0;
    }
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return chart_status::kEmptyAxisRange;
    if (scale == kLinear && kind != kAxisTheta) {
      const LinearScale linear = linear_scale(low, high);
      result.low = linear.low;
      result.high = linear.high;
      result.step = is_polar(graph) ? 2 * linear.step : linear.step;
      result.decimals = 3;
      result.minor_divisions = 5;
    } else if (scale == kLinear) {
      theta_scale(low, high, result);
      result.low = low;
      result.high = high;
    } else {
      if (low <= 0) return chart_status::kEmptyAxisRange;
      const double base = base_of(scale);
      const double low_exponent = floor_tolerant(log_in_base(low, scale));
      const double high_exponent = ceil_tolerant(log_in_base(high, scale));
      result.low = std::pow(base, low_exponent);
      result.high = std::pow(base, std::max(high_exponent, low_exponent + 1));
      result.step = 1;
      result.minor_divisions = scale == kLog2 ? 8 : 9;
      // Labels below 1 need as many decimals as the smallest power has leading digits.
      const int needed = static_cast<int>(std::ceil(-low_exponent * std::log10(base))) + 1;
      result.decimals = low_exponent >= 0 ? 2 : std::clamp(needed, 2, 9);
    }
  }

  if (horizontal_kind) {
    ++graph.x_axes_defined;
  } else {
    ++graph.y_axes_defined;
  }
  axis = result;
  return chart_status::kOk;
}

}  // namespace basinfit::plot
