// Per-observation formulas of the Poisson family (log link), shared by the
// quasi-Poisson family, which differs only in its scale.
#pragma once

#include <cmath>

#include "family/clamps.hpp"
#include "family/link.hpp"

namespace pelun {

struct PoissonTraits {
    using Link = LogLink;

    // Every response below 0.1, zero included, starts at 0.1.
    static double initial_mean(double y) { return at_least(y, 0.1); }
    static double variance(double mu) { return at_least(mu, tiny_positive); }

    static double unit_deviance(double y, double mu) {
        const double m = at_least(mu, tiny_positive);
        if (y > 0.0) return 2.0 * (y * std::log(y / m) - (y - m));
        return 2.0 * m;
    }

    static double pearson_term(double y, double mu) {
        const double m = at_least(mu, tiny_positive);
        const double r = y - m;
        return r * r / m;
    }
};

}  // namespace pelun
