#pragma once
// A batch over a network's manifest: surveys side by side, each into its own folder under
// DIR/surveys/ and into one results database; shards for a cluster and their merge.

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "network/manifest.h"
#include "network/survey_executor.h"
#include "run/stop_request.h"

namespace basinfit::network {

struct Shard {
  int index = 0;  // 0 .. count-1
  int count = 1;
};

struct BatchOptions {
  std::filesystem::path out;
  int jobs = 1;                      // worker threads shared by the surveys and their stations
  std::optional<Shard> shard;        // run only this shard, into DIR/shards/INDEX.sqlite
  std::ostream* progress = nullptr;  // a terminal for the progress line, or nothing
  std::ostream* verbose = nullptr;   // a line per finished survey and the run's timings, or nothing
  // Each survey's progress (from worker threads: thread-safe and short) and each line its import
  // and engine say (from the survey's thread).
  std::function<void(const std::string& survey, const SurveyProgress&)> on_progress;
  std::function<void(const std::string& survey, const std::string& line)> on_message;
  // Each finished station of each survey as its row of stations.csv (from the survey's thread).
  std::function<void(const std::string& survey, const results::StationRow& row)> on_station;
  // Once requested, no further survey starts, and those running end after the station in hand
  // (recorded cancelled for a cancel, failed for a signal; the next run takes them again).  See
  // runner::SurveyRun::stop.
  const StopRequest* stop = nullptr;
  // The caller holds the output's lock (an OutputLock of the database); else the batch takes it
  // and refuses to run while another program holds it.
  bool output_locked = false;
};

struct BatchSummary {
  int surveys = 0;  // in this run's selection
  int ran = 0;
  int skipped = 0;  // already recorded with the same inputs, options and engine
  std::vector<std::pair<std::string, std::string>> failed;  // survey, message
  std::string line() const;                                 // the one-line summary
  bool stopped = false;                                     // ended early through BatchOptions::stop
  double seconds = 0;                                       // the whole run
  double processor_seconds = 0;                             // processor time of the whole run, every thread
  double database_seconds = 0;  // processor time loading the result tables into the database
};

BatchSummary run_batch(const Manifest& manifest, const BatchOptions& options, SurveyExecutor& executor);

// Shards of a manifest balanced by size: surveys in decreasing size (manifest order among
// equals), each to the shard with the least size so far (the lowest index among equals).
std::vector<std::vector<std::size_t>> plan_shards(const std::vector<long>& sizes, int count);
std::vector<long> survey_sizes(const Manifest& manifest);

// DIR/shards/plan.json: the shard count and each shard's surveys.
void write_shard_plan(const std::filesystem::path& out, const Manifest& manifest,
                      const std::vector<std::vector<std::size_t>>& plan);

// DIR/shards/plan.json as read back: the shard count and each shard's survey names.  Throws
// InputError naming the file when it is not a plan of this shape (a count from 1 to
// kMaxShards, one list of names per shard).
inline constexpr int kMaxShards = 100000;
struct ShardPlan {
  std::filesystem::path manifest;
  int count = 0;
  std::vector<std::vector<std::string>> surveys;
};
ShardPlan read_shard_plan(const std::filesystem::path& out);

struct MergeOutcome {
  int copied = 0;               // surveys copied into results.sqlite
  std::vector<int> missing;     // shards without a database
  std::vector<int> incomplete;  // shards whose run did not finish every planned survey
};

// Folds DIR/shards/*.sqlite into DIR/results.sqlite, the newest record of each survey winning
// (Database::merge_from); merging a shard twice adds nothing.
MergeOutcome merge_shards(const std::filesystem::path& out);

// The surveys of DIR/shards/plan.json that DIR/results.sqlite (read only) does not record as
// ok, each with what it records instead ("failed", "cancelled") or "not recorded": how a
// cluster run that has ended went.
std::vector<std::pair<std::string, std::string>> surveys_not_ok(const std::filesystem::path& out);

std::filesystem::path database_path(const std::filesystem::path& out, const std::optional<Shard>& shard);

}  // namespace basinfit::network
