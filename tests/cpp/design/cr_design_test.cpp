#include "design/cr_design.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <variant>

#include "basis/cr_spline.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

enum class Spread { Uniform, Skewed, FewValues };

// n × cols covariates; column 0 follows `spread`, the others are uniform noise.
Matrix covariates(std::size_t n, std::size_t cols, Spread spread, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-2.0, 3.0);
    std::exponential_distribution<double> e(1.5);
    std::uniform_int_distribution<int> level(0, 5);
    Matrix x(n, cols);
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t c = 0; c < cols; ++c) x(r, c) = u(rng);
        if (spread == Spread::Skewed) x(r, 0) = e(rng);
        if (spread == Spread::FewValues) x(r, 0) = 0.5 * level(rng);
    }
    return x;
}

Matrix naive_product(const Matrix& a, const Matrix& b) {
    Matrix c(a.rows(), b.cols());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < b.cols(); ++j)
            for (std::size_t l = 0; l < a.cols(); ++l) c(i, j) += a(i, l) * b(l, j);
    return c;
}

double max_abs(const Matrix& a) {
    double m = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a.data()[i]));
    return m;
}

struct CrCase {
    const char* name;
    std::size_t n;
    std::size_t k;
    Spread spread;
    unsigned seed;
};
void PrintTo(const CrCase& c, std::ostream* os) { *os << c.name; }

class CrDesignBuild : public ::testing::TestWithParam<CrCase> {};

TEST_P(CrDesignBuild, CentresTheBasisAndScalesThePenalty) {
    const CrCase& c = GetParam();
    const Matrix data = covariates(c.n, 2, c.spread, c.seed);
    const auto design = build_cr_design(data, c.k);
    ASSERT_TRUE(design.has_value()) << design.error().text;
    const std::size_t n = c.n, k = c.k, p = k;

    const auto* cr = std::get_if<CrPredictor>(&design->predictor.value);
    ASSERT_NE(cr, nullptr);
    const Vector column = to_vector(MatrixView(data).column(0));
    const auto knots = place_knots(std::span<const double>(column), k);
    ASSERT_TRUE(knots.has_value());
    EXPECT_EQ(cr->knots, *knots);
    const Matrix& z = cr->centring;
    ASSERT_EQ(z.rows(), k);
    ASSERT_EQ(z.cols(), k - 1);

    // x = [1 | X₀·Z] and every spline column sums to zero over the rows.
    const Matrix raw = cr_basis(cr->knots, std::span<const double>(column));
    const Matrix expected_block = naive_product(raw, z);
    ASSERT_EQ(design->x.rows(), n);
    ASSERT_EQ(design->x.cols(), p);
    for (std::size_t j = 0; j < p; ++j) {
        double sum = 0.0, scale = 0.0;
        for (std::size_t r = 0; r < n; ++r) {
            const double v = design->x(r, j);
            if (j == 0) {
                EXPECT_EQ(v, 1.0);
            } else {
                EXPECT_NEAR(v, expected_block(r, j - 1), 1e-12);
            }
            sum += v;
            scale += std::abs(v);
        }
        if (j > 0) {
            EXPECT_NEAR(sum, 0.0, 1e-12 * scale) << "column " << j;
        }
    }

    // Penalty: Zᵀ(S₀·‖X₀‖∞²/‖S₀‖∞)Z embedded below the intercept.
    const Matrix s0 = cr_penalty(cr->knots);
    double nx = 0.0, ns = 0.0;
    for (std::size_t r = 0; r < n; ++r) {
        double row = 0.0;
        for (std::size_t j = 0; j < k; ++j) row += std::abs(raw(r, j));
        nx = std::max(nx, row);
    }
    for (std::size_t r = 0; r < k; ++r) {
        double row = 0.0;
        for (std::size_t j = 0; j < k; ++j) row += std::abs(s0(r, j));
        ns = std::max(ns, row);
    }
    Matrix s1 = s0;
    for (std::size_t i = 0; i < s1.size(); ++i) s1.data()[i] *= nx * nx / ns;
    const Matrix expected_penalty = naive_product(naive_product(transpose(z), s1), z);
    ASSERT_EQ(design->penalties.size(), 1u);
    const Matrix& s = design->penalties[0];
    ASSERT_EQ(s.rows(), p);
    ASSERT_EQ(s.cols(), p);
    const double tol = 1e-12 * max_abs(expected_penalty);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < p; ++j) {
            if (i == 0 || j == 0) {
                EXPECT_EQ(s(i, j), 0.0);
            } else {
                EXPECT_NEAR(s(i, j), expected_penalty(i - 1, j - 1), tol);
            }
        }

    // Null space: the intercept and the centred linear function.
    ASSERT_EQ(design->penalty_ranks.size(), 1u);
    EXPECT_EQ(design->penalty_ranks[0], k - 2);
    EXPECT_EQ(design->null_space_dim, 2u);

    // Pseudo-determinant = det(S + e₀e₀ᵀ + ûûᵀ) with û the unit null vector of
    // the spline block: Zᵀ(a·1 + t) with a chosen so that a·1 + t is centred.
    const Vector csum = [&] {
        Vector v(k, 0.0);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t j = 0; j < k; ++j) v[j] += raw(r, j);
        return v;
    }();
    double c_one = 0.0, c_t = 0.0;
    for (std::size_t j = 0; j < k; ++j) {
        c_one += csum[j];
        c_t += csum[j] * cr->knots[j];
    }
    const double a = -c_t / c_one;
    Vector u(p, 0.0);
    double norm = 0.0;
    for (std::size_t col = 0; col + 1 < k; ++col) {
        for (std::size_t m = 0; m < k; ++m) u[col + 1] += z(m, col) * (a + cr->knots[m]);
        norm += u[col + 1] * u[col + 1];
    }
    Matrix completed = s;
    completed(0, 0) += 1.0;
    for (std::size_t i = 1; i < p; ++i)
        for (std::size_t j = 1; j < p; ++j) completed(i, j) += u[i] * u[j] / norm;
    const auto chol = cholesky_lower(completed);
    ASSERT_TRUE(chol.has_value());
    double logdet = 0.0;
    for (std::size_t i = 0; i < p; ++i) logdet += 2.0 * std::log((*chol)(i, i));
    ASSERT_EQ(design->penalty_logdets.size(), 1u);
    EXPECT_NEAR(design->penalty_logdets[0], logdet, 1e-8 * (1.0 + std::abs(logdet)));
}

INSTANTIATE_TEST_SUITE_P(Cases, CrDesignBuild,
                         ::testing::Values(CrCase{"k3", 40, 3, Spread::Uniform, 1},
                                           CrCase{"k10", 200, 10, Spread::Uniform, 2},
                                           CrCase{"k12_skewed", 300, 12, Spread::Skewed, 3},
                                           CrCase{"k9_few_distinct_values", 60, 9, Spread::FewValues, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CrDesign, KThreeHasTwoCentredSplineColumnsAndRankOne) {
    const auto design = build_cr_design(covariates(25, 1, Spread::Uniform, 9), 3);
    ASSERT_TRUE(design.has_value());
    EXPECT_EQ(design->x.cols(), 3u);
    EXPECT_EQ(design->penalty_ranks[0], 1u);
    EXPECT_EQ(design->null_space_dim, 2u);
}

TEST(CrDesign, ReadsAnyStridesAndOnlyColumnZero) {
    const std::size_t n = 80;
    const Matrix data = covariates(n, 3, Spread::Skewed, 12);
    const auto reference = build_cr_design(data, 7);
    ASSERT_TRUE(reference.has_value());

    // The same values stored column by column (a transposed buffer).
    const Matrix column_major = transpose(data);
    const MatrixView transposed(column_major.data(), n, 3, sizeof(double),
                                static_cast<std::ptrdiff_t>(n * sizeof(double)));
    // Only column 0, copied alone.
    Matrix first(n, 1);
    for (std::size_t r = 0; r < n; ++r) first(r, 0) = data(r, 0);

    for (const MatrixView& view : {transposed, MatrixView(first)}) {
        const auto design = build_cr_design(view, 7);
        ASSERT_TRUE(design.has_value());
        EXPECT_EQ(design->x, reference->x);
        EXPECT_EQ(design->penalties, reference->penalties);
        EXPECT_EQ(design->predictor, reference->predictor);
        EXPECT_EQ(design->penalty_logdets, reference->penalty_logdets);
    }

    // Rows read backwards through a negative stride give the reversed copy's design.
    const auto row_bytes = static_cast<std::ptrdiff_t>(3 * sizeof(double));
    const MatrixView reversed(data.data() + (n - 1) * 3, n, 3, -row_bytes, sizeof(double));
    const auto from_view = build_cr_design(reversed, 7);
    const auto from_copy = build_cr_design(to_matrix(reversed), 7);
    ASSERT_TRUE(from_view.has_value() && from_copy.has_value());
    EXPECT_EQ(from_view->x, from_copy->x);
    EXPECT_EQ(from_view->penalties, from_copy->penalties);
}

TEST(CrTerm, UsesTheRequestedColumnAndTheCentredBasisReproducesIt) {
    const Matrix data = covariates(50, 3, Spread::Uniform, 21);
    const auto term = build_cr_term(data, 2, 6);
    ASSERT_TRUE(term.has_value());
    Matrix only(50, 1);
    for (std::size_t r = 0; r < 50; ++r) only(r, 0) = data(r, 2);
    const auto single = build_cr_term(only, 0, 6);
    ASSERT_TRUE(single.has_value());
    EXPECT_EQ(term->knots, single->knots);
    EXPECT_EQ(term->basis, single->basis);
    EXPECT_EQ(term->penalty, single->penalty);
    // Rebuilding from the knots and centring at the fitting points gives the same block.
    EXPECT_EQ(centred_cr_basis(term->knots, term->centring, MatrixView(data).column(2)), term->basis);
}

struct CrErrorCase {
    const char* name;
    Vector column;
    std::size_t k;
    std::string message;
};
void PrintTo(const CrErrorCase& c, std::ostream* os) { *os << c.name; }

class CrDesignErrors : public ::testing::TestWithParam<CrErrorCase> {};

TEST_P(CrDesignErrors, ReturnTheInvalidParameterMessage) {
    const CrErrorCase& c = GetParam();
    Matrix x(c.column.size(), 1);
    for (std::size_t r = 0; r < c.column.size(); ++r) x(r, 0) = c.column[r];
    const auto design = build_cr_design(x, c.k);
    ASSERT_FALSE(design.has_value());
    EXPECT_EQ(design.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(design.error().text, c.message);
}

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, CrDesignErrors,
    ::testing::Values(
        CrErrorCase{"k_two", {0.1, 0.5, 0.2, 0.9, 0.4}, 2, "CR spline needs k ≥ 3 (got 2)"},
        CrErrorCase{"constant", {1.5, 1.5, 1.5, 1.5}, 4, "CR spline knots must be strictly increasing"},
        CrErrorCase{"nan", {0.1, 0.5, 0.2, nan_value, 0.4}, 3, "x must be finite (got x[3, 0] = NaN)"},
        CrErrorCase{"inf", {inf_value, 0.5, 0.2, 0.3}, 3, "x must be finite (got x[0, 0] = inf)"},
        CrErrorCase{"minus_inf", {0.0, 0.5, -inf_value}, 3, "x must be finite (got x[2, 0] = -inf)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CrTerm, NonFiniteValueMessageNamesTheColumnRead) {
    Matrix x = covariates(10, 3, Spread::Uniform, 30);
    x(6, 1) = nan_value;
    const auto term = build_cr_term(x, 1, 4);
    ASSERT_FALSE(term.has_value());
    EXPECT_EQ(term.error().text, "x must be finite (got x[6, 1] = NaN)");
    EXPECT_TRUE(build_cr_term(x, 0, 4).has_value());  // other columns are not looked at
}

}  // namespace
}  // namespace pelun
