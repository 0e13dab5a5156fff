// The fitted-model record: everything a fit leaves behind, immutable once made.
#pragma once

#include <cstddef>

#include "design/predictor.hpp"
#include "family/link.hpp"
#include "linalg/matrix.hpp"

namespace pelun {

// Fields in declaration order; the serialized form writes them in this order.
struct FittedGam {
    Vector beta;          // p coefficients, intercept first, then the term blocks
    Vector rho;           // T fitted log smoothing parameters
    Vector lambda;        // exp(rho)
    double scale = 1.0;   // dispersion of the fit; may be NaN
    double edf_total = 0.0;   // tr(H⁻¹ XᵀWX), intercept included
    Vector edf_per_term;  // T, intercept excluded
    std::size_t n = 0;    // observations
    std::size_t n_iters = 0;  // outer iterations
    bool converged = false;   // outer search and final inner fit both converged
    double reml_value = 0.0;  // criterion at the returned parameters
    Predictor predictor;  // rebuilds the design at new x
    Matrix vcov;          // p × p posterior covariance, scale · H⁻¹
    LinkKind link_kind = LinkKind::Identity;
    Vector shape_params;  // family shape parameters on their internal scale
};

}  // namespace pelun
