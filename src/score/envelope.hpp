// The Laplace-approximate REML / LAML criterion in log smoothing parameters
// and its envelope gradient, evaluated from one inner fit.
#pragma once

#include <cstddef>
#include <span>

#include "family/family.hpp"
#include "inner/inner_fit_result.hpp"
#include "linalg/matrix.hpp"
#include "score/score_eval.hpp"

namespace pelun {

// What the criterion reads from the design.
struct PenaltySummary {
    std::span<const Matrix> penalties;     // m penalties, p × p each
    std::span<const std::size_t> ranks;    // rank of each penalty
    std::span<const double> logdets;       // log pseudo-determinant of each penalty
    std::size_t null_space_dim = 0;        // unpenalized dimension Mp
};

// The value returned for a degenerate estimated-scale configuration (no
// residual deviance or degrees of freedom): large, with a zero gradient, so
// the outer line search rejects such points.
inline constexpr double kDegenerateScore = 1e12;

// The criterion at `rho` for the standard families (not ELF or the shape
// families), from the inner fit `fit` at that `rho`. The family chooses the
// scale rule (fixed at 1 for Poisson and Bernoulli, profiled for the
// Gaussian-type families, a Newton solve for Gamma) and the constant term C,
// which reads the response `y`. The inverse-Gaussian fit's
// `gradient_correction` replaces gradient component 0.
ScoreEval score_from_inner_fit(FamilyKind family, const InnerFitResult& fit, std::span<const double> rho,
                               const PenaltySummary& penalties, std::span<const double> y);

// The Gamma scale: the root of
// g(φ) = 2n(log φ + ψ(1/φ)) + D_p + Mp·φ by at most 30 safeguarded Newton
// updates from max(D_p/(n − Mp), 1e-8); never below 1e-8.
double gamma_scale_newton(double n, double null_space_dim, double penalized_deviance);

}  // namespace pelun
