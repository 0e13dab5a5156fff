// Kronecker products of tensor-product smooths: the row-wise product of two
// margin bases and the two margin penalties lifted to the product space.
#pragma once

#include <cstddef>

#include "linalg/matrix.hpp"

namespace pelun {

// The row-wise Kronecker product of a (n × ka) and b (n × kb): n × (ka·kb)
// with out(r, i·kb + j) = a(r, i)·b(r, j), the index of `a` varying slowest.
// Precondition: a.rows() == b.rows().
Matrix row_kronecker(const Matrix& a, const Matrix& b);

// s ⊗ I_m for a square s: entry (i·m + l, j·m + l) = s(i, j) for every
// l < m; only non-zero entries of s are written.
Matrix kron_with_identity(const Matrix& s, std::size_t m);

// I_m ⊗ s for a square s: m diagonal blocks equal to s.
Matrix identity_kron(std::size_t m, const Matrix& s);

}  // namespace pelun
