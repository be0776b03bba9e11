#pragma once
// Seed moduli computed from the first drop's deflection basin (up to three layers), by
// regression equations on the basin area out to 36 in and the deflection there.

#include "run/run_state.h"

namespace basinfit {

// Outcome of the seed computation for messages and tests.
enum class SeedResult {
  kComputed,
  kBasinUnusable,  // the basin cannot support the equations; the modulus column is kept
};

// Computes the seeds of the backcalculated layers from drop 1 of `station` into `modulus`
// (the modulus column of drop 1, MPa or ksi), which on entry holds the current seeds or
// fixed moduli; fixed layers keep their values and enter the equations with them.
SeedResult compute_seed_moduli(const RunSettings& settings, const StationData& station,
                               PerLayer<float>& modulus);

}  // namespace basinfit
