#pragma once
// The secant update of S, the approximation of the second-order part sum r_i Hess(r_i)
// of the Hessian of 1/2 ||r||^2.

namespace basinfit::solver {

// Updates the packed symmetric p x p matrix s_packed (lower triangle by rows) after a step
// `step`, given the change of the gradient `gradient_change` = g+ - g and the secant
// vector `secant` = (J+ - J)^T r+.  S is first sized down by
// min(1, |s^T y#| / |s^T S s|); the symmetric rank-two update then makes S+ s = y# (exactly
// unless the step is within about cosmin of orthogonal to the gradient change, where the
// update is damped).  `work` needs 2p elements.
void secant_update(int p, const float* step, const float* gradient_change, const float* secant, float cosmin,
                   float* s_packed, float* work);

}  // namespace basinfit::solver
