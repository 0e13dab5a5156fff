// Per-observation formulas of the Bernoulli family (logit link), shared by
// the quasi-binomial family, which differs only in its scale.
#pragma once

#include <cmath>

#include "family/clamps.hpp"
#include "family/link.hpp"

namespace pelun {

struct BernoulliTraits {
    using Link = LogitLink;

    // Prior weights play no part in the start.
    static double initial_mean(double y) { return (y + 0.5) / 2.0; }

    // μ(1 − μ) at the same clamped mean m that the link derivative uses, so
    // the working weight V·g′² reduces to m(1 − m) and stays within
    // [~1e-15, 1/4]. With an unclamped μ here a saturated mean (μ = 1.0 from
    // η > 37, or μ below 1e-15) would get a weight of up to 1e270, and the
    // relative ridge of the solve would then swamp every other direction.
    static double variance(double mu) {
        const double m = clamp_probability(mu);
        return at_least(m * (1.0 - m), tiny_positive);
    }

    static double unit_deviance(double y, double mu) {
        const double m = clamp_probability(mu);
        const double from_ones = y > 0.0 ? y * std::log(y / m) : 0.0;
        const double from_zeros = y < 1.0 ? (1.0 - y) * std::log((1.0 - y) / (1.0 - m)) : 0.0;
        return 2.0 * (from_ones + from_zeros);
    }

    static double pearson_term(double y, double mu) {
        const double m = clamp_probability(mu);
        const double r = y - m;
        return r * r / (m * (1.0 - m));
    }
};

}  // namespace pelun
