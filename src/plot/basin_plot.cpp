#include "plot/basin_plot.h"

#include <cairo-svg.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "common/input_error.h"
#include "common/output_file.h"
#include "common/record_format.h"
#include "plot/chart_drawing.h"
#include "plot/image_canvas.h"

namespace basinfit::plot {
namespace {

std::string_view without_trailing_blanks(std::string_view s) {
  const auto last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

// Axis defaults for the basin; a basin without extent on an axis (one sensor, or all
// deflections equal) gets the axis for its value widened by one unit on each side, so that
// the points are still drawn instead of an empty chart.
void basin_axis(GraphRecord& graph, std::array<DataRangeRecord, 2> ranges, int kind, AxisRecord& axis) {
  if (axis_defaults(graph, ranges, kind, kLinear, axis) != chart_status::kEmptyAxisRange) return;
  for (DataRangeRecord& range : ranges) {
    if (kind == kAxisX) {
      range.x_low -= 1;
      range.x_high += 1;
    } else {
      range.y_low -= 1;
      range.y_high += 1;
    }
  }
  axis_defaults(graph, ranges, kind, kLinear, axis);
}

}  // namespace

std::string basin_caption(std::string_view station_id, int drop) {
  return format_internal(BASINFIT_FMT("(a, a, a, i2)"), 80, "Station: ", without_trailing_blanks(station_id),
                         " - Drop No: ", drop);
}

int prepare_basin_chart(ChartLibrary& library, const BasinDrop& drop, PixelSize window, BasinChart& chart) {
  const int m = drop.sensors;
  const auto needed = static_cast<std::size_t>(std::max(m, 0));
  if (m < 1 || m > kMaxSensors || drop.offsets.size() < needed || drop.measured.size() < needed ||
      drop.calculated.size() < needed) {
    return chart_status::kCountBelowOne;
  }
  chart = BasinChart{};
  chart.sensors = m;
  for (int i = 0; i < m; ++i) {
    const auto p = static_cast<std::size_t>(i);
    const std::size_t measured_at = 2 * p;
    const std::size_t calculated_at = 2 * (p + static_cast<std::size_t>(m));
    chart.values[measured_at] = drop.offsets[p];
    chart.values[measured_at + 1] = -drop.measured[p];
    chart.values[calculated_at] = drop.offsets[p];
    chart.values[calculated_at + 1] = -drop.calculated[p];
  }

  GraphRecord& graph = chart.graph;
  graph_defaults(graph_type::kXy, graph);
  graph.title = drop.caption;
  graph.background_colour = 1;
  graph.viewport_left = 0;
  graph.viewport_top = 0;
  graph.viewport_right = window.width - 1;
  graph.viewport_bottom = window.height - kFreeRowsBelowChart;
  graph.reconfigure_window = 0;

  xy_range_defaults(library, graph, m, chart.data(), chart.ranges);
  DataRangeRecord& measured = chart.ranges[0];
  measured.title = "Measured";
  measured.marker_type = 10;  // filled octagon
  measured.marker_colour = 14;
  measured.line_type = 0;
  DataRangeRecord& calculated = chart.ranges[1];
  calculated.title = "Calculated";
  calculated.marker_type = 0;
  calculated.line_colour = 2;
  // The legend titles keep the run's moving default colours, except the one that equals the
  // background (every eighth drop's "Calculated" would be blue on blue): it is written in
  // the foreground colour instead.
  for (DataRangeRecord& range : chart.ranges) {
    if (range.title_colour == graph.background_colour) range.title_colour = graph.foreground_colour;
  }

  // X axis along the top edge, from 0 to the last sensor's offset; the step stays the
  // automatic one.
  AxisRecord& x = chart.axes[0];
  basin_axis(graph, chart.ranges, kAxisX, x);
  x.title = "Radial Distance";
  x.position = kTop;
  x.low = 0;
  const double last_offset = drop.offsets[static_cast<std::size_t>(m - 1)];
  // A last offset at or before the plate would leave the axis without length: then the
  // automatic high bound is kept.
  if (last_offset > 0) x.high = last_offset;
  if (!(x.high > 0)) x.high = 1;
  x.decimals = 1;
  x.tick_style = 2;
  x.minor_divisions = 1;
  x.grid_style = 1;
  x.grid_colour = 14;

  AxisRecord& y = chart.axes[1];
  basin_axis(graph, chart.ranges, kAxisY, y);
  y.title = "Deflection";
  y.decimals = 2;
  y.tick_style = 2;
  y.minor_divisions = 1;
  y.grid_style = 1;
  y.grid_colour = 14;
  return chart_status::kOk;
}

int draw_basin_chart(ChartLibrary& library, Canvas& canvas, const BasinChart& chart) {
  GraphRecord graph = chart.graph;
  const int graph_status = plot_graph(library, canvas, graph, chart.axes, 2);
  const int ranges_status =
      plot_xy_ranges(canvas, graph, chart.data(), chart.ranges, chart.axes[0], chart.axes[1]);
  return graph_status != chart_status::kOk ? graph_status : ranges_status;
}

int dispplot(ChartLibrary& library, Canvas& canvas, const BasinDrop& drop) {
  const std::optional<PixelSize> window = canvas.window_size();
  if (!window) return kWindowNotOpen;
  BasinChart chart;
  if (const int status = prepare_basin_chart(library, drop, *window, chart); status != chart_status::kOk) {
    return status;
  }
  return draw_basin_chart(library, canvas, chart);
}

PlotFileError::PlotFileError(const std::filesystem::path& path, const std::string& reason)
    : std::runtime_error(path.string() + ": " + reason), path_(path), reason_(reason) {}

std::string safe_file_name(std::string_view station_id) {
  std::string name(without_trailing_blanks(station_id));
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    const bool safe = u < 0x80 && (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '+');
    if (!safe) c = '_';
  }
  if (!name.empty() && (name.front() == '.' || name.front() == '-')) name.front() = '_';
  if (name.empty()) name = "station";
  return name;
}

std::filesystem::path basin_image_stem(const std::filesystem::path& directory, std::string_view station_id,
                                       int drop) {
  return directory / (safe_file_name(station_id) + "-" + std::to_string(drop));
}

namespace {

// Writes one chart file whole; a file this run created is removed again when it fails.
void save_chart_file(const std::filesystem::path& path, std::string_view bytes, const KeptFiles* kept) {
  try {
    write_whole_file(path.string(), "chart file", bytes, kept);
  } catch (const InputError& e) {
    throw PlotFileError(path, e.reason());
  }
}

}  // namespace

void write_basin_images(const BasinChart& chart, const std::filesystem::path& stem, PixelSize size,
                        const KeptFiles* kept) {
  std::filesystem::path png = stem;
  png += ".png";
  std::filesystem::path svg = stem;
  svg += ".svg";

  // Each file gets its own library state: both show exactly the same chart.  Both are drawn
  // in memory and then written through one checked route.
  std::string bytes;
  {
    ImageSurface image(size, chart.graph.background_colour);
    ImageCanvas canvas(image.surface(), size);
    ChartLibrary library;
    draw_basin_chart(library, canvas, chart);
    if (canvas.status() != CAIRO_STATUS_SUCCESS)
      throw PlotFileError(png,
                          std::string("cannot draw the chart: ") + cairo_status_to_string(canvas.status()));
    if (!image.encode_png(bytes)) throw PlotFileError(png, "cannot encode the chart as PNG");
  }
  save_chart_file(png, bytes, kept);

  bytes.clear();
  const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  cairo_surface_t* surface = cairo_svg_surface_create_for_stream(append, &bytes, size.width, size.height);
  cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS) {
    ImageCanvas canvas(surface, size);
    // An SVG starts transparent: give it the window's background first.
    canvas.set_colour(chart.graph.background_colour);
    canvas.rectangle(Fill::kFilled, {0, 0}, {size.width - 1.0, size.height - 1.0});
    ChartLibrary library;
    draw_basin_chart(library, canvas, chart);
    status = canvas.status();
  }
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    throw PlotFileError(svg, std::string("cannot draw the chart: ") + cairo_status_to_string(status));
  save_chart_file(svg, bytes, kept);
}

BasinImageWriter::BasinImageWriter(std::filesystem::path directory, PixelSize size)
    : directory_(std::move(directory)), size_(size) {}

std::filesystem::path BasinImageWriter::write(std::string_view station_id, int drop, const BasinDrop& basin) {
  if (!directory_ready_) {
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    if (error || !std::filesystem::is_directory(directory_)) {
      throw PlotFileError(directory_, "cannot create the chart folder: " +
                                          (error ? error.message() : std::string("it is not a folder")));
    }
    directory_ready_ = true;
  }
  BasinChart chart;
  std::filesystem::path stem = basin_image_stem(directory_, station_id, drop);
  if (prepare_basin_chart(library_, basin, size_, chart) != chart_status::kOk) {
    throw PlotFileError(stem, "the drop has no sensors to plot");
  }
  write_basin_images(chart, stem, size_, kept_);
  return stem;
}

}  // namespace basinfit::plot
