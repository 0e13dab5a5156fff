// The cubic-regression-spline term rotated into the eigenbasis of its
// constrained penalty, and the single-smooth `cr_stable` design built on it.
#pragma once

#include <cstddef>
#include <span>

#include "design/design.hpp"
#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

struct CrStableTerm {
    Vector knots;      // k knots
    Matrix centring;   // Z, k × (k−1), as for the cr term
    Matrix reparam_v;  // V, q × q (q = k−1), column j the eigenvector of the j-th largest eigenvalue
    Matrix basis;      // (X₀·Z)·V, n × q; every column sums to zero
    Matrix penalty;    // (Vᵀ·S_c)·V, q × q: diagonal to rounding, descending
};

// The rotation V of a constrained penalty: column j is the unit eigenvector
// of its j-th largest eigenvalue, with the eigen-solver's signs. Only the
// lower triangle is read. Fails with InvalidParameter
// "StableReparam: inner_penalty must be (q, q); got (r, c)" for any other
// shape, and with Linalg "eigh failed in StableReparam: {}" if the
// eigen-solver fails.
Result<Matrix> stable_reparam(const Matrix& inner_penalty, std::size_t q);

// The cr term of column `col` of `x` (any strides) rotated by the
// `stable_reparam` of its constrained penalty. Fails as `build_cr_term` or
// `stable_reparam`. Precondition: col < x.cols().
Result<CrStableTerm> build_cr_stable_term(MatrixView x, std::size_t col, std::size_t k);

// (B·Z)·V for B = cr_basis(knots, x): the rotated basis at any points, by the
// same products as the term builder. Precondition: valid knots, a centring
// with knots.size() rows and a rotation with as many rows as it has columns.
Matrix stable_cr_basis(std::span<const double> knots, const Matrix& centring, const Matrix& reparam_v,
                       VectorView x);

// The `cr_stable` design on column 0 of `x`: x = [1 | (X₀·Z)·V], one
// penalty, predictor `CrStable`. Fails as `build_cr_stable_term`.
// Precondition: x has at least one column.
Result<Design> build_cr_stable_design(MatrixView x, std::size_t k);

}  // namespace pelun
