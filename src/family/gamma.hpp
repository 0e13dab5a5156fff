// Per-observation formulas of the Gamma family (log link, V = μ²).
#pragma once

#include <cmath>

#include "family/clamps.hpp"
#include "family/link.hpp"

namespace pelun {

struct GammaTraits {
    using Link = LogLink;

    static double initial_mean(double y) { return at_least(y, 0.001); }
    static double variance(double mu) { return at_least(mu * mu, tiny_positive); }

    // The response check keeps y > 0; the floor on y only guards the logarithm.
    static double unit_deviance(double y, double mu) {
        const double yc = at_least(y, tiny_positive);
        const double m = at_least(mu, tiny_positive);
        return 2.0 * (std::log(m / yc) + (yc - m) / m);
    }

    static double pearson_term(double y, double mu) {
        const double m = at_least(mu, tiny_positive);
        const double r = y - m;
        return r * r / (m * m);
    }
};

}  // namespace pelun
