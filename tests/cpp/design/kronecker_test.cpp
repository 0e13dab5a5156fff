#include "design/kronecker.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>

#include "dense_reference.hpp"

namespace pelun {
namespace {

Matrix random_matrix(std::size_t rows, std::size_t cols, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Matrix m(rows, cols);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j) m(i, j) = normal(rng);
    return m;
}

// A symmetric matrix with some exact zeros off the diagonal.
Matrix sparse_symmetric(std::size_t k, unsigned seed) {
    Matrix s = random_matrix(k, k, seed);
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < i; ++j) s(i, j) = (i + j) % 3 == 0 ? 0.0 : s(j, i);
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = i + 1; j < k; ++j) s(i, j) = s(j, i);
    return s;
}

Matrix row_of(const Matrix& a, std::size_t r) {
    Matrix out(1, a.cols());
    for (std::size_t j = 0; j < a.cols(); ++j) out(0, j) = a(r, j);
    return out;
}

struct RowCase {
    const char* name;
    std::size_t n;
    std::size_t ka;
    std::size_t kb;
};
void PrintTo(const RowCase& c, std::ostream* os) { *os << c.name; }

class RowKronecker : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowKronecker, EachRowIsTheKroneckerProductOfTheMarginRows) {
    const RowCase& c = GetParam();
    const Matrix a = random_matrix(c.n, c.ka, 1);
    const Matrix b = random_matrix(c.n, c.kb, 2);
    const Matrix t = row_kronecker(a, b);
    ASSERT_EQ(t.rows(), c.n);
    ASSERT_EQ(t.cols(), c.ka * c.kb);
    for (std::size_t r = 0; r < c.n; ++r) {
        // One product per entry, so the comparison is exact.
        const Matrix expected = reference::kron(row_of(a, r), row_of(b, r));
        EXPECT_EQ(row_of(t, r), expected) << "row " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RowKronecker,
                         ::testing::Values(RowCase{"square_margins", 9, 4, 4}, RowCase{"wide_second", 5, 2, 7},
                                           RowCase{"wide_first", 6, 7, 3}, RowCase{"single_column", 4, 1, 5},
                                           RowCase{"no_rows", 0, 3, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LiftCase {
    const char* name;
    std::size_t k;
    std::size_t m;
};
void PrintTo(const LiftCase& c, std::ostream* os) { *os << c.name; }

class KroneckerPenalty : public ::testing::TestWithParam<LiftCase> {};

TEST_P(KroneckerPenalty, MatchesTheDenseKroneckerProductWithAnIdentity) {
    const LiftCase& c = GetParam();
    const Matrix s = sparse_symmetric(c.k, 3 + static_cast<unsigned>(c.k));
    const Matrix identity = Matrix::identity(c.m);
    EXPECT_EQ(kron_with_identity(s, c.m), reference::kron(s, identity));
    EXPECT_EQ(identity_kron(c.m, s), reference::kron(identity, s));
}

INSTANTIATE_TEST_SUITE_P(Cases, KroneckerPenalty,
                         ::testing::Values(LiftCase{"identity_of_one", 3, 1}, LiftCase{"scalar_penalty", 1, 4},
                                           LiftCase{"three_by_four", 3, 4}, LiftCase{"five_by_five", 5, 5},
                                           LiftCase{"six_by_two", 6, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// The two lifts penalise different directions: (s ⊗ I)(x ⊗ y) = (s x) ⊗ y and
// (I ⊗ s)(x ⊗ y) = x ⊗ (s y), so a null vector of s in the first factor is
// annihilated by the first lift only.
TEST(KroneckerPenalty, LiftsActOnTheirOwnFactor) {
    const Matrix s = Matrix::from_rows({{1.0, -1.0, 0.0}, {-1.0, 2.0, -1.0}, {0.0, -1.0, 1.0}});  // s·1 = 0
    const Matrix ones(3, 1, 1.0);
    const Matrix y = Matrix::from_rows({{0.5}, {-2.0}, {3.0}});
    const Matrix x_ones = reference::kron(ones, y);
    const Matrix y_ones = reference::kron(y, ones);
    EXPECT_LT(reference::max_abs(reference::product(kron_with_identity(s, 3), x_ones)), 1e-15);
    EXPECT_GT(reference::max_abs(reference::product(identity_kron(3, s), x_ones)), 1.0);
    EXPECT_LT(reference::max_abs(reference::product(identity_kron(3, s), y_ones)), 1e-15);
    EXPECT_GT(reference::max_abs(reference::product(kron_with_identity(s, 3), y_ones)), 1.0);
}

}  // namespace
}  // namespace pelun
