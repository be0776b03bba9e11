#pragma once
// Interrupts of a program that runs surveys: SIGINT (Ctrl-C) and SIGTERM (a scheduler's cancel)
// end the runs after the station in hand, so that every output ends with the same station; a
// second signal ends the process at once.

#include "run/stop_request.h"

namespace basinfit::runner {

// The process's stop request: set by the handler with the signal that asked the process to stop
// (SIGINT or SIGTERM); give it to SurveyRun::stop (or a batch's stop).  A program that also stops
// for other reasons (a server asked to shut down) requests it here too, so there is one way to
// stop.
StopRequest& stop_request();

// Installs the handler for SIGINT and SIGTERM (reset after its first signal, so a second one
// ends the process).  A signal the caller ignores (a job started in the background by a shell)
// stays ignored.
void stop_between_stations_on_interrupt();

// After a run stopped by `signal` has closed every output: ends the process by that signal, so
// that a calling shell or scheduler sees how it ended.
[[noreturn]] void end_by_signal(int signal);

}  // namespace basinfit::runner
