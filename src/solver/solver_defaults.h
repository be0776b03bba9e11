#pragma once
// Defaults and validation of the solver's parameter arrays.

#include <span>

#include "solver/solver_parameters.h"

namespace basinfit {
class TextUnit;
}

namespace basinfit::solver {

// Minimum lengths of iv and v for algorithm kind 1..4 (before the per-problem work areas).
int minimum_liv(int alg);
int minimum_lv(int alg);

// Fills iv and v with the defaults of algorithm kind `alg` (1 = nonlinear regression).
// iv(1) becomes 12 on success, 67 for a kind outside 1..4, 15 or 16 when liv or lv is below
// the kind's minimum (v is then left untouched).  Nothing is written when liv < 1.
void ivset(int alg, std::span<int> iv, int liv, int lv, std::span<float> v);

// Writes the real tuning constants v(19).. for kind 1 (odd alg) or 2 (even alg).
void set_real_defaults(int kind, int lv, std::span<float> v);

// Validates sizes and parameter values (run at every entry that is not an evaluation
// answer).  On failure iv(1) gets the code of the broken rule; messages go to `unit` only
// when iv(21) is not 0.  `d` is the scale vector (may be empty before it is laid out).
void check_parameters(int alg, std::span<const float> d, std::span<int> iv, int liv, int lv, int p,
                      std::span<float> v, TextUnit* unit);

// Allowed range of v(element) for the regression kind, element 19..50.
struct ParameterRange {
  const char* name;  // 8 characters, as the range messages print it
  float lower;
  float upper;
};
ParameterRange parameter_range(int element);

}  // namespace basinfit::solver
