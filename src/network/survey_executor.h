#pragma once
// Running one survey of a network: import (for device files) and backcalculation, with its
// reports, log, results tables, run record and survey page written into one folder.

#include <tbb/task_arena.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "network/manifest.h"
#include "network/survey_status.h"
#include "results/results_analysis.h"
#include "run/stop_request.h"

namespace basinfit::network {

struct SurveyOutcome {
  bool ok = false;
  SurveyStage stage = SurveyStage::kNone;  // where a failure happened: import or engine
  int exit_status = 0;
  std::string message;
  std::string route;  // the route line of the survey's deflection data file
};

// How far a survey's backcalculation has come (zero totals until the engine has read its files).
struct SurveyProgress {
  long stations = 0, drops = 0;            // in the survey
  long stations_done = 0, drops_done = 0;  // finished so far
};

// What a caller sees of a survey while it runs, and how it stops it.
struct ExecutionControl {
  // After each drop and station; called from the engine's worker threads, so it must be safe
  // to call from several threads at once, and short.
  std::function<void(const SurveyProgress&)> progress;
  // Each line the importer or the engine says (notes, warnings, the reason of a failure), as it
  // is said, from the survey's own thread.
  std::function<void(const std::string&)> message;
  // Each finished station as its row of stations.csv, in survey order, from the survey's thread.
  std::function<void(const results::StationRow&)> station;
  // A request ends the survey after the station in hand (see runner::SurveyRun::stop).
  const StopRequest* stop = nullptr;
  // Workers shared by every survey of the process; null: the survey's engine makes its own.
  tbb::task_arena* pool = nullptr;
};

class SurveyExecutor {
 public:
  virtual ~SurveyExecutor() = default;
  // Writes every output of `survey` into `folder` (existing and empty) using up to `jobs`
  // station workers.  Never throws for a fault of the survey itself: that is the outcome.
  virtual SurveyOutcome execute(const ManifestEntry& survey, const std::filesystem::path& folder, int jobs,
                                const ExecutionControl& control) = 0;
  // The engine's version and source revision, part of every survey's resume key.
  virtual std::string engine_version() const = 0;
  virtual std::string engine_revision() const = 0;
};

// Imports through the importer's public functions (as basinfit-import does) and runs the engine
// through its library entry, both in process, in the survey's folder, with the outputs a user
// gets from
//   basinfit --keep-control control.txt [--station-table station-table.csv]
//            --results . --html survey.html -q -j N [options]
class ImportAndRunExecutor : public SurveyExecutor {
 public:
  SurveyOutcome execute(const ManifestEntry& survey, const std::filesystem::path& folder, int jobs,
                        const ExecutionControl& control) override;
  std::string engine_version() const override;
  std::string engine_revision() const override;
};

// The files a survey's results depend on (sources, for a run folder its control file and the
// three input files it names), sorted; throws InputError when a run folder's control file
// cannot be read.
std::vector<std::filesystem::path> survey_input_files(const ManifestEntry& survey);

// Why a survey's files may not be read, naming the first such file: one that is not a regular
// file (a device such as /dev/zero would never end, a pipe would wait for a writer forever) or
// that is larger than any survey file (kMaxSurveyBytes; a structure file kMaxStructureBytes).
// Nothing when every file the survey reads is a regular file of a sound size.  Only the files'
// kinds and sizes are looked at: nothing is opened.
std::optional<std::string> refused_input(const ManifestEntry& survey);

// The number of drops of a survey, counted from its files without backcalculating (for run
// folders: the lines of the deflection data file below the route); 1 when they cannot be read,
// or may not be (refused_input), so that a broken survey still has a place in a shard.
long survey_size(const ManifestEntry& survey);

// The engine's arguments after the control file for a survey's options (the station table's
// when the folder holds one).
std::vector<std::string> engine_arguments(const ManifestEntry& survey, int jobs, bool station_table);

inline constexpr const char* kSurveyPage = "survey.html";

}  // namespace basinfit::network
