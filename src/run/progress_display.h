#pragma once
// The progress line of a long batch run on a terminal: stations and drops done of the total,
// drops per second, elapsed time and an estimate of the time left, rewritten in place.  It goes
// to standard error only, never to the log or the reports.

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

#include "run/station_loop.h"

namespace basinfit {

class ProgressDisplay : public ProgressCounter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ProgressDisplay(std::ostream& out) : out_(out) {}

  void start(long stations, long drops) override;
  void drop_done() override;
  void station_done() override;
  void finish() override;

  // The text of the line for the given counts and elapsed seconds (no control characters).
  static std::string line(long stations_done, long stations, long drops_done, long drops, double seconds);

 private:
  void show(bool force);

  std::ostream& out_;
  std::mutex mutex_;
  long stations_ = 0, drops_ = 0, stations_done_ = 0, drops_done_ = 0;
  Clock::time_point started_{}, shown_{};
  bool visible_ = false;
};

}  // namespace basinfit
