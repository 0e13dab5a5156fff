// Per-observation formulas of the inverse Gaussian family (log link, V = μ³).
#pragma once

#include <cmath>

#include "family/clamps.hpp"
#include "family/link.hpp"

namespace pelun {

struct InverseGaussianTraits {
    using Link = LogLink;

    static double initial_mean(double y) { return at_least(y, 0.001); }
    static double variance(double mu) { return at_least(mu * mu * mu, tiny_positive); }

    // Unlike the other families this deviance carries no factor 2.
    static double unit_deviance(double y, double mu) {
        const double yc = at_least(y, tiny_positive);
        const double m = at_least(mu, tiny_positive);
        const double r = yc - m;
        return r * r / (yc * (m * m));
    }

    static double pearson_term(double y, double mu) {
        const double m = at_least(mu, tiny_positive);
        const double r = y - m;
        return r * r / (m * m * m);
    }
};

}  // namespace pelun
