#pragma once
// The results beside the reports: every finished station is analysed where it ran (data checks,
// the uncertainty of its moduli, side fits) into a StationRecord, which is then, in survey
// order, written to drops.csv, sensors.csv and stations.csv, counted for run.json and handed to
// every listener (a further report reads the same records instead of computing them again).
//
//   ResultsAnalysis analysis(options);
//   analysis.add_listener([&](const StationRecord& station) { ... });
//   // in the computations factory: analysis.open(units); wiring.analysis = &analysis;
//   ... run the engine ...
//   status = analysis.finish(run, status, std::cerr);   // closes the tables, writes run.json

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// The results file names inside the results folder.
inline constexpr const char* kDropsFile = "drops.csv";
inline constexpr const char* kSensorsFile = "sensors.csv";
inline constexpr const char* kStationsFile = "stations.csv";
inline constexpr const char* kSectionsFile = "sections.csv";
inline constexpr const char* kRunRecordFile = "run.json";

// Builds the record of the finished station in `state` (everything but its sequence number).
StationRecord analyse_station(const RunState& state, const CheckLimits& limits,
                              const SensorPrecision& precision, int multistart);

class ResultsAnalysis : public StationAnalysis {
 public:
  using Listener = std::function<void(const StationRecord&)>;
  explicit ResultsAnalysis(ResultsOptions options);
  ~ResultsAnalysis() override;

  void add_listener(Listener listener) { listeners_.push_back(std::move(listener)); }
  // The writer of sections.csv, called once the run is over with the open file (after the last
  // station was recorded); it returns the sectioning settings for run.json.  Set before `open`,
  // which then opens sections.csv with the other tables.
  using SectionsWriter = std::function<nlohmann::json(OutputFile&)>;
  void set_sections_writer(SectionsWriter writer) { sections_writer_ = std::move(writer); }
  // The run's input files with their digests, once `open` has recorded them.
  const std::vector<RecordedFile>& inputs() const { return inputs_; }

  // Opens the results folder's files (creating the folder) once the engine's own files are
  // open; none of them may be one of the run's inputs or reports.  Throws InputError.
  void open(const EngineUnits& units);

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
  int finish(const Invocation& invocation, int status, std::ostream& errors);

 private:
  void write_headers(const RunSettings& settings);
  void write_station(const StationRecord& station);

  ResultsOptions options_;
  CheckLimits limits_;
  SensorPrecision precision_;
  std::vector<Listener> listeners_;
  SectionsWriter sections_writer_;
  std::unique_ptr<OutputFile> drops_, sensors_, stations_, run_record_, sections_;
  std::vector<RecordedFile> inputs_;
  std::vector<std::pair<std::string, std::string>> engine_outputs_;  // role, name
  std::optional<RunSettings> settings_;
  RunCounts counts_;
  bool failed_ = false;
};

}  // namespace basinfit::results
