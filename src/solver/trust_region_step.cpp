#include "solver/trust_region_step.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace basinfit::solver {
namespace {

constexpr float kEpsilon = std::numeric_limits<float>::epsilon();

// ||t(mu)|| over the components with a nonzero numerator; infinity when mu does not lie
// above every such pole.
float step_norm(const float* e, const float* a, int m, float mu) {
  float sum = 0.0f;
  for (int i = 0; i < m; ++i) {
    if (a[i] == 0.0f) continue;
    const float denominator = e[i] + mu;
    if (denominator <= 0.0f) return std::numeric_limits<float>::infinity();
    const float t = a[i] / denominator;
    sum += t * t;
  }
  return std::sqrt(sum);
}

// d||t||/dmu = -(sum a^2 / (e + mu)^3) / ||t||.
float step_norm_derivative(const float* e, const float* a, int m, float mu, float norm) {
  float sum = 0.0f;
  for (int i = 0; i < m; ++i) {
    if (a[i] == 0.0f) continue;
    const float q = a[i] / (e[i] + mu);
    sum += q * q / (e[i] + mu);
  }
  return norm > 0.0f ? -sum / norm : 0.0f;
}

}  // namespace

float eigenvalue_zero_tolerance(const float* e, int m) {
  float largest = 0.0f;
  for (int i = 0; i < m; ++i) largest = std::max(largest, std::fabs(e[i]));
  return static_cast<float>(m) * kEpsilon * largest;
}

float squared_singular_value_zero_tolerance(const float* e, int m) {
  float largest = 0.0f;
  for (int i = 0; i < m; ++i) largest = std::max(largest, std::fabs(e[i]));
  const float relative = static_cast<float>(m) * kEpsilon;
  return relative * relative * largest;
}

float model_reduction(const float* e, const float* a, const float* c, int m) {
  float reduction = 0.0f;
  for (int i = 0; i < m; ++i) reduction -= a[i] * c[i] + 0.5f * e[i] * c[i] * c[i];
  return reduction;
}

ConstrainedStep locally_constrained_step(const float* e, const float* a, int m, float radius,
                                         float lower_factor, float upper_factor, float mu_start,
                                         int max_trials, float zero_tolerance, float* c) {
  ConstrainedStep result;
  for (int i = 0; i < m; ++i) c[i] = 0.0f;
  if (m <= 0) return result;

  float e_min = e[0];
  float e_max_abs = 0.0f;
  float a_norm = 0.0f;
  for (int i = 0; i < m; ++i) {
    e_min = std::min(e_min, e[i]);
    e_max_abs = std::max(e_max_abs, std::fabs(e[i]));
    a_norm += a[i] * a[i];
  }
  a_norm = std::sqrt(a_norm);
  const bool positive_definite = e_min > zero_tolerance;

  if (positive_definite) {
    float length = 0.0f;
    float reduction = 0.0f;
    for (int i = 0; i < m; ++i) {
      const float q = a[i] / e[i];
      length += q * q;
      reduction += a[i] * q;
    }
    result.full_step_exists = true;
    result.full_length = std::sqrt(length);
    result.full_reduction = 0.5f * reduction;
  }

  if (a_norm == 0.0f || radius <= 0.0f) {
    // A stationary point of the model: only negative curvature can still reduce it.
    if (a_norm == 0.0f && e_min < -zero_tolerance && radius > 0.0f) {
      int lowest = 0;
      for (int i = 1; i < m; ++i) {
        if (e[i] < e[lowest]) lowest = i;
      }
      c[lowest] = radius;
      result.multiplier = -e_min;
      result.length = radius;
    }
    result.reduction = model_reduction(e, a, c, m);
    return result;
  }

  if (positive_definite && result.full_length <= upper_factor * radius) {
    for (int i = 0; i < m; ++i) c[i] = -a[i] / e[i];
    result.length = result.full_length;
    result.reduction = result.full_reduction;
    return result;
  }

  const float floor_mu = std::max(0.0f, -e_min);
  if (!positive_definite) {
    // Does the gradient have a component along the lowest curvature?  If not, the step
    // length stays bounded as mu falls to its floor (the hard case).
    float near_norm = 0.0f;
    for (int i = 0; i < m; ++i) {
      if (e[i] <= e_min + zero_tolerance) near_norm += a[i] * a[i];
    }
    near_norm = std::sqrt(near_norm);
    if (near_norm <= kEpsilon * a_norm) {
      float length = 0.0f;
      int lowest = -1;
      for (int i = 0; i < m; ++i) {
        if (e[i] <= e_min + zero_tolerance) {
          if (lowest < 0) lowest = i;
          continue;
        }
        c[i] = -a[i] / (e[i] + floor_mu);
        length += c[i] * c[i];
      }
      length = std::sqrt(length);
      if (length <= upper_factor * radius) {
        result.multiplier = floor_mu;
        if (e_min < -zero_tolerance && lowest >= 0 && length < radius) {
          // Move along the direction of negative curvature to the trust boundary.
          const float tau = std::sqrt(std::max(0.0f, radius * radius - length * length));
          c[lowest] = a[lowest] > 0.0f ? -tau : tau;
          length = radius;
        }
        result.length = length;
        result.reduction = model_reduction(e, a, c, m);
        return result;
      }
      for (int i = 0; i < m; ++i) c[i] = 0.0f;
    }
  }

  // Hebden's iteration with More's safeguards on ||t(mu)|| = radius.
  float lower = floor_mu;
  if (positive_definite) {
    const float phi = result.full_length - radius;
    const float derivative = step_norm_derivative(e, a, m, 0.0f, result.full_length);
    if (derivative < 0.0f) lower = std::max(lower, -phi / derivative);
  }
  float upper = a_norm / radius - e_min;
  if (!(upper > lower)) upper = lower + a_norm / radius;
  float mu = mu_start;
  if (!(mu > lower && mu < upper)) mu = std::max(0.001f * upper, std::sqrt(lower * upper));
  if (!(mu > lower)) mu = 0.5f * (lower + upper);
  float norm = step_norm(e, a, m, mu);
  for (int trial = 1; trial <= max_trials; ++trial) {
    result.trials = trial;
    norm = step_norm(e, a, m, mu);
    if (norm >= lower_factor * radius && norm <= upper_factor * radius) break;
    if (trial == max_trials) break;
    if (norm < radius) {
      upper = mu;
    } else {
      lower = mu;
    }
    float next = mu;
    if (std::isfinite(norm)) {
      const float derivative = step_norm_derivative(e, a, m, mu, norm);
      if (derivative < 0.0f) next = mu - (norm / radius) * (norm - radius) / derivative;
    }
    if (!(next > lower && next < upper)) next = std::max(0.001f * upper, std::sqrt(lower * upper));
    if (!(next > lower && next < upper)) next = 0.5f * (lower + upper);
    if (next == mu) break;
    mu = next;
  }
  if (!std::isfinite(norm)) {
    mu = upper;
    norm = step_norm(e, a, m, mu);
  }
  for (int i = 0; i < m; ++i) {
    const float denominator = e[i] + mu;
    c[i] = (a[i] == 0.0f || denominator <= 0.0f) ? 0.0f : -a[i] / denominator;
  }
  if (norm > upper_factor * radius && norm > 0.0f) {
    // Out of trials: shorten the last step onto the trust boundary; its model value still
    // decreases because B + mu I is positive definite along it.
    const float shrink = radius / norm;
    for (int i = 0; i < m; ++i) c[i] *= shrink;
    norm = radius;
  }
  result.multiplier = mu;
  result.length = norm;
  result.reduction = model_reduction(e, a, c, m);
  return result;
}

}  // namespace basinfit::solver
