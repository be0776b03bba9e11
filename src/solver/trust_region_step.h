#pragma once
// The locally constrained (Levenberg-Marquardt) step of a quadratic model: the s that
// approximately minimises  g^T s + 1/2 s^T H s  subject to ||D s|| <= radius.  It solves
// (H + mu D^2) s = -g with mu >= 0 chosen so that ||D s|| lies within a window around the
// radius, or mu = 0 when the full model step is short enough.
//
// Two models, two methods:
//  - Gauss-Newton, H = R^T R, worked from the triangle R: for each trial mu the stacked
//    matrix [R; sqrt(mu) D] is reduced to a triangle R_mu by Givens rotations, so R^T R is
//    never formed and a singular R needs no special treatment once mu > 0.  mu follows
//    Hebden's iteration with More's safeguards.
//  - The augmented model, H = R^T R + S, which may be indefinite: Cholesky factors of
//    B + lambda I in scaled variables (B = D^-1 H D^-1), with the lower bound on -lambda_min
//    raised by every factorization that breaks down, and the hard case handled by a move
//    along a direction of small curvature (More and Sorensen; Gay).

namespace basinfit::solver {

struct ConstrainedStep {
  float multiplier = 0.0f;        // mu; 0 for the full model step
  float length = 0.0f;            // ||D s||
  float reduction = 0.0f;         // reduction the model predicts for s
  bool full_step_exists = false;  // R nonsingular, or H positive definite
  float full_length = -1.0f;      // ||D s_N|| of the full model step when it exists, else negative
  float full_reduction = -1.0f;   // its predicted reduction when it exists, else negative
  int trials = 0;                 // trial values of mu used, mu = 0 included
  bool hard_case = false;         // the step was completed along a direction of small curvature
};

// Acceptance window [lower_factor, upper_factor] * radius and the cap on trial values of mu.
struct StepWindow {
  float lower_factor = 0.9f;
  float upper_factor = 1.1f;
  int max_trials = 12;
};

// Gauss-Newton model  1/2 ||q + R s||^2  with R the packed m x m upper triangle, scale d.
// `mu_start` seeds the iteration (the previous step's mu); the safeguards pull it into
// the current bounds.  Scratch: `triangle` m(m+1)/2 elements (holds R_mu on return),
// `work` 4m.  The step goes to s.
ConstrainedStep gauss_newton_step(const float* r_packed, const float* q, const float* d, int m, float radius,
                                  const StepWindow& window, float mu_start, float* triangle, float* work,
                                  float* s);

// Model  b^T t + 1/2 t^T B t  in scaled variables t = D s, with B packed symmetric (not
// necessarily positive definite).  Scratch: `factor` m(m+1)/2 elements, `work` 5m.  The
// scaled step goes to t.
ConstrainedStep indefinite_model_step(const float* b_packed, const float* b, int m, float radius,
                                      const StepWindow& window, float lambda_start, float* factor,
                                      float* work, float* t);

}  // namespace basinfit::solver
