// The summaries every fit path computes from its final inner fit: effective
// degrees of freedom and the posterior covariance.
#pragma once

#include <span>

#include "inner/inner_fit_result.hpp"
#include "linalg/matrix.hpp"

namespace pelun {

struct FitSummaries {
    Matrix h_inverse;     // (XᵀWX + S_λ)⁻¹ from the final factor
    double edf_total = 0.0;   // tr(H⁻¹ XᵀWX), W the final working weights of the factor
    Vector edf_per_term;  // per penalty: (rows of S_j not entirely zero) − λ_j tr(H⁻¹ S_j)
};

// Summaries of the inner fit `fit` of the model matrix `x` at `rho`.
FitSummaries summarise_inner_fit(const InnerFitResult& fit, const Matrix& x, std::span<const Matrix> penalties,
                                 std::span<const double> rho);

// scale · H⁻¹; H⁻¹ itself when the scale is exactly 1 or NaN.
Matrix posterior_covariance(Matrix h_inverse, double scale);

}  // namespace pelun
