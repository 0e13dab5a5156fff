// Properties every standard family must have, checked against finite
// differences of its own deviance and inverse link.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "family/bernoulli.hpp"
#include "family/family_ops.hpp"
#include "family/gamma.hpp"
#include "family/gaussian.hpp"
#include "family/inverse_gaussian.hpp"
#include "family/poisson.hpp"

namespace pelun {
namespace {

// Responses and means inside each family's domain, away from the clamps.
template <class F>
struct Samples;
template <>
struct Samples<GaussianTraits> {
    static inline const std::vector<double> y = {-1.5, 0.0, 2.0};
    static inline const std::vector<double> mu = {-1.0, 0.5, 3.0};
};
template <>
struct Samples<BernoulliTraits> {
    static inline const std::vector<double> y = {0.0, 0.3, 1.0};
    static inline const std::vector<double> mu = {0.1, 0.5, 0.8};
};
template <>
struct Samples<PoissonTraits> {
    static inline const std::vector<double> y = {0.0, 1.0, 3.5};
    static inline const std::vector<double> mu = {0.2, 1.3, 4.0};
};
template <>
struct Samples<GammaTraits> {
    static inline const std::vector<double> y = {0.4, 1.0, 2.5};
    static inline const std::vector<double> mu = {0.3, 1.5, 2.0};
};
template <>
struct Samples<InverseGaussianTraits> {
    static inline const std::vector<double> y = {0.4, 1.0, 2.5};
    static inline const std::vector<double> mu = {0.3, 1.5, 2.0};
};

template <class F>
class StandardFamily : public ::testing::Test {};

using Families = ::testing::Types<GaussianTraits, BernoulliTraits, PoissonTraits, GammaTraits,
                                  InverseGaussianTraits>;
TYPED_TEST_SUITE(StandardFamily, Families);

TYPED_TEST(StandardFamily, UnitDevianceIsZeroAtTheResponseAndPositiveElsewhere) {
    const TypeParam family;
    for (const double y : Samples<TypeParam>::y) {
        // At μ = y; a Bernoulli 0/1 response sits on the clamp and keeps a
        // remainder of order 1e-15.
        EXPECT_NEAR(family.unit_deviance(y, y), 0.0, 1e-14) << "y=" << y;
        for (const double mu : Samples<TypeParam>::mu)
            if (mu != y) {
                EXPECT_GT(family.unit_deviance(y, mu), 0.0) << "y=" << y << " mu=" << mu;
            }
    }
}

// ∂d/∂μ = −2 (y − μ) / V(μ) for every exponential-dispersion family: ties
// the deviance to the variance used in the working weights.
TYPED_TEST(StandardFamily, DevianceSlopeIsTheScaledResidualOverTheVariance) {
    const TypeParam family;
    for (const double y : Samples<TypeParam>::y)
        for (const double mu : Samples<TypeParam>::mu) {
            const double h = 1e-6 * mu + 1e-7;
            const double slope =
                (family.unit_deviance(y, mu + h) - family.unit_deviance(y, mu - h)) / (2.0 * h);
            EXPECT_NEAR(slope * family.variance(mu), -2.0 * (y - mu), 1e-6)
                << "y=" << y << " mu=" << mu;
        }
}

// W (z − η) is the gradient of the weighted log-likelihood −w d / 2 in η,
// and W / w the Fisher information (dμ/dη)² · ½ ∂²d/∂μ² at μ = y. Both are
// differentiated numerically from the deviance and the inverse link only.
TYPED_TEST(StandardFamily, WorkingValuesAreTheScoreAndFisherInformationInEta) {
    using Link = typename TypeParam::Link;
    const TypeParam family;
    const double w = 1.7;
    const auto deviance_at = [&](double y, double eta) {
        return family.unit_deviance(y, Link::inverse(eta));
    };
    for (const double mu : Samples<TypeParam>::mu) {
        const double eta = Link::link(mu);
        const double h = 1e-5;
        const double dmu_deta = (Link::inverse(eta + h) - Link::inverse(eta - h)) / (2.0 * h);
        for (const double y : Samples<TypeParam>::y) {
            SCOPED_TRACE(testing::Message() << "y=" << y << " mu=" << mu);
            const WorkingValue v = working_value(family, y, mu, eta, w);
            const double score = -0.5 * w * (deviance_at(y, eta + h) - deviance_at(y, eta - h)) / (2.0 * h);
            EXPECT_NEAR(v.weight * (v.response - eta), score, 1e-6 * (1.0 + std::abs(score)));
        }
        const double k = 1e-4 * mu + 1e-5;
        const double curvature =
            (family.unit_deviance(mu, mu + k) - 2.0 * family.unit_deviance(mu, mu) +
             family.unit_deviance(mu, mu - k)) / (k * k);
        const WorkingValue v = working_value(family, mu, mu, eta, w);
        const double fisher = w * dmu_deta * dmu_deta * 0.5 * curvature;
        EXPECT_NEAR(v.weight, fisher, 1e-5 * fisher) << "mu=" << mu;
        EXPECT_DOUBLE_EQ(v.response, eta) << "z = η when y = μ";
    }
}

TYPED_TEST(StandardFamily, StartMeanMapsIntoTheDomainOfTheLink) {
    const TypeParam family;
    for (const double y : Samples<TypeParam>::y) {
        const double eta0 = TypeParam::Link::link(family.initial_mean(y));
        EXPECT_TRUE(std::isfinite(eta0)) << "y=" << y;
    }
}

TYPED_TEST(StandardFamily, VectorLoopsAgreeWithTheObservationFormulas) {
    const TypeParam family;
    const std::vector<double>& y = Samples<TypeParam>::y;
    const std::vector<double>& mu = Samples<TypeParam>::mu;
    const std::vector<double> w = {0.5, 2.0, 1.0};
    const std::size_t n = y.size();
    std::vector<double> eta(n), mu0(n), eta0(n), back(n), weights(n), response(n);
    for (std::size_t i = 0; i < n; ++i) eta[i] = TypeParam::Link::link(mu[i]);

    const VectorView yv(y);
    initial_mean(family, yv, mu0);
    initial_eta(family, mu0, eta0);
    inverse_link(family, eta, back);
    working_values(family, yv, mu, eta, w, weights, response);
    double expected_deviance = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(mu0[i], family.initial_mean(y[i]));
        EXPECT_EQ(eta0[i], TypeParam::Link::link(mu0[i]));
        EXPECT_NEAR(back[i], mu[i], 1e-14);
        const WorkingValue v = working_value(family, y[i], mu[i], eta[i], w[i]);
        EXPECT_EQ(weights[i], v.weight);
        EXPECT_EQ(response[i], v.response);
        expected_deviance += w[i] * family.unit_deviance(y[i], mu[i]);
    }
    EXPECT_DOUBLE_EQ(deviance(family, yv, mu, w), expected_deviance);
}

}  // namespace
}  // namespace pelun
