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

// The parts of one run beside the engine's reports -- the results analysis, the sections, the
// survey page, the basin charts and window, the stop -- made before the run, wired into it once
// its files are open, and closed after it in the order that keeps every output consistent.
class RunParts {
 public:
  RunParts(const SurveyRun& run, std::ostream& errors);

  // Opens what is written beside the reports, before the engine's start-up checks every file;
  // 0, or the exit status of a failure (after a message).
  int prepare();
  // What the engine is given: its options and, once its units are open, the computations.
  EngineOptions engine_options();
  EngineComputations wire(EngineUnits& units);
  // After the engine: the tables, the page and the record closed with the run's status.
  int finish(int status);

 private:
  int read_station_table();
  void make_sections();
  int open_results();
  int open_page();
  void open_window(const EngineUnits& units);
  void wire_results(EngineUnits& units);
  void wire_page(EngineUnits& units);
  BasinObserver basin_observer();

  const SurveyRun& run_;
  std::ostream& errors_;
  results::ResultsOptions results_options_;
  survey::SurveyReportOptions page_options_;
  const results::ResultsAnalysis::Invocation invocation_;
  std::optional<results::StationTable> station_table_;
  std::unique_ptr<survey::SurveyReport> survey_;
  // With results, sections.csv holds the page's uniform sections (with or without the page),
  // from a collector of its own when there is no page.
  std::unique_ptr<survey::SectionsTable> sections_;
  std::unique_ptr<survey::SurveyCollector> sections_collector_;
  std::unique_ptr<results::ResultsAnalysis> analysis_;
  CompositeAnalysis analyses_;
  std::unique_ptr<StopOnSignal> stop_;
  std::unique_ptr<plot::GraphicsWindow> window_;
  std::unique_ptr<plot::BasinImageWriter> images_;
  // The text window shows identifiers and titles from the input files: control bytes are shown
  // visibly, never sent to the terminal.
  VisibleControlBytes visible_window_;
  std::ostream text_window_;
};

RunParts::RunParts(const SurveyRun& run, std::ostream& errors)
    : run_(run),
      errors_(errors),
      results_options_(run.results),
      page_options_(run.page),
      invocation_{run.command_line, run.jobs, std::chrono::system_clock::now(),
                  std::chrono::steady_clock::now()},
      visible_window_((run.terminal != nullptr ? *run.terminal : std::cout).rdbuf()),
      text_window_(&visible_window_) {
  results_options_.multistart = run.analysis.multistart;
  results_options_.sensor_precision = run.analysis.sensor_precision;
  page_options_.sections_by = run.analysis.sections_by;
  page_options_.min_section_length = run.analysis.min_section_length;
}

// The station table is read before anything is touched: a malformed one stops the run here.
int RunParts::read_station_table() {
  if (run_.station_table_file.empty()) return 0;
  try {
    station_table_ = results::StationTable::read(run_.station_table_file);
  } catch (const InputError& e) {
    errors_ << "basinfit: " << e.what() << '\n';
    return e.exit_status();
  }
  results_options_.station_table = &*station_table_;
  page_options_.station_table = &*station_table_;
  return 0;
}

void RunParts::make_sections() {
  if (results_options_.directory.empty()) return;
  sections_ = std::make_unique<survey::SectionsTable>(
      survey::SectionsTableOptions{page_options_.sections_by, page_options_.min_section_length});
  if (page_options_.html_file.empty()) {
    sections_collector_ = std::make_unique<survey::SurveyCollector>();
    // The sections follow the same positions as on the page: the station table's chainages.
    sections_collector_->use_station_table(page_options_.station_table);
  }
}

// The results analysis runs for the results folder, and for the survey page, which shows its
// data checks and input digests (without a results folder it writes no files).
int RunParts::open_results() {
  if (results_options_.directory.empty() && page_options_.html_file.empty()) return 0;
  analysis_ = std::make_unique<results::ResultsAnalysis>(results_options_);
  if (sections_)
    analysis_->set_sections_writer([this](OutputFile& file) {
      survey::SurveyCollector& collector = survey_ ? survey_->collector() : *sections_collector_;
      return sections_->write(collector.page(), collector.subgrade(), file);
    });
  // The results folder and its files are opened before the run, so that its start-up checks
  // them with every other file before anything is emptied.
  return analysis_->open_files(errors_) ? 0 : 2;
}

int RunParts::open_page() {
  if (page_options_.html_file.empty()) return 0;
  survey_ = std::make_unique<survey::SurveyReport>(page_options_);
  if (!survey_->open(errors_)) {
    analysis_->finish(invocation_, 2, errors_);  // removes what it created
    return 2;
  }
  analysis_->add_output("survey page", page_options_.html_file);
  return 0;
}

int RunParts::prepare() {
  if (const int status = read_station_table()) return status;
  make_sections();
  if (const int status = open_results()) return status;
  if (const int status = open_page()) return status;
  if (run_.stop != nullptr && analysis_) stop_ = std::make_unique<StopOnSignal>(*run_.stop);
  if (!page_options_.plot_dir.empty())
    images_ = std::make_unique<plot::BasinImageWriter>(page_options_.plot_dir);
  return 0;
}

void RunParts::open_window(const EngineUnits& units) {
  if (!units.windowed || !run_.window) return;
  plot::WindowOpening opening = plot::GraphicsWindow::open();
  if (opening.window) {
    window_ = std::move(opening.window);
  } else {
    errors_ << "basinfit: the graphics window cannot be opened: " << opening.error
            << "; the run goes on with the text output and the reports\n";
  }
}

void RunParts::wire_results(EngineUnits& units) {
  if (!analysis_) return;
  if (sections_) {
    analysis_->add_listener([this](const results::StationRecord& s) { sections_->add(s); });
    if (sections_collector_) analyses_.add(sections_collector_.get());
  }
  if (run_.on_station) analysis_->add_row_listener(run_.on_station);
  analysis_->open(units);
  analyses_.add(analysis_.get());
}

void RunParts::wire_page(EngineUnits& units) {
  if (!survey_) return;
  analyses_.add(
      survey_->start(units, std::string("basinfit ") + BASINFIT_VERSION + " (" + BASINFIT_REVISION + ")"));
  survey::SurveyCollector& collector = survey_->collector();
  // The page shows the input digests the results analysis took as it read the files.
  for (survey::SurveyInputFile& input : collector.header().input_files)
    for (const results::RecordedFile& recorded : analysis_->inputs())
      if (recorded.name == input.name && recorded.digest) input.sha256 = recorded.digest->sha256;
  analysis_->add_listener(
      [&collector](const results::StationRecord& station) { collector.annotate_station(station); });
}

// Each drop's basin to the window and the chart files, in survey order.
BasinObserver RunParts::basin_observer() {
  if (!window_ && !images_) return {};
  return [this](const std::string& station_id, int drop, std::span<const float> offsets,
                std::span<const float> measured, std::span<const float> calculated) {
    const std::string caption = plot::basin_caption(station_id, drop);
    const plot::BasinDrop basin{caption, static_cast<int>(offsets.size()), offsets, measured, calculated};
    if (window_) window_->show_basin(basin);
    if (!images_) return;
    try {
      images_->write(station_id, drop, basin);
    } catch (const plot::PlotFileError& e) {
      throw InputError(e.path().string(), 0, e.reason(), InputError::Kind::kFileSystem);
    }
  };
}

EngineComputations RunParts::wire(EngineUnits& units) {
  open_window(units);
  if (images_) images_->keep_apart_from(units.kept_files);
  EngineComputations wiring;
  wiring.make = [](MessageWriter& messages, BasinObserver observer) {
    return std::make_unique<Backcalculation>(messages, std::move(observer));
  };
  // Work beside the reports, every part on the run's one station-analysis hook.
  wire_results(units);
  wire_page(units);
  if (stop_) analyses_.add(stop_.get());  // last: the station is recorded everywhere first
  wiring.analysis = analyses_.wiring();
  wiring.observer = basin_observer();
  return wiring;
}

EngineOptions RunParts::engine_options() {
  EngineOptions options;
  if (analysis_)
    for (OutputFile* file : analysis_->files()) options.further_outputs.push_back(file);
  if (survey_) options.further_outputs.push_back(survey_->file());
  // Bare load levels are in the survey's unit, known once the general data file is read; they
  // are checked then, before anything is emptied.
  if (!run_.analysis.load_levels.empty() && analysis_)
    options.check_inputs = [this](const TextFile& general_data) {
      RunSettings settings;
      if (read_general_data(general_data, settings)) return;  // the run reports it
      analysis_->set_load_levels(results::load_levels_in_unit(run_.analysis.load_levels, settings.metric()));
    };
  options.digest_inputs = analysis_ != nullptr;
  options.control_file = run_.control_file;
  options.terminal = &text_window_;
  options.errors = survey_ ? &survey_->watch(errors_) : &errors_;
  options.jobs = run_.jobs;
  options.pool = run_.pool;
  options.keep_control = run_.keep_control;
  options.progress = run_.progress;
  return options;
}

int RunParts::finish(int status) {
  // Stopped: the status says by what, as a shell reports a signal.
  if (status == 130 && run_.stop != nullptr && run_.stop->requested()) status = run_.stop->exit_status();
  // The record is written last, with the status the run ends with.
  if (analysis_) status = analysis_->close_tables(status, errors_);
  if (survey_) status = survey_->finish(status, errors_);
  if (analysis_) status = analysis_->finish(invocation_, status, errors_);
  // In windowed mode the basin stays on screen until the user closes its window.
  if (window_) window_->wait_until_closed();
  // The font caches live to the end of the process; handing them back keeps leak checkers quiet.
  if (window_ || images_) {
    window_.reset();
    images_.reset();
    plot::release_font_caches();
  }
  return status;
}

// The run in the calling thread's working folder.
int run_here(const SurveyRun& run) {
  std::ostream& errors = run.errors != nullptr ? *run.errors : std::cerr;
  RunParts parts(run, errors);
  if (const int status = parts.prepare()) return status;
  const int status = run_control_file(
      parts.engine_options(), [&parts](EngineUnits& units) { return parts.wire(units); }, make_report_writer);
  return parts.finish(status);
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
