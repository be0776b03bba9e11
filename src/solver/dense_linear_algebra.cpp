#include "solver/dense_linear_algebra.h"

#include <algorithm>
#include <cmath>

namespace basinfit::solver::linalg {
namespace {

// Euclidean norm with scaling, so that large residuals cannot overflow the sum of squares.
float scaled_norm(const float* x, int count) {
  float largest = 0.0f;
  for (int i = 0; i < count; ++i) largest = std::max(largest, std::fabs(x[i]));
  if (largest == 0.0f) return 0.0f;
  float sum = 0.0f;
  for (int i = 0; i < count; ++i) {
    const float t = x[i] / largest;
    sum += t * t;
  }
  return largest * std::sqrt(sum);
}

}  // namespace

void householder_qr(float* a, int n, int p, float* tau, float* r_packed) {
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i <= j; ++i) r_packed[packed_index(i, j)] = 0.0f;
  }
  const int steps = std::min(n, p);
  for (int k = 0; k < steps; ++k) {
    float* column = a + static_cast<long>(k) * n;
    const float alpha = scaled_norm(column + k, n - k);
    if (alpha == 0.0f) {
      tau[k] = 0.0f;
    } else {
      const float head = column[k];
      const float beta = head > 0.0f ? -alpha : alpha;
      tau[k] = (beta - head) / beta;
      const float inverse = 1.0f / (head - beta);
      for (int i = k + 1; i < n; ++i) column[i] *= inverse;
      column[k] = beta;
      for (int j = k + 1; j < p; ++j) {
        float* target = a + static_cast<long>(j) * n;
        float w = target[k];
        for (int i = k + 1; i < n; ++i) w += column[i] * target[i];
        w *= tau[k];
        target[k] -= w;
        for (int i = k + 1; i < n; ++i) target[i] -= w * column[i];
      }
    }
    for (int j = k; j < p; ++j) r_packed[packed_index(k, j)] = a[static_cast<long>(j) * n + k];
  }
  for (int k = steps; k < p; ++k) tau[k] = 0.0f;
}

void apply_qt(const float* a, int n, int p, const float* tau, float* y) {
  const int steps = std::min(n, p);
  for (int k = 0; k < steps; ++k) {
    if (tau[k] == 0.0f) continue;
    const float* column = a + static_cast<long>(k) * n;
    float w = y[k];
    for (int i = k + 1; i < n; ++i) w += column[i] * y[i];
    w *= tau[k];
    y[k] -= w;
    for (int i = k + 1; i < n; ++i) y[i] -= w * column[i];
  }
}

void symmetric_eigen(float* b, int m, float* values, float* vectors) {
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < m; ++i) vectors[j * m + i] = i == j ? 1.0f : 0.0f;
  }
  for (int sweep = 0; sweep < 60; ++sweep) {
    float off = 0.0f;
    float diag = 0.0f;
    for (int j = 0; j < m; ++j) {
      diag += b[j * m + j] * b[j * m + j];
      for (int i = 0; i < j; ++i) off += b[j * m + i] * b[j * m + i];
    }
    if (off == 0.0f || off <= 1.0e-14f * diag) break;
    for (int p = 0; p < m - 1; ++p) {
      for (int q = p + 1; q < m; ++q) {
        const float apq = b[q * m + p];
        if (apq == 0.0f) continue;
        const float app = b[p * m + p];
        const float aqq = b[q * m + q];
        const float theta = (aqq - app) / (2.0f * apq);
        const float t = (theta >= 0.0f ? 1.0f : -1.0f) / (std::fabs(theta) + std::sqrt(1.0f + theta * theta));
        const float c = 1.0f / std::sqrt(1.0f + t * t);
        const float s = t * c;
        for (int k = 0; k < m; ++k) {
          const float bkp = b[p * m + k];
          const float bkq = b[q * m + k];
          b[p * m + k] = c * bkp - s * bkq;
          b[q * m + k] = s * bkp + c * bkq;
        }
        for (int k = 0; k < m; ++k) {
          const float bpk = b[k * m + p];
          const float bqk = b[k * m + q];
          b[k * m + p] = c * bpk - s * bqk;
          b[k * m + q] = s * bpk + c * bqk;
        }
        for (int k = 0; k < m; ++k) {
          const float vkp = vectors[p * m + k];
          const float vkq = vectors[q * m + k];
          vectors[p * m + k] = c * vkp - s * vkq;
          vectors[q * m + k] = s * vkp + c * vkq;
        }
      }
    }
  }
  for (int j = 0; j < m; ++j) values[j] = b[j * m + j];
}

void orthogonalise_columns(float* a, int rows, int m, float* vectors) {
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < m; ++i) vectors[j * m + i] = i == j ? 1.0f : 0.0f;
  }
  for (int sweep = 0; sweep < 60; ++sweep) {
    bool rotated = false;
    for (int p = 0; p < m - 1; ++p) {
      for (int q = p + 1; q < m; ++q) {
        float* ap = a + static_cast<long>(p) * rows;
        float* aq = a + static_cast<long>(q) * rows;
        float alpha = 0.0f, beta = 0.0f, gamma = 0.0f;
        for (int k = 0; k < rows; ++k) {
          alpha += ap[k] * ap[k];
          beta += aq[k] * aq[k];
          gamma += ap[k] * aq[k];
        }
        if (gamma == 0.0f || std::fabs(gamma) <= 1.0e-7f * std::sqrt(alpha * beta)) continue;
        rotated = true;
        const float zeta = (beta - alpha) / (2.0f * gamma);
        const float t = (zeta >= 0.0f ? 1.0f : -1.0f) / (std::fabs(zeta) + std::sqrt(1.0f + zeta * zeta));
        const float c = 1.0f / std::sqrt(1.0f + t * t);
        const float s = c * t;
        for (int k = 0; k < rows; ++k) {
          const float x = ap[k];
          const float y = aq[k];
          ap[k] = c * x - s * y;
          aq[k] = s * x + c * y;
        }
        for (int k = 0; k < m; ++k) {
          const float x = vectors[p * m + k];
          const float y = vectors[q * m + k];
          vectors[p * m + k] = c * x - s * y;
          vectors[q * m + k] = s * x + c * y;
        }
      }
    }
    if (!rotated) break;
  }
}

}  // namespace basinfit::solver::linalg
