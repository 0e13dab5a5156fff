#include "design/tensor_design.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "basis/cr_spline.hpp"
#include "dense_reference.hpp"

namespace pelun {
namespace {

using reference::max_abs;
using reference::max_abs_diff;

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// Q·diag(values)·Qᵀ for a fixed orthogonal Q made of plane rotations.
Matrix with_eigenvalues(const Vector& values) {
    const std::size_t p = values.size();
    Matrix q = Matrix::identity(p);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j) {
            const double angle = 0.3 + 0.7 * static_cast<double>(i + 2 * j), c = std::cos(angle), s = std::sin(angle);
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

Vector column_of(const Matrix& x, std::size_t col) {
    Vector v(x.rows());
    for (std::size_t r = 0; r < x.rows(); ++r) v[r] = x(r, col);
    return v;
}

struct TensorCase {
    const char* name;
    std::size_t n;
    std::size_t col_a;
    std::size_t col_b;
    std::size_t k_a;
    std::size_t k_b;
    unsigned seed;
};
void PrintTo(const TensorCase& c, std::ostream* os) { *os << c.name; }

class TensorTermBuild : public ::testing::TestWithParam<TensorCase> {};

TEST_P(TensorTermBuild, CentresTheRowKroneckerBasisAndLiftsTheMarginPenalties) {
    const TensorCase& c = GetParam();
    const Matrix x = reference::uniform_covariates(c.n, 3, c.seed);
    const auto term = build_tensor_term(x, c.col_a, c.col_b, c.k_a, c.k_b);
    ASSERT_TRUE(term.has_value()) << term.error().text;
    const std::size_t width = c.k_a * c.k_b;

    const Vector xa = column_of(x, c.col_a), xb = column_of(x, c.col_b);
    const auto knots_a = place_knots(std::span<const double>(xa), c.k_a);
    const auto knots_b = place_knots(std::span<const double>(xb), c.k_b);
    ASSERT_TRUE(knots_a.has_value() && knots_b.has_value());
    EXPECT_EQ(term->knots_a, *knots_a);
    EXPECT_EQ(term->knots_b, *knots_b);
    EXPECT_EQ(term->xp_a, Matrix::identity(c.k_a));
    EXPECT_EQ(term->xp_b, Matrix::identity(c.k_b));

    // The uncentred basis by its definition, first margin slowest.
    const Matrix ba = cr_basis(*knots_a, std::span<const double>(xa));
    const Matrix bb = cr_basis(*knots_b, std::span<const double>(xb));
    Matrix t(c.n, width);
    for (std::size_t r = 0; r < c.n; ++r)
        for (std::size_t i = 0; i < c.k_a; ++i)
            for (std::size_t j = 0; j < c.k_b; ++j) t(r, i * c.k_b + j) = ba(r, i) * bb(r, j);

    // Z: orthonormal columns orthogonal to the column sums of T.
    const Matrix& z = term->centring;
    ASSERT_EQ(z.rows(), width);
    ASSERT_EQ(z.cols(), width - 1);
    EXPECT_LT(max_abs_diff(reference::transpose_product(z, z), Matrix::identity(width - 1)), 1e-12);
    const Matrix sums = reference::transpose_product(t, Matrix(c.n, 1, 1.0));
    EXPECT_LT(max_abs(reference::transpose_product(z, sums)), 1e-12 * max_abs(sums) * static_cast<double>(width));

    // Block T·Z, and each of its columns sums to zero over the rows.
    ASSERT_EQ(term->basis.rows(), c.n);
    ASSERT_EQ(term->basis.cols(), width - 1);
    EXPECT_LT(max_abs_diff(term->basis, reference::product(t, z)), 1e-13 * static_cast<double>(width));
    const Matrix block_sums = reference::transpose_product(term->basis, Matrix(c.n, 1, 1.0));
    EXPECT_LT(max_abs(block_sums), 1e-11 * static_cast<double>(c.n));

    // Penalties Zᵀ(S_a ⊗ I)Z and Zᵀ(I ⊗ S_b)Z with each margin penalty scaled
    // to largest eigenvalue 1.
    auto unit = [](const Matrix& s) {
        const double largest = reference::jacobi_eigenvalues(s).back();
        Matrix out = s;
        for (std::size_t i = 0; i < out.size(); ++i) out.data()[i] /= largest;
        return out;
    };
    const Matrix sa = unit(cr_penalty(*knots_a)), sb = unit(cr_penalty(*knots_b));
    const Matrix pa = reference::kron(sa, Matrix::identity(c.k_b));
    const Matrix pb = reference::kron(Matrix::identity(c.k_a), sb);
    const Matrix expected_a = reference::product(reference::transpose_product(z, pa), z);
    const Matrix expected_b = reference::product(reference::transpose_product(z, pb), z);
    EXPECT_LT(max_abs_diff(term->penalty_a, expected_a), 1e-12);
    EXPECT_LT(max_abs_diff(term->penalty_b, expected_b), 1e-12);

    // Each lifted penalty keeps the rank of S ⊗ I: (k − 2) times the other
    // margin's dimension, since the constant direction is not orthogonal to
    // the column sums.
    EXPECT_EQ(reference::rank_logdet(term->penalty_a).rank, (c.k_a - 2) * c.k_b);
    EXPECT_EQ(reference::rank_logdet(term->penalty_b).rank, c.k_a * (c.k_b - 2));
}

INSTANTIATE_TEST_SUITE_P(Cases, TensorTermBuild,
                         ::testing::Values(TensorCase{"five_by_five", 200, 0, 1, 5, 5, 1},
                                           TensorCase{"three_by_four_reversed", 60, 1, 0, 3, 4, 2},
                                           TensorCase{"four_by_six", 150, 0, 2, 4, 6, 3},
                                           TensorCase{"ten_by_ten", 400, 2, 0, 10, 10, 4},
                                           TensorCase{"few_rows", 6, 1, 2, 4, 3, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RescaleCase {
    const char* name;
    Vector eigenvalues;
    double largest;  // 0 when the matrix must come back unchanged
};
void PrintTo(const RescaleCase& c, std::ostream* os) { *os << c.name; }

class UnitLargestEigenvalue : public ::testing::TestWithParam<RescaleCase> {};

TEST_P(UnitLargestEigenvalue, DividesByTheLargestPositiveEigenvalue) {
    const RescaleCase& c = GetParam();
    const Matrix s = with_eigenvalues(c.eigenvalues);
    const auto scaled = scale_to_unit_largest_eigenvalue(s);
    ASSERT_TRUE(scaled.has_value());
    if (c.largest == 0.0) {
        EXPECT_EQ(*scaled, s);
        return;
    }
    for (std::size_t i = 0; i < s.size(); ++i)
        EXPECT_NEAR(scaled->data()[i], s.data()[i] / c.largest, 1e-13 * max_abs(s) / c.largest) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnitLargestEigenvalue,
    ::testing::Values(RescaleCase{"semidefinite", {0.0, 2.0, 5.0}, 5.0},
                      RescaleCase{"small_scale", {1e-3, 4e-3, 2e-3, 0.0}, 4e-3},
                      RescaleCase{"mixed_signs", {-7.0, 0.5, 1.5}, 1.5},
                      RescaleCase{"negative_definite", {-3.0, -1.0}, 0.0},
                      RescaleCase{"zero", {0.0, 0.0, 0.0}, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

struct TensorErrorCase {
    const char* name;
    std::size_t col_a;
    std::size_t col_b;
    std::size_t k_a;
    std::size_t k_b;
    const char* message;
};
void PrintTo(const TensorErrorCase& c, std::ostream* os) { *os << c.name; }

class TensorTermErrors : public ::testing::TestWithParam<TensorErrorCase> {};

// Column 0 uniform, column 1 constant, column 2 uniform with a NaN in row 4,
// column 3 uniform with a NaN in row 2.
TEST_P(TensorTermErrors, ChecksColumnsThenTheFirstMarginThenTheSecond) {
    const TensorErrorCase& c = GetParam();
    Matrix x = reference::uniform_covariates(30, 4, 9);
    for (std::size_t r = 0; r < x.rows(); ++r) x(r, 1) = 2.5;
    x(4, 2) = nan_value;
    x(2, 3) = nan_value;
    const auto term = build_tensor_term(x, c.col_a, c.col_b, c.k_a, c.k_b);
    ASSERT_FALSE(term.has_value());
    EXPECT_EQ(term.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(term.error().text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TensorTermErrors,
    ::testing::Values(
        TensorErrorCase{"same_columns", 1, 1, 5, 5,
                        "Tensor term must have distinct margin columns (got col_a == col_b == 1)"},
        TensorErrorCase{"same_columns_before_knots", 0, 0, 2, 2,
                        "Tensor term must have distinct margin columns (got col_a == col_b == 0)"},
        TensorErrorCase{"first_margin_k", 0, 1, 2, 1, "CR spline needs k ≥ 3 (got 2)"},
        TensorErrorCase{"second_margin_finite", 0, 2, 4, 1, "x must be finite (got x[4, 2] = NaN)"},
        TensorErrorCase{"first_finite_before_second_knots", 2, 0, 4, 1, "x must be finite (got x[4, 2] = NaN)"},
        TensorErrorCase{"first_constant", 1, 0, 5, 2, "CR spline knots must be strictly increasing"},
        TensorErrorCase{"second_constant", 0, 1, 5, 5, "CR spline knots must be strictly increasing"},
        TensorErrorCase{"second_small_k", 0, 1, 5, 1, "CR spline needs k ≥ 3 (got 1)"},
        TensorErrorCase{"first_finite_before_second", 3, 2, 5, 5, "x must be finite (got x[2, 3] = NaN)"},
        TensorErrorCase{"first_knots_before_second_finite", 0, 3, 1, 5, "CR spline needs k ≥ 3 (got 1)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TensorProductBasis, AppliesTheMarginTransformsBeforeTheProduct) {
    const Matrix x = reference::uniform_covariates(25, 2, 13);
    const Vector xa = column_of(x, 0), xb = column_of(x, 1);
    const auto ka = place_knots(std::span<const double>(xa), 4);
    const auto kb = place_knots(std::span<const double>(xb), 3);
    ASSERT_TRUE(ka.has_value() && kb.has_value());
    std::mt19937 rng(3);
    std::normal_distribution<double> normal;
    Matrix xp_a(4, 4), xp_b(3, 3);
    for (std::size_t i = 0; i < xp_a.size(); ++i) xp_a.data()[i] = normal(rng);
    for (std::size_t i = 0; i < xp_b.size(); ++i) xp_b.data()[i] = normal(rng);

    const Matrix t = tensor_product_basis(*ka, xp_a, std::span<const double>(xa), *kb, xp_b,
                                          std::span<const double>(xb));
    const Matrix a = reference::product(cr_basis(*ka, std::span<const double>(xa)), xp_a);
    const Matrix b = reference::product(cr_basis(*kb, std::span<const double>(xb)), xp_b);
    ASSERT_EQ(t.rows(), 25u);
    ASSERT_EQ(t.cols(), 12u);
    for (std::size_t r = 0; r < 25; ++r)
        for (std::size_t i = 0; i < 4; ++i)
            for (std::size_t j = 0; j < 3; ++j) EXPECT_NEAR(t(r, i * 3 + j), a(r, i) * b(r, j), 1e-12);
}

}  // namespace
}  // namespace pelun
