#pragma once
// The text the solver writes to its output unit: parameter-check messages, the iteration
// summary and termination messages.  Every record is written with its edit-descriptor
// format, so the layouts can be held against the message tables line by line.

#include <span>

namespace basinfit {
class TextUnit;
}

namespace basinfit::solver::messages {

void algorithm_mismatch(TextUnit& out, int expected, int given);
void bad_algorithm(TextUnit& out, int alg);
void liv_too_small_for_sizes(TextUnit& out, int liv, int minimum);
void liv_too_small(TextUnit& out, int liv, int needed);
void lv_too_small(TextUnit& out, int lv, int needed);
void p_changed(TextUnit& out, int from, int to);
void bad_state(TextUnit& out, int state);
void default_count(TextUnit& out, int have, int want);
void out_of_range(TextUnit& out, const char* name, int element, float value, float lower, float upper);
void scale_not_positive(TextUnit& out, int index, float value);
// Lists the settings that differ from the defaults (first check) or from the copy kept at
// the previous check (later checks).
void nondefault_listing(TextUnit& out, bool first_check, int initial_secant_kind, int scale_type,
                        bool any_iv_change, std::span<const float> v, std::span<const float> defaults,
                        int copy_start, int last_element);

}  // namespace basinfit::solver::messages

#include "solver/solver_parameters.h"

namespace basinfit::solver {

// The iteration summary.  While the solve runs (iv(1) below 3) it writes the line of the
// iteration just finished every |iv(19)| iterations, preceded at iteration 0 by the starting
// listing (iv(24) > 0) and the header; with a final code it writes the termination message,
// the final statistics (iv(23) > 0) and the solution listing (iv(22) > 0).
void iteration_summary(TextUnit& out, const IntParams& iv, const RealParams& v, int p,
                       std::span<const float> x, std::span<const float> d, std::span<const float> g);

}  // namespace basinfit::solver
