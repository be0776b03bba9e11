#pragma once
// One run of a project at a time, in the background, watched as it goes.  The run is the
// batch over the run's own manifest row, so its outputs and database rows are exactly those of
// `basinfit-batch run`.  Progress is a numbered list of events (start, each station as the
// engine finishes it, the engine's messages, the end) kept for the whole run, so a browser that
// reconnects asks for the events after the last one it saw and misses nothing.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "workbench/project.h"

namespace basinfit::workbench {

struct RunEvent {
  long id = 0;
  std::string event;  // "start", "progress", "station", "message", "end"
  std::string data;   // JSON
};

class RunManager {
 public:
  // `jobs`: the station workers of a run.
  RunManager(Project& project, int jobs);
  ~RunManager();  // cancels a run going on and waits for it
  RunManager(const RunManager&) = delete;
  RunManager& operator=(const RunManager&) = delete;

  // Starts `run` (a manifest row).  Nothing when it started, else why not: a run of this
  // project going on, here or in another workbench on the same folder.
  std::optional<std::string> start(const std::string& run);
  // Asks the run going on to stop; false when none is going on.
  bool cancel();
  Json state() const;
  // The events numbered above `after`, waiting up to `wait` for one when there is none yet.
  std::vector<RunEvent> events_after(long after, std::chrono::milliseconds wait) const;

 private:
  void work(std::string run, long stations, long drops, std::chrono::steady_clock::time_point started);
  void emit(const std::string& event, const Json& data);

  Project& project_;
  int jobs_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<RunEvent> events_;
  long next_id_ = 1;
  bool running_ = false;
  std::string current_;
  std::thread thread_;
  std::atomic<int> stop_{0};  // the batch's stop flag: non-zero ends the run after the station in hand
  int lock_fd_ = -1;
};

}  // namespace basinfit::workbench
