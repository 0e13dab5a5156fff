#include "family/link.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace pelun {
namespace {

// Central difference of μ = g⁻¹(η) in η.
template <class Link>
double inverse_slope(double eta) {
    const double h = 1e-4;
    return (Link::inverse(eta + h) - Link::inverse(eta - h)) / (2.0 * h);
}

template <class Link>
void expect_round_trip_and_slope(const std::vector<double>& etas) {
    for (const double eta : etas) {
        SCOPED_TRACE(eta);
        const double mu = Link::inverse(eta);
        EXPECT_NEAR(Link::link(mu), eta, 1e-12 * std::max(1.0, std::abs(eta)));
        // g′(μ) is the reciprocal of dμ/dη.
        EXPECT_NEAR(Link::derivative(mu) * inverse_slope<Link>(eta), 1.0, 1e-7);
    }
}

TEST(Link, RoundTripAndDerivativeAgreeWithFiniteDifferences) {
    const std::vector<double> etas = {-8.0, -2.5, -0.3, 0.0, 0.7, 3.0, 9.0};
    {
        SCOPED_TRACE("identity");
        expect_round_trip_and_slope<IdentityLink>(etas);
    }
    {
        SCOPED_TRACE("log");
        expect_round_trip_and_slope<LogLink>(etas);
    }
    {
        SCOPED_TRACE("logit");
        expect_round_trip_and_slope<LogitLink>(etas);
    }
}

TEST(Link, LogitInverseNeverOverflows) {
    EXPECT_EQ(LogitLink::inverse(800.0), 1.0);
    const double tiny = LogitLink::inverse(-800.0);
    EXPECT_GE(tiny, 0.0);
    EXPECT_LT(tiny, std::numeric_limits<double>::min());
    // The two branches meet at 0 and are symmetric: g⁻¹(−η) = 1 − g⁻¹(η).
    EXPECT_EQ(LogitLink::inverse(0.0), 0.5);
    for (const double eta : {0.1, 1.0, 5.0, 20.0})
        EXPECT_NEAR(LogitLink::inverse(-eta), 1.0 - LogitLink::inverse(eta), 2.5e-16);
}

TEST(Link, ClampsAtTheEndsOfTheRange) {
    // Log: the mean is floored at 1e-300 in both the start guard and g′.
    EXPECT_EQ(LogLink::link(0.0), std::log(1e-300));
    EXPECT_EQ(LogLink::derivative(0.0), 1.0 / 1e-300);
    EXPECT_EQ(LogLink::derivative(-5.0), 1.0 / 1e-300);
    // Logit: the mean is clamped to [1e-15, 0.999999999999999].
    const double low = 1e-15, high = 0.999999999999999;
    EXPECT_EQ(LogitLink::link(0.0), std::log(low / (1.0 - low)));
    EXPECT_EQ(LogitLink::link(1.0), std::log(high / (1.0 - high)));
    EXPECT_EQ(LogitLink::derivative(0.0), 1.0 / (low * (1.0 - low)));
    EXPECT_EQ(LogitLink::derivative(1.0), 1.0 / (high * (1.0 - high)));
    EXPECT_TRUE(std::isfinite(LogitLink::derivative(0.0)));
    // NaN is not clamped away.
    EXPECT_TRUE(std::isnan(LogLink::derivative(std::nan(""))));
    EXPECT_TRUE(std::isnan(LogitLink::link(std::nan(""))));
}

TEST(Link, RuntimeDispatchMatchesTheLinkTypes) {
    const std::vector<double> eta = {-3.0, -0.5, 0.0, 2.0, 40.0};
    std::vector<double> mu(eta.size());
    inverse_link(LinkKind::Logit, eta, mu);
    for (std::size_t i = 0; i < eta.size(); ++i) {
        EXPECT_EQ(mu[i], LogitLink::inverse(eta[i]));
        EXPECT_EQ(inverse_link(LinkKind::Log, eta[i]), std::exp(eta[i]));
        EXPECT_EQ(inverse_link(LinkKind::Identity, eta[i]), eta[i]);
    }
}

TEST(Link, NamesRoundTrip) {
    for (const LinkKind link : {LinkKind::Identity, LinkKind::Log, LinkKind::Logit})
        EXPECT_EQ(link_kind_from_name(link_kind_name(link)), link);
    EXPECT_EQ(link_kind_name(LinkKind::Logit), "Logit");
    EXPECT_EQ(link_kind_from_name("logit"), std::nullopt);
}

}  // namespace
}  // namespace pelun
