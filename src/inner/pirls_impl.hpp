// Definition of the PIRLS template declared in inner/pirls.hpp. Include it
// only in the source file that instantiates a family's instance.
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>

#include "family/family_ops.hpp"
#include "family/inverse_gaussian.hpp"
#include "inner/inverse_gaussian_information.hpp"
#include "inner/penalized_solve.hpp"
#include "inner/pirls.hpp"
#include "linalg/blas.hpp"
#include "linalg/views.hpp"

namespace pelun {
namespace pirls_detail {

// The family-independent pieces, compiled once in pirls.cpp.

inline constexpr std::size_t max_halvings = 100;

// Linalg "Invalid shape" unless y, the optional vectors, every penalty and
// rho agree with the n × p model matrix.
Result<void> check_shapes(const PirlsProblem& problem, std::span<const double> rho);

// The prior weights, or n ones.
Vector prior_weights_or_ones(const std::optional<std::span<const double>>& weights, std::size_t n);

// A SingularSystem error of an iteration's solve gains the "PIRLS factor: "
// prefix; any other error passes through unchanged.
PelunError wrap_factor_error(PelunError error);

// Largest rise of the penalized deviance that a step may make after the
// first iteration: (|pd_old| + 0.1) · 10 · 2⁻²⁶.
double halving_tolerance(double pd_old);

// Factor of Xᵀ diag(w) X + S_λ with the 1e-12 relative ridge, for a fit in
// which no step was accepted. SingularSystem "Cholesky failed: {}" on failure.
Result<Matrix> fallback_factor(const Matrix& x, std::span<const double> w, const Matrix& s_lambda,
                               Matrix& scratch);

// Σ W_i (z_i − η_i)², in observation order.
double weighted_residual_sum(std::span<const double> weights, std::span<const double> response,
                             std::span<const double> eta);

// Penalized deviance and finiteness of a candidate β.
struct Candidate {
    double deviance = 0.0;
    double penalized = 0.0;
    bool finite = false;
};

// Writes η = Xβ and μ = g⁻¹(η) into the buffers and sums the deviance, all in
// one pass over the observations. The scan stops at the first non-finite η,
// μ or unit deviance (the candidate is rejected whatever follows).
template <FamilyTraits F>
Candidate evaluate_candidate(const F& family, const Matrix& x, std::span<const double> y,
                             std::span<const double> w, const Matrix& s_lambda,
                             std::span<const double> beta, std::span<double> eta,
                             std::span<double> mu) {
    const std::size_t n = x.rows();
    Candidate candidate;
    double total = 0.0;
    // η block by block through the BLAS; each block's means and deviances
    // follow while its rows are in cache, and the sum runs in row order.
    for (std::size_t first = 0; first < n; first += matvec_block_rows) {
        const std::size_t count = std::min(matvec_block_rows, n - first);
        matvec_rows_into(x, first, beta, eta.subspan(first, count));
        for (std::size_t i = first; i < first + count; ++i) {
            const double e = eta[i];
            const double m = F::Link::inverse(e);
            const double d = family.unit_deviance(y[i], m);
            if (!std::isfinite(e) || !std::isfinite(m) || !std::isfinite(d)) return candidate;
            mu[i] = m;
            total += w[i] * d;
        }
    }
    candidate.deviance = total;
    candidate.penalized = total + penalty_quadratic(beta, s_lambda);
    candidate.finite = std::isfinite(candidate.penalized);
    return candidate;
}

}  // namespace pirls_detail

template <FamilyTraits F>
Result<InnerFitResult> pirls(const F& family, const PirlsProblem& problem,
                             std::span<const double> rho) {
    using namespace pirls_detail;
    if (auto shapes = check_shapes(problem, rho); !shapes) return fail(std::move(shapes.error()));

    const Matrix& x = problem.x;
    const std::size_t n = x.rows(), p = x.cols();
    const std::span<const double> y = problem.y;
    const Matrix s_lambda = total_penalty(problem.penalties, rho);
    const Vector w = prior_weights_or_ones(problem.prior_weights, n);

    // Every n-vector of the call is allocated here, once.
    Vector eta(n), mu(n), eta_new(n), mu_new(n);
    Vector working_weights(n, 1.0);
    Vector working_response(y.begin(), y.end());
    Matrix scratch;  // scaled rows for the cross-products, reused by every iteration

    if (problem.eta_start) {
        std::ranges::copy(*problem.eta_start, eta.begin());
    } else {
        initial_mean(family, VectorView(y), mu);
        initial_eta(family, mu, eta);
    }
    inverse_link(family, eta, mu);
    double dev = deviance(family, VectorView(y), mu, w);

    Vector beta(p, 0.0);
    double pd_old = dev;  // the penalty of β = 0 is 0
    double dev_prev = dev;
    std::optional<Matrix> chol;  // factor of the last accepted solve
    std::size_t iterations = 0;
    bool converged = false;

    for (std::size_t k = 0; k < problem.max_iter; ++k) {
        working_values(family, VectorView(y), mu, eta, w, working_weights, working_response);
        WeightedCrossproducts cross =
            weighted_crossproducts(x, working_weights, working_response, scratch);
        for (std::size_t i = 0; i < cross.xtwx.size(); ++i)
            cross.xtwx.data()[i] += s_lambda.data()[i];
        auto solved = penalized_solve(cross.xtwx, cross.xtwz);
        if (!solved) return fail(wrap_factor_error(std::move(solved.error())));

        Vector& beta_new = solved->beta;
        const auto acceptable = [&](const Candidate& c) {
            if (!c.finite) return false;
            // The first step is taken whenever it is finite, even uphill.
            return k == 0 || !(c.penalized - pd_old > halving_tolerance(pd_old));
        };
        Candidate candidate = evaluate_candidate(family, x, y, w, s_lambda, beta_new, eta_new, mu_new);
        // Halving keeps a NaN or infinite coefficient as it is, so such a
        // step is rejected at once with the same outcome as 100 halvings.
        const bool can_halve = std::ranges::all_of(beta_new, [](double b) { return std::isfinite(b); });
        for (std::size_t h = 0; can_halve && h < max_halvings && !acceptable(candidate); ++h) {
            for (std::size_t j = 0; j < p; ++j) beta_new[j] = (beta_new[j] + beta[j]) / 2.0;
            candidate = evaluate_candidate(family, x, y, w, s_lambda, beta_new, eta_new, mu_new);
        }
        if (!acceptable(candidate)) {
            // Keep the last accepted iterate and its factor.
            iterations = k + 1;
            break;
        }

        beta.swap(beta_new);
        eta.swap(eta_new);
        mu.swap(mu_new);
        chol = std::move(solved->chol);
        pd_old = candidate.penalized;
        dev = candidate.deviance;

        // A NaN ratio fails the comparison and so does not converge.
        if (k >= 1 && std::abs(dev_prev - dev) / (std::abs(dev_prev) + 1e-30) < problem.tol) {
            converged = true;
            iterations = k + 1;
            break;
        }
        dev_prev = dev;
        iterations = k + 1;
    }

    if (!chol) {
        auto factor = fallback_factor(x, w, s_lambda, scratch);
        if (!factor) return fail(std::move(factor.error()));
        chol = std::move(*factor);
    }

    InnerFitResult fit;
    fit.wrss = weighted_residual_sum(working_weights, working_response, eta);
    if constexpr (std::same_as<F, InverseGaussianTraits>) {
        // The observed-information terms differentiate along ρ₀.
        auto block = inverse_gaussian_observed_information(
            x, y, w, s_lambda, problem.penalties.front(), std::exp(rho.front()), beta, mu, scratch);
        if (block) {
            fit.log_det_h = block->log_det_h;
            fit.gradient_correction = std::move(block->gradient_correction);
        }
    }
    fit.beta = std::move(beta);
    fit.eta = std::move(eta);
    fit.mu = std::move(mu);
    fit.working_weights = std::move(working_weights);
    fit.working_response = std::move(working_response);
    fit.chol = std::move(*chol);
    fit.deviance = dev;
    fit.n_obs = n;
    fit.n_coef = p;
    fit.iterations = iterations;
    fit.converged = converged;
    return fit;
}

}  // namespace pelun
