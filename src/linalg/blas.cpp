#include "linalg/blas.hpp"

#include <algorithm>
#include <cassert>

#include "linalg/fortran_interface.hpp"

namespace pelun {

namespace {

using fortran::Int;

Int as_int(std::size_t n) { return static_cast<Int>(n); }

// A row-major matrix is the column-major storage of its transpose, so a
// row-major product C = op(A) op(B) is the column-major product
// Cᵀ = op(B)ᵀ op(A)ᵀ with the operands swapped.
char flag(Transpose t) { return t == Transpose::Yes ? 'T' : 'N'; }

}  // namespace

void gemm(Transpose trans_a, Transpose trans_b, double alpha, const Matrix& a, const Matrix& b,
          double beta, Matrix& c) {
    const std::size_t m = trans_a == Transpose::Yes ? a.cols() : a.rows();
    const std::size_t k = trans_a == Transpose::Yes ? a.rows() : a.cols();
    const std::size_t n = trans_b == Transpose::Yes ? b.rows() : b.cols();
    assert(c.rows() == m && c.cols() == n);
    assert((trans_b == Transpose::Yes ? b.cols() : b.rows()) == k);
    if (m == 0 || n == 0) return;
    if (k == 0) {
        for (std::size_t i = 0; i < c.size(); ++i) c.data()[i] = beta == 0.0 ? 0.0 : beta * c.data()[i];
        return;
    }
    const char ta = flag(trans_b);
    const char tb = flag(trans_a);
    const Int mm = as_int(n), nn = as_int(m), kk = as_int(k);
    const Int lda = as_int(b.cols() == 0 ? 1 : b.cols());
    const Int ldb = as_int(a.cols() == 0 ? 1 : a.cols());
    const Int ldc = as_int(c.cols());
    PELUN_FORTRAN(dgemm)(&ta, &tb, &mm, &nn, &kk, &alpha, b.data(), &lda, a.data(), &ldb, &beta,
                         c.data(), &ldc, 1, 1);
}

void gemm_into_columns(const Matrix& a, const Matrix& b, Matrix& c, std::size_t first_col) {
    assert(c.rows() == a.rows() && a.cols() == b.rows() && first_col + b.cols() <= c.cols());
    const std::size_t m = a.rows(), k = a.cols(), n = b.cols();
    if (m == 0 || n == 0) return;
    if (k == 0) {
        for (std::size_t r = 0; r < m; ++r)
            for (std::size_t j = 0; j < n; ++j) c(r, first_col + j) = 0.0;
        return;
    }
    // Column-major view: the block is the n × m matrix at c + first_col with
    // leading dimension c.cols(), equal to bᵀ·aᵀ.
    const char no = 'N';
    const Int mm = as_int(n), nn = as_int(m), kk = as_int(k);
    const Int ldb = as_int(b.cols()), lda = as_int(a.cols()), ldc = as_int(c.cols());
    const double one = 1.0, zero = 0.0;
    PELUN_FORTRAN(dgemm)(&no, &no, &mm, &nn, &kk, &one, b.data(), &ldb, a.data(), &lda, &zero,
                         c.data() + first_col, &ldc, 1, 1);
}

Matrix matmul(const Matrix& a, const Matrix& b) {
    Matrix c(a.rows(), b.cols());
    gemm(Transpose::No, Transpose::No, 1.0, a, b, 0.0, c);
    return c;
}

Matrix matmul_tn(const Matrix& a, const Matrix& b) {
    Matrix c(a.cols(), b.cols());
    gemm(Transpose::Yes, Transpose::No, 1.0, a, b, 0.0, c);
    return c;
}

Vector matvec(const Matrix& a, std::span<const double> x) {
    Vector y(a.rows());
    matvec_rows_into(a, 0, x, y);
    return y;
}

Vector matvec_t(const Matrix& a, std::span<const double> x) {
    assert(x.size() == a.rows());
    Vector y(a.cols(), 0.0);
    if (a.rows() == 0 || a.cols() == 0) return y;
    // The column-major view of row-major a is aᵀ, so aᵀx is dgemv with 'N'.
    const char trans = 'N';
    const Int m = as_int(a.cols()), n = as_int(a.rows()), lda = as_int(a.cols()), inc = 1;
    const double one = 1.0, zero = 0.0;
    PELUN_FORTRAN(dgemv)(&trans, &m, &n, &one, a.data(), &lda, x.data(), &inc, &zero, y.data(), &inc,
                         1);
    return y;
}

void matvec_rows_into(const Matrix& a, std::size_t first_row, std::span<const double> x,
                      std::span<double> y) {
    assert(first_row + y.size() <= a.rows() && x.size() == a.cols());
    // Zeroed first: with beta = 0 some BLAS builds still scale the old
    // contents, and a NaN left there would survive.
    std::fill(y.begin(), y.end(), 0.0);
    if (y.empty() || a.cols() == 0) return;
    // The row block is the column-major p × count matrix whose transpose we need.
    const char trans = 'T';
    const Int m = as_int(a.cols()), n = as_int(y.size()), lda = as_int(a.cols()), inc = 1;
    const double one = 1.0, zero = 0.0;
    PELUN_FORTRAN(dgemv)(&trans, &m, &n, &one, a.data() + first_row * a.cols(), &lda, x.data(), &inc,
                         &zero, y.data(), &inc, 1);
}

void add_crossprod_lower(const Matrix& a, std::size_t rows, Matrix& c) {
    const std::size_t p = a.cols();
    assert(rows <= a.rows() && c.rows() == p && c.cols() == p);
    if (p == 0 || rows == 0) return;
    // Column-major view of row-major a is aᵀ (p × rows); aᵀa = (aᵀ)(aᵀ)ᵀ is dsyrk
    // with trans 'N', and its column-major upper triangle is the row-major lower one.
    const char uplo = 'U', trans = 'N';
    const Int n = as_int(p), k = as_int(rows), lda = as_int(p), ldc = as_int(p);
    const double one = 1.0;
    PELUN_FORTRAN(dsyrk)(&uplo, &trans, &n, &k, &one, a.data(), &lda, &one, c.data(), &ldc, 1, 1);
}

void mirror_lower_to_upper(Matrix& c) {
    assert(c.rows() == c.cols());
    for (std::size_t i = 0; i < c.rows(); ++i)
        for (std::size_t j = i + 1; j < c.cols(); ++j) c(i, j) = c(j, i);
}

Matrix crossprod(const Matrix& a) {
    Matrix c(a.cols(), a.cols());
    add_crossprod_lower(a, a.rows(), c);
    mirror_lower_to_upper(c);
    return c;
}

void set_blas_single_threaded() {
#if defined(PELUN_LAPACK_SCIPY_OPENBLAS)
    scipy_openblas_set_num_threads(1);
#else
    if (openblas_set_num_threads != nullptr) openblas_set_num_threads(1);
#endif
}

}  // namespace pelun
