#include "linalg/lapack.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "linalg/blas.hpp"

namespace pelun {
namespace {

Matrix random_spd(std::size_t p, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Matrix g(p + 3, p);
    for (std::size_t i = 0; i < g.rows(); ++i)
        for (std::size_t j = 0; j < p; ++j) g(i, j) = normal(rng);
    Matrix a(p, p);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j)
            for (std::size_t r = 0; r < g.rows(); ++r) a(i, j) += g(r, i) * g(r, j);
    return a;
}

TEST(Cholesky, FactorIsLowerAndReproducesTheMatrix) {
    const Matrix a = random_spd(6, 1);
    const auto l = cholesky_lower(a);
    ASSERT_TRUE(l.has_value());
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t j = i + 1; j < 6; ++j) EXPECT_EQ((*l)(i, j), 0.0);
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t j = 0; j < 6; ++j) {
            double s = 0.0;
            for (std::size_t k = 0; k < 6; ++k) s += (*l)(i, k) * (*l)(j, k);
            EXPECT_NEAR(s, a(i, j), 1e-10 * (1.0 + std::abs(a(i, j))));
        }
}

TEST(Cholesky, ReadsOnlyTheLowerTriangle) {
    Matrix a = Matrix::from_rows({{4, 2}, {2, 10}});
    a(0, 1) = std::nan("");  // garbage above the diagonal is never read
    const auto l = cholesky_lower(a);
    ASSERT_TRUE(l.has_value());
    EXPECT_DOUBLE_EQ((*l)(0, 0), 2.0);
    EXPECT_DOUBLE_EQ((*l)(1, 0), 1.0);
    EXPECT_DOUBLE_EQ((*l)(1, 1), 3.0);
}

TEST(Cholesky, FailureTexts) {
    const auto indefinite = cholesky_lower(Matrix::from_rows({{1, 0, 0}, {0, 1, 0}, {0, 0, -1}}));
    ASSERT_FALSE(indefinite.has_value());
    EXPECT_EQ(indefinite.error().description,
              "Computational failure in LAPACK subroutine: return_code = 3");
    const auto non_square = cholesky_lower(Matrix(2, 3));
    ASSERT_FALSE(non_square.has_value());
    EXPECT_EQ(non_square.error().description, "Invalid shape");
}

TEST(LapackFailure, NegativeInfoNamesTheArgument) {
    EXPECT_EQ(lapack_info_failure(-4).description, "Invalid value for LAPACK subroutine 4-th argument");
}

TEST(SymmetricEigen, AscendingValuesAndColumnVectors) {
    const Matrix a = Matrix::from_rows({{2, 1, 0}, {1, 2, 0}, {0, 0, 5}});
    const auto eig = symmetric_eigen(a);
    ASSERT_TRUE(eig.has_value());
    ASSERT_EQ(eig->values.size(), 3u);
    EXPECT_NEAR(eig->values[0], 1.0, 1e-12);
    EXPECT_NEAR(eig->values[1], 3.0, 1e-12);
    EXPECT_NEAR(eig->values[2], 5.0, 1e-12);
    // A v_j = λ_j v_j with v_j the j-th column.
    for (std::size_t j = 0; j < 3; ++j)
        for (std::size_t i = 0; i < 3; ++i) {
            double av = 0.0;
            for (std::size_t k = 0; k < 3; ++k) av += a(i, k) * eig->vectors(k, j);
            EXPECT_NEAR(av, eig->values[j] * eig->vectors(i, j), 1e-12);
        }
    // The eigenvector of 5 is ±e_2.
    EXPECT_NEAR(std::abs(eig->vectors(2, 2)), 1.0, 1e-12);
}

TEST(SymmetricEigen, RejectsNonSquareAndReportsNonFinite) {
    EXPECT_EQ(symmetric_eigen(Matrix(3, 2)).error().description, "Invalid shape");
    const auto nan_matrix = symmetric_eigen(Matrix::from_rows({{std::nan(""), 0}, {0, 1}}));
    // LAPACK either fails or returns non-finite values; it must not crash.
    if (nan_matrix.has_value()) {
        EXPECT_FALSE(std::isfinite(nan_matrix->values[0]) && std::isfinite(nan_matrix->values[1]));
    }
}

TEST(LuSolve, SolvesAgainstAKnownSolution) {
    const Matrix a = Matrix::from_rows({{0, 2, 1}, {1, 1, 1}, {3, 0, -1}});  // needs pivoting
    const Vector x_true = {1.5, -2.0, 0.25};
    const Vector b = matvec(a, x_true);
    const auto x = lu_solve(a, b);
    ASSERT_TRUE(x.has_value());
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR((*x)[i], x_true[i], 1e-13);
}

TEST(LuSolve, SingularAndShapeFailures) {
    const auto singular = lu_solve(Matrix::from_rows({{1, 2}, {2, 4}}), Vector{1, 2});
    ASSERT_FALSE(singular.has_value());
    EXPECT_EQ(singular.error().description, "Computational failure in LAPACK subroutine: return_code = 2");
    EXPECT_EQ(lu_solve(Matrix(2, 2), Vector{1, 2, 3}).error().description, "Invalid shape");
    EXPECT_EQ(lu_solve(Matrix(2, 3), Matrix(2, 1)).error().description, "Invalid shape");
}

TEST(LuSolve, SeveralRightHandSides) {
    const Matrix a = random_spd(4, 3);
    const auto x = lu_solve(a, Matrix::identity(4));
    ASSERT_TRUE(x.has_value());
    const Matrix product = matmul(a, *x);
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j) EXPECT_NEAR(product(i, j), i == j ? 1.0 : 0.0, 1e-10);
}

}  // namespace
}  // namespace pelun

namespace pelun {
namespace {

TEST(Cholesky, NonFinitePivotFailsAtThatPivot) {
    const auto nan_pivot = cholesky_lower(Matrix::from_rows({{4, 0, 0}, {0, std::nan(""), 0}, {0, 0, 1}}));
    ASSERT_FALSE(nan_pivot.has_value());
    EXPECT_EQ(nan_pivot.error().description, "Computational failure in LAPACK subroutine: return_code = 2");
    const auto inf_pivot = cholesky_lower(Matrix::from_rows({{1, 0}, {0, INFINITY}}));
    ASSERT_FALSE(inf_pivot.has_value());
    EXPECT_EQ(inf_pivot.error().description, "Computational failure in LAPACK subroutine: return_code = 2");
}

}  // namespace
}  // namespace pelun
