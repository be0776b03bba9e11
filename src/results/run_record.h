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

#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

// SHA-256 of a file's bytes as 64 lowercase hex digits, and its size; nothing when the file
// cannot be read.
struct FileDigest {
  std::uintmax_t size = 0;
  std::string sha256;
};
std::optional<FileDigest> digest_file(const std::string& name);

// A file of the run: its role ("deflection data file"), its name as given, its digest.
struct RecordedFile {
  std::string role;
  std::string name;
  std::optional<FileDigest> digest;
};
RecordedFile recorded_file(std::string role, std::string name);

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
