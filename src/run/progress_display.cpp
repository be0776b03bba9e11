#include "run/progress_display.h"

#include <cstdio>

namespace basinfit {

namespace {

std::string clock_text(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string ProgressDisplay::line(long stations_done, long stations, long drops_done, long drops,
                                  double seconds) {
  char text[160];
  const double rate = seconds > 0 ? static_cast<double>(drops_done) / seconds : 0.0;
  std::string left = "--:--";
  if (drops_done > 0 && drops >= drops_done && rate > 0)
    left = clock_text(static_cast<double>(drops - drops_done) / rate);
  std::snprintf(text, sizeof text, "stations %ld/%ld  drops %ld/%ld  %.1f drops/s  elapsed %s  left %s",
                stations_done, stations, drops_done, drops, rate, clock_text(seconds).c_str(), left.c_str());
  return text;
}

void ProgressDisplay::start(long stations, long drops) {
  std::lock_guard lock(mutex_);
  stations_ = stations;
  drops_ = drops;
  started_ = Clock::now();
  show(true);
}

void ProgressDisplay::drop_done() {
  std::lock_guard lock(mutex_);
  ++drops_done_;
  show(false);
}

void ProgressDisplay::station_done() {
  std::lock_guard lock(mutex_);
  ++stations_done_;
  show(false);
}

void ProgressDisplay::finish() {
  std::lock_guard lock(mutex_);
  if (!visible_) return;
  out_ << "\r\033[K" << std::flush;
  visible_ = false;
}

// Rewrites the line at most four times a second: a terminal is slow next to a fast survey.
void ProgressDisplay::show(bool force) {
  const Clock::time_point now = Clock::now();
  if (!force && visible_ && now - shown_ < std::chrono::milliseconds(250)) return;
  shown_ = now;
  visible_ = true;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  out_ << "\r\033[K" << line(stations_done_, stations_, drops_done_, drops_, seconds) << std::flush;
}

}  // namespace basinfit
