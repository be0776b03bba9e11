// basinfit: backcalculates pavement layer moduli from falling-weight-deflectometer basins.
//
// The engine takes one argument, a control file naming every input and output file.  With a
// log unit in the control file it runs in batch mode; without one it shows its progress on
// the terminal and each drop's basin in a "Graphics Output" window.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>

#include "basinfit_version.h"
#include "plot/basin_plot.h"
#include "plot/graphics_window.h"
#include "plot/image_canvas.h"
#include "report/report_writer.h"
#include "run/backcalculation.h"
#include "run/progress_display.h"
#include "run/startup.h"
#include "run/station_scheduler.h"

namespace {

constexpr const char* kDescription =
    "Basinfit backcalculates the elastic modulus of every pavement layer from falling-weight-\n"
    "deflectometer surveys: for each drop at each station it finds the layer moduli for which a\n"
    "multilayer linear-elastic model under a circular plate gives the measured deflections.\n"
    "\n"
    "CONTROL_FILE holds, one per line: the log unit number (0 for windowed mode, otherwise a\n"
    "positive unit other than 1, 2, 4, 7, 8, 11 and 12 for batch mode), then the names of the\n"
    "standard value file, the general data file, the deflection data file, the detail report,\n"
    "the summary report and, in batch mode, the log file.  The control file is deleted once\n"
    "read when it is a regular file (or a link to one); a device or pipe is left alone.\n"
    "Exit status: 0 success, 1 input error, 2 usage or file-system error (also when an\n"
    "output cannot be written).";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "basinfit"};
  std::string control_file;
  std::string plot_dir;
  app.add_option("CONTROL_FILE", control_file,
                 "Control file naming the input and output files (deleted once read when a regular file)")
      ->required();
  app.add_option(
         "--plot-dir", plot_dir,
         "Also write each drop's basin chart as DIR/<station>-<drop>.png and .svg, in batch and windowed "
         "mode alike")
      ->type_name("DIR");
  int jobs = basinfit::available_cores();
  app.add_option("-j,--jobs", jobs,
                 "Worker threads for the stations (default: the processors this process may use); 1 runs "
                 "the stations one after another.  Reports, log and charts are the same for any number")
      ->check(CLI::PositiveNumber)
      ->type_name("N");
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "No progress line on standard error");
  bool keep_control = false;
  app.add_flag("--keep-control", keep_control,
               "Leave the control file in place, so the same run can be started again");
  app.set_version_flag("--version", std::string("basinfit ") + BASINFIT_VERSION);

  if (argc < 2) {
    std::cerr << app.help();
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  std::unique_ptr<basinfit::plot::GraphicsWindow> window;
  std::unique_ptr<basinfit::plot::BasinImageWriter> images;
  if (!plot_dir.empty()) images = std::make_unique<basinfit::plot::BasinImageWriter>(plot_dir);

  const basinfit::ComputationsFactory computations = [&](basinfit::EngineUnits& units) {
    if (units.windowed) {
      basinfit::plot::WindowOpening opening = basinfit::plot::GraphicsWindow::open();
      if (opening.window) {
        window = std::move(opening.window);
      } else {
        std::cerr << "basinfit: the graphics window cannot be opened: " << opening.error
                  << "; the run goes on with the text output and the reports\n";
      }
    }
    if (images) images->keep_apart_from(units.kept_files);
    basinfit::EngineComputations wiring;
    wiring.make = [](basinfit::MessageWriter& messages, basinfit::BasinObserver observer) {
      return std::make_unique<basinfit::Backcalculation>(messages, std::move(observer));
    };
    if (window || images) {
      wiring.observer = [&](const std::string& station_id, int drop, std::span<const float> offsets,
                            std::span<const float> measured, std::span<const float> calculated) {
        const std::string caption = basinfit::plot::basin_caption(station_id, drop);
        const basinfit::plot::BasinDrop basin{caption, static_cast<int>(offsets.size()), offsets, measured,
                                              calculated};
        if (window) window->show_basin(basin);
        if (images) {
          try {
            images->write(station_id, drop, basin);
          } catch (const basinfit::plot::PlotFileError& e) {
            throw basinfit::InputError(e.path().string(), 0, e.reason(),
                                       basinfit::InputError::Kind::kFileSystem);
          }
        }
      };
    }
    return wiring;
  };

  // A file that reaches the process's file-size limit is then a failed write, reported with
  // the file's name and the reports cut back to whole stations, instead of a signal that ends
  // the process mid-station without a word.
  std::signal(SIGXFSZ, SIG_IGN);

  basinfit::EngineOptions options;
  options.control_file = control_file;
  options.terminal = &std::cout;
  options.errors = &std::cerr;
  options.jobs = jobs;
  options.keep_control = keep_control;
  basinfit::ProgressDisplay progress(std::cerr);
  if (!quiet && isatty(STDERR_FILENO)) options.progress = &progress;
  const int status = basinfit::run_engine(options, computations, basinfit::make_report_writer);
  // In windowed mode the basin stays on screen until the user closes its window.
  if (window) window->wait_until_closed();
  // The font caches live to the end of the process; handing them back keeps leak checkers quiet.
  if (window || images) {
    window.reset();
    images.reset();
    basinfit::plot::release_font_caches();
  }
  return status;
}
