#include "basis/cr_spline.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "linalg/lapack.hpp"

namespace pelun {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// Non-uniform knots on roughly [-1, 2].
const Vector uneven_knots = {-1.0, -0.7, -0.2, 0.1, 0.15, 0.6, 1.1, 1.3, 2.0};

Vector random_values(std::size_t n, double lo, double hi, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    Vector v(n);
    for (double& e : v) e = u(rng);
    return v;
}

VectorView view(const Vector& v) { return std::span<const double>(v); }

// f(x) = Σ βᵢ Bᵢ(x) at one point.
double spline_value(std::span<const double> t, std::span<const double> beta, double x) {
    const Vector point = {x};
    const Matrix row = cr_basis(t, view(point));
    double f = 0.0;
    for (std::size_t i = 0; i < beta.size(); ++i) f += row(0, i) * beta[i];
    return f;
}

// ---------------------------------------------------------------- knots

struct KnotErrorCase {
    const char* name;
    Vector x;
    std::size_t k;
    std::string message;
};
void PrintTo(const KnotErrorCase& c, std::ostream* os) { *os << c.name; }

class PlaceKnotsErrors : public ::testing::TestWithParam<KnotErrorCase> {};

TEST_P(PlaceKnotsErrors, ReportTheKnotMessage) {
    const KnotErrorCase& c = GetParam();
    const auto knots = place_knots(view(c.x), c.k);
    ASSERT_FALSE(knots.has_value());
    EXPECT_EQ(knots.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(knots.error().text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlaceKnotsErrors,
    ::testing::Values(
        KnotErrorCase{"k0", random_values(50, 0, 1, 1), 0, "CR spline needs k ≥ 3 (got 0)"},
        KnotErrorCase{"k1", random_values(50, 0, 1, 2), 1, "CR spline needs k ≥ 3 (got 1)"},
        KnotErrorCase{"k2", random_values(50, 0, 1, 3), 2, "CR spline needs k ≥ 3 (got 2)"},
        KnotErrorCase{"k2_empty", {}, 2, "CR spline needs k ≥ 3 (got 2)"},
        KnotErrorCase{"constant", Vector(20, 3.5), 5, "CR spline knots must be strictly increasing"},
        KnotErrorCase{"within_tolerance", {1.0, 1.0 + 4e-13, 1.0 + 8e-13}, 3,
                      "CR spline knots must be strictly increasing"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlaceKnots, WithExactlyKDistinctValuesTheKnotsAreThoseValues) {
    const Vector x = {0.3, -2.0, 5.0, 0.3, 1.25, -2.0, 7.5, 5.0};  // distinct: -2, 0.3, 1.25, 5, 7.5
    const auto knots = place_knots(view(x), 5);
    ASSERT_TRUE(knots.has_value());
    EXPECT_EQ(*knots, (Vector{-2.0, 0.3, 1.25, 5.0, 7.5}));
}

TEST(PlaceKnots, KnotsAreInterpolatedQuantilesOfTheDistinctValues) {
    // 9 distinct values (each repeated) and k = 5: quantile positions 0, 2, 4, 6, 8
    // hit distinct values exactly; k = 4 gives positions 0, 8/3, 16/3, 8.
    Vector distinct = {0.0, 1.0, 3.0, 4.0, 8.0, 9.0, 10.0, 15.0, 20.0};
    Vector x;
    for (int rep = 0; rep < 3; ++rep)
        for (auto it = distinct.rbegin(); it != distinct.rend(); ++it) x.push_back(*it);
    const auto five = place_knots(view(x), 5);
    ASSERT_TRUE(five.has_value());
    EXPECT_EQ(*five, (Vector{0.0, 3.0, 8.0, 10.0, 20.0}));

    const auto four = place_knots(view(x), 4);
    ASSERT_TRUE(four.has_value());
    const double f1 = 8.0 / 3.0 - 2.0, f2 = 16.0 / 3.0 - 5.0;
    EXPECT_DOUBLE_EQ((*four)[0], 0.0);
    EXPECT_NEAR((*four)[1], distinct[2] + f1 * (distinct[3] - distinct[2]), 1e-14);
    EXPECT_NEAR((*four)[2], distinct[5] + f2 * (distinct[6] - distinct[5]), 1e-14);
    EXPECT_DOUBLE_EQ((*four)[3], 20.0);
}

TEST(PlaceKnots, FewerDistinctValuesThanKSpreadsKnotsEvenly) {
    const Vector x = {4.0, 1.0, 2.0, 4.0, 1.0, 3.0, 2.0};  // 4 distinct values
    const auto knots = place_knots(view(x), 10);
    ASSERT_TRUE(knots.has_value());
    ASSERT_EQ(knots->size(), 10u);
    EXPECT_EQ((*knots)[0], 1.0);
    EXPECT_NEAR((*knots)[9], 4.0, 1e-14);
    for (std::size_t j = 1; j < 10; ++j) EXPECT_NEAR((*knots)[j] - (*knots)[j - 1], 3.0 / 9.0, 1e-14);
}

TEST(PlaceKnots, ValuesWithinTheToleranceOfTheLastKeptValueAreOneValue) {
    // 6e-13 is within 1e-12 of the kept 0 and is dropped; 1.2e-12 is compared
    // with the kept 0, not with the dropped 6e-13, so it is a new value.
    const Vector x = {1.2e-12, 2.0, 0.0, 6e-13, 1.0};
    const auto four = place_knots(view(x), 4);
    ASSERT_TRUE(four.has_value());
    EXPECT_EQ(*four, (Vector{0.0, 1.2e-12, 1.0, 2.0}));

    // Four distinct values are too few for five knots: evenly spread on [0, 2].
    const auto five = place_knots(view(x), 5);
    ASSERT_TRUE(five.has_value());
    for (std::size_t j = 0; j < 5; ++j) EXPECT_NEAR((*five)[j], 0.5 * static_cast<double>(j), 1e-15);
}

TEST(PlaceKnots, EmptyColumnGivesKnotsOnTheUnitInterval) {
    const auto knots = place_knots(VectorView{}, 6);
    ASSERT_TRUE(knots.has_value());
    for (std::size_t j = 0; j < 6; ++j) EXPECT_NEAR((*knots)[j], 0.2 * static_cast<double>(j), 1e-15);
}

TEST(PlaceKnots, ReadsAStridedViewInAnyOrder) {
    // Every other element of a buffer, read backwards.
    const Vector buffer = random_values(41, -3, 3, 7);
    const VectorView strided(buffer.data() + 40, 21, -2 * static_cast<std::ptrdiff_t>(sizeof(double)));
    Vector copy;
    for (std::size_t i = 0; i < 41; i += 2) copy.push_back(buffer[i]);
    const auto from_view = place_knots(strided, 7);
    const auto from_copy = place_knots(view(copy), 7);
    ASSERT_TRUE(from_view.has_value() && from_copy.has_value());
    EXPECT_EQ(*from_view, *from_copy);
    EXPECT_EQ(from_view->front(), *std::min_element(copy.begin(), copy.end()));
    EXPECT_EQ(from_view->back(), *std::max_element(copy.begin(), copy.end()));
}

TEST(PlaceKnots, NaNValuesDoNotBreakTheSort) {
    Vector x = random_values(200, 0, 1, 11);
    for (std::size_t i = 0; i < x.size(); i += 7) x[i] = nan_value;
    const auto knots = place_knots(view(x), 8);
    ASSERT_TRUE(knots.has_value());
    for (const double t : *knots) EXPECT_TRUE(std::isfinite(t));
}

struct ValidateCase {
    const char* name;
    Vector t;
    bool valid;
    std::string message;
};
void PrintTo(const ValidateCase& c, std::ostream* os) { *os << c.name; }

class ValidateKnots : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateKnots, AcceptsOnlyStrictlyIncreasingVectorsOfAtLeastThree) {
    const ValidateCase& c = GetParam();
    const auto result = validate_knots(c.t);
    ASSERT_EQ(result.has_value(), c.valid);
    if (c.valid) {
        EXPECT_EQ(*result, c.t);
    } else {
        EXPECT_EQ(result.error().kind, ErrorKind::InvalidParameter);
        EXPECT_EQ(result.error().text, c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidateKnots,
    ::testing::Values(ValidateCase{"valid", {0.0, 0.5, 2.0}, true, ""},
                      ValidateCase{"too_short", {0.0, 1.0}, false, "CR spline needs k ≥ 3 (got 2)"},
                      ValidateCase{"empty", {}, false, "CR spline needs k ≥ 3 (got 0)"},
                      ValidateCase{"short_wins_over_order", {1.0, 0.0}, false,
                                   "CR spline needs k ≥ 3 (got 2)"},
                      ValidateCase{"repeated", {0.0, 1.0, 1.0, 2.0}, false,
                                   "CR spline knots must be strictly increasing"},
                      ValidateCase{"decreasing", {0.0, 2.0, 1.0}, false,
                                   "CR spline knots must be strictly increasing"},
                      ValidateCase{"nan_knot", {0.0, nan_value, 2.0}, false,
                                   "CR spline knots must be strictly increasing"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- basis

TEST(CrBasis, IsTheIdentityAtTheKnots) {
    const Matrix b = cr_basis(uneven_knots, view(uneven_knots));
    const std::size_t k = uneven_knots.size();
    for (std::size_t r = 0; r < k; ++r)
        for (std::size_t i = 0; i < k; ++i) EXPECT_NEAR(b(r, i), r == i ? 1.0 : 0.0, 1e-13) << r << "," << i;
    // The first knot falls on interval 0 with δ = 0: exactly e₀.
    for (std::size_t i = 0; i < k; ++i) EXPECT_EQ(b(0, i), i == 0 ? 1.0 : 0.0);
}

TEST(CrBasis, RowsSumToOneInsideAndOutsideTheKnotRange) {
    const Vector x = random_values(500, -4.0, 5.0, 3);  // knots span [-1, 2]
    const Matrix b = cr_basis(uneven_knots, view(x));
    ASSERT_EQ(b.rows(), x.size());
    ASSERT_EQ(b.cols(), uneven_knots.size());
    for (std::size_t r = 0; r < b.rows(); ++r) {
        double sum = 0.0;
        for (std::size_t i = 0; i < b.cols(); ++i) sum += b(r, i);
        EXPECT_NEAR(sum, 1.0, 1e-12) << "x = " << x[r];
    }
}

TEST(CrBasis, ReproducesLinearFunctionsExactly) {
    // The natural spline through values on a line is that line, also extrapolated.
    const Vector x = random_values(300, -4.0, 5.0, 4);
    const Matrix b = cr_basis(uneven_knots, view(x));
    for (std::size_t r = 0; r < x.size(); ++r) {
        double f = 0.0;
        for (std::size_t i = 0; i < uneven_knots.size(); ++i) f += b(r, i) * (2.0 - 3.0 * uneven_knots[i]);
        EXPECT_NEAR(f, 2.0 - 3.0 * x[r], 1e-11);
    }
}

TEST(CrBasis, ContinuesLinearlyWithTheBoundarySlope) {
    const Vector beta = random_values(uneven_knots.size(), -1, 1, 5);
    const double t0 = uneven_knots.front(), tk = uneven_knots.back();
    const double eps = 1e-6;
    struct Side {
        double knot;
        double direction;  // +1 beyond the right knot, -1 beyond the left knot
    };
    for (const Side side : {Side{t0, -1.0}, Side{tk, 1.0}}) {
        // One-sided derivative at the boundary knot from inside the range.
        const double inside = spline_value(uneven_knots, beta, side.knot - side.direction * eps);
        const double at_knot = spline_value(uneven_knots, beta, side.knot);
        const double slope = (at_knot - inside) / (side.direction * eps);
        for (const double dist : {0.5, 1.0, 3.0, 10.0}) {
            const double xo = side.knot + side.direction * dist;
            const double expected = at_knot + slope * side.direction * dist;
            EXPECT_NEAR(spline_value(uneven_knots, beta, xo), expected, 1e-5 * (1.0 + dist));
        }
        // Straight beyond the knot: vanishing second difference far out.
        const double x1 = side.knot + side.direction * 1.0, x2 = side.knot + side.direction * 2.0,
                     x3 = side.knot + side.direction * 3.0;
        EXPECT_NEAR(spline_value(uneven_knots, beta, x1) - 2.0 * spline_value(uneven_knots, beta, x2) +
                        spline_value(uneven_knots, beta, x3),
                    0.0, 1e-12);
    }
}

// Second derivative of f by a central difference.
double second_derivative(std::span<const double> t, std::span<const double> beta, double x, double e) {
    return (spline_value(t, beta, x + e) - 2.0 * spline_value(t, beta, x) + spline_value(t, beta, x - e)) /
           (e * e);
}

TEST(CrBasis, IsATwiceContinuouslyDifferentiableNaturalSpline) {
    // On each piece f is cubic, so the central difference gives f'' up to
    // rounding and f'' is linear: extrapolating it from two points on one side
    // of a knot gives that side's f'' at the knot.
    const Vector beta = random_values(uneven_knots.size(), -1, 1, 6);
    const double e = 1e-4;
    const auto from_side = [&](double knot, double direction) {
        return 2.0 * second_derivative(uneven_knots, beta, knot + direction * 2 * e, e) -
               second_derivative(uneven_knots, beta, knot + direction * 4 * e, e);
    };
    const std::size_t k = uneven_knots.size();
    for (std::size_t j = 1; j + 1 < k; ++j) {
        const double left = from_side(uneven_knots[j], -1.0), right = from_side(uneven_knots[j], 1.0);
        EXPECT_GT(std::abs(left), 1e-3);
        EXPECT_NEAR(left, right, 1e-5 * (1.0 + std::abs(left))) << "knot " << j;
    }
    // Natural end conditions: f'' vanishes at both boundary knots.
    EXPECT_NEAR(from_side(uneven_knots.front(), 1.0), 0.0, 1e-5);
    EXPECT_NEAR(from_side(uneven_knots.back(), -1.0), 0.0, 1e-5);
}

TEST(CrBasis, LastKnotAndStridedInput) {
    // A point at the last knot lies on the last interval and gives e_{k−1}.
    const Vector at_last = {uneven_knots.back()};
    const Matrix b = cr_basis(uneven_knots, view(at_last));
    for (std::size_t i = 0; i < uneven_knots.size(); ++i)
        EXPECT_NEAR(b(0, i), i + 1 == uneven_knots.size() ? 1.0 : 0.0, 1e-13);

    // Column 1 of a row-major 30 × 3 buffer equals the contiguous copy.
    const Vector buffer = random_values(90, -2, 3, 8);
    const MatrixView m(buffer.data(), 30, 3, 3 * sizeof(double), sizeof(double));
    const Vector column_copy = to_vector(m.column(1));
    EXPECT_EQ(cr_basis(uneven_knots, m.column(1)), cr_basis(uneven_knots, view(column_copy)));
}

TEST(CrBasis, ZeroRowsGiveAnEmptyMatrix) {
    const Matrix b = cr_basis(uneven_knots, VectorView{});
    EXPECT_EQ(b.rows(), 0u);
    EXPECT_EQ(b.cols(), uneven_knots.size());
}

// ---------------------------------------------------------------- penalty

// ∫ f''² over the knot range by composite Simpson on each knot interval,
// with f'' from central differences of the basis.
double roughness_by_quadrature(std::span<const double> t, std::span<const double> beta) {
    constexpr int panels = 64;  // Simpson panels per knot interval
    double total = 0.0;
    for (std::size_t j = 0; j + 1 < t.size(); ++j) {
        const double lo = t[j], width = t[j + 1] - t[j];
        const double step = width / (2 * panels);
        const double e = 1e-4 * width;
        double sum = 0.0;
        for (int s = 0; s <= 2 * panels; ++s) {
            // Endpoints are nudged inside the interval so the difference stencil
            // stays on one cubic piece.
            double xs = lo + step * s;
            if (s == 0) xs += e;
            if (s == 2 * panels) xs -= e;
            const double f2 = second_derivative(t, beta, xs, e);
            const double weight = (s == 0 || s == 2 * panels) ? 1.0 : (s % 2 == 1 ? 4.0 : 2.0);
            sum += weight * f2 * f2;
        }
        total += sum * step / 3.0;
    }
    return total;
}

double quadratic_form(const Matrix& s, std::span<const double> beta) {
    double q = 0.0;
    for (std::size_t i = 0; i < s.rows(); ++i)
        for (std::size_t j = 0; j < s.cols(); ++j) q += beta[i] * s(i, j) * beta[j];
    return q;
}

TEST(CrPenalty, QuadraticFormIsTheIntegratedSquaredSecondDerivative) {
    const std::vector<Vector> knot_sets = {
        uneven_knots, {0.0, 0.4, 1.0}, {-3.0, -1.0, 0.0, 0.5, 0.75, 4.0}};
    unsigned seed = 20;
    for (const Vector& t : knot_sets) {
        const Matrix s = cr_penalty(t);
        for (int trial = 0; trial < 3; ++trial) {
            const Vector beta = random_values(t.size(), -1, 1, seed++);
            const double exact = quadratic_form(s, beta);
            const double numeric = roughness_by_quadrature(t, beta);
            EXPECT_GT(exact, 0.0);
            EXPECT_NEAR(exact, numeric, 1e-5 * numeric) << "k = " << t.size();
        }
    }
}

TEST(CrPenalty, AnnihilatesConstantAndLinearVectorsAndIsSymmetricPsd) {
    const Matrix s = cr_penalty(uneven_knots);
    const std::size_t k = uneven_knots.size();
    double scale = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) scale = std::max(scale, std::abs(s.data()[i]));
    for (std::size_t i = 0; i < k; ++i) {
        double ones = 0.0, linear = 0.0;
        for (std::size_t j = 0; j < k; ++j) {
            ones += s(i, j);
            linear += s(i, j) * uneven_knots[j];
            EXPECT_NEAR(s(i, j), s(j, i), 1e-12 * scale);
        }
        EXPECT_NEAR(ones, 0.0, 1e-11 * scale);
        EXPECT_NEAR(linear, 0.0, 1e-11 * scale);
    }
    const auto eigen = symmetric_eigen(s);
    ASSERT_TRUE(eigen.has_value());
    EXPECT_NEAR(eigen->values[0], 0.0, 1e-10 * scale);
    EXPECT_NEAR(eigen->values[1], 0.0, 1e-10 * scale);
    EXPECT_GT(eigen->values[2], 1e-6 * scale);  // exactly a two-dimensional null space
}

TEST(CrPenalty, EqualsTheDenseFormulaWithAnInvertedTridiagonal) {
    // S = Dᵀ B⁻¹ D with B⁻¹D from a general LU solve; for k = 3, S = DᵀD·3/(h₀+h₁).
    for (const Vector& t : {uneven_knots, Vector{0.0, 0.4, 1.0}}) {
        const std::size_t k = t.size(), q = k - 2;
        Matrix d(q, k), b(q, q);
        for (std::size_t m = 0; m < q; ++m) {
            const double h0 = t[m + 1] - t[m], h1 = t[m + 2] - t[m + 1];
            d(m, m) = 1.0 / h0;
            d(m, m + 1) = -1.0 / h0 - 1.0 / h1;
            d(m, m + 2) = 1.0 / h1;
            b(m, m) = (h0 + h1) / 3.0;
            if (m + 1 < q) b(m, m + 1) = b(m + 1, m) = h1 / 6.0;
        }
        const auto y = lu_solve(b, d);
        ASSERT_TRUE(y.has_value());
        const Matrix s = cr_penalty(t);
        for (std::size_t i = 0; i < k; ++i)
            for (std::size_t j = 0; j < k; ++j) {
                double expected = 0.0;
                for (std::size_t m = 0; m < q; ++m) expected += d(m, i) * (*y)(m, j);
                EXPECT_NEAR(s(i, j), expected, 1e-10 * (1.0 + std::abs(expected)));
                if (k == 3) {
                    EXPECT_NEAR(s(i, j), d(0, i) * d(0, j) * 3.0 / (t[2] - t[0]), 1e-12);
                }
            }
    }
}

}  // namespace
}  // namespace pelun
