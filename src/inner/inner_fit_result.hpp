// The record every inner fit (coefficients at fixed smoothing parameters)
// returns to the criterion and the fit drivers.
#pragma once

#include <cstddef>
#include <optional>

#include "linalg/matrix.hpp"

namespace pelun {

// The observed-information terms of the inverse-Gaussian fit that correct the
// first gradient component of the criterion: trace0 replaces tr(H⁻¹S₀), and
// ½·Σᵢ aᵢbᵢcᵢ adds the dependence of the working weights on ρ₀.
struct GradientCorrection {
    double trace0 = 0.0;
    Vector a;
    Vector b;
    Vector c;
};

struct InnerFitResult {
    std::optional<double> log_det_h;  // inverse Gaussian only
    Vector beta;                      // p
    Vector eta;                       // n, X·beta
    Vector mu;                        // n, inverse link of eta
    Vector working_weights;           // n, W of the last iteration
    Vector working_response;          // n, z of the last iteration
    Matrix chol;                      // p × p lower factor of XᵀWX + S_λ
    double deviance = 0.0;            // unpenalized
    double wrss = 0.0;                // Σ W (z − η)²
    std::size_t n_obs = 0;
    std::size_t n_coef = 0;
    std::size_t iterations = 0;       // iterations begun
    std::optional<GradientCorrection> gradient_correction;  // inverse Gaussian only
    bool converged = false;
};

}  // namespace pelun
