// The family operations over whole vectors, written once over a traits type
// (family/family_traits.hpp) so that each family's formulas are inlined into
// the loops. y is the response as a (possibly strided) view of caller data;
// every other vector is contiguous and has the length n of y.
#pragma once

#include <cassert>
#include <limits>
#include <span>

#include "family/clamps.hpp"
#include "family/family_traits.hpp"
#include "linalg/views.hpp"

namespace pelun {

// Working weight W and working response z of one observation:
// W = w / (V(μ) g′(μ)²) and z = η + g′(μ)(y − μ), V and g′ under their
// clamps; the residual y − μ uses the unclamped μ.
struct WorkingValue {
    double weight;
    double response;
};

template <FamilyTraits F>
inline WorkingValue working_value(const F& family, double y, double mu, double eta, double w) {
    const double v = family.variance(mu);
    const double gp = F::Link::derivative(mu);
    // w / (V·g′²), divided by g′ twice rather than by its square so that an
    // extreme mean (g′² under- or overflowing) still gives the finite weight.
    return {w / (v * gp) / gp, eta + gp * (y - mu)};
}

// mu0[i] = start mean of y[i]. A family whose start depends on the whole
// response provides its own overload.
template <FamilyTraits F>
void initial_mean(const F& family, VectorView y, std::span<double> mu0) {
    assert(mu0.size() == y.size());
    for (std::size_t i = 0; i < mu0.size(); ++i) mu0[i] = family.initial_mean(y[i]);
}

// eta0[i] = g(mu0[i]) with the link's start guard (log of the floored mean,
// logit of the clamped mean).
template <FamilyTraits F>
void initial_eta(const F& /*family*/, std::span<const double> mu0, std::span<double> eta0) {
    assert(eta0.size() == mu0.size());
    for (std::size_t i = 0; i < eta0.size(); ++i) eta0[i] = F::Link::link(mu0[i]);
}

// mu[i] = g⁻¹(eta[i]).
template <FamilyTraits F>
void inverse_link(const F& /*family*/, std::span<const double> eta, std::span<double> mu) {
    assert(mu.size() == eta.size());
    for (std::size_t i = 0; i < mu.size(); ++i) mu[i] = F::Link::inverse(eta[i]);
}

// Σ w[i] d(y[i], mu[i]), summed in observation order.
template <FamilyTraits F>
double deviance(const F& family, VectorView y, std::span<const double> mu,
                std::span<const double> w) {
    assert(mu.size() == y.size() && w.size() == y.size());
    double total = 0.0;
    for (std::size_t i = 0; i < mu.size(); ++i) total += w[i] * family.unit_deviance(y[i], mu[i]);
    return total;
}

// Working weights and working responses of every observation, written into
// `weights` and `response` (length n each).
template <FamilyTraits F>
void working_values(const F& family, VectorView y, std::span<const double> mu,
                    std::span<const double> eta, std::span<const double> w,
                    std::span<double> weights, std::span<double> response) {
    const std::size_t n = y.size();
    assert(mu.size() == n && eta.size() == n && w.size() == n);
    assert(weights.size() == n && response.size() == n);
    for (std::size_t i = 0; i < n; ++i) {
        const WorkingValue v = working_value(family, y[i], mu[i], eta[i], w[i]);
        weights[i] = v.weight;
        response[i] = v.response;
    }
}

// Pearson scale estimate Σ w[i] (y[i] − μ̃[i])² / V(μ̃[i]) / (n − tau), tau
// being the total effective degrees of freedom. NaN (quiet) when n − tau is
// not positive. This overload takes every prior weight as 1.
template <FamilyTraits F>
double pearson_scale(const F& family, VectorView y, std::span<const double> mu, double tau) {
    assert(mu.size() == y.size());
    const double residual_df = static_cast<double>(y.size()) - tau;
    if (residual_df <= 0.0) return std::numeric_limits<double>::quiet_NaN();
    double statistic = 0.0;
    for (std::size_t i = 0; i < mu.size(); ++i) statistic += family.pearson_term(y[i], mu[i]);
    return statistic / residual_df;
}

// The same with prior weights w (length n).
template <FamilyTraits F>
double pearson_scale(const F& family, VectorView y, std::span<const double> mu,
                     std::span<const double> w, double tau) {
    assert(mu.size() == y.size() && w.size() == y.size());
    const double residual_df = static_cast<double>(y.size()) - tau;
    if (residual_df <= 0.0) return std::numeric_limits<double>::quiet_NaN();
    double statistic = 0.0;
    for (std::size_t i = 0; i < mu.size(); ++i)
        statistic += w[i] * family.pearson_term(y[i], mu[i]);
    return statistic / residual_df;
}

}  // namespace pelun
