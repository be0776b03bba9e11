#pragma once
// Axis ticks at round values, as people read charts: the step between two ticks is 1, 2 or 5
// times a power of ten.

namespace basinfit {

// The smallest round step (1, 2 or 5 times a power of ten) that is at least `raw` (> 0, finite):
// 0.013 -> 0.02, 3 -> 5, 70 -> 100.
double round_step(double raw);

}  // namespace basinfit
