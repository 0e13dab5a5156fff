// The three LAPACK services of the core: Cholesky, symmetric eigen-decomposition
// and LU solve. Each takes its input by value semantics (copies are made),
// works on mathematical rows and columns, and describes failures with the
// fixed texts callers embed in their own messages.
#pragma once

#include <expected>
#include <span>
#include <string>

#include "linalg/matrix.hpp"

namespace pelun {

// Why a LAPACK service failed, as the text that goes after a caller's prefix,
// e.g. "Computational failure in LAPACK subroutine: return_code = 3".
struct LinalgFailure {
    std::string description;
};

template <class T>
using LinalgResult = std::expected<T, LinalgFailure>;

// Failure texts.
LinalgFailure lapack_info_failure(int info);  // info != 0
LinalgFailure invalid_shape_failure();

// Lower Cholesky factor L with A = L Lᵀ (dpotrf, uplo "L"). Only the lower
// triangle of `a` is read; entries above the diagonal of L are exact zeros.
// A NaN or infinite pivot is a failure at that pivot, whichever LAPACK is
// linked.
LinalgResult<Matrix> cholesky_lower(const Matrix& a);

struct SymmetricEigen {
    Vector values;   // ascending
    Matrix vectors;  // column j is the unit eigenvector of values[j]
};

// Eigenvalues and eigenvectors of a symmetric matrix (dsyev, jobz "V",
// workspace query first). Only the lower triangle of `a` is read.
LinalgResult<SymmetricEigen> symmetric_eigen(const Matrix& a);

// Solves a X = b for square a by dgetrf then dgetrs; b must have as many
// rows as a.
LinalgResult<Matrix> lu_solve(const Matrix& a, const Matrix& b);
LinalgResult<Vector> lu_solve(const Matrix& a, std::span<const double> b);

}  // namespace pelun
