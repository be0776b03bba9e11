#pragma once
// The results beside the reports: every finished station is analysed where it ran (data checks,
// the uncertainty of its moduli, side fits) into a StationRecord, which is then, in survey
// order, written to drops.csv, sensors.csv and stations.csv, counted for run.json and handed to
// every listener (a further report reads the same records instead of computing them again).
//
//   ResultsAnalysis analysis(options);
//   if (!analysis.open_files(std::cerr)) return 2;        // before the run: folder and files
//   options.further_outputs = analysis.files();           // checked and emptied with the reports
//   analysis.add_listener([&](const StationRecord& station) { ... });
//   // in the computations factory: analysis.open(units); wiring.analysis = &analysis;
//   ... run the engine ...
//   status = analysis.close_tables(status, std::cerr);
//   ... every other output (the survey page) ...
//   status = analysis.finish(run, status, std::cerr);   // writes run.json last, with the real status

#include <chrono>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/csv.h"
#include "common/output_file.h"
#include "results/data_checks.h"
#include "results/records.h"
#include "results/run_record.h"
#include "results/station_table.h"
#include "results/uncertainty.h"
#include "run/startup.h"
#include "run/station_loop.h"

namespace basinfit::results {

struct ResultsOptions {
  std::string directory;                 // empty: no files, the records go to the listeners only
  std::vector<double> load_levels;       // nominal drop levels in the survey's load unit; empty: the usual
  std::vector<double> sensor_precision;  // {absolute in microns or mils, percent}; empty: 2 microns + 0.3 %
  int multistart = 0;                    // side fits per drop
  // Chainage, lane and GPS position of each test point, appended to stations.csv (not owned).
  const StationTable* station_table = nullptr;
};

// A nominal drop level as given to --load-levels: a number with a load unit ("40kN", "9000lbf",
// "9kip", "40000N") or a bare number, which is in the survey's own load unit (N or lbf).
struct LoadLevel {
  double value = 0;
  std::string unit;  // "N", "kN", "lbf", "kip", or empty for a bare number
  std::string text;  // as given
};
// Reads one level; nothing when it is not a positive finite number with an optional known unit.
std::optional<LoadLevel> parse_load_level(const std::string& text);

// The drop levels a deflectometer can apply: 1 kN to 350 kN (the lightest portable devices to
// the heaviest heavy-weight deflectometers).
inline constexpr double kMinDropLevelNewtons = 1000.0;
inline constexpr double kMaxDropLevelNewtons = 350000.0;

// The levels in the survey's load unit (N when `metric`, else lbf).  Throws InputError (exit
// status 2) naming the option, the value and the likely unit for a level that cannot be a drop
// level of a deflectometer.
std::vector<double> load_levels_in_unit(const std::vector<LoadLevel>& levels, bool metric);

// The results file names inside the results folder.
inline constexpr const char* kDropsFile = "drops.csv";
inline constexpr const char* kSensorsFile = "sensors.csv";
inline constexpr const char* kStationsFile = "stations.csv";
inline constexpr const char* kSectionsFile = "sections.csv";
inline constexpr const char* kRunRecordFile = "run.json";

// Builds the record of the finished station in `state` (everything but its sequence number).
StationRecord analyse_station(const RunState& state, const CheckLimits& limits,
                              const SensorPrecision& precision, int multistart);

// A finished station as stations.csv holds it: the table's columns and the station's values as
// text, beside the record they were written from.
struct StationRow {
  const std::vector<std::string>& columns;
  const std::vector<std::string>& values;
  const StationRecord& record;
};

class ResultsAnalysis : public StationAnalysis {
 public:
  using Listener = std::function<void(const StationRecord&)>;
  using RowListener = std::function<void(const StationRow&)>;
  explicit ResultsAnalysis(ResultsOptions options);
  ~ResultsAnalysis() override;

  void add_listener(Listener listener) { listeners_.push_back(std::move(listener)); }
  // Hears each station as its row of stations.csv, in survey order, with or without the files.
  void add_row_listener(RowListener listener) { row_listeners_.push_back(std::move(listener)); }
  // The writer of sections.csv, called once the run is over with the open file (after the last
  // station was recorded); it returns the sectioning settings for run.json.  Set before
  // `open_files`, which then opens sections.csv with the other tables.
  using SectionsWriter = std::function<nlohmann::json(OutputFile&)>;
  void set_sections_writer(SectionsWriter writer) { sections_writer_ = std::move(writer); }
  // The nominal drop levels in the survey's load unit, once that unit is known (before begin).
  void set_load_levels(std::vector<double> levels) { options_.load_levels = std::move(levels); }
  // The run's input files with their digests, once `open` has recorded them.
  const std::vector<RecordedFile>& inputs() const { return inputs_; }

  // Before the run: creates the results folder when missing and opens its four files without
  // changing them, so that the run's start-up can compare them with its other files before
  // anything is emptied.  False (after a message on `errors`) when that fails.
  bool open_files(std::ostream& errors);
  // The files opened by open_files, for EngineOptions::further_outputs.
  std::vector<OutputFile*> files() const;
  // Once the engine's own files are open and checked: records the inputs as read.
  void open(const EngineUnits& units);
  // Further outputs to list in the record (the survey page), digested when the record is written.
  void add_output(std::string role, std::string name) {
    further_outputs_.emplace_back(std::move(role), std::move(name));
  }

  void begin(const RunState& state) override;
  std::unique_ptr<Result> analyse(const RunState& state) const override;
  void record(const RunState& state, std::unique_ptr<Result> result) override;

  // After the engine has closed its files: closes the tables and writes run.json.  Returns the
  // exit status, `status` unless writing the results failed (then 2, with a message on `errors`).
  struct Invocation {
    std::vector<std::string> arguments;
    int jobs = 1;
    std::chrono::system_clock::time_point started;
    std::chrono::steady_clock::time_point started_steady;
  };
  // Closes the tables after the engine has closed its reports.  Returns the exit status, `status`
  // unless closing failed (then 2, with a message on `errors`).
  int close_tables(int status, std::ostream& errors);
  // Writes run.json, the last file of the run, with `status` as the run ends.  A run that never
  // got past its start-up leaves nothing: files and a folder this run created are removed.
  int finish(const Invocation& invocation, int status, std::ostream& errors);

 private:
  void write_headers(const RunSettings& settings);
  std::vector<std::string> stations_columns(const RunSettings& settings) const;
  CsvRow stations_row(const StationRecord& station) const;
  void write_station(const StationRecord& station, const CsvRow& stations_row);

  ResultsOptions options_;
  CheckLimits limits_;
  SensorPrecision precision_;
  std::vector<Listener> listeners_;
  std::vector<RowListener> row_listeners_;
  std::vector<std::string> stations_columns_;
  SectionsWriter sections_writer_;
  std::unique_ptr<OutputFile> drops_, sensors_, stations_, run_record_, sections_;
  std::vector<RecordedFile> inputs_;
  std::vector<std::pair<std::string, std::string>> engine_outputs_;  // role, name
  std::vector<std::pair<std::string, std::string>> further_outputs_;
  std::filesystem::path created_folder_;  // the outermost folder open_files created, if any
  bool started_ = false;                  // open(units) ran: the run got past its start-up
  std::optional<RunSettings> settings_;
  RunCounts counts_;
  bool failed_ = false;
};

}  // namespace basinfit::results
