#include "linalg/cholesky_inverse.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

TEST(CholeskyInverse, InverseAndLogDeterminantOfAKnownMatrix) {
    const Matrix h = Matrix::from_rows({{4, 2, 0.4}, {2, 5, 1}, {0.4, 1, 3}});
    const auto l = cholesky_lower(h);
    ASSERT_TRUE(l.has_value());
    const Matrix inverse = inverse_from_cholesky(*l);
    const Matrix product = matmul(h, inverse);
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_NEAR(product(i, j), i == j ? 1.0 : 0.0, 1e-14);
            EXPECT_EQ(inverse(i, j), inverse(j, i));
        }
    // det by cofactor expansion
    const double det = 4 * (5 * 3 - 1 * 1) - 2 * (2 * 3 - 1 * 0.4) + 0.4 * (2 * 1 - 5 * 0.4);
    EXPECT_NEAR(log_det_from_cholesky(*l), std::log(det), 1e-13);
    // tr(H H⁻¹) = 3
    EXPECT_NEAR(trace_of_product(h, inverse), 3.0, 1e-13);
}

}  // namespace
}  // namespace pelun
