#pragma once
// Small dense kernels of the solver, single precision.  Matrices are column-major;
// triangles are packed: the upper triangle of R by columns, element (i, j), i <= j, at
// j(j+1)/2 + i (0-based), which is also the lower triangle of a symmetric matrix by rows.
// A lower-triangular L packed by rows therefore shares its storage with U = L^T, and the
// kernels below speak of upper triangles only.

namespace basinfit::solver::linalg {

constexpr int packed_index(int i, int j) { return i <= j ? j * (j + 1) / 2 + i : i * (i + 1) / 2 + j; }

// Householder QR of the n x p matrix a (leading dimension n), in place.  Rows k+1.. of
// column k keep the reflector (its first element 1 is implicit), tau[k] its factor, and
// the upper triangle R goes to r_packed (rows beyond n are zero).
void householder_qr(float* a, int n, int p, float* tau, float* r_packed);

// Applies Q^T of a factorization made by householder_qr to the n-vector y, in place.
void apply_qt(const float* a, int n, int p, const float* tau, float* y);

// A plane rotation [c s; -s c] that takes (a, b) to (r, 0).
struct Rotation {
  float cosine = 1.0f;
  float sine = 0.0f;
};
Rotation givens(float a, float b);

// Rotates the rows of the rows x m matrix a (column-major) until its leading m x m block
// is upper triangular, applying the same rotations to y (length rows).  Used to bring the
// columns of the unknowns that are still free back to triangular form.
void triangularise_columns(float* a, int rows, int m, float* y);

// Reduces the 2m x m matrix [U; diag(diagonal)] to upper triangular form in place (U
// packed upper), eliminating the entries of the diagonal block row by row against the
// rows of U.  The same rotations take [y; 0] to [y'; e]; y is overwritten by y'.
// `row` is scratch of length m.
void reduce_with_diagonal(float* u_packed, const float* diagonal, float* y, int m, float* row);

// Solves U x = y (back substitution) and U^T x = y (forward substitution) in place, for U
// packed upper.  The leading k x k block of a packed triangle is its first k(k+1)/2
// elements, so both also solve with a leading block.
void solve_upper(const float* u_packed, int m, float* x);
void solve_upper_transposed(const float* u_packed, int m, float* x);

// Cholesky factorization A + shift I = U^T U of the packed symmetric m x m matrix a.
// Returns -1 on success.  Otherwise returns the column k at which the pivot
// a_kk + shift - sum_j<k u_jk^2 fell to `pivot_floor` or below; the pivot is left in
// `pivot`, columns 0..k-1 of U and the entries above the diagonal of column k are
// complete.
int cholesky(const float* a_packed, int m, float shift, float pivot_floor, float* u_packed, float* pivot);

// A unit vector z that makes ||U z|| small for the nonsingular packed upper triangle U,
// chosen by the greedy sign rule of the classical triangular condition estimate (solve
// U^T w = e with e_k = +-1 picked to make w grow, then U y = w, z = y / ||y||).  Returns
// ||U z||.  `work` is scratch of length m.
float small_image_direction(const float* u_packed, int m, float* z, float* work);

}  // namespace basinfit::solver::linalg
