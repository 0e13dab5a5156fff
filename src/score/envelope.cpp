#include "score/envelope.hpp"

#include <cmath>

#include "family/gamma_functions.hpp"
#include "linalg/blas.hpp"
#include "linalg/cholesky_inverse.hpp"

namespace pelun {

namespace {

constexpr double kLog2Pi = 1.8378770664093453;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kScaleFloor = 1e-8;

bool is_fixed_scale(FamilyKind family) {
    return family == FamilyKind::Poisson || family == FamilyKind::Bernoulli;
}

// The family term C, which the criterion subtracts; prior weights do not enter.
double family_constant(FamilyKind family, std::span<const double> y, double phi) {
    const double n = static_cast<double>(y.size());
    switch (family) {
        case FamilyKind::Poisson: {
            double c = 0.0;
            for (const double yi : y)
                if (yi > 0.0) c += yi * std::log(yi) - yi;
            return c;
        }
        case FamilyKind::Bernoulli: {
            double c = 0.0;
            for (const double yi : y) {
                if (!(yi > 0.0 && yi < 1.0)) continue;
                const double t = std::min(std::max(yi, 1e-15), 0.999999999999999);
                c += t * std::log(t) + (1.0 - t) * std::log(1.0 - t);
            }
            return c;
        }
        case FamilyKind::InverseGaussian: {
            double c = 0.0;
            for (const double yi : y) c += -0.5 * std::log(kTwoPi * phi) - 1.5 * std::log(std::max(yi, 1e-300));
            return c;
        }
        case FamilyKind::Gamma: {
            double c = 0.0;
            const double inv = 1.0 / phi;
            const double per_obs = -pelun::lgamma(inv) - std::log(phi) / phi - inv;
            for (const double yi : y) c += per_obs - std::log(std::max(yi, 1e-300));
            return c;
        }
        default:  // Gaussian, QuasiPoisson, QuasiBinomial
            return -(n / 2.0) * std::log(kTwoPi * phi);
    }
}

}  // namespace

double gamma_scale_newton(double n, double null_space_dim, double penalized_deviance) {
    const double mp = null_space_dim;
    const double dp = penalized_deviance;
    const auto g = [&](double phi) { return 2.0 * n * (std::log(phi) + pelun::digamma(1.0 / phi)) + dp + mp * phi; };
    const auto g_prime = [&](double phi) {
        return (2.0 * n / phi) * (1.0 - pelun::trigamma(1.0 / phi) / phi) + mp;
    };
    double phi = std::max(dp / (n - mp), kScaleFloor);
    const double tol = (std::abs(dp) + mp + 1.0) * 1e-10;
    for (int update = 0; update < 30; ++update) {
        const double value = g(phi);
        if (std::abs(value) < tol) break;
        const double slope = g_prime(phi);
        if (std::abs(slope) < 1e-15) break;
        double next = phi - value / slope;
        if (std::isnan(next)) next = 0.1 * phi;
        next = std::min(std::max(next, 0.1 * phi), 10.0 * phi);
        next = std::max(next, kScaleFloor);
        if (std::isinf(next)) break;
        if (std::abs(next - phi) < 1e-12 * phi) {
            phi = next;
            break;
        }
        phi = next;
    }
    return std::max(phi, kScaleFloor);
}

ScoreEval score_from_inner_fit(FamilyKind family, const InnerFitResult& fit, std::span<const double> rho,
                               const PenaltySummary& summary, std::span<const double> y) {
    const std::size_t m = summary.penalties.size();
    const Matrix h_inverse = inverse_from_cholesky(fit.chol);

    Vector lambda(m), q(m), t(m);
    double penalty_term = 0.0;  // P = β̂ᵀ S_λ β̂
    double trace_term = 0.0;    // T = tr(H⁻¹ S_λ)
    double half_log_det_penalty = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
        lambda[j] = std::exp(rho[j]);
        const Vector s_beta = matvec(summary.penalties[j], fit.beta);
        q[j] = 0.0;
        for (std::size_t i = 0; i < s_beta.size(); ++i) q[j] += fit.beta[i] * s_beta[i];
        t[j] = trace_of_product(h_inverse, summary.penalties[j]);
        penalty_term += lambda[j] * q[j];
        trace_term += lambda[j] * t[j];
        half_log_det_penalty += static_cast<double>(summary.ranks[j]) * rho[j] + summary.logdets[j];
    }
    half_log_det_penalty *= 0.5;
    const double log_det_h = fit.log_det_h ? *fit.log_det_h : log_det_from_cholesky(fit.chol);
    const double mp = static_cast<double>(summary.null_space_dim);
    const double n = static_cast<double>(fit.n_obs);
    const double deviance = fit.deviance;

    ScoreEval out{0.0, Vector(m, 0.0)};
    // How the scale enters the penalty gradient: 1 for a fixed scale, 1/φ̂ otherwise.
    double penalty_gradient_factor = 1.0;
    if (is_fixed_scale(family)) {
        const double c = family_constant(family, y, 1.0);
        out.value = 0.5 * (deviance + penalty_term) - c + 0.5 * log_det_h - half_log_det_penalty -
                    (mp / 2.0) * kLog2Pi;
    } else {
        const double dp = deviance + penalty_term;
        const double edf = static_cast<double>(fit.n_coef) - trace_term;
        if (deviance <= 0.0 || dp <= 0.0 || edf >= n || n - mp <= 0.0) return {kDegenerateScore, Vector(m, 0.0)};
        const double phi = family == FamilyKind::Gamma ? gamma_scale_newton(n, mp, dp)
                                                       : std::max(dp / std::max(n - mp, 1.0), kScaleFloor);
        const double c = family_constant(family, y, phi);
        out.value = 0.5 * log_det_h + dp / (2.0 * phi) - (mp / 2.0) * std::log(kTwoPi * phi) -
                    half_log_det_penalty - c;
        penalty_gradient_factor = 1.0 / phi;
    }
    for (std::size_t j = 0; j < m; ++j)
        out.gradient[j] = 0.5 * lambda[j] * q[j] * penalty_gradient_factor + 0.5 * lambda[j] * t[j] -
                          0.5 * static_cast<double>(summary.ranks[j]);

    if (fit.gradient_correction && m > 0) {
        const GradientCorrection& correction = *fit.gradient_correction;
        double weight_term = 0.0;
        for (std::size_t i = 0; i < correction.a.size(); ++i)
            weight_term += correction.a[i] * correction.b[i] * correction.c[i];
        out.gradient[0] = 0.5 * lambda[0] * correction.trace0 +
                          0.5 * lambda[0] * q[0] * penalty_gradient_factor -
                          0.5 * static_cast<double>(summary.ranks[0]) + 0.5 * weight_term;
    }
    return out;
}

}  // namespace pelun
