// Dense products on row-major matrices, computed by the BLAS.
#pragma once

#include <span>

#include "linalg/matrix.hpp"

namespace pelun {

enum class Transpose { No, Yes };

// c = alpha * op(a) * op(b) + beta * c, all row-major. c must already have the
// shape of the product; with beta == 0 its old contents are ignored.
void gemm(Transpose trans_a, Transpose trans_b, double alpha, const Matrix& a, const Matrix& b,
          double beta, Matrix& c);

// Writes a · b into the columns [first_col, first_col + b.cols()) of c, every
// row; the other columns of c are left as they are. Precondition: c has
// a.rows() rows and at least first_col + b.cols() columns.
void gemm_into_columns(const Matrix& a, const Matrix& b, Matrix& c, std::size_t first_col);

// a * b and aᵀ * b.
Matrix matmul(const Matrix& a, const Matrix& b);
Matrix matmul_tn(const Matrix& a, const Matrix& b);

// a * x and aᵀ * x.
Vector matvec(const Matrix& a, std::span<const double> x);
Vector matvec_t(const Matrix& a, std::span<const double> x);

// aᵀ * a, both triangles filled.
Matrix crossprod(const Matrix& a);

// Caps the BLAS at one thread; called once when the Python module starts.
void set_blas_single_threaded();

}  // namespace pelun
