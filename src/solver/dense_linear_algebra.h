#pragma once
// Small dense kernels of the solver, single precision.  Matrices are column-major;
// triangles are packed: the upper triangle of R by columns, element (i, j), i <= j, at
// j(j+1)/2 + i (0-based), which is also the lower triangle of a symmetric matrix by rows.

namespace basinfit::solver::linalg {

constexpr int packed_index(int i, int j) { return i <= j ? j * (j + 1) / 2 + i : i * (i + 1) / 2 + j; }

// Householder QR of the n x p matrix a (leading dimension n), in place.  Rows k+1.. of
// column k keep the reflector (its first element 1 is implicit), tau[k] its factor, and
// the upper triangle R goes to r_packed (rows beyond n are zero).
void householder_qr(float* a, int n, int p, float* tau, float* r_packed);

// Applies Q^T of a factorization made by householder_qr to the n-vector y, in place.
void apply_qt(const float* a, int n, int p, const float* tau, float* y);

// Eigen-decomposition of the symmetric m x m matrix b (column-major, destroyed) by cyclic
// Jacobi rotations: eigenvalues in `values`, eigenvectors as the columns of `vectors`.
void symmetric_eigen(float* b, int m, float* values, float* vectors);

// One-sided Jacobi orthogonalisation of the columns of the rows x m matrix a: on return
// a holds A V (orthogonal columns, whose squared norms are the squared singular values)
// and `vectors` the m x m rotation V.
void orthogonalise_columns(float* a, int rows, int m, float* vectors);

}  // namespace basinfit::solver::linalg
