#pragma once
// The stations of a survey on several workers, with the reports, the log and the basins exactly
// as one worker writes them.
//
// What a station needs from the ones before it is only the modulus column its first drop starts
// from.  With computed seeds (seed option 0) a station usually makes its own column from its
// first basin and is free; where the seed equations cannot use the basin, or for any other seed
// option, it starts from the previous station's first-drop moduli.  The first drops may so form
// a chain, while every later drop of a station only waits on its own first drop.  Workers run
// stations as soon as their start column is known; the main thread reads ahead, finds each
// station's dependency, and writes the finished stations in survey order.

#include "run/station_loop.h"

namespace basinfit {

// Runs the stations of `deflections` (positioned after the route record) on `parallel.jobs`
// workers.  `state` holds the settings and the initial modulus column; `computations` (the
// main thread's own) computes seed probes.  Reports, log lines, basins and errors come out as
// the serial run writes them: an input error in a station is raised after every earlier
// station is written, and no later station is written.
DriverEnd run_parallel_stations(RunState& state, MessageWriter& messages, StationComputations& computations,
                                ReportWriter& reports, const Clock& clock, ListReader& deflections,
                                const ParallelRun& parallel, ProgressCounter* progress,
                                StationAnalysis* analysis, int& stop_line);

// The processors this process may run on (its CPU affinity), at least 1.
int available_cores();

}  // namespace basinfit
