// The observed-information block of the inverse Gaussian fit: log|H^N| of the
// Newton (observed) penalized Hessian and the terms that give the derivative
// of ½·log|H^N| with respect to the first log smoothing parameter.
#pragma once

#include <optional>
#include <span>

#include "inner/inner_fit_result.hpp"
#include "linalg/matrix.hpp"

namespace pelun {

struct ObservedInformation {
    double log_det_h = 0.0;  // Σ log|eigenvalue of H^N|
    GradientCorrection gradient_correction;
};

// At the fitted coefficients `beta` (means `mu`, model matrix `x`, response y,
// prior weights w, total penalty S_λ), with H^N = Σᵢ W^N_i xᵢxᵢᵀ + S_λ the
// Hessian of ½(deviance + βᵀS_λβ):
//   log_det_h   Σ log|eigenvalue| of H^N (H^N may be indefinite),
//   trace0      tr((H^N)⁻¹ S₀),
//   a_i         xᵢᵀ (H^N)⁻¹ xᵢ,
//   b_i         ∂W^N_i/∂η_i,
//   c_i         xᵢᵀ ∂β̂/∂ρ₀ = −λ₀ xᵢᵀ (H^N)⁻¹ S₀ β̂,
// so that ½·λ₀·trace0 + ½·Σᵢ aᵢbᵢcᵢ = ∂(½·log|H^N|)/∂ρ₀ along the fitted path
// β̂(ρ), where S₀ = `s0` and λ₀ = `lambda0` = exp(ρ₀).
// nullopt when a Newton weight is not finite, the eigen-decomposition fails,
// or an eigenvalue is not finite or below 1e-300 in magnitude.
// `scratch` is working storage for the cross-product (see
// weighted_crossproducts).
std::optional<ObservedInformation> inverse_gaussian_observed_information(
    const Matrix& x, std::span<const double> y, std::span<const double> w, const Matrix& s_lambda,
    const Matrix& s0, double lambda0, std::span<const double> beta, std::span<const double> mu,
    Matrix& scratch);

}  // namespace pelun
