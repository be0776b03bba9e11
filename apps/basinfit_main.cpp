// basinfit: backcalculates pavement layer moduli from falling-weight-deflectometer basins.
//
// The engine takes one argument, a control file naming every input and output file.  With a
// log unit in the control file it runs in batch mode; without one it shows its progress on
// the terminal and each drop's basin in a "Graphics Output" window.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <iostream>
#include <string>

#include "basinfit_version.h"
#include "option_checks.h"
#include "options/command_line.h"
#include "run/progress_display.h"
#include "run/station_scheduler.h"
#include "runner/interrupts.h"
#include "runner/survey_run.h"
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "basinfit"};
  basinfit::runner::SurveyRun run;
  app.add_option("CONTROL_FILE", run.control_file,
                 "Control file naming the input and output files (deleted once read when a regular file)")
      ->required();
  app.add_option(
         "--plot-dir", run.page.plot_dir,
         "Also write each drop's basin chart as DIR/<station>-<drop>.png and .svg, in batch and windowed "
         "mode alike")
      ->type_name("DIR");
  run.jobs = std::min(basinfit::available_cores(), kMaxJobs);
  app.add_option(
         "-j,--jobs", run.jobs,
         "Worker threads for the stations, 1 to 1024 (default: the processors this process may use); "
         "1 runs the stations one after another.  Reports, log and charts are the same for any number")
      ->check(basinfit::cli::whole_number(1, kMaxJobs))
      ->type_name("N");
  app.add_option(
         "--html", run.page.html_file,
         "Also write the survey page FILE: one self-contained HTML file with the profiles, the uniform "
         "sections and every station's drops and basins (with --plot-dir, also the profile charts)")
      ->type_name("FILE");
  app.add_option("--station-table", run.station_table_file,
                 "Chainage, lane, GPS position and comment of each test point, from the station table FILE "
                 "of a run folder (CSV: station,chainage,chainage_unit,lane,latitude,longitude,comment); "
                 "used by --results (stations.csv) and --html (positions along the route)")
      ->type_name("FILE");
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "No progress line on standard error");
  CLI::Option* results =
      app.add_option("--results", run.results.directory,
                     "Also write machine-readable results into DIR (created when missing): "
                     "drops.csv, sensors.csv, stations.csv, sections.csv and the run record run.json")
          ->check([](const std::string& dir) {
            return dir.empty() ? std::string("empty folder name") : std::string();
          })
          ->type_name("DIR");
  // The analysis options every front end shares; three of them only have a meaning with results.
  basinfit::options::SurveyOptions survey;
  const auto analysis = basinfit::options::add_to(app, survey, basinfit::options::Program::kEngine);
  for (const char* flag : {"--load-levels", "--sensor-precision", "--multistart"})
    analysis.at(flag)->needs(results);
  app.add_flag("--keep-control", run.keep_control,
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

  if (const auto refusal = basinfit::options::check(survey)) {
    std::cerr << refusal->option << ": " << refusal->reason << "\nRun with --help for more information.\n";
    return 2;
  }
  run.analysis = survey.analysis;
  run.command_line.assign(argv, argv + argc);
  // A file that reaches the process's file-size limit is then a failed write, reported with
  // the file's name and the reports cut back to whole stations, instead of a signal that ends
  // the process mid-station without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  // With results or a page, an interrupt ends the run after the station in hand.
  namespace runner = basinfit::runner;
  if (!run.results.directory.empty() || !run.page.html_file.empty())
    runner::stop_between_stations_on_interrupt();
  run.stop = &runner::stop_request();
  run.terminal = &std::cout;
  run.errors = &std::cerr;
  basinfit::ProgressDisplay progress(std::cerr);
  if (!quiet && isatty(STDERR_FILENO)) run.progress = &progress;
  const int status = runner::run_survey(run);
  // A run stopped by a signal ends by it, so that a calling shell or script stops too.
  const std::optional<int> signal = runner::stop_request().signal_number();
  if (signal && status == 128 + *signal) runner::end_by_signal(*signal);
  return status;
}
