#include "solver/bounded_fit_solver.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "solver/dense_linear_algebra.h"
#include "solver/secant_update.h"
#include "solver/solver_defaults.h"
#include "solver/solver_messages.h"

namespace basinfit::solver {
namespace {

constexpr float kEpsilon = std::numeric_limits<float>::epsilon();  // 2^-23
constexpr int kMaxMultiplierTrials = 12;

float dot(const float* a, const float* b, int count) {
  float sum = 0.0f;
  for (int i = 0; i < count; ++i) sum += a[i] * b[i];
  return sum;
}

}  // namespace

BoundedFitSolver::BoundedFitSolver(int n, int p, std::span<float> x, std::span<const float> b,
                                   std::span<int> iv_storage, int liv, int lv, std::span<float> v_storage,
                                   TextUnit* output)
    : n_(n), p_(p), x_(x), b_(b), iv_(iv_storage, liv), v_(v_storage, lv), output_(output) {
  const std::size_t size = static_cast<std::size_t>(std::max(p, 1));
  free_list_.assign(size, 0);
  active_list_.assign(size, 0);
  fixed_in_step_.assign(size, 0);
  matrix_.assign(size * size, 0.0f);
  free_scale_.assign(size, 0.0f);
  free_vector_.assign(size, 0.0f);
  piece_.assign(size, 0.0f);
  step_work_.assign(5 * size, 0.0f);
  work_p_.assign(size, 0.0f);
  work_p2_.assign(size, 0.0f);
  probe_step_.assign(size, 0.0f);
  model_scratch_.assign(size, 0.0f);
  secant_work_.assign(2 * size, 0.0f);
}

// ---------------------------------------------------------------------------------------
// Least-squares layer: objective, scale, QR factor and gradient.

void BoundedFitSolver::regression_core() {
  const int state = iv_(iv::kState);
  if (state == code::kStorageOnly) {
    if (n_ < 1 || p_ < 1) {
      iv_(iv::kState) = code::kBadDimensions;
      return;
    }
    iv_(iv::kExtraVNeeded) += p_ * (p_ + 15) / 2;
    bounded_iteration();
    return;
  }
  if (state == 1) {
    // f = 1/2 ||r||^2.  A residual vector longer than rlimit (or not finite) cannot be
    // used: its square would overflow single precision.
    if (iv_(iv::kEvaluationFailed) == 0) {
      const float* r = residuals();
      float sum = 0.0f;
      for (int i = 0; i < n_; ++i) sum += r[i] * r[i];
      const float norm = std::sqrt(sum);
      if (!(norm <= v_(v::kRlimit))) {
        iv_(iv::kEvaluationFailed) = 1;
      } else {
        v_(v::kFunction) = 0.5f * sum;
      }
    }
  } else if (state == 2) {
    if (iv_(iv::kEvaluationFailed) == 0) {
      iv_(iv::kJacobianCount) += 1;
      update_scale();
      float* qtr = block(iv::kQtrBlock);
      float* r_triangle = block(iv::kTriangleBlock);
      float* tau = block(iv::kColumnMaximaBlock);
      linalg::householder_qr(jacobian(), n_, p_, tau, r_triangle);
      float* rd = v_.block(iv_(iv::kSecondResidualBlock));
      std::copy(residuals(), residuals() + n_, rd);
      linalg::apply_qt(jacobian(), n_, p_, tau, rd);
      for (int k = 0; k < p_; ++k) qtr[k] = k < n_ ? rd[k] : 0.0f;
      // g = J^T r = R^T (Q^T r)
      float* g = block(iv::kGradientBlock);
      for (int j = 0; j < p_; ++j) {
        float sum = 0.0f;
        for (int i = 0; i <= j; ++i) sum += r_triangle[linalg::packed_index(i, j)] * qtr[i];
        g[j] = sum;
      }
    }
  } else {
    if (n_ < 1 || p_ < 1) {
      iv_(iv::kState) = code::kBadDimensions;
      return;
    }
    iv_(iv::kRegressionDiagnostics) = 0;
  }
  bounded_iteration();
}

void BoundedFitSolver::update_scale() {
  if (iv_(iv::kScaleType) <= 0) return;
  float* d = scale();
  const float* j = jacobian();
  const float* s = block(iv::kSecantBlock);
  const float* floors = block(iv::kScaleFloorBlock);
  const float* resets = block(iv::kScaleResetBlock);
  const float dfac = v_(v::kDfac);
  for (int k = 0; k < p_; ++k) {
    float t = 0.0f;
    for (int i = 0; i < n_; ++i) t = std::max(t, std::fabs(j[static_cast<long>(k) * n_ + i]));
    const float diagonal = s[linalg::packed_index(k, k)];
    if (diagonal > 0.0f) t = std::max(t, std::sqrt(diagonal));
    if (t < floors[k]) t = std::max(resets[k], floors[k]);
    d[k] = std::max(dfac * d[k], t);
  }
}

void BoundedFitSolver::lay_out_driver_blocks() {
  int next = iv_(iv::kNextFreeV);
  iv_(iv::kScaleBlock) = next;
  next += p_;
  iv_(iv::kResidualBlock) = next;
  next += n_;
  iv_(iv::kSecondResidualBlock) = next;
  next += n_;
  iv_(iv::kJacobianBlock) = next;
  next += n_ * p_;
  iv_(iv::kNextFreeV) = next;
}

// ---------------------------------------------------------------------------------------
// The trust-region iteration.

void BoundedFitSolver::bounded_iteration() {
  const int state = iv_(iv::kState);
  const int pending = iv_(iv::kPendingRequest);
  if (state == code::kStorageOnly) {
    allocate_storage();
    return;
  }
  if (state == 1) {
    if (pending == kStartPoint) {
      if (iv_(iv::kEvaluationFailed) != 0) {
        iv_(iv::kState) = code::kInitialFunctionFailed;
        summarise();
        return;
      }
      iv_(iv::kJacobianTag) = iv_(iv::kFunctionEvaluations);
      request(2, kIterateJacobian);
    } else if (pending == kTrialPoint) {
      trial_evaluated();
    } else {
      iv_(iv::kState) = code::kBadAssessState;
    }
    return;
  }
  if (state == 2) {
    if (iv_(iv::kEvaluationFailed) != 0) {
      iv_(iv::kState) = code::kGradientFailed;
      summarise();
      return;
    }
    if (pending == kFinalJacobian) {
      iv_(iv::kState) = iv_(iv::kFinalCode);
      summarise();
      return;
    }
    if (pending == kIterateJacobian) {
      process_jacobian();
    } else {
      iv_(iv::kState) = code::kBadAssessState;
    }
    return;
  }
  start();
}

void BoundedFitSolver::allocate_storage() {
  iv_(iv::kExtraVNeeded) += (3 * p_ + 25) * p_ / 2 + 7;
  iv_(iv::kExtraIvNeeded) += 4 * p_;
  check_parameters(kRegression, {}, std::span<int>(iv_.data(), static_cast<std::size_t>(iv_.length())),
                   iv_.length(), v_.length(), p_,
                   std::span<float>(v_.block(1), static_cast<std::size_t>(v_.length())), output_);
  if (iv_(iv::kState) != code::kStorageOnly) return;
  int next = iv_(iv::kFirstFreeV);
  auto take = [&next](int length) {
    const int start = next;
    next += length;
    return start;
  };
  // Least-squares layer: P (P + 15) / 2 elements.
  iv_(iv::kGradientBlock) = take(p_);
  iv_(iv::kColumnMaximaBlock) = take(p_);
  iv_(iv::kTriangleBlock) = take(p_ * (p_ + 1) / 2);
  iv_(iv::kQtrBlock) = take(p_);
  iv_(iv::kScaleFloorBlock) = take(p_);
  iv_(iv::kScaleResetBlock) = take(p_);
  iv_(iv::kOldJacobianResidualBlock) = take(p_);
  iv_(iv::kModelTimesStepBlock) = take(p_);
  // Iteration: (3 P + 25) P / 2 + 7 elements, of which these are in use.
  const int iteration_start = next;
  iv_(iv::kSecantBlock) = take(p_ * (p_ + 1) / 2);
  iv_(iv::kStepBlock) = take(p_);
  iv_(iv::kPreviousXBlock) = take(p_);
  iv_(iv::kPreviousGradientBlock) = take(p_);
  iv_(iv::kGoodXBlock) = take(p_);
  iv_(iv::kPieceModelBlock) = take(p_ * (p_ + 1) / 2);
  iv_(iv::kModelFactorBlock) = take(p_ * (p_ + 1) / 2);
  next = iteration_start + (3 * p_ + 25) * p_ / 2 + 7;
  iv_(iv::kNextFreeV) = next;
  iv_(iv::kPermutation) = iv_(iv::kFirstFreeIv);
  iv_(iv::kState) = code::kStorageReady;
}

void BoundedFitSolver::start() {
  check_parameters(kRegression, std::span<const float>(scale(), p_),
                   std::span<int>(iv_.data(), static_cast<std::size_t>(iv_.length())), iv_.length(),
                   v_.length(), p_, std::span<float>(v_.block(1), static_cast<std::size_t>(v_.length())),
                   output_);
  const int state = iv_(iv::kState);
  if (state != code::kStorageReady && state != code::kStart) return;

  float* d = scale();
  if (v_(v::kDinit) >= 0.0f) std::fill(d, d + p_, v_(v::kDinit));
  std::fill(block(iv::kScaleFloorBlock), block(iv::kScaleFloorBlock) + p_, v_(v::kDtinit));
  std::fill(block(iv::kScaleResetBlock), block(iv::kScaleResetBlock) + p_, v_(v::kD0init));
  iv_(iv::kIterations) = 0;
  iv_(iv::kFunctionEvaluations) = 1;
  iv_(iv::kJacobianTag) = 1;
  iv_(iv::kPointTag) = 1;
  iv_(iv::kDifferenceEvaluations) = 0;
  iv_(iv::kJacobianCount) = 0;
  iv_(iv::kStartPhase) = -1;
  iv_(iv::kSummaryLines) = 0;
  v_(v::kStepParameter) = 0.0f;
  v_(v::kRadius) = v_(v::kLmax0) / (1.0f + v_(v::kPhmxfc));
  v_(v::kStepLength) = 0.0f;
  v_(v::kRadiusFactor) = 1.0f;
  v_(v::kFunction) = 0.0f;
  v_(v::kPreviousFunction) = 0.0f;

  int* permutation = &iv_(iv_(iv::kPermutation));
  for (int k = 0; k < p_; ++k) permutation[k] = k + 1;
  for (int k = 0; k < p_; ++k) {
    // Written so that a NaN bound also fails.
    if (!(b_[2 * k] <= b_[2 * k + 1])) {
      iv_(iv::kState) = code::kBadBounds;
      summarise();
      return;
    }
  }
  iv_(iv::kModel) = 1;
  iv_(iv::kModelCode) = 1;
  iv_(iv::kRestorePending) = 0;
  iv_(iv::kLastAcceptCode) = 0;
  float* s = block(iv::kSecantBlock);
  std::fill(s, s + p_ * (p_ + 1) / 2, 0.0f);
  request(1, kStartPoint);
}

void BoundedFitSolver::request(int what, Pending pending) {
  for (int k = 0; k < p_; ++k) {
    if (x_[k] < b_[2 * k]) x_[k] = b_[2 * k];
    if (x_[k] > b_[2 * k + 1]) x_[k] = b_[2 * k + 1];
  }
  iv_(iv::kEvaluationFailed) = 0;
  iv_(iv::kPendingRequest) = pending;
  iv_(iv::kState) = what;
}

void BoundedFitSolver::process_jacobian() {
  if (iv_(iv::kStartPhase) < 0) {
    v_(v::kPreviousFunction) = v_(v::kFunction);
    iv_(iv::kStartPhase) = 0;
  } else {
    const float* g = block(iv::kGradientBlock);
    const float* g_previous = block(iv::kPreviousGradientBlock);
    const float* step = block(iv::kStepBlock);
    if (iv_(iv::kLastAcceptCode) == 3) {
      // A moderate step earns a larger radius when the model also foresaw the change of
      // the gradient, or when the slope along the step is still steep.
      const float* d = scale();
      const float* hs = block(iv::kModelTimesStepBlock);
      float error = 0.0f;
      for (int k = 0; k < p_; ++k) {
        const float t = (hs[k] - (g[k] - g_previous[k])) / d[k];
        error += t * t;
      }
      error = std::sqrt(error);
      const bool gradient_predicted = error <= v_(v::kTuner4) * v_(v::kProjectedGradientNorm);
      const bool still_steep = dot(g, step, p_) < v_(v::kTuner5) * v_(v::kSlope);
      if (gradient_predicted || still_steep) v_(v::kRadiusFactor) = v_(v::kIncfac);
    }
    update_secant();
  }
  begin_iteration();
}

void BoundedFitSolver::update_secant() {
  const float* g = block(iv::kGradientBlock);
  const float* g_previous = block(iv::kPreviousGradientBlock);
  const float* old_jtr = block(iv::kOldJacobianResidualBlock);
  float* gradient_change = work_p_.data();
  float* secant = work_p2_.data();
  for (int k = 0; k < p_; ++k) {
    gradient_change[k] = g[k] - g_previous[k];
    secant[k] = g[k] - old_jtr[k];
  }
  secant_update(p_, block(iv::kStepBlock), gradient_change, secant, v_(v::kCosmin), block(iv::kSecantBlock),
                secant_work_.data());
}

void BoundedFitSolver::begin_iteration() {
  summarise();
  if (iv_(iv::kIterations) >= iv_(iv::kIterationLimit)) {
    iv_(iv::kState) = code::kIterationLimit;
    summarise();
    return;
  }
  iv_(iv::kIterations) += 1;
  if (iv_(iv::kIterations) > 1) {
    const float q = v_(v::kRadiusFactor);
    const float t = q * v_(v::kStepLength);
    if (q < 1.0f || v_(v::kRadius) < t) v_(v::kRadius) = t;
  }
  v_(v::kPreviousFunction) = v_(v::kFunction);
  std::copy(x_.begin(), x_.begin() + p_, block(iv::kPreviousXBlock));
  std::copy(block(iv::kGradientBlock), block(iv::kGradientBlock) + p_, block(iv::kPreviousGradientBlock));
  iv_(iv::kModelChanges) = 0;
  iv_(iv::kStepFailed) = 0;
  iv_(iv::kRestorePending) = 0;
  iv_(iv::kModelCode) = iv_(iv::kModel);
  choose_active_set();
  next_step();
}

void BoundedFitSolver::choose_active_set() {
  const float* g = block(iv::kGradientBlock);
  const float* d = scale();
  int* permutation = &iv_(iv_(iv::kPermutation));
  int free_count = 0;
  int* order = free_list_.data();
  // Free unknowns first, in their previous order, then the held ones.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < p_; ++k) {
      const int unknown = permutation[k] - 1;
      const float lower = b_[2 * unknown];
      const float upper = b_[2 * unknown + 1];
      const bool held = lower >= upper || (x_[unknown] <= lower && g[unknown] > 0.0f) ||
                        (x_[unknown] >= upper && g[unknown] < 0.0f);
      if (held == (pass == 1)) {
        if (pass == 0) ++free_count;
        fixed_in_step_[static_cast<std::size_t>(unknown)] = held ? 1 : 0;
      }
    }
  }
  int position = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < p_; ++k) {
      const int unknown = permutation[k] - 1;
      if ((fixed_in_step_[static_cast<std::size_t>(unknown)] != 0) == (pass == 1))
        order[position++] = unknown;
    }
  }
  float gamma = 0.0f;
  for (int k = 0; k < p_; ++k) {
    permutation[k] = order[k] + 1;
    if (k < free_count) {
      const float t = g[order[k]] / d[order[k]];
      gamma += t * t;
    }
  }
  iv_(iv::kFreeCount) = free_count;
  v_(v::kProjectedGradientNorm) = std::sqrt(gamma);
}

void BoundedFitSolver::model_times(int model, const float* s, float* out) const {
  const float* r_triangle = v_.block(iv_(iv::kTriangleBlock));
  float* rs = model_scratch_.data();
  for (int i = 0; i < p_; ++i) {
    float sum = 0.0f;
    for (int j = i; j < p_; ++j) sum += r_triangle[linalg::packed_index(i, j)] * s[j];
    rs[i] = sum;
  }
  for (int j = 0; j < p_; ++j) {
    float sum = 0.0f;
    for (int i = 0; i <= j; ++i) sum += r_triangle[linalg::packed_index(i, j)] * rs[i];
    out[j] = sum;
  }
  if (model == 2) {
    const float* s_matrix = v_.block(iv_(iv::kSecantBlock));
    for (int i = 0; i < p_; ++i) {
      float sum = 0.0f;
      for (int j = 0; j < p_; ++j) sum += s_matrix[linalg::packed_index(i, j)] * s[j];
      out[i] += sum;
    }
  }
}

float BoundedFitSolver::secant_quadratic(const float* s) const {
  const float* s_matrix = v_.block(iv_(iv::kSecantBlock));
  float sum = 0.0f;
  for (int i = 0; i < p_; ++i) {
    for (int j = 0; j < p_; ++j) sum += s[i] * s_matrix[linalg::packed_index(i, j)] * s[j];
  }
  return sum;
}

BoundedFitSolver::StepData BoundedFitSolver::compute_step(int model, float radius, float* step) {
  StepData result;
  const float* x0 = block(iv::kPreviousXBlock);
  const float* d = scale();
  const float* g = block(iv::kGradientBlock);
  const float* r_triangle = block(iv::kTriangleBlock);
  const float* qtr = block(iv::kQtrBlock);
  const float* s_matrix = block(iv::kSecantBlock);
  float* piece_model = block(iv::kPieceModelBlock);
  float* factor = block(iv::kModelFactorBlock);
  StepWindow window;
  window.lower_factor = 1.0f + v_(v::kPhmnfc);
  window.upper_factor = 1.0f + v_(v::kPhmxfc);
  window.max_trials = kMaxMultiplierTrials;

  std::fill(step, step + p_, 0.0f);
  int m = 0;
  const int* permutation = &iv_(iv_(iv::kPermutation));
  const int free_count = iv_(iv::kFreeCount);
  int* active_unknowns = active_list_.data();
  for (int k = 0; k < p_; ++k) fixed_in_step_[static_cast<std::size_t>(k)] = 0;
  for (int k = 0; k < free_count; ++k) active_unknowns[m++] = permutation[k] - 1;

  float* free_scale = free_scale_.data();
  float* residual_or_gradient = free_vector_.data();
  float* piece = piece_.data();
  float* matrix = matrix_.data();
  float* step_work = step_work_.data();
  float* full_piece = work_p_.data();
  float* model_product = work_p2_.data();

  float remaining = radius;
  float total_reduction = 0.0f;
  float multiplier = v_(v::kStepParameter);
  bool first_piece = true;
  if (m == 0) {
    result.full_reduction = 0.0f;
    result.full_length = 0.0f;
  }
  while (m > 0 && remaining > 0.0f) {
    for (int jj = 0; jj < m; ++jj) free_scale[jj] = d[active_unknowns[jj]];
    ConstrainedStep piece_step;
    if (model == 1) {
      // Gauss-Newton: 1/2 ||c + R_F s_F||^2 with c = Q^T r + R s, the residual after the
      // pieces taken so far.  The free columns of R are rotated back to a triangle, the
      // residual with them; the rows below it only add a constant to the model.
      for (int i = 0; i < p_; ++i) {
        float sum = qtr[i];
        for (int j = i; j < p_; ++j) sum += r_triangle[linalg::packed_index(i, j)] * step[j];
        model_product[i] = sum;
      }
      for (int jj = 0; jj < m; ++jj) {
        const int k = active_unknowns[jj];
        for (int i = 0; i < p_; ++i) {
          matrix[jj * p_ + i] = i <= k ? r_triangle[linalg::packed_index(i, k)] : 0.0f;
        }
      }
      linalg::triangularise_columns(matrix, p_, m, model_product);
      for (int jj = 0; jj < m; ++jj) {
        residual_or_gradient[jj] = model_product[jj];
        for (int ii = 0; ii <= jj; ++ii) piece_model[linalg::packed_index(ii, jj)] = matrix[jj * p_ + ii];
      }
      piece_step = gauss_newton_step(piece_model, residual_or_gradient, free_scale, m, remaining, window,
                                     multiplier, factor, step_work, piece);
    } else {
      // Augmented model in scaled variables: gradient b = D^-1 (g + H s) at the point the
      // pieces have reached, and B = D^-1 (R^T R + S) D^-1 on the free unknowns, packed.
      model_times(2, step, model_product);
      for (int jj = 0; jj < m; ++jj) {
        const int k = active_unknowns[jj];
        residual_or_gradient[jj] = (g[k] + model_product[k]) / d[k];
      }
      for (int jj = 0; jj < m; ++jj) {
        const int kj = active_unknowns[jj];
        for (int ii = 0; ii <= jj; ++ii) {
          const int ki = active_unknowns[ii];
          float sum = s_matrix[linalg::packed_index(ki, kj)];
          for (int l = 0; l <= std::min(ki, kj); ++l) {
            sum += r_triangle[linalg::packed_index(l, ki)] * r_triangle[linalg::packed_index(l, kj)];
          }
          piece_model[linalg::packed_index(ii, jj)] = sum / (d[ki] * d[kj]);
        }
      }
      piece_step = indefinite_model_step(piece_model, residual_or_gradient, m, remaining, window, multiplier,
                                         factor, step_work, piece);
      for (int jj = 0; jj < m; ++jj) piece[jj] /= free_scale[jj];
    }
    if (first_piece) {
      result.full_reduction = piece_step.full_step_exists ? piece_step.full_reduction : -1.0f;
      result.full_length = piece_step.full_step_exists ? piece_step.full_length : -1.0f;
      first_piece = false;
    }
    multiplier = piece_step.multiplier;
    // Follow the piece until the first unknown meets a bound.
    float fraction = 1.0f;
    int hit = -1;
    for (int ii = 0; ii < m; ++ii) {
      const int k = active_unknowns[ii];
      if (piece[ii] == 0.0f) continue;
      const float position = x0[k] + step[k];
      const float bound = piece[ii] < 0.0f ? b_[2 * k] : b_[2 * k + 1];
      const float limit = std::max(0.0f, (bound - position) / piece[ii]);
      if (limit < fraction) {
        fraction = limit;
        hit = ii;
      }
    }
    if (hit < 0) {
      for (int ii = 0; ii < m; ++ii) step[active_unknowns[ii]] += piece[ii];
      total_reduction += piece_step.reduction;
      break;
    }
    // The part of the piece up to the bound reduces the model by
    // -a (g + H s)^T p - 1/2 a^2 p^T H p, with a the fraction taken.
    std::fill(full_piece, full_piece + p_, 0.0f);
    for (int ii = 0; ii < m; ++ii) full_piece[active_unknowns[ii]] = piece[ii];
    model_times(model, step, model_product);
    float gradient_along = 0.0f;
    for (int k = 0; k < p_; ++k) gradient_along += (g[k] + model_product[k]) * full_piece[k];
    model_times(model, full_piece, model_product);
    const float curvature = dot(full_piece, model_product, p_);
    total_reduction -= fraction * gradient_along + 0.5f * fraction * fraction * curvature;
    for (int ii = 0; ii < m; ++ii) step[active_unknowns[ii]] += fraction * piece[ii];
    // Hold the unknown on its bound; the step reaches a relative 2 epsilon past it so that
    // rounding cannot leave it just inside, and the projection puts it exactly on it.
    const int k = active_unknowns[hit];
    const bool at_lower = piece[hit] < 0.0f;
    step[k] = ((at_lower ? b_[2 * k] : b_[2 * k + 1]) - x0[k]) * (1.0f + 2.0f * kEpsilon);
    fixed_in_step_[static_cast<std::size_t>(k)] = at_lower ? -1 : 1;
    for (int ii = hit; ii + 1 < m; ++ii) active_unknowns[ii] = active_unknowns[ii + 1];
    --m;
    float length = 0.0f;
    for (int i = 0; i < p_; ++i) length += (d[i] * step[i]) * (d[i] * step[i]);
    remaining = (window.upper_factor * radius - std::sqrt(length)) / window.upper_factor;
    if (remaining <= 1.0e-3f * radius) break;
  }
  float length = 0.0f;
  for (int i = 0; i < p_; ++i) length += (d[i] * step[i]) * (d[i] * step[i]);
  result.length = std::sqrt(length);
  result.slope = dot(g, step, p_);
  result.predicted = total_reduction;
  result.multiplier = multiplier;
  return result;
}

float BoundedFitSolver::relative_step() const {
  const float* x0 = v_.block(iv_(iv::kPreviousXBlock));
  const float* d = v_.block(iv_(iv::kScaleBlock));
  float numerator = 0.0f;
  float denominator = 0.0f;
  for (int k = 0; k < p_; ++k) {
    numerator = std::max(numerator, std::fabs(d[k] * (x_[k] - x0[k])));
    denominator = std::max(denominator, d[k] * (std::fabs(x_[k]) + std::fabs(x0[k])));
  }
  return denominator > 0.0f ? numerator / denominator : 0.0f;
}

void BoundedFitSolver::next_step() {
  // The external stop test never asks to stop in this system; the evaluation limit counts
  // trial points only.
  if (iv_(iv::kFunctionEvaluations) >= iv_(iv::kEvaluationLimit) + iv_(iv::kCovarianceEvaluations)) {
    restore_previous_iterate();
    finish(code::kEvaluationLimit);
    return;
  }
  float* step = block(iv::kStepBlock);
  const float radius = v_(v::kRadius);
  const StepData data = compute_step(iv_(iv::kModel), radius, step);
  v_(v::kPredictedReduction) = data.predicted;
  v_(v::kSlope) = data.slope;
  v_(v::kStepLength) = data.length;
  v_(v::kStepParameter) = data.multiplier;
  v_(v::kFullStepReduction) = data.full_reduction;
  v_(v::kFullStepLength) = data.full_length;
  const float* x0 = block(iv::kPreviousXBlock);
  bool usable = std::isfinite(data.length) && std::isfinite(data.predicted);
  for (int k = 0; k < p_; ++k) {
    x_[k] = x0[k] + step[k];
    const int side = fixed_in_step_[static_cast<std::size_t>(k)];
    if (side < 0) x_[k] = b_[2 * k];
    if (side > 0) x_[k] = b_[2 * k + 1];
    if (!std::isfinite(x_[k])) usable = false;
  }
  if (!usable) {
    // A step that is not a number never reaches the residual function.  It is judged as
    // a point where the residuals cannot be computed: rejected, the iterate kept, and the
    // radius halved (from the radius asked for, the step's own length being unusable).
    // Each retry halves the radius, and a zero radius gives the empty step, so this ends.
    std::copy(x0, x0 + p_, x_.begin());
    v_(v::kStepLength) = std::isfinite(radius) ? radius : 0.0f;
    iv_(iv::kEvaluationFailed) = 1;
    iv_(iv::kPendingRequest) = kTrialPoint;
    trial_evaluated();
    return;
  }
  iv_(iv::kFunctionEvaluations) += 1;
  iv_(iv::kPointTag) = iv_(iv::kFunctionEvaluations);
  request(1, kTrialPoint);
  v_(v::kRelativeStep) = relative_step();
}

void BoundedFitSolver::restore_previous_iterate() {
  const float* x0 = block(iv::kPreviousXBlock);
  std::copy(x0, x0 + p_, x_.begin());
  v_(v::kFunction) = v_(v::kPreviousFunction);
}

void BoundedFitSolver::save_good_step(int assess_code) {
  std::copy(x_.begin(), x_.begin() + p_, block(iv::kGoodXBlock));
  std::copy(residuals(), residuals() + n_, v_.block(iv_(iv::kSecondResidualBlock)));
  v_(v::kGoodFunction) = v_(v::kFunction);
  v_(v::kGoodPredicted) = v_(v::kPredictedReduction);
  v_(v::kGoodSlope) = v_(v::kSlope);
  v_(v::kGoodStepLength) = v_(v::kStepLength);
  v_(v::kGoodStepParameter) = v_(v::kStepParameter);
  v_(v::kGoodFullReduction) = v_(v::kFullStepReduction);
  v_(v::kGoodFullLength) = v_(v::kFullStepLength);
  v_(v::kGoodRelativeStep) = v_(v::kRelativeStep);
  v_(v::kGoodRadiusFactor) = v_(v::kRadiusFactor);
  v_(v::kGoodCode) = static_cast<float>(assess_code);
  iv_(iv::kGoodEvaluationTag) = iv_(iv::kPointTag);
  iv_(iv::kRestorePending) = 1;
}

void BoundedFitSolver::restore_good_step() {
  const float* good_x = block(iv::kGoodXBlock);
  std::copy(good_x, good_x + p_, x_.begin());
  const float* saved = v_.block(iv_(iv::kSecondResidualBlock));
  std::copy(saved, saved + n_, residuals());
  v_(v::kFunction) = v_(v::kGoodFunction);
  v_(v::kPredictedReduction) = v_(v::kGoodPredicted);
  v_(v::kSlope) = v_(v::kGoodSlope);
  v_(v::kStepLength) = v_(v::kGoodStepLength);
  v_(v::kStepParameter) = v_(v::kGoodStepParameter);
  v_(v::kFullStepReduction) = v_(v::kGoodFullReduction);
  v_(v::kFullStepLength) = v_(v::kGoodFullLength);
  v_(v::kRelativeStep) = v_(v::kGoodRelativeStep);
  iv_(iv::kPointTag) = iv_(iv::kGoodEvaluationTag);
}

bool BoundedFitSolver::singular_probe_holds(float tolerance) {
  // The largest reduction the model predicts for any step of scaled length lmaxs.
  const StepData probe = compute_step(iv_(iv::kModel), v_(v::kLmaxs), probe_step_.data());
  return probe.predicted <= tolerance;
}

void BoundedFitSolver::assess() {
  const float f0 = v_(v::kPreviousFunction);
  const bool restore_pending = iv_(iv::kRestorePending) != 0;
  iv_(iv::kRestorePending) = 0;
  bool restored_previous = false;
  int result = 0;

  if (restore_pending && (iv_(iv::kEvaluationFailed) != 0 || !(v_(v::kFunction) < v_(v::kGoodFunction)))) {
    // The step tried after keeping a good one did no better: take the kept one, with the
    // code and radius factor it was judged with.
    restore_good_step();
    v_(v::kActualReduction) = f0 - v_(v::kFunction);
    result = static_cast<int>(v_(v::kGoodCode));
    v_(v::kRadiusFactor) = v_(v::kGoodRadiusFactor);
  } else if (iv_(iv::kEvaluationFailed) != 0) {
    v_(v::kRadiusFactor) = v_(v::kDecfac);
    restore_previous_iterate();
    iv_(iv::kAssessCode) = 5;
    return;
  } else {
    const float f = v_(v::kFunction);
    const float reduction = f0 - f;
    v_(v::kActualReduction) = reduction;
    const float predicted = v_(v::kPredictedReduction);
    const float slope = v_(v::kSlope);
    // After a poor step the radius shrinks by a quadratic fit along it.
    float shrink = 0.5f;
    if (reduction < 0.0f) {
      const float denominator = slope + reduction;
      shrink = denominator < 0.0f ? std::max(v_(v::kRdfcmn), 0.5f * slope / denominator) : v_(v::kRdfcmn);
    }
    const bool switch_allowed = iv_(iv::kModelChanges) < iv_(iv::kModelChangeLimit);
    bool poor = false;
    if (reduction <= v_(v::kTuner2) * predicted) {
      if (f >= f0) {
        restore_previous_iterate();
        restored_previous = true;
      }
      result = switch_allowed ? 1 : 5;
      v_(v::kRadiusFactor) = shrink;
      poor = true;
    } else if (reduction <= v_(v::kTuner1) * predicted) {
      result = switch_allowed ? 2 : 4;
      v_(v::kRadiusFactor) = shrink;
      poor = true;
    } else if (reduction >= -v_(v::kTuner3) * slope) {
      if (iv_(iv::kStepFailed) != 0 || restore_pending) {
        result = 3;
        v_(v::kRadiusFactor) = 1.0f;
      } else {
        float q = v_(v::kRdfcmx);
        if (reduction < (0.5f / v_(v::kRdfcmx) - 1.0f) * slope) {
          const float denominator = reduction + slope;
          q = denominator < 0.0f ? std::max(v_(v::kIncfac), 0.5f * slope / denominator) : v_(v::kIncfac);
        }
        v_(v::kRadiusFactor) = q;
        const float mu = v_(v::kStepParameter);
        const float full_length = v_(v::kFullStepLength);
        if (mu == 0.0f || (full_length >= 0.0f && (full_length < 2.0f * v_(v::kStepLength) ||
                                                   v_(v::kFullStepReduction) < 1.2f * reduction))) {
          result = 4;
        } else {
          // Very good but short: try a longer step first, keeping this one.
          result = 5;
          save_good_step(4);
        }
      }
    } else {
      result = 3;
      v_(v::kRadiusFactor) = 1.0f;
    }
    if (poor && v_(v::kRelativeStep) <= v_(v::kXftol)) result = 12;
  }

  // Convergence tests.
  const float f = v_(v::kFunction);
  if (std::fabs(f) < v_(v::kAfctol)) result = 10;
  const float reduction = v_(v::kActualReduction);
  const float predicted = v_(v::kPredictedReduction);
  if (predicted >= 0.5f * reduction) {
    const float relative_tolerance = v_(v::kRfctol) * std::fabs(f0);
    const float singular_tolerance = v_(v::kSctol) * std::fabs(f0);
    const float length = v_(v::kStepLength);
    const float mu = v_(v::kStepParameter);
    const float full_length = v_(v::kFullStepLength);
    const float full_reduction = v_(v::kFullStepReduction);
    const float lmaxs = v_(v::kLmaxs);
    if (predicted <= singular_tolerance && (length > lmaxs || mu == 0.0f)) result = 11;
    if (full_length >= 0.0f) {
      const bool relative = (full_reduction > 0.0f && full_reduction <= relative_tolerance) ||
                            (full_reduction == 0.0f && predicted == 0.0f);
      const bool x_converged = mu == 0.0f && v_(v::kRelativeStep) <= v_(v::kXctol) && !restored_previous;
      if (relative && x_converged) {
        result = 9;
      } else if (relative) {
        result = 8;
      } else if (x_converged) {
        result = 7;
      }
    }
    if ((result < 7 || result == 12) && mu != 0.0f) {
      const float rho = length > 0.0f ? lmaxs / length : 0.0f;
      const bool probe =
          (length <= lmaxs && predicted < singular_tolerance &&
           !(full_length > 0.0f && 0.5f * full_length <= lmaxs)) ||
          (length > lmaxs && 0.5f * length > lmaxs && singular_tolerance > (2.0f - rho) * rho * predicted);
      if (probe && singular_probe_holds(relative_tolerance)) result = 11;
    }
  }
  if (result >= 7) iv_(iv::kRestorePending) = 0;
  iv_(iv::kAssessCode) = result;
}

void BoundedFitSolver::trial_evaluated() {
  assess();
  const int result = iv_(iv::kAssessCode);
  switch (result) {
    case 1:
    case 2: {
      // Would the other model have predicted this step's reduction clearly better?
      const float model_error = v_(v::kPredictedReduction) - v_(v::kActualReduction);
      const float half_sss = 0.5f * secant_quadratic(block(iv::kStepBlock));
      const float difference = iv_(iv::kModel) == 1 ? -half_sss : half_sss;
      if (std::fabs(difference + model_error) * v_(v::kFuzz) < std::fabs(model_error)) {
        if (result == 2) save_good_step(4);
        iv_(iv::kModel) = 3 - iv_(iv::kModel);
        iv_(iv::kModelChanges) += 1;
        iv_(iv::kModelCode) += 2;
        next_step();
      } else if (result == 1) {
        v_(v::kRadius) = v_(v::kRadiusFactor) * v_(v::kStepLength);
        iv_(iv::kStepFailed) = 1;
        next_step();
      } else {
        accept_step();
      }
      return;
    }
    case 5:
      v_(v::kRadius) = v_(v::kRadiusFactor) * v_(v::kStepLength);
      if (iv_(iv::kRestorePending) == 0) iv_(iv::kStepFailed) = 1;
      next_step();
      return;
    case 3:
    case 4:
      accept_step();
      return;
    default:
      break;
  }
  if (result >= 7 && result <= 12) {
    const int final_code = result - 4;
    if (v_(v::kFunction) < v_(v::kPreviousFunction)) {
      // The last step improved f: form the Jacobian there before returning.
      iv_(iv::kFinalCode) = final_code;
      iv_(iv::kJacobianTag) = iv_(iv::kPointTag);
      request(2, kFinalJacobian);
    } else {
      restore_previous_iterate();
      finish(final_code);
    }
    return;
  }
  iv_(iv::kState) = code::kBadAssessState;
}

void BoundedFitSolver::accept_step() {
  iv_(iv::kLastAcceptCode) = iv_(iv::kAssessCode);
  const float* x0 = block(iv::kPreviousXBlock);
  float* step = block(iv::kStepBlock);
  // The step actually taken (after projection onto the box) drives the secant update.
  for (int k = 0; k < p_; ++k) step[k] = x_[k] - x0[k];
  // J_old^T r+ from the old factorization, before the new Jacobian replaces it.
  float* rd = v_.block(iv_(iv::kSecondResidualBlock));
  std::copy(residuals(), residuals() + n_, rd);
  linalg::apply_qt(jacobian(), n_, p_, block(iv::kColumnMaximaBlock), rd);
  const float* r_triangle = block(iv::kTriangleBlock);
  float* old_jtr = block(iv::kOldJacobianResidualBlock);
  for (int j = 0; j < p_; ++j) {
    float sum = 0.0f;
    for (int i = 0; i <= std::min(j, n_ - 1); ++i) sum += r_triangle[linalg::packed_index(i, j)] * rd[i];
    old_jtr[j] = sum;
  }
  model_times(iv_(iv::kModel), step, block(iv::kModelTimesStepBlock));
  iv_(iv::kJacobianTag) = iv_(iv::kPointTag);
  request(2, kIterateJacobian);
}

void BoundedFitSolver::summarise() {
  if (output_ == nullptr || iv_(iv::kOutputUnit) == 0) return;
  iteration_summary(*output_, iv_, v_, p_, x_, std::span<const float>(scale(), p_),
                    std::span<const float>(block(iv::kGradientBlock), p_));
}

void BoundedFitSolver::finish(int final_code) {
  iv_(iv::kState) = final_code;
  summarise();
}

}  // namespace basinfit::solver
