#pragma once
// Side fits of one drop from seeds spread over the bound box, to see whether another set of
// moduli fits the basin about as well as the reported one.  They run the engine's own
// backcalculation (same solver, same tolerances, same sensor weights) on a copy of the state,
// with its progress lines kept away from the log; the reported fit is not touched.

#include <array>

#include "results/data_checks.h"
#include "results/records.h"
#include "run/run_state.h"

namespace basinfit::results {

// Position in [0, 1) of start `start` (0-based) of `starts` along dimension `dimension`: a
// Latin hypercube with a fixed pattern, so every dimension has exactly one start in each of
// `starts` equal strata (at its middle) and a run is reproducible.
double spread_position(int start, int starts, int dimension);

// Runs `starts` side fits of drop `drop` (1-based) of the finished station in `state`.
MultistartOutcome run_multistart(const RunState& state, int drop, int starts, const CheckLimits& limits);

}  // namespace basinfit::results
