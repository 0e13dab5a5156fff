// Per-observation formulas of the Gaussian family (identity link, V = 1).
#pragma once

#include "family/link.hpp"

namespace pelun {

struct GaussianTraits {
    using Link = IdentityLink;

    // The Gaussian fit is closed-form and needs no start; the response itself
    // is the start an identity-link iteration would use.
    static double initial_mean(double y) { return y; }
    static double variance(double /*mu*/) { return 1.0; }
    static double unit_deviance(double y, double mu) {
        const double r = y - mu;
        return r * r;
    }
    static double pearson_term(double y, double mu) { return unit_deviance(y, mu); }
};

}  // namespace pelun
