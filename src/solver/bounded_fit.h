#pragma once
// Bounded nonlinear least squares: minimise f(x) = 1/2 sum r_i(x)^2 over x inside a box,
// with an adaptive trust-region method that switches between the Gauss-Newton model and
// a model augmented by a secant approximation of the second-order term, and a
// forward-difference Jacobian that stays inside the bounds.  Single precision throughout.
//
// Arrays follow the solver's 1-based element numbering in their documentation: x(k) is
// x[k-1], user_ints(1) is user_ints[0], iv(6) is iv[5], and so on.

#include <functional>
#include <span>

#include "solver/solver_parameters.h"

namespace basinfit {
class TextUnit;
}

namespace basinfit::solver {

// A routine of the caller that the solver hands to the residual function untouched.
using UserRoutine = std::function<void()>;

// The caller's residuals.  Arguments: n, p, the trial point x(1..p), the evaluation tag nf
// (iv(6) at a trial point, iv(7) for a difference evaluation; set it to 0 or less when the
// residuals cannot be computed at x), the output r(1..n), and the caller's user_ints,
// user_reals and user_routine.  user_ints(1) is 1 exactly at trial points (the solver sets
// it before every trial evaluation); user_ints(2) is the iteration count then; a positive
// user_ints(3) after a trial evaluation stops the solve at once.
using ResidualFunction = std::function<void(int n, int p, std::span<const float> x, int& nf,
                                            std::span<float> r, std::span<int> user_ints,
                                            std::span<float> user_reals, const UserRoutine& user_routine)>;

// The engine's entry.  b holds the bound pairs (lower, upper) of unknown k at b[2k-2] and
// b[2k-1].  Resets iv and v to the regression defaults, takes the iteration limit from
// user_ints(1), sets afctol = xctol = 1e-5, silences all printing, and runs the driver.
// On return user_ints(2) is the iteration of the last trial evaluation and user_ints(3)
// either the residual function's stop request or the return code iv(1) plus 10.
// iv needs 82 + 4p elements and v 105 + p(n + 2p + 21) + 2n (the engine passes 102 and
// 330); user_ints needs at least 3 elements.
void bounded_fit(int n, int p, std::span<float> x, std::span<const float> b,
                 const ResidualFunction& calc_residuals, std::span<int> iv, int liv, int lv,
                 std::span<float> v, std::span<int> user_ints, std::span<float> user_reals,
                 const UserRoutine& user_routine, TextUnit* output = nullptr);

// The evaluation loop: answers the least-squares layer's requests with one residual
// evaluation at a trial point or with a forward-difference Jacobian.  iv(1) = 0 asks for
// the defaults first; 12 starts a solve with the parameters in iv and v; 13 only computes
// the storage needs (iv(44), iv(45)).  Returns with the code in iv(1), or at once when the
// residual function raises user_ints(3).  `output` receives what is printed when iv(21)
// is not 0.
void bounded_fit_driver(int n, int p, std::span<float> x, std::span<const float> b,
                        const ResidualFunction& calc_residuals, std::span<int> iv, int liv, int lv,
                        std::span<float> v, std::span<int> user_ints, std::span<float> user_reals,
                        const UserRoutine& user_routine, TextUnit* output = nullptr);

// Storage the solve needs for n residuals and p unknowns.
constexpr int required_liv(int p) { return 82 + 4 * p; }
constexpr int required_lv(int n, int p) { return 105 + p * (n + 2 * p + 21) + 2 * n; }

}  // namespace basinfit::solver
