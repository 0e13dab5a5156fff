#include "linalg/lapack.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "linalg/fortran_interface.hpp"

namespace pelun {

namespace {

using fortran::Int;

bool fits_lapack_int(std::size_t n) { return n <= static_cast<std::size_t>(INT_MAX); }

// LAPACK works on column-major storage: element (i, j) at [j * rows + i].
std::vector<double> to_column_major(const Matrix& a) {
    std::vector<double> out(a.size());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < a.cols(); ++j) out[j * a.rows() + i] = a(i, j);
    return out;
}

Matrix from_column_major(const std::vector<double>& values, std::size_t rows, std::size_t cols) {
    Matrix out(rows, cols);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j) out(i, j) = values[j * rows + i];
    return out;
}

}  // namespace

LinalgFailure lapack_info_failure(int info) {
    if (info < 0)
        return {"Invalid value for LAPACK subroutine " + std::to_string(-info) + "-th argument"};
    return {"Computational failure in LAPACK subroutine: return_code = " + std::to_string(info)};
}

LinalgFailure invalid_shape_failure() { return {"Invalid shape"}; }

LinalgResult<Matrix> cholesky_lower(const Matrix& a) {
    if (!a.is_square() || !fits_lapack_int(a.rows())) return std::unexpected(invalid_shape_failure());
    const std::size_t p = a.rows();
    if (p == 0) return Matrix();
    std::vector<double> work = to_column_major(a);
    const char uplo = 'L';
    const Int n = static_cast<Int>(p);
    Int info = 0;
    PELUN_FORTRAN(dpotrf)(&uplo, &n, work.data(), &n, &info, 1);
    if (info != 0) return std::unexpected(lapack_info_failure(info));
    Matrix l = from_column_major(work, p, p);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j) l(i, j) = 0.0;
    // The reference dpotrf stops at a NaN pivot with info = its 1-based
    // index; OpenBLAS runs through and returns a NaN factor, and accepts an
    // infinite pivot. A non-finite value anywhere in the factor reaches the
    // diagonal at or below its row, so the first non-finite diagonal entry is
    // the pivot that fails.
    for (std::size_t i = 0; i < p; ++i)
        if (!std::isfinite(l(i, i))) return std::unexpected(lapack_info_failure(static_cast<int>(i + 1)));
    return l;
}

LinalgResult<SymmetricEigen> symmetric_eigen(const Matrix& a) {
    if (!a.is_square() || !fits_lapack_int(a.rows())) return std::unexpected(invalid_shape_failure());
    const std::size_t p = a.rows();
    if (p == 0) return SymmetricEigen{};
    std::vector<double> work_matrix = to_column_major(a);
    Vector values(p);
    const char jobz = 'V', uplo = 'L';
    const Int n = static_cast<Int>(p);
    Int info = 0;

    Int lwork = -1;
    double optimal = 0.0;
    PELUN_FORTRAN(dsyev)(&jobz, &uplo, &n, work_matrix.data(), &n, values.data(), &optimal, &lwork,
                         &info, 1, 1);
    if (info != 0) return std::unexpected(lapack_info_failure(info));

    lwork = std::max<Int>(static_cast<Int>(optimal), std::max<Int>(1, 3 * n - 1));
    std::vector<double> workspace(static_cast<std::size_t>(lwork));
    PELUN_FORTRAN(dsyev)(&jobz, &uplo, &n, work_matrix.data(), &n, values.data(), workspace.data(),
                         &lwork, &info, 1, 1);
    if (info != 0) return std::unexpected(lapack_info_failure(info));
    return SymmetricEigen{std::move(values), from_column_major(work_matrix, p, p)};
}

LinalgResult<Matrix> lu_solve(const Matrix& a, const Matrix& b) {
    if (!a.is_square() || b.rows() != a.rows() || !fits_lapack_int(a.rows()) ||
        !fits_lapack_int(b.cols()))
        return std::unexpected(invalid_shape_failure());
    const std::size_t p = a.rows();
    if (p == 0 || b.cols() == 0) return Matrix(p, b.cols());
    std::vector<double> lu = to_column_major(a);
    std::vector<double> rhs = to_column_major(b);
    std::vector<Int> pivots(p);
    const Int n = static_cast<Int>(p), nrhs = static_cast<Int>(b.cols());
    Int info = 0;
    PELUN_FORTRAN(dgetrf)(&n, &n, lu.data(), &n, pivots.data(), &info);
    if (info != 0) return std::unexpected(lapack_info_failure(info));
    const char trans = 'N';
    PELUN_FORTRAN(dgetrs)(&trans, &n, &nrhs, lu.data(), &n, pivots.data(), rhs.data(), &n, &info, 1);
    if (info != 0) return std::unexpected(lapack_info_failure(info));
    return from_column_major(rhs, p, b.cols());
}

LinalgResult<Vector> lu_solve(const Matrix& a, std::span<const double> b) {
    Matrix column(b.size(), 1);
    std::copy(b.begin(), b.end(), column.data());
    auto solved = lu_solve(a, column);
    if (!solved) return std::unexpected(std::move(solved.error()));
    return solved->values();
}

}  // namespace pelun
