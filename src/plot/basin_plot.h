#pragma once
// The deflection-basin plot: each drop's measured deflections as markers and the calculated
// deflections of the final moduli as a line, against the sensors' radial distance, under a
// caption naming the station and the drop.
//
// How the engine uses it
// ----------------------
// Per drop, after the final moduli have given the calculated deflections:
//
//   const std::string caption = plot::basin_caption(station_id, drop);   // "(a, a, a, i2)"
//   const plot::BasinDrop basin{caption, sensor_count, offsets, measured, calculated};
//
// Windowed mode (log unit 0): open the window once at start-up,
//
//   plot::WindowOpening opening = plot::GraphicsWindow::open();
//   if (!opening.window) { report opening.error once on standard error and carry on }
//
// then per drop `opening.window->show_basin(basin)` (false once the user has closed the
// window: carry on), and at the end of the run `window->wait_until_closed()`, which keeps the
// window on screen until the user closes it.  (graphics_window.h)
//
// Chart files (--plot-dir DIR, batch and windowed mode alike): create one writer for the
// run and call it per drop; it writes DIR/<station>-<drop>.png and .svg, with the station
// identifier stripped of trailing blanks and made safe as a file name, and throws
// PlotFileError when a file cannot be written:
//
//   plot::BasinImageWriter images(dir);
//   images.keep_apart_from(units.kept_files);   // the run's inputs and reports: never replaced
//   images.write(station_id, drop, basin);
//
// Every chart file is written through an OutputFile: a write that fails (a full disk, a
// file-size limit) is a PlotFileError with the system's reason, never a silent loss.
//
// Offsets, measured and calculated deflections are passed in the run's file units (cm or
// in, microns or mils); the plot only draws them.  The window and the writer each keep their
// own chart-library state, so both show the same colours for the same drop.

#include <array>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/output_file.h"
#include "plot/canvas.h"
#include "plot/chart_settings.h"

namespace basinfit::plot {

inline constexpr int kMaxSensors = 10;
// Height in pixels of the window strip below the chart that the chart leaves free.
inline constexpr int kFreeRowsBelowChart = 100;
// Status of dispplot when there is no window to draw in; the run reports it as this text.
inline constexpr int kWindowNotOpen = -1;
inline constexpr std::string_view kWindowNotOpenMessage = "Window Not Open";

// One drop's basin, as the engine hands it over.  The spans hold at least `sensors` values.
struct BasinDrop {
  std::string_view caption;           // "Station: <id> - Drop No: <d>", see basin_caption
  int sensors = 0;                    // 1 to 10
  std::span<const float> offsets;     // radial distance of each sensor, in sensor order
  std::span<const float> measured;    // measured deflections
  std::span<const float> calculated;  // deflections of the final moduli
};

// The caption of a drop's chart: "Station: ", the identifier without trailing blanks,
// " - Drop No: " and the drop number in two columns, in an 80-character field.
std::string basin_caption(std::string_view station_id, int drop);

// The records of one drop's chart, ready to draw on any number of canvases.
struct BasinChart {
  GraphRecord graph;
  std::array<DataRangeRecord, 2> ranges;  // 1 measured, 2 calculated
  std::array<AxisRecord, 2> axes;         // X (radial distance), Y (deflection)
  // (coordinate, point, range): x = offset, y = minus the deflection, so the basin hangs
  // below the zero line, deepest under the load plate.
  std::array<float, 2 * kMaxSensors * 2> values{};
  int sensors = 0;
  std::span<const float> data() const {
    return std::span(values).first(static_cast<std::size_t>(4 * sensors));
  }
};

// Builds the chart of one drop for a window of `window` pixels, advancing the library's
// range counter by 2.  0, or 7 when the sensor count is outside 1..10 or a span is too short
// (then nothing is to be drawn).
int prepare_basin_chart(ChartLibrary& library, const BasinDrop& drop, PixelSize window, BasinChart& chart);

// Draws a prepared chart: graph and axes, then the two ranges and their legend.  Returns the
// first non-zero chart status; the chart is then incomplete, which the engine ignores.
int draw_basin_chart(ChartLibrary& library, Canvas& canvas, const BasinChart& chart);

// Prepares and draws one drop's chart on the canvas, sized to the canvas's window.
// kWindowNotOpen when the canvas has no window, otherwise as draw_basin_chart.
int dispplot(ChartLibrary& library, Canvas& canvas, const BasinDrop& drop);

// A chart file that cannot be written: "<path>: <reason>", the reason with the system's
// words where the system refused ("cannot write the chart file: No space left on device").
class PlotFileError : public std::runtime_error {
 public:
  PlotFileError(const std::filesystem::path& path, const std::string& reason);
  const std::filesystem::path& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::filesystem::path path_;
  std::string reason_;
};

// The station identifier as a file-name part: trailing blanks removed; every character other
// than letters, digits, '-', '_', '.' and '+' replaced by '_'; a leading '.' or '-' replaced
// too (no hidden files, no names read as options); "station" when nothing is left.
std::string safe_file_name(std::string_view station_id);

// DIR/<station>-<drop>, the path of a drop's chart files without their extension.
std::filesystem::path basin_image_stem(const std::filesystem::path& directory, std::string_view station_id,
                                       int drop);

// Default image size: the graphics window's default size.
inline constexpr PixelSize kDefaultImageSize{640, 480};

// Draws the chart once into `stem`.png and `stem`.svg.  Each file is written whole through
// an OutputFile (every write and the close checked); a file that fails is removed when it was
// new.  A file that is one of `kept` (the run's inputs and reports) is left untouched and
// refused.  Throws PlotFileError.
void write_basin_images(const BasinChart& chart, const std::filesystem::path& stem,
                        PixelSize size = kDefaultImageSize, const KeptFiles* kept = nullptr);

// Writes every drop's chart of a run into one directory (created when missing).
class BasinImageWriter {
 public:
  explicit BasinImageWriter(std::filesystem::path directory, PixelSize size = kDefaultImageSize);
  // Writes DIR/<station>-<drop>.png and .svg and returns their stem.  Throws PlotFileError.
  std::filesystem::path write(std::string_view station_id, int drop, const BasinDrop& basin);
  // Files no chart file may replace (kept by the caller, which outlives the writer).
  void keep_apart_from(const KeptFiles* kept) { kept_ = kept; }

 private:
  std::filesystem::path directory_;
  PixelSize size_;
  ChartLibrary library_;
  bool directory_ready_ = false;
  const KeptFiles* kept_ = nullptr;
};

}  // namespace basinfit::plot
