// The families at the ends of their ranges, where the clamps decide.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "family/bernoulli.hpp"
#include "family/family_ops.hpp"
#include "family/gamma.hpp"
#include "family/gaussian.hpp"
#include "family/inverse_gaussian.hpp"
#include "family/poisson.hpp"

namespace pelun {
namespace {

struct DevianceCase {
    const char* name;
    double value;
    double expected;
};

TEST(FamilyClamps, DeviancesAtTheClamps) {
    const double low = 1e-15, high = 0.999999999999999;
    const DevianceCase cases[] = {
        {"bernoulli y=0 mu=0", BernoulliTraits::unit_deviance(0.0, 0.0), 2.0 * std::log(1.0 / (1.0 - low))},
        {"bernoulli y=1 mu=1", BernoulliTraits::unit_deviance(1.0, 1.0), 2.0 * std::log(1.0 / high)},
        {"bernoulli y=1 mu=0", BernoulliTraits::unit_deviance(1.0, 0.0), 2.0 * std::log(1.0 / low)},
        {"bernoulli y=0 mu=-3", BernoulliTraits::unit_deviance(0.0, -3.0), 2.0 * std::log(1.0 / (1.0 - low))},
        {"poisson y=0 mu=0", PoissonTraits::unit_deviance(0.0, 0.0), 2e-300},
        {"poisson y=0 mu=2.5", PoissonTraits::unit_deviance(0.0, 2.5), 5.0},
        {"poisson y=0 mu subnormal", PoissonTraits::unit_deviance(0.0, 1e-320), 2e-300},
        {"poisson y=2 mu=0", PoissonTraits::unit_deviance(2.0, 0.0), 2.0 * (2.0 * std::log(2.0 / 1e-300) - 2.0)},
        {"gamma y=0 floored", GammaTraits::unit_deviance(0.0, 1.0), 2.0 * (std::log(1.0 / 1e-300) - 1.0)},
        {"inverse gaussian y=0 floored", InverseGaussianTraits::unit_deviance(0.0, 1.0), 1.0 / 1e-300},
    };
    for (const DevianceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(std::isfinite(c.value));
        EXPECT_NEAR(c.value, c.expected, 1e-13 * std::abs(c.expected));
    }
}

TEST(FamilyClamps, StartValues) {
    // Poisson starts every y below 0.1, zero included, at 0.1.
    EXPECT_EQ(PoissonTraits::initial_mean(0.0), 0.1);
    EXPECT_EQ(PoissonTraits::initial_mean(0.05), 0.1);
    EXPECT_EQ(PoissonTraits::initial_mean(0.2), 0.2);
    EXPECT_EQ(GammaTraits::initial_mean(1e-5), 0.001);
    EXPECT_EQ(InverseGaussianTraits::initial_mean(4.0), 4.0);
    // Bernoulli shrinks towards 1/2: 0 → 1/4, 1 → 3/4, so η0 = ∓log 3.
    EXPECT_EQ(BernoulliTraits::initial_mean(0.0), 0.25);
    EXPECT_EQ(BernoulliTraits::initial_mean(1.0), 0.75);
    EXPECT_NEAR(BernoulliTraits::Link::link(BernoulliTraits::initial_mean(1.0)), std::log(3.0), 1e-15);
}

// At means where the clamps bind, the working quantities stay finite and the
// weights non-negative.
template <class F>
void expect_finite_working_values(const std::vector<double>& ys, const std::vector<double>& mus) {
    const F family;
    for (const double y : ys)
        for (const double mu : mus) {
            const WorkingValue v = working_value(family, y, mu, F::Link::link(mu), 1.0);
            EXPECT_TRUE(std::isfinite(v.weight) && v.weight >= 0.0) << "y=" << y << " mu=" << mu;
            EXPECT_TRUE(std::isfinite(v.response)) << "y=" << y << " mu=" << mu;
        }
}

TEST(FamilyClamps, WorkingValuesStayFiniteAtExtremeMeans) {
    expect_finite_working_values<PoissonTraits>({0.0, 3.0}, {0.0, 1e-300, 1e-200, 1e100});
    expect_finite_working_values<GammaTraits>({0.5, 3.0}, {1e-300, 1e-200, 1e100});
    expect_finite_working_values<InverseGaussianTraits>({0.5, 3.0}, {1e-300, 1e-120, 1e60});
    expect_finite_working_values<BernoulliTraits>({0.0, 1.0}, {0.0, 1e-300, 1e-20, 1.0 - 1e-16, 1.0});
    expect_finite_working_values<GaussianTraits>({-1e10, 2.0}, {-1e300, 1e300});
}

// With the general formula W = w / (V g′²) and the floors, the Poisson weight
// underflows to 0 once g′² overflows, not to the simplified w·max(μ, 1e-300).
// w / (V·g′²) is evaluated without forming g′², which would overflow for a
// mean below 1e-154 (and underflow above 1e154) and turn the weight into 0 or inf.
TEST(FamilyClamps, PoissonWeightFollowsTheGeneralFormulaAtExtremeMeans) {
    EXPECT_NEAR(working_value(PoissonTraits{}, 1.0, 1e-200, std::log(1e-200), 1.0).weight, 1e-200, 1e-213);
    EXPECT_NEAR(working_value(PoissonTraits{}, 1.0, 1e200, std::log(1e200), 1.0).weight, 1e200, 1e187);
    EXPECT_NEAR(working_value(PoissonTraits{}, 1.0, 1e-100, std::log(1e-100), 2.0).weight, 2e-100, 1e-113);
}

// The Bernoulli weight is w·μ(1 − μ) inside the clamps and stays within
// [w·m(1 − m), w/4] for saturated means: a mean of exactly 1.0 (any η above
// about 37) or exactly 0 must not produce a huge weight.
TEST(FamilyClamps, BernoulliWeightStaysBoundedWhenTheMeanSaturates) {
    const double w = 3.0;
    for (const double mu : {0.3, 0.01, 1e-6, 1e-12, 0.999}) {
        const double eta = LogitLink::link(mu);
        EXPECT_NEAR(working_value(BernoulliTraits{}, 1.0, mu, eta, w).weight, w * mu * (1.0 - mu),
                    1e-12 * w * mu);
    }
    const double floor_weight = w * 1e-15 * (1.0 - 1e-15);
    for (const double eta : {-40.0, -100.0, -800.0, 37.0, 40.0, 800.0}) {
        const double mu = LogitLink::inverse(eta);
        const double weight = working_value(BernoulliTraits{}, eta > 0 ? 1.0 : 0.0, mu, eta, w).weight;
        SCOPED_TRACE(eta);
        EXPECT_GT(weight, 0.0);
        EXPECT_LE(weight, 1.01 * floor_weight);
    }
}

}  // namespace
}  // namespace pelun
