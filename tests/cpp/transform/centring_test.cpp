#include "transform/centring.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>

namespace pelun {
namespace {

struct ConstraintCase {
    const char* name;
    Vector c;
};
void PrintTo(const ConstraintCase& c, std::ostream* os) { *os << c.name; }

class SumToZeroBasis : public ::testing::TestWithParam<ConstraintCase> {};

TEST_P(SumToZeroBasis, IsAnOrthonormalBasisOfTheOrthogonalComplement) {
    const Vector& c = GetParam().c;
    const std::size_t k = c.size();
    const Matrix z = sum_to_zero_basis(c);
    ASSERT_EQ(z.rows(), k);
    ASSERT_EQ(z.cols(), k - 1);
    double norm2 = 0.0;
    for (const double v : c) norm2 += v * v;
    const double tol = 1e-14 * std::max(1.0, std::sqrt(norm2));

    // Orthonormal columns, each orthogonal to c.
    for (std::size_t a = 0; a + 1 < k; ++a) {
        double dot_c = 0.0;
        for (std::size_t m = 0; m < k; ++m) dot_c += c[m] * z(m, a);
        EXPECT_NEAR(dot_c, 0.0, tol) << "column " << a;
        for (std::size_t b = 0; b + 1 < k; ++b) {
            double dot = 0.0;
            for (std::size_t m = 0; m < k; ++m) dot += z(m, a) * z(m, b);
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-14);
        }
    }
    // Z Zᵀ is the orthogonal projector I − ccᵀ/‖c‖².
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < k; ++j) {
            double zz = 0.0;
            for (std::size_t a = 0; a + 1 < k; ++a) zz += z(i, a) * z(j, a);
            EXPECT_NEAR(zz, (i == j ? 1.0 : 0.0) - c[i] * c[j] / norm2, 1e-14);
        }
}

Vector random_vector(std::size_t n, double scale, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-scale, scale);
    Vector v(n);
    for (double& e : v) e = u(rng);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SumToZeroBasis,
    ::testing::Values(ConstraintCase{"positive_lead", {3.0, 1.0, 2.0, 0.5}},
                      ConstraintCase{"negative_lead", {-3.0, 1.0, -2.0, 0.5, 4.0}},
                      ConstraintCase{"zero_lead", {0.0, 1.0, -1.0}},
                      ConstraintCase{"negative_zero_lead", {-0.0, 2.0, 1.0}},
                      ConstraintCase{"column_sums_like", {120.5, 98.25, 101.0, 130.75, 49.5}},
                      ConstraintCase{"random_large", random_vector(25, 1e6, 3)},
                      ConstraintCase{"two", {1.0, 1.0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SumToZeroBasisDegenerate, TinyConstraintGivesLeadingIdentityColumns) {
    for (const Vector& c : {Vector{0.0, 0.0, 0.0, 0.0}, Vector{1e-17, -2e-17, 0.0, 5e-17}}) {
        const Matrix z = sum_to_zero_basis(c);
        ASSERT_EQ(z.rows(), 4u);
        ASSERT_EQ(z.cols(), 3u);
        for (std::size_t i = 0; i < 4; ++i)
            for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(z(i, j), i == j ? 1.0 : 0.0);
    }
    // A single coefficient has nothing left once centred.
    const Matrix one = sum_to_zero_basis(Vector{2.0});
    EXPECT_EQ(one.rows(), 1u);
    EXPECT_EQ(one.cols(), 0u);
}

TEST(ColumnSums, AddEveryRowOfEachColumn) {
    const Matrix a =
        Matrix::from_rows({{1.0, -2.0, 0.5}, {3.0, 4.0, -0.5}, {-1.0, 0.25, 8.0}, {2.0, 2.0, 2.0}});
    const Vector sums = column_sums(a);
    ASSERT_EQ(sums.size(), 3u);
    for (std::size_t j = 0; j < 3; ++j) {
        double expected = 0.0;
        for (std::size_t r = 0; r < 4; ++r) expected += a(r, j);
        EXPECT_DOUBLE_EQ(sums[j], expected);
    }
    EXPECT_EQ(column_sums(Matrix(0, 4)), Vector(4, 0.0));
}

}  // namespace
}  // namespace pelun
