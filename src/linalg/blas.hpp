// Dense products on row-major matrices, computed by the BLAS.
#pragma once

#include <cstddef>
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

// y = rows [first_row, first_row + y.size()) of a, times x. Lets a pass over
// the rows of a tall matrix work block by block while the block is in cache.
// Precondition: first_row + y.size() <= a.rows() and x.size() == a.cols().
void matvec_rows_into(const Matrix& a, std::size_t first_row, std::span<const double> x,
                      std::span<double> y);

// Rows per block of such a pass: a block of a model matrix with a few dozen
// columns stays in the L2 cache.
inline constexpr std::size_t matvec_block_rows = 1024;

// aᵀ * a, both triangles filled.
Matrix crossprod(const Matrix& a);

// c += (the first `rows` rows of a)ᵀ (the same rows), lower triangle only (the
// entries above the diagonal are not touched); c is a.cols() × a.cols(). For
// cross-products accumulated block by block; mirror_lower_to_upper finishes.
void add_crossprod_lower(const Matrix& a, std::size_t rows, Matrix& c);
// Copies the lower triangle of the square c onto its upper triangle.
void mirror_lower_to_upper(Matrix& c);

// Caps the BLAS at one thread; called once when the Python module starts.
void set_blas_single_threaded();

}  // namespace pelun
