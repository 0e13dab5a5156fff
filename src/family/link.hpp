// Link functions: the `LinkKind` enumeration kept by a fitted model, and one
// traits struct per link with the inline per-observation formulas.
#pragma once

#include <cmath>
#include <optional>
#include <span>
#include <string_view>

#include "family/clamps.hpp"

namespace pelun {

// Member order is fixed (it is the member's index in the fitted-model record).
enum class LinkKind { Identity, Log, Logit };

// "Identity", "Log", "Logit": the member names used when a model is written out.
std::string_view link_kind_name(LinkKind link);
// The inverse of link_kind_name; nullopt for any other text.
std::optional<LinkKind> link_kind_from_name(std::string_view name);

// Each link provides, as static functions:
//   link(mu)       η = g(μ), with the guard used for start values,
//   inverse(eta)   μ = g⁻¹(η),
//   derivative(mu) g′(μ) under the clamps used by the working quantities.

struct IdentityLink {
    static constexpr LinkKind kind = LinkKind::Identity;
    static double link(double mu) { return mu; }
    static double inverse(double eta) { return eta; }
    static double derivative(double /*mu*/) { return 1.0; }
};

struct LogLink {
    static constexpr LinkKind kind = LinkKind::Log;
    static double link(double mu) { return std::log(at_least(mu, tiny_positive)); }
    static double inverse(double eta) { return std::exp(eta); }
    static double derivative(double mu) { return 1.0 / at_least(mu, tiny_positive); }
};

struct LogitLink {
    static constexpr LinkKind kind = LinkKind::Logit;
    static double link(double mu) {
        const double m = clamp_probability(mu);
        return std::log(m / (1.0 - m));
    }
    // Two branches so that exp never sees a positive argument: η = 800 gives
    // exactly 1 and η = -800 underflows quietly to 0.
    static double inverse(double eta) {
        if (eta >= 0.0) return 1.0 / (1.0 + std::exp(-eta));
        const double e = std::exp(eta);
        return e / (1.0 + e);
    }
    static double derivative(double mu) {
        const double m = clamp_probability(mu);
        return 1.0 / (m * (1.0 - m));
    }
};

// μ = g⁻¹(η) for a link known only at run time (response-scale predictions).
double inverse_link(LinkKind link, double eta);
// Element-wise mu[i] = g⁻¹(eta[i]); mu must have the length of eta.
void inverse_link(LinkKind link, std::span<const double> eta, std::span<double> mu);

}  // namespace pelun
