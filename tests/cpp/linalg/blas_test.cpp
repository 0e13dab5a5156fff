#include "linalg/blas.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "linalg/views.hpp"

namespace pelun {
namespace {

Matrix random_matrix(std::size_t rows, std::size_t cols, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    Matrix m(rows, cols);
    for (std::size_t i = 0; i < m.size(); ++i) m.data()[i] = u(rng);
    return m;
}

Matrix naive_product(const Matrix& a, const Matrix& b) {
    Matrix c(a.rows(), b.cols());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < b.cols(); ++j)
            for (std::size_t k = 0; k < a.cols(); ++k) c(i, j) += a(i, k) * b(k, j);
    return c;
}

void expect_near(const Matrix& x, const Matrix& y) {
    ASSERT_EQ(x.rows(), y.rows());
    ASSERT_EQ(x.cols(), y.cols());
    for (std::size_t i = 0; i < x.rows(); ++i)
        for (std::size_t j = 0; j < x.cols(); ++j) EXPECT_NEAR(x(i, j), y(i, j), 1e-12);
}

TEST(Blas, ProductsOfRectangularMatricesMatchTheNaiveLoop) {
    const Matrix a = random_matrix(5, 3, 1), b = random_matrix(3, 4, 2), c = random_matrix(5, 4, 3);
    expect_near(matmul(a, b), naive_product(a, b));
    expect_near(matmul_tn(a, c), naive_product(transpose(a), c));
    expect_near(crossprod(a), naive_product(transpose(a), a));
    Matrix out(4, 4);
    gemm(Transpose::Yes, Transpose::Yes, 2.0, b, transpose(b), 0.0, out);  // 2 bᵀ (bᵀ)ᵀ = 2 bᵀ b
    Matrix expected = naive_product(transpose(b), b);
    for (std::size_t i = 0; i < expected.size(); ++i) expected.data()[i] *= 2.0;
    expect_near(out, expected);
}

TEST(Blas, ProductIntoColumnsLeavesTheOtherColumnsAlone) {
    const Matrix a = random_matrix(6, 4, 7), b = random_matrix(4, 3, 8);
    Matrix c(6, 6, -5.0);
    gemm_into_columns(a, b, c, 2);
    const Matrix expected = naive_product(a, b);
    for (std::size_t r = 0; r < 6; ++r) {
        for (std::size_t j = 0; j < 6; ++j) {
            if (j >= 2 && j < 5)
                EXPECT_NEAR(c(r, j), expected(r, j - 2), 1e-12);
            else
                EXPECT_EQ(c(r, j), -5.0);
        }
    }
}

TEST(Blas, MatrixVectorProducts) {
    const Matrix a = random_matrix(4, 3, 5);
    const Vector x = {1.0, -2.0, 0.5}, z = {0.5, 1.0, -1.0, 2.0};
    const Vector ax = matvec(a, x), atz = matvec_t(a, z);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(ax[i], a(i, 0) * x[0] + a(i, 1) * x[1] + a(i, 2) * x[2], 1e-14);
    for (std::size_t j = 0; j < 3; ++j) {
        double s = 0.0;
        for (std::size_t i = 0; i < 4; ++i) s += a(i, j) * z[i];
        EXPECT_NEAR(atz[j], s, 1e-14);
    }
}

TEST(Blas, ProductOfARowRangeOverwritesTheOutput) {
    const Matrix a = random_matrix(9, 3, 6);
    const Vector x = {0.25, -1.0, 2.0};
    // Whatever the buffer held before, NaN included, is replaced.
    Vector y(4, std::numeric_limits<double>::quiet_NaN());
    matvec_rows_into(a, 5, x, y);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(y[i], a(5 + i, 0) * x[0] + a(5 + i, 1) * x[1] + a(5 + i, 2) * x[2], 1e-14);
    Vector none;
    matvec_rows_into(a, 9, x, none);  // an empty range at the end is allowed
}

TEST(Blas, CrossProductsAccumulateInTheLowerTriangle) {
    const Matrix a = random_matrix(7, 3, 9);
    Matrix c(3, 3, 1.0);
    add_crossprod_lower(a, 5, c);  // the first five rows only
    add_crossprod_lower(a, 2, c);  // and the first two again
    Matrix first_five(5, 3), first_two(2, 3);
    for (std::size_t i = 0; i < 5; ++i)
        for (std::size_t j = 0; j < 3; ++j) first_five(i, j) = a(i, j);
    for (std::size_t i = 0; i < 2; ++i)
        for (std::size_t j = 0; j < 3; ++j) first_two(i, j) = a(i, j);
    const Matrix expected_five = naive_product(transpose(first_five), first_five);
    const Matrix expected_two = naive_product(transpose(first_two), first_two);
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            if (j <= i)
                EXPECT_NEAR(c(i, j), 1.0 + expected_five(i, j) + expected_two(i, j), 1e-13);
            else
                EXPECT_EQ(c(i, j), 1.0) << "upper triangle touched at (" << i << ", " << j << ")";
        }
    }
    mirror_lower_to_upper(c);
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < i; ++j) EXPECT_EQ(c(j, i), c(i, j));
}

TEST(Blas, EmptyInnerDimensionGivesZeros) {
    Matrix c(2, 2, 7.0);
    gemm(Transpose::No, Transpose::No, 1.0, Matrix(2, 0), Matrix(0, 2), 0.0, c);
    EXPECT_EQ(c, Matrix(2, 2));
}

TEST(Views, StridedAndReversedAccess) {
    const Matrix m = Matrix::from_rows({{1, 2, 3}, {4, 5, 6}});
    // Transposed view: rows step one element, columns step one row.
    const MatrixView t(m.data(), 3, 2, sizeof(double), 3 * sizeof(double));
    EXPECT_EQ(to_matrix(t), transpose(m));
    // Reversed first column: start at the last row, negative stride.
    const VectorView reversed(m.data() + 3, 2, -3 * static_cast<std::ptrdiff_t>(sizeof(double)));
    EXPECT_EQ(to_vector(reversed), (Vector{4, 1}));
    EXPECT_EQ(to_vector(MatrixView(m).column(2)), (Vector{3, 6}));
}

}  // namespace
}  // namespace pelun
