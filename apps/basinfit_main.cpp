// basinfit: backcalculates pavement layer moduli from falling-weight-deflectometer basins.
//
// The engine takes one argument, a control file naming every input and output file.  With a
// log unit in the control file it runs in batch mode; without one it shows its progress on
// the terminal and each drop's basin in a "Graphics Output" window.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "basinfit_version.h"
#include "common/file_names.h"
#include "common/text_encoding.h"
#include "common/input_error.h"
#include "option_checks.h"
#include "plot/basin_plot.h"
#include "plot/graphics_window.h"
#include "plot/image_canvas.h"
#include "report/report_writer.h"
#include "results/results_analysis.h"
#include "run/backcalculation.h"
#include "run/composite_analysis.h"
#include "run/input_files.h"
#include "run/progress_display.h"
#include "run/startup.h"
#include "run/station_scheduler.h"
#include "survey/sections_table.h"
#include "survey/survey_report.h"

namespace {

constexpr const char* kDescription =
    "Basinfit backcalculates the elastic modulus of every pavement layer from\n"
    "falling-weight-deflectometer surveys: for each drop at each station it finds the layer moduli\n"
    "for which a multilayer linear-elastic model under a circular plate gives the measured\n"
    "deflections.\n"
    "\n"
    "CONTROL_FILE holds, one per line: the log unit number (0 for windowed mode, otherwise a\n"
    "positive unit other than 1, 2, 4, 7, 8, 11 and 12 for batch mode), then the names of the\n"
    "standard value file, the general data file, the deflection data file, the detail report,\n"
    "the summary report and, in batch mode, the log file.  The control file is deleted once\n"
    "read when it is a regular file (or a link to one); a device or pipe is left alone.\n"
    "Exit status: 0 success, 1 input error, 2 usage or file-system error (also when an\n"
    "output cannot be written); 130 (143) when stopped by SIGINT (SIGTERM) with --results or --html.";

// More workers than this cannot help any machine the engine runs on, and each costs a thread
// and its model and solver state.
constexpr int kMaxJobs = 1024;

// The signal that asked the run to stop (SIGINT, SIGTERM), set by the handler only.  With
// results or a page, the run then ends after the station in hand, so that every output ends
// with the same station; a second signal ends the process at once (the handler is reset).
std::atomic<int> stop_signal{0};
extern "C" void request_stop(int signal) { stop_signal.store(signal); }

void stop_between_stations_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM}) {
    // A signal the caller ignores (a job started in the background by a shell) stays ignored.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

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
  int jobs = std::min(basinfit::available_cores(), kMaxJobs);
  app.add_option(
         "-j,--jobs", jobs,
         "Worker threads for the stations, 1 to 1024 (default: the processors this process may use); "
         "1 runs the stations one after another.  Reports, log and charts are the same for any number")
      ->check(basinfit::cli::whole_number(1, kMaxJobs))
      ->type_name("N");
  basinfit::survey::SurveyReportOptions survey_options;
  std::string sections_by = "subgrade";
  app.add_option(
         "--html", survey_options.html_file,
         "Also write the survey page FILE: one self-contained HTML file with the profiles, the uniform "
         "sections and every station's drops and basins (with --plot-dir, also the profile charts)")
      ->type_name("FILE");
  app.add_option(
         "--sections-by", sections_by,
         "Response the uniform sections (survey page, sections.csv) follow: a layer number (its "
         "normalised modulus) or 'deflection' (the normalised centre deflection); default the subgrade")
      ->check([](const std::string& text) {
        return text == "subgrade" || basinfit::survey::parse_sections_by(text)
                   ? std::string()
                   : "expected a layer number or deflection";
      })
      ->type_name("LAYER|deflection");
  app.add_option(
         "--min-section-length", survey_options.min_section_length,
         "Shortest uniform section on the survey page and in sections.csv, in metres or feet along the "
         "route (default 0: at least three stations)")
      ->check(basinfit::cli::finite_number(0, true))
      ->type_name("LENGTH");
  std::string station_table_file;
  app.add_option("--station-table", station_table_file,
                 "Chainage, lane, GPS position and comment of each test point, from the station table FILE "
                 "of a run folder (CSV: station,chainage,chainage_unit,lane,latitude,longitude,comment); "
                 "used by --results (stations.csv) and --html (positions along the route)")
      ->type_name("FILE");
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "No progress line on standard error");
  basinfit::results::ResultsOptions results_options;
  CLI::Option* results =
      app.add_option("--results", results_options.directory,
                     "Also write machine-readable results into DIR (created when missing): "
                     "drops.csv, sensors.csv, stations.csv, sections.csv and the run record run.json")
          ->check([](const std::string& dir) {
            return dir.empty() ? std::string("empty folder name") : std::string();
          })
          ->type_name("DIR");
  std::vector<std::string> load_level_texts;
  app.add_option(
         "--load-levels", load_level_texts,
         "Nominal drop levels for the load check, comma-separated, each with its unit (40kN, 9000lbf, "
         "9kip, 40000N) or bare in the survey's load unit (N or lbf); a level outside 1 to 350 kN is "
         "refused; default 26.7, 40.0, 53.4 and 71.2 kN")
      ->delimiter(',')
      ->check(CLI::Validator(
          [](std::string& text) {
            return basinfit::results::parse_load_level(text)
                       ? std::string()
                       : "expected a positive number with an optional unit N, kN, lbf or kip, found '" +
                             text + "'";
          },
          "LOAD"))
      ->type_name("LIST")
      ->needs(results);
  app.add_option("--sensor-precision", results_options.sensor_precision,
                 "Deflection sensor precision for the uncertainty of the moduli: ABS (microns or mils) plus "
                 "PERCENT of the reading; default 2 microns plus 0.3 % (a calibrated geophone)")
      ->delimiter(',')
      ->expected(2)
      ->check(basinfit::cli::finite_number(0, true))
      ->type_name("ABS,PERCENT")
      ->needs(results);
  app.add_option("--multistart", results_options.multistart,
                 "K side fits per drop from seeds spread over the bounds, to flag fits that are not unique; "
                 "the reported fit stays the same (default 0)")
      ->check(basinfit::cli::whole_number(0, 1000))
      ->type_name("K")
      ->needs(results);
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
    return basinfit::cli::usage_error(app, e, "");
  }

  const std::vector<double>& precision = results_options.sensor_precision;
  if (precision.size() == 2 && precision[0] <= 0 && precision[1] <= 0) {
    std::cerr << "--sensor-precision: ABS and PERCENT are both 0: a sensor without any error leaves no "
                 "uncertainty to give\nRun with --help for more information.\n";
    return 2;
  }
  basinfit::results::ResultsAnalysis::Invocation invocation{std::vector<std::string>(argv, argv + argc), jobs,
                                                            std::chrono::system_clock::now(),
                                                            std::chrono::steady_clock::now()};
  // The station table is read before anything is touched: a malformed one stops the run here.
  std::optional<basinfit::results::StationTable> station_table;
  if (!station_table_file.empty()) {
    try {
      station_table = basinfit::results::StationTable::read(station_table_file);
    } catch (const basinfit::InputError& e) {
      std::cerr << "basinfit: " << e.what() << '\n';
      return e.exit_status();
    }
    results_options.station_table = &*station_table;
    survey_options.station_table = &*station_table;
  }
  if (const auto by = basinfit::survey::parse_sections_by(sections_by)) survey_options.sections_by = *by;
  survey_options.plot_dir = plot_dir;
  std::unique_ptr<basinfit::survey::SurveyReport> survey;
  // With --results, sections.csv holds the page's uniform sections (with or without --html),
  // from a collector of its own when there is no page.
  std::unique_ptr<basinfit::survey::SectionsTable> sections;
  std::unique_ptr<basinfit::survey::SurveyCollector> sections_collector;
  if (!results_options.directory.empty()) {
    sections = std::make_unique<basinfit::survey::SectionsTable>(basinfit::survey::SectionsTableOptions{
        survey_options.sections_by, survey_options.min_section_length});
    if (survey_options.html_file.empty()) {
      sections_collector = std::make_unique<basinfit::survey::SurveyCollector>();
      // The sections follow the same positions as on the page: the station table's chainages.
      sections_collector->use_station_table(survey_options.station_table);
    }
  }

  // The results analysis runs for the results folder, and for the survey page, which shows its
  // data checks and input digests (without --results it writes no files).
  std::vector<basinfit::results::LoadLevel> load_levels;
  for (const std::string& text : load_level_texts)
    load_levels.push_back(*basinfit::results::parse_load_level(text));
  std::unique_ptr<basinfit::results::ResultsAnalysis> analysis;
  if (!results_options.directory.empty() || !survey_options.html_file.empty()) {
    analysis = std::make_unique<basinfit::results::ResultsAnalysis>(results_options);
    if (sections)
      analysis->set_sections_writer([&sections, &survey, &sections_collector](basinfit::OutputFile& file) {
        basinfit::survey::SurveyCollector& collector = survey ? survey->collector() : *sections_collector;
        return sections->write(collector.page(), collector.subgrade(), file);
      });
    // The results folder and its files are opened before the run, so that its start-up checks
    // them with every other file before anything is emptied.
    if (!analysis->open_files(std::cerr)) return 2;
  }

  if (!survey_options.html_file.empty()) {
    survey = std::make_unique<basinfit::survey::SurveyReport>(survey_options);
    if (!survey->open(std::cerr)) {
      analysis->finish(invocation, 2, std::cerr);  // removes what it created
      return 2;
    }
    analysis->add_output("survey page", survey_options.html_file);
  }

  basinfit::CompositeAnalysis analyses;
  basinfit::StopOnSignal stop(stop_signal);

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
    if (analysis) {
      if (sections) {
        analysis->add_listener([&sections](const basinfit::results::StationRecord& s) { sections->add(s); });
        if (sections_collector) analyses.add(sections_collector.get());
      }
      analysis->open(units);
      analyses.add(analysis.get());
    }
    wiring.make = [](basinfit::MessageWriter& messages, basinfit::BasinObserver observer) {
      return std::make_unique<basinfit::Backcalculation>(messages, std::move(observer));
    };
    // Work beside the reports, every part on the run's one station-analysis hook.
    if (survey) {
      analyses.add(
          survey->start(units, std::string("basinfit ") + BASINFIT_VERSION + " (" + BASINFIT_REVISION + ")"));
      basinfit::survey::SurveyCollector& collector = survey->collector();
      for (basinfit::survey::SurveyInputFile& input : collector.header().input_files)
        for (const basinfit::results::RecordedFile& recorded : analysis->inputs())
          if (recorded.name == input.name && recorded.digest) input.sha256 = recorded.digest->sha256;
      analysis->add_listener([&collector](const basinfit::results::StationRecord& station) {
        collector.annotate_station(station);
      });
    }
    if (analysis) analyses.add(&stop);  // last: the station is recorded everywhere first
    wiring.analysis = analyses.wiring();
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
  if (analysis)
    for (basinfit::OutputFile* file : analysis->files()) options.further_outputs.push_back(file);
  if (survey) options.further_outputs.push_back(survey->file());
  // Bare load levels are in the survey's unit, known once the general data file is read; they
  // are checked then, before anything is emptied.
  if (!load_levels.empty())
    options.check_inputs = [&](const basinfit::TextFile& general_data) {
      basinfit::RunSettings settings;
      if (basinfit::read_general_data(general_data, settings)) return;  // the run reports it
      analysis->set_load_levels(basinfit::results::load_levels_in_unit(load_levels, settings.metric()));
    };
  if (analysis) stop_between_stations_on_interrupt();
  options.digest_inputs = analysis != nullptr;
  options.control_file = control_file;
  // The text window shows identifiers and titles from the input files: control bytes are
  // shown visibly, never sent to the terminal.
  basinfit::VisibleControlBytes visible_window(std::cout.rdbuf());
  std::ostream text_window(&visible_window);
  options.terminal = &text_window;
  options.errors = survey ? &survey->watch(std::cerr) : &std::cerr;
  options.jobs = jobs;
  options.keep_control = keep_control;
  basinfit::ProgressDisplay progress(std::cerr);
  if (!quiet && isatty(STDERR_FILENO)) options.progress = &progress;
  int status = basinfit::run_engine(options, computations, basinfit::make_report_writer);
  const int interrupted_by = status == 130 ? stop_signal.load() : 0;
  if (interrupted_by != 0) status = 128 + interrupted_by;
  // The record is written last, with the status the run ends with.
  if (analysis) status = analysis->close_tables(status, std::cerr);
  if (survey) status = survey->finish(status, std::cerr);
  if (analysis) status = analysis->finish(invocation, status, std::cerr);
  // In windowed mode the basin stays on screen until the user closes its window.
  if (window) window->wait_until_closed();
  // The font caches live to the end of the process; handing them back keeps leak checkers quiet.
  if (window || images) {
    window.reset();
    images.reset();
    basinfit::plot::release_font_caches();
  }
  // A run stopped by a signal ends by it, so that a calling shell or script stops too.
  if (interrupted_by != 0 && status == 128 + interrupted_by) {
    std::signal(interrupted_by, SIG_DFL);
    std::raise(interrupted_by);
  }
  return status;
}
