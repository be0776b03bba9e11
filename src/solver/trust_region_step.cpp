#include "solver/trust_region_step.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "solver/dense_linear_algebra.h"

namespace basinfit::solver {
namespace {

using linalg::packed_index;

constexpr float kEpsilon = std::numeric_limits<float>::epsilon();
constexpr float kTiny = std::numeric_limits<float>::min();  // smallest normal number

float sum_of_squares(const float* x, int m) {
  float sum = 0.0f;
  for (int i = 0; i < m; ++i) sum += x[i] * x[i];
  return sum;
}

float scaled_length(const float* d, const float* s, int m) {
  float sum = 0.0f;
  for (int i = 0; i < m; ++i) sum += (d[i] * s[i]) * (d[i] * s[i]);
  return std::sqrt(sum);
}

bool in_window(float length, float radius, const StepWindow& window) {
  return length >= window.lower_factor * radius && length <= window.upper_factor * radius;
}

// A diagonal entry of R this small against the largest one is rounding noise: the
// Gauss-Newton matrix is then treated as singular and has no full step.
bool triangle_is_singular(const float* r_packed, int m) {
  float largest = 0.0f;
  for (int k = 0; k < m; ++k) largest = std::max(largest, std::fabs(r_packed[packed_index(k, k)]));
  const float tolerance = static_cast<float>(m) * kEpsilon * largest;
  for (int k = 0; k < m; ++k) {
    if (!(std::fabs(r_packed[packed_index(k, k)]) > tolerance)) return true;
  }
  return false;
}

// phi'(mu) / psi = -||R_mu^-T (D^2 s / psi)||^2, the slope of the step length in mu
// divided by the length (one triangular solve with the transposed factor).
float length_slope(const float* triangle, const float* d, const float* s, int m, float length, float* work) {
  for (int i = 0; i < m; ++i) work[i] = d[i] * d[i] * s[i] / length;
  linalg::solve_upper_transposed(triangle, m, work);
  return -length * sum_of_squares(work, m);
}

// Pivot floor of a Cholesky factorization of a + shift I: pivots below a few rounding
// errors of the largest diagonal entry say nothing about definiteness.
float pivot_floor(const float* a_packed, int m, float shift) {
  float largest = 0.0f;
  for (int k = 0; k < m; ++k) largest = std::max(largest, std::fabs(a_packed[packed_index(k, k)] + shift));
  return static_cast<float>(m) * kEpsilon * largest;
}

}  // namespace

ConstrainedStep gauss_newton_step(const float* r_packed, const float* q, const float* d, int m, float radius,
                                  const StepWindow& window, float mu_start, float* triangle, float* work,
                                  float* s) {
  ConstrainedStep result;
  for (int i = 0; i < m; ++i) s[i] = 0.0f;
  if (m <= 0) return result;
  float* rhs = work;
  float* diagonal = work + m;
  float* row = work + 2 * m;
  float* slope_work = work + 3 * m;

  // ||D^-1 g|| with g = R^T q, the gradient of the model at s = 0.
  float gradient_norm = 0.0f;
  for (int j = 0; j < m; ++j) {
    float g = 0.0f;
    for (int i = 0; i <= j; ++i) g += r_packed[packed_index(i, j)] * q[i];
    gradient_norm += (g / d[j]) * (g / d[j]);
  }
  gradient_norm = std::sqrt(gradient_norm);

  // mu = 0 first: the full step s_N = -R^-1 q when R is nonsingular.
  float lower = 0.0f;
  if (!triangle_is_singular(r_packed, m)) {
    for (int i = 0; i < m; ++i) s[i] = -q[i];
    linalg::solve_upper(r_packed, m, s);
    const float length = scaled_length(d, s, m);
    if (std::isfinite(length)) {
      result.full_step_exists = true;
      result.full_length = length;
      result.full_reduction = 0.5f * sum_of_squares(q, m);
      result.trials = 1;
      if (gradient_norm == 0.0f || length <= window.upper_factor * radius) {
        result.length = length;
        result.reduction = result.full_reduction;
        return result;
      }
      // phi is convex in mu, so its Newton step from mu = 0 stays below the root.
      const float slope = length_slope(r_packed, d, s, m, length, slope_work);
      if (slope < 0.0f) lower = -(length - radius) / slope;
    }
  }
  for (int i = 0; i < m; ++i) s[i] = 0.0f;
  if (gradient_norm == 0.0f || radius <= 0.0f) return result;

  // ||D s(mu)|| <= ||D^-1 g|| / mu, so the root lies below u0.
  float upper = gradient_norm / radius;
  float mu = mu_start;
  float used_mu = 0.0f;
  float length = 0.0f;
  bool tried = false;
  while (result.trials < window.max_trials) {
    if (!(mu > lower && mu < upper)) mu = std::max(0.001f * upper, std::sqrt(lower * upper));
    // A singular R whose step stays shorter than the radius as mu falls (the limit step
    // is short) drives the safeguard toward 0; at mu = 0, or once it underflows, the
    // stacked matrix is singular again and the step is not a number.  mu therefore stays
    // at or above the smallest normal number; when the safeguard can offer nothing larger
    // than the mu just tried, that step is as close to the limit as the arithmetic gets.
    if (!(mu >= kTiny)) mu = kTiny;
    if (tried && mu == used_mu && std::isfinite(length)) break;
    tried = true;
    ++result.trials;
    // R_mu from [R; sqrt(mu) D] and [c; e] from [q; 0], then s(mu) = -R_mu^-1 c.
    const float root_mu = std::sqrt(mu);
    std::copy(r_packed, r_packed + m * (m + 1) / 2, triangle);
    for (int i = 0; i < m; ++i) {
      rhs[i] = q[i];
      diagonal[i] = root_mu * d[i];
    }
    linalg::reduce_with_diagonal(triangle, diagonal, rhs, m, row);
    for (int i = 0; i < m; ++i) s[i] = -rhs[i];
    linalg::solve_upper(triangle, m, s);
    used_mu = mu;
    length = scaled_length(d, s, m);
    if (!std::isfinite(length)) {
      // Overflow in the solve: mu is too small to be of use.
      lower = std::max(lower, mu);
      continue;
    }
    if (in_window(length, radius, window)) break;
    const float phi = length - radius;
    const float slope = length_slope(triangle, d, s, m, length, slope_work);
    if (phi < 0.0f) upper = mu;
    if (!(slope < 0.0f)) {
      // No Newton information (underflow): let the safeguard pick the next mu.
      if (phi > 0.0f) lower = mu;
      continue;
    }
    lower = std::max(lower, mu - phi / slope);
    // Hebden: Newton's method on 1/||D s(mu)|| - 1/radius.
    mu -= (length / radius) * (phi / slope);
  }
  if (!std::isfinite(length)) {
    // No trial gave a usable step: stay at the iterate.  mu stays positive, so the
    // convergence tests do not take the empty step for a full model step.
    for (int i = 0; i < m; ++i) s[i] = 0.0f;
    result.multiplier = std::isfinite(used_mu) ? used_mu : std::numeric_limits<float>::max();
    result.length = 0.0f;
    result.reduction = 0.0f;
    return result;
  }
  result.multiplier = used_mu;
  result.length = length;
  // For (R^T R + mu D^2) s = -g:  pred = 1/2 ||R s||^2 + mu ||D s||^2, a sum of positive terms.
  float half_rs = 0.0f;
  for (int i = 0; i < m; ++i) {
    float sum = 0.0f;
    for (int j = i; j < m; ++j) sum += r_packed[packed_index(i, j)] * s[j];
    half_rs += 0.5f * sum * sum;
  }
  result.reduction = half_rs + used_mu * length * length;
  return result;
}

ConstrainedStep indefinite_model_step(const float* b_packed, const float* b, int m, float radius,
                                      const StepWindow& window, float lambda_start, float* factor,
                                      float* work, float* t) {
  ConstrainedStep result;
  for (int i = 0; i < m; ++i) t[i] = 0.0f;
  if (m <= 0) return result;
  float* image = work;          // U t, then L^-1 t
  float* direction = work + m;  // z, a unit vector with small ||U z||
  float* scratch = work + 2 * m;
  float* trial = work + 3 * m;
  float* null_part = work + 4 * m;

  const float b_norm = std::sqrt(sum_of_squares(b, m));
  float pivot = 0.0f;

  // Newton step first: B positive definite gives the full step and its reduction.
  if (linalg::cholesky(b_packed, m, 0.0f, pivot_floor(b_packed, m, 0.0f), factor, &pivot) < 0) {
    for (int i = 0; i < m; ++i) image[i] = -b[i];
    linalg::solve_upper_transposed(factor, m, image);
    const float half_image = 0.5f * sum_of_squares(image, m);
    for (int i = 0; i < m; ++i) trial[i] = image[i];
    linalg::solve_upper(factor, m, trial);
    const float length = std::sqrt(sum_of_squares(trial, m));
    if (std::isfinite(length)) {
      result.full_step_exists = true;
      result.full_length = length;
      result.full_reduction = half_image;
      result.trials = 1;
      if (b_norm == 0.0f || length <= window.upper_factor * radius) {
        std::copy(trial, trial + m, t);
        result.length = length;
        result.reduction = half_image;
        return result;
      }
      // Too long: without a previous multiplier, start from Hebden's update at lambda = 0
      // instead of factorizing B again.
      if (!(lambda_start > 0.0f) && radius > 0.0f) {
        linalg::solve_upper_transposed(factor, m, trial);
        const float q_norm = std::sqrt(sum_of_squares(trial, m));
        if (q_norm > 0.0f) lambda_start = (length / q_norm) * (length / q_norm) * (length - radius) / radius;
      }
    }
  }
  if (radius <= 0.0f) return result;

  // Bounds: lambda_s <= -lambda_min(B), and lambda_low <= lambda* <= lambda_high.
  float lambda_s = -b_packed[packed_index(0, 0)];
  float norm_one = 0.0f;
  for (int j = 0; j < m; ++j) {
    lambda_s = std::max(lambda_s, -b_packed[packed_index(j, j)]);
    float column = 0.0f;
    for (int i = 0; i < m; ++i) column += std::fabs(b_packed[packed_index(i, j)]);
    norm_one = std::max(norm_one, column);
  }
  float lambda_low = std::max({0.0f, lambda_s, b_norm / radius - norm_one});
  // A few rounding errors above the bound, so that B + lambda_high I factorizes even when
  // b = 0 puts the bound exactly at -lambda_min.
  float lambda_high = (b_norm / radius + norm_one) * (1.0f + 4.0f * static_cast<float>(m) * kEpsilon);
  if (!(lambda_high > 0.0f)) return result;  // B = 0 and b = 0: nothing to gain

  const float sigma =
      std::clamp(std::min(1.0f - window.lower_factor, window.upper_factor - 1.0f), kEpsilon, 1.0f);
  bool have_step = false;
  float lambda = lambda_start;
  while (result.trials < window.max_trials) {
    lambda = std::min(std::max(lambda, lambda_low), lambda_high);
    if (lambda <= lambda_s) lambda = std::max(0.001f * lambda_high, std::sqrt(lambda_low * lambda_high));
    ++result.trials;
    // Any positive pivot will do here: a nearly singular B + lambda I gives a long step
    // (lambda too small) or shows the direction of small curvature (the hard case).
    const int failed_at = linalg::cholesky(b_packed, m, lambda, 0.0f, factor, &pivot);
    if (failed_at >= 0) {
      // B + lambda I is not positive definite.  Adding gamma = -pivot to diagonal entry k
      // makes its leading block singular, with null vector v (v_k = 1); the Rayleigh
      // quotient of B + lambda I at v is then -gamma / ||v||^2, which bounds lambda_min.
      lambda_low = std::max(lambda_low, lambda);
      const int k = failed_at;
      for (int i = 0; i < k; ++i) null_part[i] = -factor[packed_index(i, k)];
      linalg::solve_upper(factor, k, null_part);
      const float v_norm_squared = 1.0f + sum_of_squares(null_part, k);
      const float gamma = std::max(0.0f, -pivot);
      if (std::isfinite(v_norm_squared))
        lambda_s = std::max(lambda_s, lambda + gamma / v_norm_squared);
      else
        lambda_s = std::max(lambda_s, lambda);
      lambda_low = std::max(lambda_low, lambda_s);
      continue;
    }
    // t = -(U^T U)^-1 b, with U t = -U^-T b kept for the reduction.
    for (int i = 0; i < m; ++i) image[i] = -b[i];
    linalg::solve_upper_transposed(factor, m, image);
    const float ut_squared = sum_of_squares(image, m);
    for (int i = 0; i < m; ++i) trial[i] = image[i];
    linalg::solve_upper(factor, m, trial);
    const float length = std::sqrt(sum_of_squares(trial, m));
    if (!std::isfinite(length)) {
      lambda_low = std::max(lambda_low, lambda);
      lambda_s = std::max(lambda_s, lambda);
      continue;
    }
    // The last factorizable lambda and its step are what a capped iteration returns.
    std::copy(trial, trial + m, t);
    have_step = true;
    result.multiplier = lambda;
    result.length = length;
    result.hard_case = false;
    // pred = 1/2 t^T B t + lambda ||t||^2 = 1/2 ||U t||^2 + 1/2 lambda ||t||^2.
    result.reduction = 0.5f * ut_squared + 0.5f * lambda * length * length;
    if (in_window(length, radius, window) || (lambda == 0.0f && length <= radius)) break;
    if (length > radius) {
      lambda_low = std::max(lambda_low, lambda);
    } else {
      lambda_high = std::min(lambda_high, lambda);
      const float curvature = linalg::small_image_direction(factor, m, direction, scratch);
      lambda_s = std::max(lambda_s, lambda - curvature * curvature);
      // Hard case: reach the boundary along z, ||t + tau z|| = radius.  With
      // (B + lambda I) t = -b the model value there is
      //   -1/2 ||U t||^2 + 1/2 tau^2 ||U z||^2 - 1/2 lambda radius^2,
      // so of the two roots the one of smaller magnitude gives the smaller model value.
      float tz = 0.0f;
      for (int i = 0; i < m; ++i) tz += t[i] * direction[i];
      const float root = std::sqrt(tz * tz + (radius - length) * (radius + length));
      const float tau = tz > 0.0f ? -tz - root : -tz + root;
      // The roots have opposite signs and product length^2 - radius^2.
      const float small_tau = tau != 0.0f ? -(radius - length) * (radius + length) / tau : 0.0f;
      const float chosen = std::fabs(small_tau) <= std::fabs(tau) ? small_tau : tau;
      const float curvature_part = chosen * chosen * curvature * curvature;
      if (curvature_part <= sigma * (2.0f - sigma) * (ut_squared + lambda * radius * radius)) {
        for (int i = 0; i < m; ++i) t[i] += chosen * direction[i];
        result.length = std::sqrt(sum_of_squares(t, m));
        result.reduction =
            0.5f * ut_squared - 0.5f * curvature_part + 0.5f * lambda * result.length * result.length;
        result.hard_case = true;
        break;
      }
    }
    // Newton (Hebden) update with ||L^-1 t||^2 = t^T (B + lambda I)^-1 t.
    for (int i = 0; i < m; ++i) scratch[i] = t[i];
    linalg::solve_upper_transposed(factor, m, scratch);
    const float q_norm = std::sqrt(sum_of_squares(scratch, m));
    if (q_norm > 0.0f) lambda += (length / q_norm) * (length / q_norm) * (length - radius) / radius;
    lambda_low = std::max(lambda_low, lambda_s);
  }
  if (!have_step) {
    // Every trial broke down: lambda_high is safely above -lambda_min.
    if (linalg::cholesky(b_packed, m, lambda_high, 0.0f, factor, &pivot) >= 0) return result;
    for (int i = 0; i < m; ++i) image[i] = -b[i];
    linalg::solve_upper_transposed(factor, m, image);
    const float ut_squared = sum_of_squares(image, m);
    for (int i = 0; i < m; ++i) t[i] = image[i];
    linalg::solve_upper(factor, m, t);
    result.multiplier = lambda_high;
    result.length = std::sqrt(sum_of_squares(t, m));
    result.reduction = 0.5f * ut_squared + 0.5f * lambda_high * result.length * result.length;
  }
  if (!(result.reduction > 0.0f)) {
    // A stationary point of a model without negative curvature: stay.
    for (int i = 0; i < m; ++i) t[i] = 0.0f;
    result.length = 0.0f;
    result.reduction = 0.0f;
  }
  return result;
}

}  // namespace basinfit::solver
