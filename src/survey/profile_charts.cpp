#include "survey/profile_charts.h"

#include <cairo-svg.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <system_error>

#include "common/input_error.h"
#include "plot/chart_drawing.h"
#include "plot/chart_settings.h"
#include "plot/image_canvas.h"

namespace basinfit::survey {
namespace {

using plot::AxisRecord;
using plot::DataRangeRecord;
using plot::GraphRecord;

constexpr plot::PixelSize kSize{960, 540};
// Palette indices on a white chart: black text, grey grid, and layer colours that stay apart.
constexpr int kWhite = 15, kBlack = 0, kGrey = 8;
constexpr int kLayerColours[] = {1, 4, 2, 5, 6};

struct ProfileChart {
  GraphRecord graph;
  std::vector<DataRangeRecord> ranges;
  std::array<AxisRecord, 2> axes;
  std::vector<float> values;  // (x, y) per point per range
};

void style_axis(AxisRecord& axis, std::string_view title, int decimals) {
  axis.title = title;
  axis.title_colour = kBlack;
  axis.colour = kBlack;
  axis.tick_colour = kBlack;
  axis.label_colour = kBlack;
  axis.grid_colour = kGrey;
  axis.decimals = decimals;
  axis.tick_style = 2;
}

void save(const std::filesystem::path& path, std::string_view bytes, const KeptFiles* kept) {
  write_whole_file(path.string(), "profile chart", bytes, kept);
}

void draw(const ProfileChart& chart, plot::Canvas& canvas) {
  plot::ChartLibrary library;
  GraphRecord graph = chart.graph;
  plot::plot_graph(library, canvas, graph, chart.axes, static_cast<int>(chart.ranges.size()));
  plot::plot_xy_ranges(canvas, graph, chart.values, chart.ranges, chart.axes[0], chart.axes[1]);
}

void write_chart(const ProfileChart& chart, const std::filesystem::path& stem, const KeptFiles* kept) {
  std::filesystem::path png = stem, svg = stem;
  png += ".png";
  svg += ".svg";
  std::string bytes;
  {
    plot::ImageSurface image(kSize, kWhite);
    plot::ImageCanvas canvas(image.surface(), kSize);
    draw(chart, canvas);
    if (canvas.status() != CAIRO_STATUS_SUCCESS || !image.encode_png(bytes))
      throw InputError(png.string(), 0, "cannot draw the profile chart", InputError::Kind::kFileSystem);
  }
  save(png, bytes, kept);

  bytes.clear();
  const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  cairo_surface_t* surface = cairo_svg_surface_create_for_stream(append, &bytes, kSize.width, kSize.height);
  cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS) {
    plot::ImageCanvas canvas(surface, kSize);
    canvas.set_colour(kWhite);
    canvas.rectangle(plot::Fill::kFilled, {0, 0}, {kSize.width - 1.0, kSize.height - 1.0});
    draw(chart, canvas);
    status = canvas.status();
  }
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    throw InputError(svg.string(), 0,
                     std::string("cannot draw the profile chart: ") + cairo_status_to_string(status),
                     InputError::Kind::kFileSystem);
  save(svg, bytes, kept);
}

// Graph and axes of a profile; false when the data give nothing to draw.
bool prepare(ProfileChart& chart, std::string_view title, int points, int scale, std::string_view x_title,
             std::string_view y_title, int y_decimals) {
  plot::ChartLibrary library;
  plot::graph_defaults(plot::graph_type::kXy, chart.graph);
  GraphRecord& graph = chart.graph;
  graph.title = title;
  graph.title_colour = kBlack;
  graph.foreground_colour = kBlack;
  graph.background_colour = kWhite;
  graph.viewport_right = kSize.width - 1;
  graph.viewport_bottom = kSize.height - 1;
  graph.reconfigure_window = 0;
  if (plot::xy_range_defaults(library, graph, points, chart.values, chart.ranges) != plot::chart_status::kOk)
    return false;
  if (plot::axis_defaults(graph, chart.ranges, plot::kAxisX, plot::kLinear, chart.axes[0]) !=
      plot::chart_status::kOk)
    return false;
  if (plot::axis_defaults(graph, chart.ranges, plot::kAxisY, scale, chart.axes[1]) != plot::chart_status::kOk)
    return false;
  style_axis(chart.axes[0], x_title, 0);
  // Along the top edge, as on the basin chart: the legend keeps the bottom strip.
  chart.axes[0].position = plot::kTop;
  style_axis(chart.axes[1], y_title, y_decimals);
  return true;
}

std::string route_title(const SurveyLayout& layout) {
  return layout.positions.along_route() ? "Chainage (" + layout.positions.unit + ")"
                                        : std::string("Station number");
}

}  // namespace

void write_profile_charts(const SurveyPage& page, const SurveyLayout& layout,
                          const std::filesystem::path& folder, const KeptFiles* kept) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder))
    throw InputError(
        folder.string(), 0,
        "cannot create the chart folder: " + (error ? error.message() : std::string("it is not a folder")),
        InputError::Kind::kFileSystem);

  // Stations along the route with a modulus for every layer.
  const std::size_t layers = std::min<std::size_t>(page.layers.size(), std::size(kLayerColours));
  SurveyProfile made;
  const SurveyProfile& profile = profile_of(page, made);
  std::vector<std::size_t> order(profile.stations.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return layout.positions.position[a] < layout.positions.position[b];
  });
  std::vector<std::pair<double, std::span<const float>>> moduli;
  for (std::size_t i : order) {
    const std::span<const ProfileDrop> drops = profile.drops_of(i);
    const std::optional<std::span<const float>> e =
        profile.stations[i].normalised ? std::optional(profile.normalised_modulus(i))
        : drops.size() == 1            ? std::optional(profile.moduli(drops[0]))
                                       : std::nullopt;
    if (!e || e->size() < layers || !std::all_of(e->begin(), e->end(), [](float v) { return v > 0; }))
      continue;
    moduli.emplace_back(layout.positions.position[i], *e);
  }
  if (!moduli.empty() && layers > 0) {
    ProfileChart chart;
    chart.ranges.resize(layers);
    for (std::size_t j = 0; j < layers; ++j)
      for (const auto& [x, e] : moduli) {
        chart.values.push_back(static_cast<float>(x));
        chart.values.push_back(e[j]);
      }
    if (prepare(chart, "Normalised moduli along the route", static_cast<int>(moduli.size()), plot::kLog10,
                route_title(layout), "Modulus (" + page.units.modulus + ")", 0)) {
      for (std::size_t j = 0; j < layers; ++j) {
        DataRangeRecord& range = chart.ranges[j];
        range.title = "E" + std::to_string(j + 1);
        range.title_colour = range.marker_colour = range.line_colour = kLayerColours[j];
        range.marker_type = static_cast<int>(j) + 1;
      }
      write_chart(chart, folder / "profile-moduli", kept);
    }
  }

  std::vector<std::pair<float, float>> rms;
  for (std::size_t i : order)
    for (const ProfileDrop& d : profile.drops_of(i))
      if (std::isfinite(d.rms_percent))
        rms.emplace_back(static_cast<float>(layout.positions.position[i]), d.rms_percent);
  if (!rms.empty()) {
    ProfileChart chart;
    chart.ranges.resize(2);
    for (const auto& [x, y] : rms) chart.values.insert(chart.values.end(), {x, y});
    // The acceptance limit as a second range along the same positions.
    for (const auto& [x, y] : rms) chart.values.insert(chart.values.end(), {x, page.rms_limit_percent});
    if (prepare(chart, "RMS error of every drop", static_cast<int>(rms.size()), plot::kLinear,
                route_title(layout), "RMS error (%)", 2)) {
      DataRangeRecord& drops = chart.ranges[0];
      drops.title = "RMS error";
      drops.title_colour = drops.marker_colour = 1;
      drops.marker_type = 10;
      drops.line_type = 0;
      DataRangeRecord& limit = chart.ranges[1];
      limit.title = "Limit";
      limit.title_colour = limit.line_colour = 4;
      limit.marker_type = 0;
      limit.line_type = 1;
      AxisRecord& y = chart.axes[1];
      y.low = 0;
      // Room above the limit, so that the line is seen as a line and not as the frame.
      if (y.step > 0 && y.high < page.rms_limit_percent * 1.25)
        y.high = std::ceil(page.rms_limit_percent * 1.25 / y.step) * y.step;
      write_chart(chart, folder / "profile-rms", kept);
    }
  }
}

}  // namespace basinfit::survey
