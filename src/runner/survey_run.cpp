#include "runner/survey_run.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "basinfit_version.h"
#include "common/input_error.h"
#include "common/text_encoding.h"
#include "plot/basin_plot.h"
#include "plot/graphics_window.h"
#include "plot/image_canvas.h"
#include "report/report_writer.h"
#include "run/backcalculation.h"
#include "run/composite_analysis.h"
#include "run/input_files.h"
#include "run/startup.h"
#include "survey/sections_table.h"

namespace basinfit::runner {
namespace {

// The run in the calling thread's working folder.
int run_here(const SurveyRun& run) {
  std::ostream& errors = run.errors != nullptr ? *run.errors : std::cerr;
  results::ResultsOptions results_options = run.results;
  survey::SurveyReportOptions survey_options = run.page;
  const results::ResultsAnalysis::Invocation invocation{
      run.command_line, run.jobs, std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
  const AnalysisOptions& analysis_options = run.analysis;
  results_options.multistart = analysis_options.multistart;
  results_options.sensor_precision = analysis_options.sensor_precision;
  survey_options.sections_by = analysis_options.sections_by;
  survey_options.min_section_length = analysis_options.min_section_length;
  const std::vector<results::LoadLevel>& load_levels = analysis_options.load_levels;

  // The station table is read before anything is touched: a malformed one stops the run here.
  std::optional<results::StationTable> station_table;
  if (!run.station_table_file.empty()) {
    try {
      station_table = results::StationTable::read(run.station_table_file);
    } catch (const InputError& e) {
      errors << "basinfit: " << e.what() << '\n';
      return e.exit_status();
    }
    results_options.station_table = &*station_table;
    survey_options.station_table = &*station_table;
  }

  std::unique_ptr<survey::SurveyReport> survey;
  // With results, sections.csv holds the page's uniform sections (with or without the page),
  // from a collector of its own when there is no page.
  std::unique_ptr<survey::SectionsTable> sections;
  std::unique_ptr<survey::SurveyCollector> sections_collector;
  if (!results_options.directory.empty()) {
    sections = std::make_unique<survey::SectionsTable>(
        survey::SectionsTableOptions{survey_options.sections_by, survey_options.min_section_length});
    if (survey_options.html_file.empty()) {
      sections_collector = std::make_unique<survey::SurveyCollector>();
      // The sections follow the same positions as on the page: the station table's chainages.
      sections_collector->use_station_table(survey_options.station_table);
    }
  }

  // The results analysis runs for the results folder, and for the survey page, which shows its
  // data checks and input digests (without a results folder it writes no files).
  std::unique_ptr<results::ResultsAnalysis> analysis;
  if (!results_options.directory.empty() || !survey_options.html_file.empty()) {
    analysis = std::make_unique<results::ResultsAnalysis>(results_options);
    if (sections)
      analysis->set_sections_writer([&sections, &survey, &sections_collector](OutputFile& file) {
        survey::SurveyCollector& collector = survey ? survey->collector() : *sections_collector;
        return sections->write(collector.page(), collector.subgrade(), file);
      });
    // The results folder and its files are opened before the run, so that its start-up checks
    // them with every other file before anything is emptied.
    if (!analysis->open_files(errors)) return 2;
  }

  if (!survey_options.html_file.empty()) {
    survey = std::make_unique<survey::SurveyReport>(survey_options);
    if (!survey->open(errors)) {
      analysis->finish(invocation, 2, errors);  // removes what it created
      return 2;
    }
    analysis->add_output("survey page", survey_options.html_file);
  }

  CompositeAnalysis analyses;
  std::unique_ptr<StopOnSignal> stop;
  if (run.stop != nullptr && analysis) stop = std::make_unique<StopOnSignal>(*run.stop);

  std::unique_ptr<plot::GraphicsWindow> window;
  std::unique_ptr<plot::BasinImageWriter> images;
  if (!survey_options.plot_dir.empty())
    images = std::make_unique<plot::BasinImageWriter>(survey_options.plot_dir);

  const ComputationsFactory computations = [&](EngineUnits& units) {
    if (units.windowed && run.window) {
      plot::WindowOpening opening = plot::GraphicsWindow::open();
      if (opening.window) {
        window = std::move(opening.window);
      } else {
        errors << "basinfit: the graphics window cannot be opened: " << opening.error
               << "; the run goes on with the text output and the reports\n";
      }
    }
    if (images) images->keep_apart_from(units.kept_files);
    EngineComputations wiring;
    if (analysis) {
      if (sections) {
        analysis->add_listener([&sections](const results::StationRecord& s) { sections->add(s); });
        if (sections_collector) analyses.add(sections_collector.get());
      }
      if (run.on_station) analysis->add_row_listener(run.on_station);
      analysis->open(units);
      analyses.add(analysis.get());
    }
    wiring.make = [](MessageWriter& messages, BasinObserver observer) {
      return std::make_unique<Backcalculation>(messages, std::move(observer));
    };
    // Work beside the reports, every part on the run's one station-analysis hook.
    if (survey) {
      analyses.add(
          survey->start(units, std::string("basinfit ") + BASINFIT_VERSION + " (" + BASINFIT_REVISION + ")"));
      survey::SurveyCollector& collector = survey->collector();
      for (survey::SurveyInputFile& input : collector.header().input_files)
        for (const results::RecordedFile& recorded : analysis->inputs())
          if (recorded.name == input.name && recorded.digest) input.sha256 = recorded.digest->sha256;
      analysis->add_listener(
          [&collector](const results::StationRecord& station) { collector.annotate_station(station); });
    }
    if (stop) analyses.add(stop.get());  // last: the station is recorded everywhere first
    wiring.analysis = analyses.wiring();
    if (window || images) {
      wiring.observer = [&](const std::string& station_id, int drop, std::span<const float> offsets,
                            std::span<const float> measured, std::span<const float> calculated) {
        const std::string caption = plot::basin_caption(station_id, drop);
        const plot::BasinDrop basin{caption, static_cast<int>(offsets.size()), offsets, measured, calculated};
        if (window) window->show_basin(basin);
        if (images) {
          try {
            images->write(station_id, drop, basin);
          } catch (const plot::PlotFileError& e) {
            throw InputError(e.path().string(), 0, e.reason(), InputError::Kind::kFileSystem);
          }
        }
      };
    }
    return wiring;
  };

  EngineOptions options;
  if (analysis)
    for (OutputFile* file : analysis->files()) options.further_outputs.push_back(file);
  if (survey) options.further_outputs.push_back(survey->file());
  // Bare load levels are in the survey's unit, known once the general data file is read; they
  // are checked then, before anything is emptied.
  if (!load_levels.empty() && analysis)
    options.check_inputs = [&](const TextFile& general_data) {
      RunSettings settings;
      if (read_general_data(general_data, settings)) return;  // the run reports it
      analysis->set_load_levels(results::load_levels_in_unit(load_levels, settings.metric()));
    };
  options.digest_inputs = analysis != nullptr;
  options.control_file = run.control_file;
  // The text window shows identifiers and titles from the input files: control bytes are
  // shown visibly, never sent to the terminal.
  std::ostream& terminal = run.terminal != nullptr ? *run.terminal : std::cout;
  VisibleControlBytes visible_window(terminal.rdbuf());
  std::ostream text_window(&visible_window);
  options.terminal = &text_window;
  options.errors = survey ? &survey->watch(errors) : &errors;
  options.jobs = run.jobs;
  options.pool = run.pool;
  options.keep_control = run.keep_control;
  options.progress = run.progress;
  int status = run_control_file(options, computations, make_report_writer);
  // Stopped: the status says by what, as a shell reports a signal.
  if (status == 130 && run.stop != nullptr && run.stop->requested()) status = run.stop->exit_status();
  // The record is written last, with the status the run ends with.
  if (analysis) status = analysis->close_tables(status, errors);
  if (survey) status = survey->finish(status, errors);
  if (analysis) status = analysis->finish(invocation, status, errors);
  // In windowed mode the basin stays on screen until the user closes its window.
  if (window) window->wait_until_closed();
  // The font caches live to the end of the process; handing them back keeps leak checkers quiet.
  if (window || images) {
    window.reset();
    images.reset();
    plot::release_font_caches();
  }
  return status;
}

}  // namespace

namespace {
// Where a system refuses a thread its own working folder (a container whose seccomp profile
// denies unshare), runs in folders take turns changing the process's working folder.
std::mutex process_folder;

// Returns the process to the working folder it had when made.
struct FolderReturn {
  int back = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool returned() {
    const bool ok = back >= 0 && ::fchdir(back) == 0;
    if (back >= 0) ::close(back);
    back = -1;
    return ok;
  }
  ~FolderReturn() { returned(); }
};
}  // namespace

int run_survey(const SurveyRun& run) {
  if (run.folder.empty()) return run_here(run);
  std::ostream& errors = run.errors != nullptr ? *run.errors : std::cerr;
  const auto cannot = [&](const char* what) {
    errors << "basinfit: " << run.folder.string() << ": " << what << ": " << std::strerror(errno) << '\n';
    return 2;
  };
  // The run goes on a thread of its own whose working folder is the survey's: the thread leaves
  // the file-system context it shares with the process (unshare), so relative names resolve in
  // the survey's folder and are recorded as given, while other surveys work in theirs.  The
  // station workers never open a file: the observer, the reports and the records run here.
  int status = 2;
  std::exception_ptr fault;
  std::thread thread([&] {
    try {
      if (::unshare(CLONE_FS) == 0) {
        status = ::chdir(run.folder.c_str()) == 0 ? run_here(run) : cannot("cannot work in this folder");
        return;
      }
      if (errno != EPERM && errno != ENOSYS && errno != EINVAL) {
        status = cannot("cannot work in this folder");
        return;
      }
      std::lock_guard lock(process_folder);
      FolderReturn folder_return;
      if (folder_return.back < 0) {
        status = cannot("cannot note the working folder");
        return;
      }
      status = ::chdir(run.folder.c_str()) == 0 ? run_here(run) : cannot("cannot work in this folder");
      if (!folder_return.returned()) status = cannot("cannot return to the working folder");
    } catch (...) {
      fault = std::current_exception();
    }
  });
  thread.join();
  if (fault) std::rethrow_exception(fault);
  return status;
}

}  // namespace basinfit::runner
