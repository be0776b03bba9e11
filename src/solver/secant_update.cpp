#include "solver/secant_update.h"

#include <algorithm>
#include <cmath>

#include "solver/dense_linear_algebra.h"

namespace basinfit::solver {
namespace {

float dot(const float* a, const float* b, int count) {
  float sum = 0.0f;
  for (int i = 0; i < count; ++i) sum += a[i] * b[i];
  return sum;
}

}  // namespace

void secant_update(int p, const float* step, const float* gradient_change, const float* secant, float cosmin,
                   float* s_packed, float* work) {
  float* u = work;
  float* w = work + p;
  for (int i = 0; i < p; ++i) {
    float sum = 0.0f;
    for (int j = 0; j < p; ++j) sum += s_packed[linalg::packed_index(i, j)] * step[j];
    u[i] = sum;
    w[i] = gradient_change[i];
  }
  const float s_secant = dot(step, secant, p);
  const float s_su = dot(step, u, p);
  // Size S down when its curvature along the step exceeds the observed one.
  const float sizing = std::fabs(s_secant) >= std::fabs(s_su) ? 1.0f : std::fabs(s_secant) / std::fabs(s_su);
  const float s_w = dot(step, w, p);
  const float denominator = cosmin * std::sqrt(dot(step, step, p)) * std::sqrt(dot(w, w, p));
  const float damping = denominator == 0.0f ? 1.0f : std::min(1.0f, std::fabs(s_w) / denominator);
  const float factor = s_w == 0.0f ? 0.0f : damping / s_w;
  for (int i = 0; i < p; ++i) w[i] *= factor;
  const float t = 0.5f * (sizing * s_su - s_secant);
  for (int i = 0; i < p; ++i) u[i] = t * w[i] + secant[i] - sizing * u[i];
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j <= i; ++j) {
      float& element = s_packed[linalg::packed_index(i, j)];
      element = sizing * element + u[i] * w[j] + w[i] * u[j];
    }
  }
}

}  // namespace basinfit::solver
