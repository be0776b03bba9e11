#pragma once
// Interrupts of a program that runs surveys: SIGINT (Ctrl-C) and SIGTERM (a scheduler's cancel)
// end the runs after the station in hand, so that every output ends with the same station; a
// second signal ends the process at once.

#include <atomic>

namespace basinfit::runner {

// The signal that asked the process to stop (SIGINT or SIGTERM), 0 before any; give it to
// SurveyRun::stop (or a batch's stop flag).  Set only by the handler.
const std::atomic<int>& stop_signal();

// Installs the handler for SIGINT and SIGTERM (reset after its first signal, so a second one
// ends the process).  A signal the caller ignores (a job started in the background by a shell)
// stays ignored.
void stop_between_stations_on_interrupt();

// After a run stopped by `signal` has closed every output: ends the process by that signal, so
// that a calling shell or scheduler sees how it ended.
[[noreturn]] void end_by_signal(int signal);

}  // namespace basinfit::runner
