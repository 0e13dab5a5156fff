// The Gaussian (identity link) inner fit: one penalized solve on
// cross-products formed once per fit.
#pragma once

#include <optional>
#include <span>

#include "inner/inner_fit_result.hpp"
#include "linalg/matrix.hpp"
#include "util/error.hpp"

namespace pelun {

// What the closed form reads. The penalties, X, y and the prior weights are
// borrowed and must outlive every fit; xtwx and xtwy are owned.
struct GaussianProblem {
    std::span<const Matrix> penalties;  // S_1 … S_m, each p × p, m ≥ 1
    const Matrix& x;                    // n × p model matrix
    std::span<const double> y;          // response, length n
    Matrix xtwx;                        // Xᵀ diag(w) X, p × p
    Vector xtwy;                        // Xᵀ diag(w) y, length p
    std::optional<std::span<const double>> prior_weights = std::nullopt;  // length n; absent = ones
};

// The problem with xtwx and xtwy formed by weighted_crossproducts, with the
// prior weights w or ones. Linalg "Invalid shape" when y, w or a penalty do
// not fit X.
Result<GaussianProblem> make_gaussian_problem(
    std::span<const Matrix> penalties, const Matrix& x, std::span<const double> y,
    std::optional<std::span<const double>> prior_weights = std::nullopt);

// β solving (xtwx + S_λ) β = xtwy, S_λ = Σ_j exp(rho[j]) S_j (extra rho
// entries ignored), with μ = η = Xβ and deviance = wrss = Σ w (y − μ)². The
// record holds the prior weights (or ones) as working weights, y as working
// response, the unridged factor of xtwx + S_λ, iterations 1 and converged.
// O(np) per call besides the p × p factorizations.
// Errors: the SingularSystem "Cholesky failed: {}" of penalized_solve,
// unchanged; Linalg "Invalid shape" when the sizes do not agree.
//
// With `CoefficientsOnly` the n-vectors of the record (eta, mu, working
// weights and response) are left empty and the residual sum of squares is
// accumulated row by row without storing μ: what a criterion evaluation
// reads (β, the factor, the deviance, n and p) at a fraction of the memory
// traffic.
enum class ClosedFormOutput { FullRecord, CoefficientsOnly };
Result<InnerFitResult> gaussian_closed_form(const GaussianProblem& problem, std::span<const double> rho,
                                            ClosedFormOutput output = ClosedFormOutput::FullRecord);

}  // namespace pelun
