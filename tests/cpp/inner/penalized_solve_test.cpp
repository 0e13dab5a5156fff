#include "inner/penalized_solve.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace pelun {
namespace {

Matrix random_matrix(std::size_t rows, std::size_t cols, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Matrix m(rows, cols);
    for (std::size_t i = 0; i < m.size(); ++i) m.data()[i] = u(rng);
    return m;
}

// XᵀWX and XᵀWz straight from the definition, one entry at a time.
WeightedCrossproducts textbook_crossproducts(const Matrix& x, const Vector& w, const Vector& z) {
    const std::size_t n = x.rows(), p = x.cols();
    WeightedCrossproducts out{Matrix(p, p), Vector(p, 0.0)};
    for (std::size_t j = 0; j < p; ++j) {
        for (std::size_t k = 0; k < p; ++k)
            for (std::size_t i = 0; i < n; ++i) out.xtwx(j, k) += x(i, j) * w[i] * x(i, k);
        for (std::size_t i = 0; i < n; ++i) out.xtwz[j] += x(i, j) * w[i] * z[i];
    }
    return out;
}

void expect_matrix_near(const Matrix& actual, const Matrix& expected, double tolerance) {
    ASSERT_EQ(actual.rows(), expected.rows());
    ASSERT_EQ(actual.cols(), expected.cols());
    for (std::size_t i = 0; i < actual.rows(); ++i)
        for (std::size_t j = 0; j < actual.cols(); ++j)
            EXPECT_NEAR(actual(i, j), expected(i, j), tolerance) << "(" << i << ", " << j << ")";
}

struct WeightCase {
    const char* name;
    Vector (*weights)(std::size_t n);
};

TEST(WeightedCrossproducts, MatchTheTextbookSumsForEveryKindOfWeights) {
    const WeightCase cases[] = {
        {"positive", [](std::size_t n) {
             Vector w(n);
             for (std::size_t i = 0; i < n; ++i) w[i] = 0.1 + 0.05 * static_cast<double>(i % 7);
             return w;
         }},
        {"some zeros", [](std::size_t n) {
             Vector w(n);
             for (std::size_t i = 0; i < n; ++i) w[i] = i % 3 == 0 ? 0.0 : 1.0 + 0.01 * static_cast<double>(i);
             return w;
         }},
        {"all zero", [](std::size_t n) { return Vector(n, 0.0); }},
        {"one negative", [](std::size_t n) {
             Vector w(n, 0.8);
             w[n / 2] = -0.3;
             return w;
         }},
        {"tiny and large", [](std::size_t n) {
             Vector w(n, 1e-250);
             w[1] = 1e150;
             return w;
         }},
    };
    // 4133 rows span several blocks of scaled rows, the last one partial.
    for (const std::size_t n : {std::size_t{57}, std::size_t{4133}}) {
        const std::size_t p = 6;
        const Matrix x = random_matrix(n, p, 11);
        Vector z(n);
        for (std::size_t i = 0; i < n; ++i) z[i] = std::sin(0.3 * static_cast<double>(i)) * 4.0;
        Matrix scratch;  // shared across cases, reshaped as needed
        for (const WeightCase& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", n = " << n);
            const Vector w = c.weights(n);
            const WeightedCrossproducts expected = textbook_crossproducts(x, w, z);
            double scale = 1.0;
            for (const double v : w) scale = std::max(scale, std::abs(v));
            const WeightedCrossproducts fresh = weighted_crossproducts(x, w, z);
            const WeightedCrossproducts reused = weighted_crossproducts(x, w, z, scratch);
            for (const WeightedCrossproducts* got : {&fresh, &reused}) {
                expect_matrix_near(got->xtwx, expected.xtwx, 1e-13 * scale * n);
                ASSERT_EQ(got->xtwz.size(), p);
                for (std::size_t j = 0; j < p; ++j)
                    EXPECT_NEAR(got->xtwz[j], expected.xtwz[j], 1e-13 * scale * n * 4.0);
                // Both triangles are filled.
                for (std::size_t j = 0; j < p; ++j)
                    for (std::size_t k = 0; k < j; ++k)
                        EXPECT_NEAR(got->xtwx(k, j), got->xtwx(j, k), 1e-13 * scale * n);
            }
        }
    }
}

TEST(WeightedCrossproducts, ANaNWeightShowsUpInTheResult) {
    const Matrix x = random_matrix(5, 2, 3);
    Vector w(5, 1.0);
    w[2] = std::numeric_limits<double>::quiet_NaN();
    const WeightedCrossproducts got = weighted_crossproducts(x, w, Vector(5, 1.0));
    EXPECT_TRUE(std::isnan(got.xtwx(0, 0)));
    EXPECT_TRUE(std::isnan(got.xtwz[1]));
}

TEST(WeightedCrossproducts, ScratchIsReusedAcrossCallsOfTheSameShape) {
    const Matrix x = random_matrix(40, 4, 5);
    Matrix scratch;
    weighted_crossproducts(x, Vector(40, 1.0), Vector(40, 2.0), scratch);
    const double* storage = scratch.data();
    const WeightedCrossproducts second = weighted_crossproducts(x, Vector(40, 0.5), Vector(40, 1.0), scratch);
    EXPECT_EQ(scratch.data(), storage);
    expect_matrix_near(second.xtwx, textbook_crossproducts(x, Vector(40, 0.5), Vector(40, 1.0)).xtwx, 1e-12);
}

TEST(WeightedCrossproducts, NoObservationsGiveZeros) {
    const WeightedCrossproducts got = weighted_crossproducts(Matrix(0, 3), Vector(), Vector());
    EXPECT_EQ(got.xtwx, Matrix(3, 3));
    EXPECT_EQ(got.xtwz, Vector(3, 0.0));
}

TEST(PenalizedSolve, DiagonalExampleReturnsTheUnridgedFactor) {
    const Matrix a = Matrix::from_rows({{4, 0}, {0, 9}});
    const Vector b = {8, 27};
    const Result<PenalizedSolution> solved = penalized_solve(a, b);
    ASSERT_TRUE(solved.has_value()) << solved.error().text;
    EXPECT_EQ(solved->chol, Matrix::from_rows({{2, 0}, {0, 3}}));
    // The ridge is 1e-12 · max(1, 9).
    EXPECT_NEAR(solved->beta[0], 8.0 / (4.0 + 9e-12), 1e-15);
    EXPECT_NEAR(solved->beta[1], 27.0 / (9.0 + 9e-12), 1e-15);
    EXPECT_NE(solved->beta[0], 2.0);
}

// 2 × 2 systems solved by Cramer's rule in long double, with the ridge r
// added to the diagonal.
Vector cramer(const Matrix& a, const Vector& b, long double r) {
    const long double a00 = a(0, 0) + r, a11 = a(1, 1) + r, a01 = a(1, 0);
    const long double det = a00 * a11 - a01 * a01;
    return {static_cast<double>((b[0] * a11 - a01 * b[1]) / det),
            static_cast<double>((a00 * b[1] - a01 * b[0]) / det)};
}

struct RidgeCase {
    const char* name;
    Matrix a;
    Vector b;
    long double ridge;  // 1e-12 · max(1, max |A_ii|)
};

// Nearly singular matrices, where a ridge of 1e-12 moves β by 0.1 % to 20 %,
// so the size of the ridge is visible in β.
TEST(PenalizedSolve, RidgeIsRelativeToTheLargestDiagonalEntryFlooredAtOne) {
    const RidgeCase cases[] = {
        {"diagonal near 1", Matrix::from_rows({{1, 1}, {1, 1 + 1e-9}}), {1, 0}, 1e-12L},
        {"all diagonal entries below 1", Matrix::from_rows({{0.01, 0.01}, {0.01, 0.01 + 1e-11}}), {1, 0}, 1e-12L},
        {"large diagonal", Matrix::from_rows({{1e3, 1e3}, {1e3, 1e3 + 1e-6}}), {1, 2}, 1e-9L},
        {"negative off-diagonal", Matrix::from_rows({{0.5, -0.5}, {-0.5, 0.5 + 1e-10}}), {0, 1}, 1e-12L},
    };
    for (const RidgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<PenalizedSolution> solved = penalized_solve(c.a, c.b);
        ASSERT_TRUE(solved.has_value()) << solved.error().text;
        const Vector ridged = cramer(c.a, c.b, c.ridge);
        const Vector plain = cramer(c.a, c.b, 0.0L);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_NEAR(solved->beta[i], ridged[i], 1e-5 * std::abs(ridged[i]));
            EXPECT_GT(std::abs(solved->beta[i] - plain[i]), 1e-4 * std::abs(ridged[i]));
        }
        // The returned factor is that of A itself.
        const Matrix& l = solved->chol;
        EXPECT_EQ(l(0, 1), 0.0);
        for (std::size_t i = 0; i < 2; ++i)
            for (std::size_t j = 0; j <= i; ++j) {
                double llt = 0.0;
                for (std::size_t k = 0; k <= j; ++k) llt += l(i, k) * l(j, k);
                EXPECT_NEAR(llt, c.a(i, j), 1e-15 * std::abs(c.a(0, 0)));
            }
    }
}

TEST(PenalizedSolve, SolvesAGeneralPositiveDefiniteSystem) {
    const std::size_t p = 7;
    const Matrix g = random_matrix(20, p, 9);
    Matrix a(p, p);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j)
            for (std::size_t k = 0; k < 20; ++k) a(i, j) += g(k, i) * g(k, j);
    Vector b(p);
    for (std::size_t i = 0; i < p; ++i) b[i] = 1.0 + static_cast<double>(i);
    const Result<PenalizedSolution> solved = penalized_solve(a, b);
    ASSERT_TRUE(solved.has_value());
    for (std::size_t i = 0; i < p; ++i) {
        double residual = -b[i];
        for (std::size_t j = 0; j < p; ++j) residual += a(i, j) * solved->beta[j];
        EXPECT_NEAR(residual, 0.0, 1e-9);
    }
    // The same substitutions from the returned factor.
    const Vector again = cholesky_substitute(solved->chol, b);
    for (std::size_t i = 0; i < p; ++i) EXPECT_NEAR(again[i], solved->beta[i], 1e-9 * std::abs(again[i]));
}

TEST(PenalizedSolve, OnlyTheLowerTriangleIsRead) {
    const Matrix lower_only = Matrix::from_rows({{4, 99}, {2, 5}});
    const Matrix symmetric = Matrix::from_rows({{4, 2}, {2, 5}});
    const Vector b = {1, 3};
    EXPECT_EQ(penalized_solve(lower_only, b)->beta, penalized_solve(symmetric, b)->beta);
}

struct FailureCase {
    const char* name;
    Matrix a;
    const char* message;
};

TEST(PenalizedSolve, MatricesThatAreNotPositiveDefiniteFail) {
    const FailureCase cases[] = {
        {"zero row and column", Matrix::from_rows({{1, 0}, {0, 0}}),
         "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 2"},
        {"indefinite", Matrix::from_rows({{1, 2}, {2, 1}}),
         "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 2"},
        {"negative first pivot", Matrix::from_rows({{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}}),
         "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 1"},
        // A NaN pivot fails as in the reference LAPACK, whichever LAPACK is linked.
        {"NaN on the diagonal", Matrix::from_rows({{std::nan(""), 0}, {0, 1}}),
         "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 1"},
        {"NaN below the diagonal", Matrix::from_rows({{1, 0, 0}, {std::nan(""), 1, 0}, {0, 0, 1}}),
         "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 2"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<PenalizedSolution> solved = penalized_solve(c.a, Vector(c.a.rows(), 1.0));
        ASSERT_FALSE(solved.has_value());
        EXPECT_EQ(solved.error().kind, ErrorKind::SingularSystem);
        EXPECT_EQ(solved.error().text, c.message);
    }
}

TEST(PenalizedSolve, ShapeMismatchesAreErrors) {
    const Result<PenalizedSolution> non_square = penalized_solve(Matrix(2, 3), Vector(2, 1.0));
    ASSERT_FALSE(non_square.has_value());
    EXPECT_EQ(non_square.error().kind, ErrorKind::SingularSystem);
    EXPECT_EQ(non_square.error().text, "Cholesky failed: Invalid shape");
    const Result<PenalizedSolution> short_b = penalized_solve(Matrix::identity(3), Vector(2, 1.0));
    ASSERT_FALSE(short_b.has_value());
    EXPECT_EQ(short_b.error().kind, ErrorKind::Linalg);
    EXPECT_EQ(short_b.error().text, "Invalid shape");
}

TEST(TotalPenalty, SumsTheScaledPenaltiesAndDropsMinusInfinity) {
    const std::vector<Matrix> penalties = {Matrix::from_rows({{2, -1}, {-1, 2}}),
                                           Matrix::from_rows({{0, 0}, {0, 5}})};
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Vector rho;
        Matrix expected;
    };
    const Case cases[] = {
        {{0.0, 0.0}, Matrix::from_rows({{2, -1}, {-1, 7}})},
        {{std::log(3.0), std::log(0.5)}, Matrix::from_rows({{6, -3}, {-3, 8.5}})},
        {{-inf, 0.0}, Matrix::from_rows({{0, 0}, {0, 5}})},
        {{0.0, -inf, 4.0}, Matrix::from_rows({{2, -1}, {-1, 2}})},  // extra entries ignored
    };
    for (const Case& c : cases) expect_matrix_near(total_penalty(penalties, c.rho), c.expected, 1e-14);
    EXPECT_EQ(total_penalty({}, Vector{}), Matrix());
}

TEST(PenaltyQuadratic, IsTheFullDoubleSum) {
    const Matrix s = Matrix::from_rows({{2, 1, 0}, {1, 3, -1}, {0, -1, 4}});
    // 2·1 + 3·4 + 4·9 + 2·(1·1·2) + 2·(−1·2·3) = 2 + 12 + 36 + 4 − 12.
    EXPECT_DOUBLE_EQ(penalty_quadratic(Vector{1, 2, 3}, s), 42.0);
    // A non-symmetric S counts both triangles as given: βᵀSβ = βᵀ((S + Sᵀ)/2)β.
    const Matrix skewed = Matrix::from_rows({{1, 4}, {0, 1}});
    EXPECT_DOUBLE_EQ(penalty_quadratic(Vector{1, 1}, skewed), 6.0);
    EXPECT_EQ(penalty_quadratic(Vector{}, Matrix()), 0.0);
}

}  // namespace
}  // namespace pelun
