#include "fit/normal_quantile.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pelun {
namespace {

double normal_cdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

TEST(NormalQuantile, InvertsTheDistributionFunctionInEveryBranch) {
    // Lower tail, central region, upper tail, and the two break points.
    for (const double p : {1e-12, 1e-6, 0.001, 0.02, 0.02425, 0.1, 0.3, 0.5, 0.7, 0.9, 0.97575, 0.975,
                           0.99, 0.999, 1 - 1e-9}) {
        const auto z = normal_quantile(p);
        ASSERT_TRUE(z.has_value()) << p;
        // Φ'(z) = φ(z): an error in z of δ changes Φ by about φ(z)·δ.
        const double density = std::exp(-0.5 * *z * *z) / std::sqrt(2 * M_PI);
        EXPECT_NEAR(normal_cdf(*z), p, 1.5e-9 * density * std::max(1.0, std::abs(*z)) + 1e-15) << p;
    }
}

TEST(NormalQuantile, KnownValues) {
    EXPECT_EQ(*normal_quantile(0.5), 0.0);
    EXPECT_NEAR(*normal_quantile(0.975), 1.959963984540054, 1e-8);
    EXPECT_NEAR(*normal_quantile(0.99), 2.326347874040841, 1e-8);
    EXPECT_NEAR(*normal_quantile(0.01), -2.326347874040841, 1e-8);
}

TEST(NormalQuantile, RejectsProbabilitiesOutsideTheOpenUnitInterval) {
    for (const double p : {0.0, 1.0, -0.5, 2.0, std::numeric_limits<double>::quiet_NaN()}) {
        const auto z = normal_quantile(p);
        ASSERT_FALSE(z.has_value());
        EXPECT_EQ(z.error().kind, ErrorKind::InvalidParameter);
    }
    EXPECT_EQ(normal_quantile(1.0).error().text, "normal_quantile: p must be in (0,1), got 1");
    EXPECT_EQ(normal_quantile(std::nan("")).error().text, "normal_quantile: p must be in (0,1), got NaN");
}

}  // namespace
}  // namespace pelun
