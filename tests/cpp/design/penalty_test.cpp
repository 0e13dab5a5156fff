#include "design/penalty.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>

namespace pelun {
namespace {

// Q diag(values) Qᵀ with Q a product of random plane rotations.
Matrix rotated_diagonal(const Vector& values, unsigned seed) {
    const std::size_t p = values.size();
    Matrix q = Matrix::identity(p);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j) {
            const double a = angle(rng), c = std::cos(a), s = std::sin(a);
            for (std::size_t r = 0; r < p; ++r) {
                const double qi = q(r, i), qj = q(r, j);
                q(r, i) = c * qi - s * qj;
                q(r, j) = s * qi + c * qj;
            }
        }
    Matrix m(p, p);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j)
            for (std::size_t l = 0; l < p; ++l) m(i, j) += q(i, l) * values[l] * q(j, l);
    return m;
}

struct RankCase {
    const char* name;
    Vector eigenvalues;
    std::size_t rank;
    double logdet;
};
void PrintTo(const RankCase& c, std::ostream* os) { *os << c.name; }

class PenaltyRankLogdet : public ::testing::TestWithParam<RankCase> {};

TEST_P(PenaltyRankLogdet, CountsEigenvaluesAboveTheRelativeThreshold) {
    const RankCase& c = GetParam();
    const auto result = penalty_rank_logdet(rotated_diagonal(c.eigenvalues, 5));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->rank, c.rank);
    // Rotation rounding perturbs an eigenvalue by about eps·largest, which is
    // a relative 1e-6 for eigenvalues near the threshold.
    EXPECT_NEAR(result->logdet, c.logdet, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PenaltyRankLogdet,
    ::testing::Values(
        RankCase{"two_null_directions", {0.0, 2.0, 0.0, 5.0}, 2, std::log(10.0)},
        RankCase{"full_rank", {0.5, 3.0, 7.0}, 3, std::log(10.5)},
        // max(largest, 1)·1e-10 = 1e-10 when every eigenvalue is below 1.
        RankCase{"small_scale_floor", {0.5, 7e-11, 5e-9}, 2, std::log(0.5) + std::log(5e-9)},
        // The threshold grows with the largest eigenvalue: 1e6 → 1e-4.
        RankCase{"relative_threshold", {1e6, 7e-5, 1.5e-4}, 2, std::log(1e6) + std::log(1.5e-4)},
        RankCase{"negative_eigenvalue_ignored", {-1.0, 3.0}, 1, std::log(3.0)},
        RankCase{"zero_matrix", {0.0, 0.0, 0.0}, 0, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PenaltyRankLogdetEmbedded, IdentityBlockHasRankOfTheBlockAndLogdetZero) {
    Matrix s(4, 4);
    for (std::size_t i = 1; i < 4; ++i) s(i, i) = 1.0;
    const auto result = penalty_rank_logdet(s);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->rank, 3u);
    EXPECT_EQ(result->logdet, 0.0);
}

TEST(InfinityNorm, IsTheLargestAbsoluteRowSum) {
    const Matrix a = Matrix::from_rows({{1.0, -2.0, 0.5}, {-3.0, 0.25, -0.5}, {0.0, 0.0, 3.5}});
    EXPECT_DOUBLE_EQ(infinity_norm(a), 3.75);
    EXPECT_EQ(infinity_norm(Matrix(0, 3)), 0.0);
}

TEST(PenaltyScaleFactor, IsTheSquaredBasisNormOverThePenaltyNorm) {
    const Matrix basis = Matrix::from_rows({{0.5, 0.5}, {-1.0, 2.0}});  // ‖·‖∞ = 3
    const Matrix penalty = Matrix::from_rows({{2.0, -2.0}, {-2.0, 2.0}});  // ‖·‖∞ = 4
    EXPECT_DOUBLE_EQ(penalty_scale_factor(basis, penalty), 9.0 / 4.0);
    // A zero penalty keeps the factor 1.
    EXPECT_EQ(penalty_scale_factor(basis, Matrix(2, 2)), 1.0);
}

}  // namespace
}  // namespace pelun
