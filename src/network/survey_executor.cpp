#include "network/survey_executor.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <streambuf>

#include "basinfit_version.h"
#include "common/file_digest.h"
#include "common/file_names.h"
#include "common/input_error.h"
#include "import/readers.h"
#include "import/run_folder.h"
#include "import/structure.h"
#include "import/survey_files.h"
#include "import/text_values.h"
#include "run/station_loop.h"
#include "runner/survey_run.h"

namespace basinfit::network {
namespace {

namespace imp = basinfit::import;

// Reads the device files of a survey as basinfit-import does.
imp::SourceSurvey read_source(const ManifestEntry& s) {
  imp::SurveySource source{{}, s.options.format, s.options.reader};
  for (const std::filesystem::path& p : s.sources) source.files.push_back(p.string());
  return imp::read_survey(source);
}

void copy_input(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << imp::read_bytes(from.string());
  if (!out.flush()) throw InputError(to.string(), 0, "cannot be written", InputError::Kind::kFileSystem);
}

// A run folder's inputs copied into the survey's folder under their own names, and a control
// file naming them and the outputs beside them (a windowed control file becomes a batch one).
void stage_run_folder(const std::filesystem::path& source, const std::filesystem::path& folder) {
  const imp::RunFolderContents run = imp::read_run_folder_control(source);
  const auto name_of = [](const std::filesystem::path& p) { return p.filename().string(); };
  for (const std::filesystem::path* input : {&run.standard_values, &run.general_data, &run.deflections})
    copy_input(*input, folder / name_of(*input));
  // The station table beside a run folder's inputs gives its stations their positions.
  std::error_code ec;
  if (std::filesystem::is_regular_file(source / imp::kStationTableName, ec))
    copy_input(source / imp::kStationTableName, folder / imp::kStationTableName);
  const bool windowed = run.control.log_unit == 0;
  const std::string text = (windowed ? std::string("9") : std::to_string(run.control.log_unit)) + "\n" +
                           name_of(run.standard_values) + "\n" + name_of(run.general_data) + "\n" +
                           name_of(run.deflections) + "\n" + name_of(run.control.detail_report) + "\n" +
                           name_of(run.control.summary_report) + "\n" +
                           (windowed ? std::string(imp::kLogName) : name_of(run.control.log_file)) + "\n";
  std::ofstream out(folder / imp::kControlName, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush())
    throw InputError((folder / imp::kControlName).string(), 0, "cannot be written",
                     InputError::Kind::kFileSystem);
}

// Where the text window of a batch run goes.
class Discard : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
};

// Keeps what the engine says and hands each line on as it ends.
class LineSink : public std::streambuf {
 public:
  explicit LineSink(const std::function<void(const std::string&)>& each) : each_(each) {}
  const std::string& text() const { return text_; }
  // Hands on a last line without its line end.
  void finish() {
    if (!line_.empty() && each_) each_(line_);
    line_.clear();
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = static_cast<char>(c);
    text_ += ch;
    if (ch != '\n') {
      line_ += ch;
    } else {
      if (each_) each_(line_);
      line_.clear();
    }
    return c;
  }

 private:
  const std::function<void(const std::string&)>& each_;
  std::string text_, line_;
};

// The engine's progress counts passed on as one record.  Drops finish on the worker threads,
// so the counts are atomic and the callback sees a consistent snapshot of each.
class ProgressRelay : public ProgressCounter {
 public:
  explicit ProgressRelay(const std::function<void(const SurveyProgress&)>& each) : each_(each) {}
  void start(long stations, long drops) override {
    stations_ = stations;
    drops_ = drops;
    tell(0, 0);
  }
  void drop_done() override { tell(stations_done_.load(), ++drops_done_); }
  void station_done() override { tell(++stations_done_, drops_done_.load()); }
  void finish() override {}

 private:
  void tell(long stations_done, long drops_done) {
    if (each_) each_(SurveyProgress{stations_.load(), drops_.load(), stations_done, drops_done});
  }
  const std::function<void(const SurveyProgress&)>& each_;
  std::atomic<long> stations_{0}, drops_{0}, stations_done_{0}, drops_done_{0};
};

std::string last_line(const std::string& text) {
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line))
    if (!imp::trim(line).empty()) last = std::string(imp::trim(line));
  return last;
}

}  // namespace

std::vector<std::string> engine_arguments(const ManifestEntry& s, int jobs, bool station_table) {
  std::vector<std::string> args = {"--keep-control", imp::kControlName};
  if (station_table) args.insert(args.end(), {"--station-table", imp::kStationTableName});
  args.insert(args.end(), {"--results", ".", "--html", kSurveyPage, "-q", "-j", std::to_string(jobs)});
  for (std::string& a : options::arguments(s.options, options::Program::kEngine))
    args.push_back(std::move(a));
  return args;
}

std::string ImportAndRunExecutor::engine_version() const { return BASINFIT_VERSION; }
std::string ImportAndRunExecutor::engine_revision() const { return BASINFIT_REVISION; }

SurveyOutcome ImportAndRunExecutor::execute(const ManifestEntry& s, const std::filesystem::path& folder,
                                            int jobs, const ExecutionControl& control) {
  SurveyOutcome outcome;
  if (const auto refusal = refused_input(s)) {
    outcome.stage = SurveyStage::kImport;
    outcome.exit_status = 2;  // as basinfit-import ends for a file it cannot read
    outcome.message = *refusal;
    if (control.message) control.message(outcome.message);
    return outcome;
  }
  LineSink said(control.message);
  std::ostream errors(&said);
  try {
    if (s.run_folder) {
      stage_run_folder(s.sources[0], folder);
    } else {
      const imp::SourceSurvey survey = read_source(s);
      const imp::Structure structure = imp::read_structure(s.structure.string());
      imp::write_run_folder(folder.string(), imp::assemble_run(survey, structure, s.options.import), false);
    }
  } catch (const InputError& e) {
    outcome.stage = SurveyStage::kImport;
    outcome.exit_status = e.exit_status();
    outcome.message = e.what();
    if (control.message) control.message(outcome.message);
    return outcome;
  }

  std::error_code ec;
  const bool station_table = std::filesystem::is_regular_file(folder / imp::kStationTableName, ec);
  runner::SurveyRun run;
  run.folder = folder;
  run.control_file = imp::kControlName;
  run.keep_control = true;
  if (station_table) run.station_table_file = imp::kStationTableName;
  run.results.directory = ".";
  run.page.html_file = kSurveyPage;
  run.jobs = jobs;
  run.pool = control.pool;
  run.window = false;
  run.command_line = {"basinfit"};
  for (std::string& a : engine_arguments(s, jobs, station_table)) run.command_line.push_back(std::move(a));
  run.analysis = s.options.analysis;
  Discard nothing;
  std::ostream no_window(&nothing);  // a batch run has no text window
  run.terminal = &no_window;
  run.errors = &errors;
  ProgressRelay progress(control.progress);
  if (control.progress) run.progress = &progress;
  run.stop = control.stop;
  run.on_station = control.station;

  const int status = runner::run_survey(run);
  errors.flush();
  said.finish();
  outcome.exit_status = status;
  // The engine's diagnostics go into the record whole (their last 4000 characters), for a
  // survey that ran as for one that failed: notes and warnings are part of its story.
  outcome.message = std::string(imp::trim(said.text()));
  if (outcome.message.size() > 4000)
    outcome.message = "..." + outcome.message.substr(outcome.message.size() - 4000);
  if (status != 0) {
    outcome.stage = SurveyStage::kEngine;
    if (last_line(said.text()).empty())
      outcome.message = "the engine ended with exit status " + std::to_string(status);
    return outcome;
  }
  try {
    outcome.route = imp::read_run_folder(folder).route;
  } catch (const InputError&) {
  }
  outcome.ok = true;
  return outcome;
}

std::vector<std::filesystem::path> survey_input_files(const ManifestEntry& s) {
  std::vector<std::filesystem::path> files;
  if (s.run_folder) {
    const imp::RunFolderContents run = imp::read_run_folder_control(s.sources[0]);
    files = {s.sources[0] / imp::kControlName, run.standard_values, run.general_data, run.deflections};
    std::error_code ec;
    if (std::filesystem::is_regular_file(s.sources[0] / imp::kStationTableName, ec))
      files.push_back(s.sources[0] / imp::kStationTableName);
    return files;
  }
  for (const std::filesystem::path& source : s.sources) {
    try {
      for (const std::string& name : imp::source_file_names({source.string()})) files.emplace_back(name);
    } catch (const InputError&) {
      // A folder without tables adds nothing: the survey fails at import.
    }
  }
  return files;
}

std::optional<std::string> refused_input(const ManifestEntry& s) {
  std::vector<std::pair<std::filesystem::path, std::uintmax_t>> files;
  try {
    for (const std::filesystem::path& file : survey_input_files(s))
      files.emplace_back(file, imp::kMaxSurveyBytes);
  } catch (const InputError&) {
    // A run folder whose control file cannot be read: the survey fails on it at import.
  }
  if (!s.run_folder && !s.structure.empty()) files.emplace_back(s.structure, imp::kMaxStructureBytes);
  for (const auto& [file, limit] : files) {
    struct stat st {};
    // A missing file is the importer's to report, in its own words.
    if (::stat(file.c_str(), &st) != 0) continue;
    const std::string name = visible_name(file.string());
    if (!S_ISREG(st.st_mode))
      return name + ": a " + file_kind(st.st_mode) +
             ", not a regular file; a survey's files are read whole, which a device or a pipe never allows";
    if (static_cast<std::uintmax_t>(st.st_size) > limit)
      return name + ": the file is larger than " + std::to_string(limit) +
             " bytes, more than any survey or structure file read here";
  }
  return std::nullopt;
}

long survey_size(const ManifestEntry& s) {
  if (refused_input(s)) return 1;
  try {
    if (s.run_folder) return std::max(1L, imp::read_run_folder(s.sources[0]).drops());
    long drops = 0;
    for (const imp::SourceStation& station : read_source(s).stations)
      drops += static_cast<long>(station.drops.size());
    return std::max(1L, drops);
  } catch (const InputError&) {
    return 1;
  }
}

}  // namespace basinfit::network
