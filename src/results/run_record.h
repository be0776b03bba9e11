#pragma once
// The run record (run.json): what ran, on what, with which settings, what it wrote, and how the
// drops came out.  Two runs of the same inputs with the same engine give the same record apart
// from "invocation" (command line and jobs), "started", "finished" and "wall_time_seconds".

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/file_digest.h"
#include "common/list_reader.h"
#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

using basinfit::FileDigest;

// A file of the run: its role ("deflection data file"), its name as given, what the name
// reaches ("file", "pipe", "character device", ...) and its digest (nothing for a device or a
// pipe, or a file that cannot be read).
struct RecordedFile {
  std::string role;
  std::string name;
  std::string kind;
  std::optional<FileDigest> digest;
};
// An output as it stands at the end of the run: digested only when it is a regular file.
RecordedFile recorded_file(std::string role, std::string name);
// An input as the run read it: the digest of the bytes read, from a pipe or device too.
RecordedFile recorded_input(std::string role, const TextFile& file);

// Drops by convergence code and by flag, over the recorded stations.
struct RunCounts {
  long stations = 0;
  long drops = 0;
  std::map<int, long> by_convergence_code;
  std::array<long, kFlagCount> by_flag{};
  long flagged_drops = 0;
  void add(const StationRecord& station);
};

struct RunDescription {
  std::vector<std::string> arguments;
  int jobs = 1;
  std::chrono::system_clock::time_point started, finished;
  double wall_time_seconds = 0;
  int exit_status = 0;
  std::vector<RecordedFile> inputs, outputs;
  std::optional<RunSettings> settings;  // none when the settings could not be read
  nlohmann::json options;               // the results options in effect
  RunCounts counts;
};

// "2026-12-07T11:28:17Z"
std::string utc_time(std::chrono::system_clock::time_point time);

// A float as the shortest decimal that reads back to it (0.35f becomes 0.35, not 0.3499999940395355).
double json_number(float value);

nlohmann::json settings_json(const RunSettings& settings);
nlohmann::json run_record(const RunDescription& run);

}  // namespace basinfit::results
