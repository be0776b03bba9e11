#pragma once
// The locally constrained (Levenberg-Marquardt / More-Hebden) step of a quadratic model,
// worked in the eigenbasis of the scaled model matrix.
//
// In scaled variables t = D s the model is  b^T t + 1/2 t^T B t  with B = V diag(e) V^T.
// With a = V^T b the step for a multiplier mu is  t(mu) = -V diag(a_i / (e_i + mu)),  and
// the secular function ||t(mu)|| - radius is monotone for mu > -min(e).  Working with
// (e, a) makes every trial of mu cost O(m) and handles an indefinite B and the hard case
// exactly.

namespace basinfit::solver {

struct ConstrainedStep {
  float multiplier = 0.0f;        // mu; 0 for the full model step
  float length = 0.0f;            // ||t||
  float reduction = 0.0f;         // predicted reduction of the model for t
  bool full_step_exists = false;  // B positive definite (nonsingular for Gauss-Newton)
  float full_length = -1.0f;      // ||B^-1 b|| when it exists, else negative
  float full_reduction = -1.0f;   // 1/2 b^T B^-1 b when it exists, else negative
  int trials = 0;                 // trial values of mu used
};

// Computes the coefficients c (in the eigenbasis) of a step whose length lies in
// [lower_factor, upper_factor] * radius, or of the full step when that is no longer than
// upper_factor * radius.  `mu_start` seeds the multiplier iteration (the previous step's
// mu); at most `max_trials` values of mu are tried.  Eigenvalues at or below
// `zero_tolerance` in magnitude count as zero (the model is then singular).
ConstrainedStep locally_constrained_step(const float* e, const float* a, int m, float radius,
                                         float lower_factor, float upper_factor, float mu_start,
                                         int max_trials, float zero_tolerance, float* c);

// Zero tolerance for eigenvalues of a general symmetric model matrix, and for squared
// singular values (the Gauss-Newton matrix is worked from its factor, so its small
// singular values are resolved to relative accuracy, not their squares).
float eigenvalue_zero_tolerance(const float* e, int m);
float squared_singular_value_zero_tolerance(const float* e, int m);

// Predicted reduction -(a^T c) - 1/2 sum e_i c_i^2 of a step with eigen-coefficients c.
float model_reduction(const float* e, const float* a, const float* c, int m);

}  // namespace basinfit::solver
