// The cubic-regression-spline term (knots, centring, constrained basis and
// scaled constrained penalty) and the single-smooth `cr` design built on it.
#pragma once

#include <cstddef>
#include <span>

#include "design/design.hpp"
#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

struct CrTerm {
    Vector knots;     // k knots
    Matrix centring;  // Z, k × (k−1): sum-to-zero over the fitting rows
    Matrix basis;     // X₀·Z, n × (k−1); every column sums to zero
    Matrix penalty;   // Zᵀ·S₁·Z, (k−1) × (k−1), S₁ the ∞-norm-scaled penalty
};

// The term of column `col` of `x` (any strides) with basis dimension k.
// Fails with InvalidParameter for a non-finite value in the column or a knot
// error. Precondition: col < x.cols().
Result<CrTerm> build_cr_term(MatrixView x, std::size_t col, std::size_t k);

// B·Z for B = cr_basis(knots, x): the constrained basis at any points.
// Precondition: valid knots and a centring with knots.size() rows.
Matrix centred_cr_basis(std::span<const double> knots, const Matrix& centring, VectorView x);

// The `cr` design on column 0 of `x`: x = [1 | X₀·Z], one penalty, predictor
// `Cr`. Fails as `build_cr_term`. Precondition: x has at least one column.
Result<Design> build_cr_design(MatrixView x, std::size_t k);

}  // namespace pelun
