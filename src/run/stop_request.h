#pragma once
// A request to stop a run between two stations, and who made it: a signal (SIGINT from the
// keyboard, SIGTERM from a scheduler) or the caller (a Cancel button).  The run ends after the
// station in hand, so every output ends with that station.
//
//   StopRequest stop;              // shared with the run
//   ... stop.cancel();             // from another thread: the run ends after its station
//   ... stop.signal(SIGTERM);      // from a signal handler: async-signal-safe
//
// A run that stops ends with the status a shell shows for the signal (128 + its number) or, for
// a cancel, kCancelledStatus.

#include <atomic>
#include <optional>

namespace basinfit {

// The exit status of a run its caller cancelled: 130, as for an interrupt from the keyboard, the
// one way a person stops a program at a terminal.
inline constexpr int kCancelledStatus = 130;

class StopRequest {
 public:
  // Async-signal-safe: one lock-free store.  The first request wins.
  void signal(int number) noexcept {
    int none = 0;
    state_.compare_exchange_strong(none, number);
  }
  void cancel() noexcept {
    int none = 0;
    state_.compare_exchange_strong(none, kCancelled);
  }
  // Makes the request ready for another run.
  void reset() noexcept { state_.store(0); }

  bool requested() const noexcept { return state_.load() != 0; }
  bool cancelled() const noexcept { return state_.load() == kCancelled; }
  // The signal that asked for the stop, if a signal did.
  std::optional<int> signal_number() const noexcept {
    const int s = state_.load();
    return s > 0 ? std::optional<int>(s) : std::nullopt;
  }
  // The status a run stopped by this request ends with.
  int exit_status() const noexcept {
    const int s = state_.load();
    return s > 0 ? 128 + s : kCancelledStatus;
  }

 private:
  static constexpr int kCancelled = -1;
  std::atomic<int> state_{0};
  static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
};

}  // namespace basinfit
