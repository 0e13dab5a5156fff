// The penalized weighted least-squares step shared by every inner fit:
// total penalty, weighted cross-products, the ridged Cholesky solve of
// (XᵀWX + S_λ) β = XᵀWz, and the penalty quadratic form.
#pragma once

#include <span>

#include "linalg/matrix.hpp"
#include "util/error.hpp"

namespace pelun {

// S_λ = Σ_j exp(rho[j]) · penalties[j], accumulated in list order into a zero
// p × p matrix, p the dimension of the first penalty. rho[j] = -inf drops S_j.
// Preconditions: every penalty is p × p and rho has at least as many entries
// as there are penalties (extra entries are ignored). An empty list gives a
// 0 × 0 matrix.
Matrix total_penalty(std::span<const Matrix> penalties, std::span<const double> rho);

struct WeightedCrossproducts {
    Matrix xtwx;  // Xᵀ diag(W) X, p × p, both triangles filled
    Vector xtwz;  // Xᵀ diag(W) z, length p
};

// XᵀWX and XᵀWz for the n × p matrix X, weights W and response z (length n).
// When every weight is ≥ 0 the rows of [X | z] are scaled by √W_i, a block
// of rows at a time, and each block goes to the BLAS as a symmetric rank-k
// update (XᵀWX comes out exactly symmetric). Otherwise (a negative or NaN weight)
// B = Xᵀ diag(W) is formed and XᵀWX = B·X, XᵀWz = B·z by matrix products.
//
// `scratch` is working storage for the scaled rows; it is reshaped only when
// its shape does not fit (one block of rows × (p + 1), or n × p in the general
// case), so a caller that keeps it across iterations allocates it once.
WeightedCrossproducts weighted_crossproducts(const Matrix& x, std::span<const double> w,
                                             std::span<const double> z, Matrix& scratch);
// The same with a scratch of its own.
WeightedCrossproducts weighted_crossproducts(const Matrix& x, std::span<const double> w,
                                             std::span<const double> z);

struct PenalizedSolution {
    Matrix chol;  // lower Cholesky factor L of A itself (no ridge), zeros above the diagonal
    Vector beta;  // solution of (A + 1e-12·max(1, max_i |A_ii|)·I) β = b
};

// Solves A β = b for a symmetric p × p A (only its lower triangle is read)
// and b of length p. A is factored once as it is (that factor is returned)
// and once with the small relative ridge on its diagonal (that factor gives
// β). A failed factorization gives SingularSystem "Cholesky failed: {}" with
// the LAPACK failure text; no fall-back is tried. A NaN pivot counts as a
// failed factorization whichever LAPACK is linked. A b of the wrong length
// gives Linalg "Invalid shape".
Result<PenalizedSolution> penalized_solve(const Matrix& a, std::span<const double> b);

// β with L Lᵀ β = b for a lower-triangular p × p factor L: forward
// substitution L y = b from the first row, then back substitution
// Lᵀ β = y from the last row, β_i = (y_i − Σ_{k>i} L[k][i] β_k) / L[i][i].
// Precondition: b has length p.
Vector cholesky_substitute(const Matrix& l, std::span<const double> b);

// βᵀ S β as Σ_i β_i Σ_j S[i][j] β_j. Precondition: S is p × p, p = β.size().
double penalty_quadratic(std::span<const double> beta, const Matrix& s);

}  // namespace pelun
