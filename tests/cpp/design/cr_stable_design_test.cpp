#include "design/cr_stable_design.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <variant>

#include "dense_reference.hpp"
#include "design/cr_design.hpp"

namespace pelun {
namespace {

using reference::max_abs;
using reference::max_abs_diff;

// Column `col` of x replaced by exponential draws, so the knots are uneven.
Matrix skewed(Matrix x, std::size_t col, unsigned seed) {
    std::mt19937 rng(seed);
    std::exponential_distribution<double> e(1.5);
    for (std::size_t r = 0; r < x.rows(); ++r) x(r, col) = e(rng);
    return x;
}

struct StableCase {
    const char* name;
    std::size_t n;
    std::size_t k;
    std::size_t col;
    bool skew;
    unsigned seed;
};
void PrintTo(const StableCase& c, std::ostream* os) { *os << c.name; }

class CrStableTermBuild : public ::testing::TestWithParam<StableCase> {
protected:
    Matrix data() const {
        const StableCase& c = GetParam();
        const Matrix x = reference::uniform_covariates(c.n, 2, c.seed);
        return c.skew ? skewed(x, c.col, c.seed + 1) : x;
    }
};

TEST_P(CrStableTermBuild, RotatesTheCrTermIntoItsPenaltyEigenbasis) {
    const StableCase& c = GetParam();
    const Matrix x = data();
    const auto stable = build_cr_stable_term(x, c.col, c.k);
    const auto cr = build_cr_term(x, c.col, c.k);
    ASSERT_TRUE(stable.has_value()) << stable.error().text;
    ASSERT_TRUE(cr.has_value());
    const std::size_t q = c.k - 1;

    EXPECT_EQ(stable->knots, cr->knots);
    EXPECT_EQ(stable->centring, cr->centring);
    const Matrix& v = stable->reparam_v;
    ASSERT_EQ(v.rows(), q);
    ASSERT_EQ(v.cols(), q);
    EXPECT_LT(max_abs_diff(reference::transpose_product(v, v), Matrix::identity(q)), 1e-12);

    // The rotated penalty is Vᵀ S_c V, diagonal to rounding, largest first.
    const Matrix& d = stable->penalty;
    ASSERT_EQ(d.rows(), q);
    ASSERT_EQ(d.cols(), q);
    const double scale = max_abs(cr->penalty);
    EXPECT_LT(max_abs_diff(d, reference::product(reference::transpose_product(v, cr->penalty), v)), 1e-11 * scale);
    for (std::size_t i = 0; i < q; ++i)
        for (std::size_t j = 0; j < q; ++j)
            if (i != j) {
                EXPECT_LT(std::abs(d(i, j)), 1e-11 * scale) << i << "," << j;
            }
    for (std::size_t j = 0; j + 1 < q; ++j) EXPECT_GE(d(j, j), d(j + 1, j + 1) - 1e-11 * scale) << j;

    // Column j of V is an eigenvector of S_c for the eigenvalue d(j, j), and
    // the diagonal holds the eigenvalues found by an independent solver.
    const Matrix sv = reference::product(cr->penalty, v);
    for (std::size_t j = 0; j < q; ++j)
        for (std::size_t i = 0; i < q; ++i) EXPECT_NEAR(sv(i, j), d(j, j) * v(i, j), 1e-11 * scale);
    const Vector eigenvalues = reference::jacobi_eigenvalues(cr->penalty);
    for (std::size_t j = 0; j < q; ++j) EXPECT_NEAR(d(j, j), eigenvalues[q - 1 - j], 1e-11 * scale) << j;

    // Same column space: coefficients β on the rotated basis give the cr
    // term's fitted values for V·β, and every column still sums to zero.
    ASSERT_EQ(stable->basis.rows(), c.n);
    ASSERT_EQ(stable->basis.cols(), q);
    EXPECT_LT(max_abs_diff(stable->basis, reference::product(cr->basis, v)), 1e-12 * max_abs(cr->basis) * c.k);
    std::mt19937 rng(c.seed + 7);
    std::normal_distribution<double> normal;
    Matrix beta(q, 1);
    for (std::size_t j = 0; j < q; ++j) beta(j, 0) = normal(rng);
    const Matrix fitted_stable = reference::product(stable->basis, beta);
    const Matrix fitted_cr = reference::product(cr->basis, reference::product(v, beta));
    EXPECT_LT(max_abs_diff(fitted_stable, fitted_cr), 1e-11 * (1.0 + max_abs(fitted_cr)));
    for (std::size_t j = 0; j < q; ++j) {
        double sum = 0.0;
        for (std::size_t r = 0; r < c.n; ++r) sum += stable->basis(r, j);
        EXPECT_NEAR(sum, 0.0, 1e-11 * static_cast<double>(c.n)) << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CrStableTermBuild,
                         ::testing::Values(StableCase{"k3", 40, 3, 0, false, 1},
                                           StableCase{"k10_uniform", 200, 10, 0, false, 2},
                                           StableCase{"k10_skewed_col1", 300, 10, 1, true, 3},
                                           StableCase{"k20_uniform_col1", 500, 20, 1, false, 4},
                                           StableCase{"more_knots_than_values", 12, 15, 0, false, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CrStableDesign, HasTheCrDesignsRankAndLogDeterminant) {
    const std::size_t k = 9;
    const Matrix x = skewed(reference::uniform_covariates(250, 1, 11), 0, 12);
    const auto design = build_cr_stable_design(x, k);
    const auto term = build_cr_stable_term(x, 0, k);
    const auto cr = build_cr_design(x, k);
    ASSERT_TRUE(design.has_value()) << design.error().text;
    ASSERT_TRUE(term.has_value());
    ASSERT_TRUE(cr.has_value());

    EXPECT_EQ(design->x, prepend_intercept(term->basis));
    ASSERT_EQ(design->penalties.size(), 1u);
    const Matrix& s = design->penalties[0];
    EXPECT_EQ(s, embed_penalty(term->penalty, k, 1));
    EXPECT_EQ(s(0, 0), 0.0);
    EXPECT_LT(std::abs(s(k - 1, k - 1)), 1e-10 * max_abs(s));  // the centred linear function

    // Rank k − 2; the log pseudo-determinant is the sum of the logarithms of
    // the k − 2 leading diagonal entries, and rotation leaves both unchanged.
    EXPECT_EQ(design->penalty_ranks, (std::vector<std::size_t>{k - 2}));
    EXPECT_EQ(design->null_space_dim, 2u);
    double logdet = 0.0;
    for (std::size_t j = 0; j < k - 2; ++j) logdet += std::log(term->penalty(j, j));
    ASSERT_EQ(design->penalty_logdets.size(), 1u);
    EXPECT_NEAR(design->penalty_logdets[0], logdet, 1e-9 * std::abs(logdet) + 1e-9);
    EXPECT_EQ(design->penalty_ranks, cr->penalty_ranks);
    EXPECT_NEAR(design->penalty_logdets[0], cr->penalty_logdets[0], 1e-9 * std::abs(logdet) + 1e-9);

    const auto* predictor = std::get_if<CrStablePredictor>(&design->predictor.value);
    ASSERT_NE(predictor, nullptr);
    EXPECT_EQ(predictor->knots, term->knots);
    EXPECT_EQ(predictor->centring, term->centring);
    EXPECT_EQ(predictor->reparam_v, term->reparam_v);
}

TEST(StableReparam, OrdersEigenvectorsByDescendingEigenvalue) {
    // Eigenvalues 3 (along (1, 1)) and 1 (along (1, −1)).
    const auto v = stable_reparam(Matrix::from_rows({{2.0, 1.0}, {1.0, 2.0}}), 2);
    ASSERT_TRUE(v.has_value());
    const double h = std::sqrt(0.5);
    EXPECT_NEAR(std::abs(v->operator()(0, 0)), h, 1e-15);
    EXPECT_NEAR(v->operator()(0, 0), v->operator()(1, 0), 1e-15);
    EXPECT_NEAR(v->operator()(0, 1), -v->operator()(1, 1), 1e-15);
}

struct ShapeCase {
    const char* name;
    std::size_t rows;
    std::size_t cols;
    std::size_t q;
    const char* message;
};
void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

class StableReparamShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(StableReparamShape, RejectsAPenaltyOfTheWrongShape) {
    const ShapeCase& c = GetParam();
    const auto v = stable_reparam(Matrix(c.rows, c.cols), c.q);
    ASSERT_FALSE(v.has_value());
    EXPECT_EQ(v.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(v.error().text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StableReparamShape,
    ::testing::Values(ShapeCase{"too_small", 3, 3, 4, "StableReparam: inner_penalty must be (4, 4); got (3, 3)"},
                      ShapeCase{"not_square", 4, 3, 4, "StableReparam: inner_penalty must be (4, 4); got (4, 3)"},
                      ShapeCase{"empty", 0, 0, 2, "StableReparam: inner_penalty must be (2, 2); got (0, 0)"},
                      ShapeCase{"too_large", 5, 5, 4, "StableReparam: inner_penalty must be (4, 4); got (5, 5)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CrStableDesign, PassesOnTheCrTermErrors) {
    const Matrix x = reference::uniform_covariates(30, 1, 21);
    const auto small_k = build_cr_stable_design(x, 2);
    ASSERT_FALSE(small_k.has_value());
    EXPECT_EQ(small_k.error().text, "CR spline needs k ≥ 3 (got 2)");

    const auto constant = build_cr_stable_design(Matrix(10, 1, 4.0), 5);
    ASSERT_FALSE(constant.has_value());
    EXPECT_EQ(constant.error().text, "CR spline knots must be strictly increasing");

    Matrix with_nan = x;
    with_nan(3, 0) = std::numeric_limits<double>::quiet_NaN();
    const auto nan_term = build_cr_stable_term(with_nan, 0, 5);
    ASSERT_FALSE(nan_term.has_value());
    EXPECT_EQ(nan_term.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(nan_term.error().text, "x must be finite (got x[3, 0] = NaN)");
}

}  // namespace
}  // namespace pelun
