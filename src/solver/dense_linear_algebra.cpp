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

Rotation givens(float a, float b) {
  Rotation rotation;
  if (b == 0.0f) return rotation;
  if (std::fabs(b) > std::fabs(a)) {
    const float cotangent = a / b;
    rotation.sine = 1.0f / std::sqrt(1.0f + cotangent * cotangent);
    rotation.cosine = rotation.sine * cotangent;
  } else {
    const float tangent = b / a;
    rotation.cosine = 1.0f / std::sqrt(1.0f + tangent * tangent);
    rotation.sine = rotation.cosine * tangent;
  }
  return rotation;
}

void triangularise_columns(float* a, int rows, int m, float* y) {
  for (int j = 0; j < m; ++j) {
    for (int i = rows - 1; i > j; --i) {
      const float below = a[static_cast<long>(j) * rows + i];
      if (below == 0.0f) continue;
      const Rotation rotation = givens(a[static_cast<long>(j) * rows + i - 1], below);
      for (int l = j; l < m; ++l) {
        float* column = a + static_cast<long>(l) * rows;
        const float upper = column[i - 1];
        const float lower = column[i];
        column[i - 1] = rotation.cosine * upper + rotation.sine * lower;
        column[i] = -rotation.sine * upper + rotation.cosine * lower;
      }
      a[static_cast<long>(j) * rows + i] = 0.0f;
      const float upper = y[i - 1];
      const float lower = y[i];
      y[i - 1] = rotation.cosine * upper + rotation.sine * lower;
      y[i] = -rotation.sine * upper + rotation.cosine * lower;
    }
  }
}

void reduce_with_diagonal(float* u_packed, const float* diagonal, float* y, int m, float* row) {
  for (int j = 0; j < m; ++j) {
    if (diagonal[j] == 0.0f) continue;
    for (int l = j; l < m; ++l) row[l] = 0.0f;
    row[j] = diagonal[j];
    float extra = 0.0f;  // the right-hand side of the row being eliminated
    for (int k = j; k < m; ++k) {
      if (row[k] == 0.0f) continue;
      float& pivot = u_packed[packed_index(k, k)];
      const Rotation rotation = givens(pivot, row[k]);
      pivot = rotation.cosine * pivot + rotation.sine * row[k];
      for (int l = k + 1; l < m; ++l) {
        float& entry = u_packed[packed_index(k, l)];
        const float upper = entry;
        entry = rotation.cosine * upper + rotation.sine * row[l];
        row[l] = -rotation.sine * upper + rotation.cosine * row[l];
      }
      const float upper = y[k];
      y[k] = rotation.cosine * upper + rotation.sine * extra;
      extra = -rotation.sine * upper + rotation.cosine * extra;
    }
  }
}

void solve_upper(const float* u_packed, int m, float* x) {
  for (int i = m - 1; i >= 0; --i) {
    float sum = x[i];
    for (int j = i + 1; j < m; ++j) sum -= u_packed[packed_index(i, j)] * x[j];
    x[i] = sum / u_packed[packed_index(i, i)];
  }
}

void solve_upper_transposed(const float* u_packed, int m, float* x) {
  for (int i = 0; i < m; ++i) {
    float sum = x[i];
    for (int j = 0; j < i; ++j) sum -= u_packed[packed_index(j, i)] * x[j];
    x[i] = sum / u_packed[packed_index(i, i)];
  }
}

int cholesky(const float* a_packed, int m, float shift, float pivot_floor, float* u_packed, float* pivot) {
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < j; ++i) {
      float sum = a_packed[packed_index(i, j)];
      for (int l = 0; l < i; ++l) sum -= u_packed[packed_index(l, i)] * u_packed[packed_index(l, j)];
      u_packed[packed_index(i, j)] = sum / u_packed[packed_index(i, i)];
    }
    float sum = a_packed[packed_index(j, j)] + shift;
    for (int l = 0; l < j; ++l) sum -= u_packed[packed_index(l, j)] * u_packed[packed_index(l, j)];
    // Written so that a NaN pivot also fails.
    if (!(sum > pivot_floor)) {
      *pivot = sum;
      return j;
    }
    u_packed[packed_index(j, j)] = std::sqrt(sum);
  }
  *pivot = 0.0f;
  return -1;
}

float small_image_direction(const float* u_packed, int m, float* z, float* work) {
  // U^T w = e, each e_k = +-1 chosen against the sign of what the earlier components
  // already contribute, so that w grows as fast as the triangle allows.
  float* w = work;
  for (int k = 0; k < m; ++k) {
    float partial = 0.0f;
    for (int j = 0; j < k; ++j) partial += u_packed[packed_index(j, k)] * w[j];
    const float e = partial > 0.0f ? -1.0f : 1.0f;
    w[k] = (e - partial) / u_packed[packed_index(k, k)];
  }
  const float w_norm = scaled_norm(w, m);
  for (int k = 0; k < m; ++k) z[k] = w[k];
  solve_upper(u_packed, m, z);
  const float y_norm = scaled_norm(z, m);
  if (!(y_norm > 0.0f) || !std::isfinite(y_norm)) {
    for (int k = 0; k < m; ++k) z[k] = k == 0 ? 1.0f : 0.0f;
    return std::fabs(u_packed[packed_index(0, 0)]);
  }
  for (int k = 0; k < m; ++k) z[k] /= y_norm;
  // U z = w / ||y||.
  return w_norm / y_norm;
}

}  // namespace basinfit::solver::linalg
