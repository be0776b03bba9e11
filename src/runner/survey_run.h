#pragma once
// One run of the engine with everything beside its reports: the results tables and run record,
// the survey page and sections, the basin charts, the graphics window, the progress line and a
// way to stop between stations.  Every front end (basinfit, basinfit-batch, the workbench) runs a
// survey through this one entry, in process.
//
//   runner::SurveyRun run;
//   run.control_file = "control.txt";
//   run.results.directory = ".";  run.page.html_file = "survey.html";
//   run.folder = "/data/surveys/A";            // relative names resolve there
//   const int status = runner::run_survey(run);
//
// Surveys may run side by side on threads of one process: a run keeps all its state in its own
// objects, and `folder` gives each its own working folder without touching the process's.

#include <tbb/task_arena.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "results/results_analysis.h"
#include "run/station_loop.h"
#include "run/stop_request.h"
#include "survey/survey_report.h"

namespace basinfit::runner {

// What the results tables and the page analyse beyond the engine's reports.
struct AnalysisOptions {
  // Nominal drop levels for the load check (a bare number is in the survey's load unit); empty:
  // 26.7, 40.0, 53.4 and 71.2 kN.
  std::vector<results::LoadLevel> load_levels;
  // The response the uniform sections follow; the default, the subgrade's normalised modulus.
  survey::SectionsBy sections_by;
  double min_section_length = 0;         // in the survey's chainage unit; 0: at least three stations
  int multistart = 0;                    // side fits per drop from spread seeds
  std::vector<double> sensor_precision;  // {absolute, percent}; empty: 2 microns + 0.3 %
};

struct SurveyRun {
  std::string control_file;
  // When not empty, the run works in this folder: the control file, the files it names, the
  // results folder, the page, the chart folder and the station table are found from there when
  // their names are relative, and are recorded as given.
  std::filesystem::path folder;

  // Where the results tables and run record go (directory empty: none), and the station table
  // they take positions from; the analysis settings come from `analysis`.
  results::ResultsOptions results;
  // Where the page goes (html_file empty: no page; plot_dir: the basin charts too); the
  // sections' settings come from `analysis`.
  survey::SurveyReportOptions page;
  AnalysisOptions analysis;
  std::string station_table_file;  // empty: none

  int jobs = 1;  // station workers; 1 runs the stations one after another
  // Workers shared with other runs (an arena of `jobs` threads); null: the run makes its own.
  tbb::task_arena* pool = nullptr;
  bool keep_control = false;
  std::vector<std::string> command_line;  // for the run record

  std::ostream* terminal = nullptr;  // the text window of a windowed run (standard output)
  std::ostream* errors = nullptr;    // diagnostics (standard error)
  // A batch-mode run reports each drop and station here (a progress line or a callback).
  ProgressCounter* progress = nullptr;
  // Each finished station as its row of stations.csv, in survey order, on the run's own thread
  // (only with results or a page).
  results::ResultsAnalysis::RowListener on_station;
  // A request ends the run after the station in hand; every output then ends with that station,
  // and the run ends with the request's status (128 + the signal, or kCancelledStatus for a
  // cancel).  Only with results or a page: a run without them has nothing to keep whole.
  const StopRequest* stop = nullptr;
  // A windowed run shows each basin in a graphics window and keeps it on screen until closed.
  bool window = true;
};

// Runs one survey; returns the exit status: 0 success, 1 input error, 2 usage or file-system
// error, 128 + signal or kCancelledStatus (130) when stopped through `stop`.  Every failure has written one
// message to `errors`.
int run_survey(const SurveyRun& run);

}  // namespace basinfit::runner
