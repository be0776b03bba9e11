#include "solver/bounded_fit.h"

#include <algorithm>
#include <cmath>

#include "solver/bounded_fit_solver.h"
#include "solver/solver_defaults.h"
#include "solver/solver_messages.h"

namespace basinfit::solver {
namespace {

// Forms the forward-difference Jacobian at x, column by column in place in J, staying
// inside the bounds: near an upper bound the difference is taken backwards, and a refused
// evaluation shortens the step (alternating its direction when both directions fit).
// Sets iv(2) = 1 when a column cannot be formed.
void form_jacobian(BoundedFitSolver& solver, int n, int p, std::span<float> x, std::span<const float> b,
                   const ResidualFunction& calc_residuals, const IntParams& iv, const RealParams& v,
                   std::span<int> user_ints, std::span<float> user_reals, const UserRoutine& user_routine) {
  float* d = solver.scale();
  const float* r = solver.residuals();
  float* jacobian = solver.jacobian();
  if (iv(iv::kStartPhase) < 0 && v(v::kDinit) == 0.0f) std::fill(d, d + p, 1.0f);
  const float relative_step = v(v::kDltfdj);
  int evaluations = iv(iv::kDifferenceEvaluations);
  for (int k = 0; k < p; ++k) {
    float* column = jacobian + static_cast<long>(k) * n;
    const float lower = b[2 * k];
    const float upper = b[2 * k + 1];
    if (!(lower < upper)) {
      std::fill(column, column + n, 0.0f);
      continue;
    }
    const float x0 = x[k];
    const float inverse_scale = d[k] > 0.0f ? 1.0f / d[k] : 1.0f;
    float h = relative_step * std::max(std::fabs(x0), inverse_scale);
    const float h0 = h;
    float trial = x0 + h;
    float shrink = -0.5f;
    bool failed = false;
    if (x0 - h < lower) {
      shrink = 0.5f;
      if (x0 + h > upper) failed = true;
    }
    if (!failed && x0 + h > upper) {
      shrink = -shrink;
      h = -h;
      trial = x0 + h;
      if (trial < lower) failed = true;
    }
    while (!failed) {
      x[k] = trial;
      int nf = iv(iv::kJacobianTag);
      calc_residuals(n, p, std::span<const float>(x.data(), static_cast<std::size_t>(p)), nf,
                     std::span<float>(column, static_cast<std::size_t>(n)), user_ints, user_reals,
                     user_routine);
      ++evaluations;
      // A column with a value that is not finite is refused like nf <= 0.
      bool usable = nf > 0;
      for (int i = 0; usable && i < n; ++i) usable = std::isfinite(column[i]);
      if (usable) break;
      h *= shrink;
      trial = x0 + h;
      if (std::fabs(h / h0) < 0.1f) failed = true;
    }
    x[k] = x0;
    if (failed) {
      iv(iv::kEvaluationFailed) = 1;
      iv(iv::kDifferenceEvaluations) = evaluations;
      return;
    }
    for (int i = 0; i < n; ++i) column[i] = (column[i] - r[i]) / h;
  }
  iv(iv::kDifferenceEvaluations) = evaluations;
}

}  // namespace

void bounded_fit_driver(int n, int p, std::span<float> x, std::span<const float> b,
                        const ResidualFunction& calc_residuals, std::span<int> iv_storage, int liv, int lv,
                        std::span<float> v_storage, std::span<int> user_ints, std::span<float> user_reals,
                        const UserRoutine& user_routine, TextUnit* output) {
  // Declared lengths longer than the arrays are cut to the arrays, so that a wrong length
  // gives a storage code instead of a write past the end.
  liv = std::min(liv, static_cast<int>(iv_storage.size()));
  lv = std::min(lv, static_cast<int>(v_storage.size()));
  if (liv < 1) return;
  IntParams iv(iv_storage, liv);
  if (iv(iv::kState) == 0) ivset(kRegression, iv_storage, liv, lv, v_storage);
  const int entry = iv(iv::kState);
  if (entry == code::kLivTooSmall || entry == code::kLvTooSmall || entry == code::kBadAlgorithm) {
    // ivset refused; let the check write its message and keep the code.
    if (entry == code::kLivTooSmall)
      check_parameters(kRegression, {}, iv_storage, liv, lv, p, v_storage, output);
    return;
  }
  if (liv < minimum_liv(kRegression) || lv < minimum_lv(kRegression)) {
    iv(iv::kState) = liv < minimum_liv(kRegression) ? code::kLivTooSmall : code::kLvTooSmall;
    return;
  }
  RealParams v(v_storage, lv);
  iv(iv::kCovarianceRequest) = 0;
  if (entry == 1 || entry == 2) {
    // A request code on entry has no solve behind it in this call: nothing to resume.
    iv(iv::kState) = code::kBadState;
    if (output != nullptr && iv(iv::kOutputUnit) != 0) messages::bad_state(*output, entry);
    return;
  }
  if (entry < 0 || entry > 14) {
    check_parameters(kRegression, {}, iv_storage, liv, lv, p, v_storage, output);
    return;
  }
  if (n < 1 || p < 1 || x.size() < static_cast<std::size_t>(p) ||
      b.size() < 2 * static_cast<std::size_t>(p) || user_ints.size() < 3) {
    iv(iv::kState) = code::kBadDimensions;
    return;
  }
  // A finished or half-laid-out solve restarts from x with the parameters as they are.
  if (entry == code::kStorageReady || (entry >= 3 && entry <= 11)) iv(iv::kState) = code::kStart;

  BoundedFitSolver solver(n, p, x, b, iv_storage, liv, lv, v_storage, output);
  if (iv(iv::kState) == code::kStart) iv(iv::kState) = code::kStorageOnly;
  iv(iv::kExtraVNeeded) += p + (p + 2) * n;
  solver.regression_core();
  if (iv(iv::kState) != code::kStorageReady) return;
  solver.lay_out_driver_blocks();
  if (entry == code::kStorageOnly) return;

  for (;;) {
    solver.regression_core();
    const int request = iv(iv::kState);
    if (request >= 3) return;
    if (request == 2) {
      form_jacobian(solver, n, p, x, b, calc_residuals, iv, v, user_ints, user_reals, user_routine);
      continue;
    }
    // Evaluation at a trial point.
    int nf = iv(iv::kFunctionEvaluations);
    user_ints[0] = 1;
    user_ints[1] = iv(iv::kIterations);
    calc_residuals(n, p, std::span<const float>(x.data(), static_cast<std::size_t>(p)), nf,
                   std::span<float>(solver.residuals(), static_cast<std::size_t>(n)), user_ints, user_reals,
                   user_routine);
    if (user_ints[2] > 0) return;
    if (nf <= 0) iv(iv::kEvaluationFailed) = 1;
  }
}

void bounded_fit(int n, int p, std::span<float> x, std::span<const float> b,
                 const ResidualFunction& calc_residuals, std::span<int> iv_storage, int liv, int lv,
                 std::span<float> v_storage, std::span<int> user_ints, std::span<float> user_reals,
                 const UserRoutine& user_routine, TextUnit* output) {
  if (user_ints.size() < 3) return;  // no room for the protocol: nothing can be reported
  liv = std::min(liv, static_cast<int>(iv_storage.size()));
  lv = std::min(lv, static_cast<int>(v_storage.size()));
  const int iteration_limit = user_ints[0];
  if (liv < 1) {
    user_ints[1] = 0;
    user_ints[2] = code::kLivTooSmall + 10;
    user_ints[0] = 1;
    return;
  }
  IntParams iv(iv_storage, liv);
  ivset(kRegression, iv_storage, liv, lv, v_storage);
  const bool defaults_set = iv(iv::kState) == code::kStart;
  if (defaults_set) {
    RealParams v(v_storage, lv);
    iv(iv::kCovarianceRequest) = 0;
    iv(iv::kCovariancePrint) = 0;
    iv(iv::kSummaryInterval) = 0;
    iv(iv::kParameterListing) = 0;
    iv(iv::kSolutionListing) = 0;
    iv(iv::kStartListing) = 0;
    iv(iv::kOutputUnit) = 0;
    iv(iv::kIterationLimit) = iteration_limit;
    v(v::kAfctol) = 1.0e-5f;
    v(v::kXctol) = 1.0e-5f;
  }
  user_ints[1] = 0;
  user_ints[2] = 0;
  user_ints[0] = 1;
  if (defaults_set) {
    bounded_fit_driver(n, p, x, b, calc_residuals, iv_storage, liv, lv, v_storage, user_ints, user_reals,
                       user_routine, output);
  }
  if (user_ints[2] == 0) user_ints[2] = iv(iv::kState) + 10;
}

}  // namespace basinfit::solver
