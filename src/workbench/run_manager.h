#pragma once
// One run of a project at a time, in the background, heard as it goes.  The run is the batch over
// the run's own manifest row, so its outputs and database rows are exactly those of
// `basinfit-batch run`.  What the page hears of it is a numbered list of events -- start, progress,
// each station as the engine finishes it, the engine's messages, the end -- kept for the whole
// run, so a browser that reconnects asks for the events after the last one it saw and misses
// nothing.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "network/output_lock.h"
#include "run/stop_request.h"
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

  // Starts `run` (a manifest row).  Throws Error (kConflict) while a run of this project goes on,
  // here or in another program on the same project.
  void start(const std::string& run);
  // Asks the run going on to stop after its station in hand (recorded cancelled); false when none
  // is going on.
  bool cancel();
  // The process is asked to end by `signal`: the run going on stops as for that signal.
  void stop_for_signal(int signal);
  Json state() const;
  // The events numbered above `after`, waiting up to `wait` for one when there is none yet.
  std::vector<RunEvent> events_after(long after, std::chrono::milliseconds wait) const;

 private:
  void work(std::string run, long stations, long drops, std::chrono::steady_clock::time_point started);
  Json run_batch(const std::string& run, long stations, long drops,
                 std::chrono::steady_clock::time_point started);
  void emit(const std::string& event, const Json& data);

  Project& project_;
  int jobs_;
  mutable std::mutex mutex_;  // the events and the run's state
  mutable std::condition_variable changed_;
  std::vector<RunEvent> events_;
  long next_id_ = 1;
  bool running_ = false;
  std::string current_;
  std::thread thread_;
  StopRequest stop_;
  std::optional<network::OutputLock> lock_;  // the project's results, held while a run goes on
};

}  // namespace basinfit::workbench
