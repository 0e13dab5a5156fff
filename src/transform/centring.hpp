// Column sums and the sum-to-zero constraint: the orthonormal basis that
// centres a block of columns over the fitting rows.
#pragma once

#include <span>

#include "linalg/matrix.hpp"

namespace pelun {

// c[j] = Σᵣ a(r, j), length a.cols(); zeros for a matrix without rows.
Vector column_sums(const Matrix& a);

// Z, k × (k−1), for a constraint vector c of length k ≥ 1: columns 2 … k of
// the Householder reflector that maps c onto a multiple of e₀, so the
// columns of Z are orthonormal and cᵀZ = 0. A constraint of norm below the
// machine epsilon gives the first k−1 columns of the identity instead.
Matrix sum_to_zero_basis(std::span<const double> c);

}  // namespace pelun
