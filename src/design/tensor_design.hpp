// The two-column tensor-product term of two cubic-regression-spline margins:
// knots, centred row-wise Kronecker basis and the two margin penalties.
#pragma once

#include <cstddef>
#include <span>

#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

struct TensorTerm {
    Vector knots_a;    // k_a knots of the first margin
    Vector knots_b;    // k_b knots of the second margin
    Matrix xp_a;       // k_a × k_a margin transform (the identity)
    Matrix xp_b;       // k_b × k_b margin transform (the identity)
    Matrix centring;   // Z, (k_a·k_b) × (k_a·k_b − 1): sum-to-zero over the fitting rows
    Matrix basis;      // T·Z, n × (k_a·k_b − 1); every column sums to zero
    Matrix penalty_a;  // Zᵀ·(S_a ⊗ I)·Z: roughness along the first margin
    Matrix penalty_b;  // Zᵀ·(I ⊗ S_b)·Z: roughness along the second margin
};

// `s` divided by its largest eigenvalue (taken from 0 up, NaN ignored), or
// unchanged when no eigenvalue is positive. Only the lower triangle is read
// for the eigenvalues. Fails with Linalg
// "eigh failed in tensor penalty rescale: {}" if the eigen-solver fails.
Result<Matrix> scale_to_unit_largest_eigenvalue(Matrix s);

// The uncentred tensor basis T = (B_a·xp_a) ⊙ (B_b·xp_b), the row-wise
// Kronecker product of the transformed margin bases B_a = cr_basis(knots_a,
// x_a) and B_b = cr_basis(knots_b, x_b), first margin slowest. The term
// builder and the predictor both use it. Precondition: valid knots, xp_a
// with knots_a.size() rows, xp_b with knots_b.size() rows, x_a and x_b of
// equal length.
Matrix tensor_product_basis(std::span<const double> knots_a, const Matrix& xp_a, VectorView x_a,
                            std::span<const double> knots_b, const Matrix& xp_b, VectorView x_b);

// The tensor term of columns col_a and col_b of `x` (any strides) with
// margin dimensions k_a and k_b; S_a and S_b are the margins' cr penalties,
// each scaled to unit largest eigenvalue. Fails with InvalidParameter
// "Tensor term must have distinct margin columns (got col_a == col_b == {})",
// then for a non-finite value or a knot error of the first margin, then of
// the second, and with Linalg when a margin penalty's eigenvalues cannot be
// computed. Preconditions: col_a, col_b < x.cols().
Result<TensorTerm> build_tensor_term(MatrixView x, std::size_t col_a, std::size_t col_b, std::size_t k_a,
                                     std::size_t k_b);

}  // namespace pelun
