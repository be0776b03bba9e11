#pragma once
// Running one survey of a network: import (for device files) and backcalculation, with its
// reports, log, results tables, run record and survey page written into one folder.

#include <filesystem>
#include <string>
#include <vector>

#include "network/manifest.h"

namespace basinfit::network {

struct SurveyOutcome {
  bool ok = false;
  std::string stage;  // where a failure happened: "import" or "engine"
  int exit_status = 0;
  std::string message;
  std::string route;  // the route line of the survey's deflection data file
};

class SurveyExecutor {
 public:
  virtual ~SurveyExecutor() = default;
  // Writes every output of `survey` into `folder` (existing and empty) using up to `jobs`
  // worker threads.  Never throws for a fault of the survey itself: that is the outcome.
  virtual SurveyOutcome execute(const ManifestEntry& survey, const std::filesystem::path& folder,
                                int jobs) = 0;
  // The engine's version and source revision, part of every survey's resume key.
  virtual std::string engine_version() const = 0;
  virtual std::string engine_revision() const = 0;
};

// Imports in process through the importer's public functions (as basinfit-import does) and runs
// the engine executable `basinfit` as a child process in the survey's folder, as a user would:
//   basinfit --keep-control control.txt --results . --html survey.html -q -j N [options]
class ImportAndEngineExecutor : public SurveyExecutor {
 public:
  explicit ImportAndEngineExecutor(std::filesystem::path engine);
  SurveyOutcome execute(const ManifestEntry& survey, const std::filesystem::path& folder, int jobs) override;
  std::string engine_version() const override;
  std::string engine_revision() const override;

 private:
  std::filesystem::path engine_;
};

// The files a survey's results depend on (sources, for a run folder its control file and the
// three input files it names), sorted; throws InputError when a run folder's control file
// cannot be read.
std::vector<std::filesystem::path> survey_input_files(const ManifestEntry& survey);

// The number of drops of a survey, counted from its files without backcalculating (for run
// folders: the lines of the deflection data file below the route); 1 when they cannot be read,
// so that a broken survey still has a place in a shard.
long survey_size(const ManifestEntry& survey);

// The engine's arguments after the control file for a survey's options.
std::vector<std::string> engine_arguments(const ManifestEntry& survey, int jobs);

inline constexpr const char* kSurveyPage = "survey.html";

}  // namespace basinfit::network
