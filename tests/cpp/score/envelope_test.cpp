#include "score/envelope.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "family/gamma_functions.hpp"
#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

// A small Gaussian problem: X = [1 | x | x² | x³ | sin(3x)], two penalties on
// disjoint blocks (columns 1–2 and 3–4), y a smooth signal plus noise.
struct GaussianFixture {
    Matrix x;
    Vector y;
    std::vector<Matrix> penalties;
    std::vector<std::size_t> ranks{2, 2};
    std::vector<double> logdets;
    std::size_t null_space_dim = 1;

    GaussianFixture() : x(40, 5), y(40), penalties(2, Matrix(5, 5)) {
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(0.0, 0.3);
        for (std::size_t i = 0; i < 40; ++i) {
            const double t = -1.0 + 2.0 * static_cast<double>(i) / 39.0;
            x(i, 0) = 1.0;
            x(i, 1) = t;
            x(i, 2) = t * t;
            x(i, 3) = t * t * t;
            x(i, 4) = std::sin(3 * t);
            y[i] = std::cos(2 * t) + noise(rng);
        }
        penalties[0](1, 1) = 2.0;
        penalties[0](2, 2) = 0.5;
        penalties[0](1, 2) = penalties[0](2, 1) = 0.3;
        penalties[1](3, 3) = 1.0;
        penalties[1](4, 4) = 3.0;
        logdets = {std::log(2.0 * 0.5 - 0.09), std::log(3.0)};
    }

    PenaltySummary summary() const { return {penalties, ranks, logdets, null_space_dim}; }

    // The exact penalized least-squares fit at rho, by a dense solve.
    InnerFitResult fit(const Vector& rho) const {
        Matrix h = crossprod(x);
        for (std::size_t j = 0; j < 2; ++j)
            for (std::size_t i = 0; i < h.size(); ++i) h.data()[i] += std::exp(rho[j]) * penalties[j].data()[i];
        InnerFitResult out;
        out.beta = *lu_solve(h, matvec_t(x, y));
        out.chol = *cholesky_lower(h);
        const Vector mu = matvec(x, out.beta);
        for (std::size_t i = 0; i < y.size(); ++i) out.deviance += (y[i] - mu[i]) * (y[i] - mu[i]);
        out.n_obs = y.size();
        out.n_coef = 5;
        return out;
    }

    double value(const Vector& rho) const {
        return score_from_inner_fit(FamilyKind::Gaussian, fit(rho), rho, summary(), y).value;
    }
};

TEST(EnvelopeScore, GaussianGradientIsTheDerivativeOfTheValue) {
    // With a Gaussian likelihood the working weights do not depend on ρ and
    // the scale is profiled, so the envelope gradient is exact.
    const GaussianFixture f;
    for (const Vector& rho : {Vector{0.0, 0.0}, Vector{-1.5, 2.0}, Vector{3.0, -0.5}}) {
        const ScoreEval eval = score_from_inner_fit(FamilyKind::Gaussian, f.fit(rho), rho, f.summary(), f.y);
        ASSERT_EQ(eval.gradient.size(), 2u);
        for (std::size_t j = 0; j < 2; ++j) {
            Vector up = rho, down = rho;
            const double h = 1e-5;
            up[j] += h;
            down[j] -= h;
            const double numeric = (f.value(up) - f.value(down)) / (2 * h);
            EXPECT_NEAR(eval.gradient[j], numeric, 1e-6 * (1 + std::abs(numeric))) << j;
        }
    }
}

TEST(EnvelopeScore, GaussianValueIsTheProfiledRestrictedLikelihood) {
    // ½log|H| + D_p/(2φ̂) + ((n − Mp)/2)·log(2πφ̂) − ½Σ(r_j ρ_j + ℓ_j), φ̂ = D_p/(n − Mp).
    const GaussianFixture f;
    const Vector rho{0.5, -0.25};
    const InnerFitResult fit = f.fit(rho);
    double dp = fit.deviance;
    for (std::size_t j = 0; j < 2; ++j) {
        const Vector sb = matvec(f.penalties[j], fit.beta);
        for (std::size_t i = 0; i < 5; ++i) dp += std::exp(rho[j]) * fit.beta[i] * sb[i];
    }
    double log_det_h = 0.0;
    for (std::size_t i = 0; i < 5; ++i) log_det_h += 2 * std::log(fit.chol(i, i));
    const double phi = dp / 39.0;
    const double expected = 0.5 * log_det_h + dp / (2 * phi) + 19.5 * std::log(2 * M_PI * phi) -
                            0.5 * (2 * rho[0] + f.logdets[0] + 2 * rho[1] + f.logdets[1]);
    EXPECT_NEAR(f.value(rho), expected, 1e-10);
}

TEST(EnvelopeScore, DegenerateEstimatedScaleGivesTheSentinel) {
    const GaussianFixture f;
    InnerFitResult perfect = f.fit({0.0, 0.0});
    perfect.deviance = 0.0;
    for (const FamilyKind family : {FamilyKind::Gaussian, FamilyKind::Gamma, FamilyKind::QuasiPoisson}) {
        const ScoreEval eval = score_from_inner_fit(family, perfect, Vector{0.0, 0.0}, f.summary(), f.y);
        EXPECT_EQ(eval.value, kDegenerateScore);
        EXPECT_EQ(eval.gradient, Vector(2, 0.0));
    }
    // n no larger than the null space
    GaussianFixture small;
    small.null_space_dim = 40;
    const ScoreEval eval = score_from_inner_fit(FamilyKind::Gaussian, small.fit({0.0, 0.0}), Vector{0.0, 0.0},
                                                small.summary(), small.y);
    EXPECT_EQ(eval.value, kDegenerateScore);
}

TEST(EnvelopeScore, StoredLogDeterminantAndGradientCorrection) {
    const GaussianFixture f;
    const Vector rho{0.2, 0.4};
    InnerFitResult fit = f.fit(rho);
    const ScoreEval plain = score_from_inner_fit(FamilyKind::InverseGaussian, fit, rho, f.summary(), f.y);

    fit.log_det_h = 7.0;
    double from_factor = 0.0;
    for (std::size_t i = 0; i < 5; ++i) from_factor += 2 * std::log(fit.chol(i, i));
    const ScoreEval stored = score_from_inner_fit(FamilyKind::InverseGaussian, fit, rho, f.summary(), f.y);
    EXPECT_NEAR(stored.value - plain.value, 0.5 * (7.0 - from_factor), 1e-10);

    fit.gradient_correction = GradientCorrection{0.75, {1.0, 2.0}, {0.5, 0.25}, {2.0, -4.0}};
    const ScoreEval corrected = score_from_inner_fit(FamilyKind::InverseGaussian, fit, rho, f.summary(), f.y);
    EXPECT_EQ(corrected.gradient[1], plain.gradient[1]);
    // trace0 replaces t₀ and ½Σ aᵢbᵢcᵢ = ½(1 − 2) is added.
    Matrix h = crossprod(f.x);
    for (std::size_t j = 0; j < 2; ++j)
        for (std::size_t i = 0; i < h.size(); ++i) h.data()[i] += std::exp(rho[j]) * f.penalties[j].data()[i];
    const Matrix hinv = *lu_solve(h, Matrix::identity(5));
    double t0 = 0.0;
    for (std::size_t i = 0; i < 25; ++i) t0 += hinv.data()[i] * f.penalties[0].data()[i];
    EXPECT_NEAR(corrected.gradient[0] - plain.gradient[0], 0.5 * std::exp(rho[0]) * (0.75 - t0) + 0.5 * (-1.0),
                1e-10);
}

TEST(EnvelopeScore, FixedScaleConstantsVanishForBoundaryResponses) {
    // Poisson with all y = 0 and Bernoulli with 0/1 responses have C = 0, so
    // their values differ only through D.
    const GaussianFixture f;
    InnerFitResult fit = f.fit({0.0, 0.0});
    const Vector zeros(40, 0.0);
    Vector zero_one(40, 0.0);
    for (std::size_t i = 0; i < 40; i += 2) zero_one[i] = 1.0;
    const double poisson = score_from_inner_fit(FamilyKind::Poisson, fit, Vector{0.0, 0.0}, f.summary(), zeros).value;
    const double bernoulli =
        score_from_inner_fit(FamilyKind::Bernoulli, fit, Vector{0.0, 0.0}, f.summary(), zero_one).value;
    EXPECT_EQ(poisson, bernoulli);
    // A response strictly inside (0, 1) contributes ỹ log ỹ + (1 − ỹ) log(1 − ỹ).
    Vector half = zero_one;
    half[1] = 0.25;
    const double shifted = score_from_inner_fit(FamilyKind::Bernoulli, fit, Vector{0.0, 0.0}, f.summary(), half).value;
    EXPECT_NEAR(shifted - bernoulli, -(0.25 * std::log(0.25) + 0.75 * std::log(0.75)), 1e-12);
}

double gamma_g(double phi, double n, double mp, double dp) {
    return 2 * n * (std::log(phi) + digamma(1 / phi)) + dp + mp * phi;
}

TEST(GammaScaleNewton, FindsTheRootOfTheScaleEquation) {
    struct Case {
        double n, mp, dp;
    };
    for (const Case c : {Case{100, 3, 12.0}, Case{20, 2, 40.0}, Case{500, 10, 3.0}}) {
        const double phi = gamma_scale_newton(c.n, c.mp, c.dp);
        // Independent root by bisection on a bracket where g changes sign.
        double lo = 1e-6, hi = 1e3;
        ASSERT_LT(gamma_g(lo, c.n, c.mp, c.dp) * gamma_g(hi, c.n, c.mp, c.dp), 0.0);
        for (int i = 0; i < 200; ++i) {
            const double mid = 0.5 * (lo + hi);
            (gamma_g(mid, c.n, c.mp, c.dp) * gamma_g(lo, c.n, c.mp, c.dp) > 0 ? lo : hi) = mid;
        }
        EXPECT_NEAR(phi, 0.5 * (lo + hi), 1e-8 * phi);
    }
}

TEST(GammaScaleNewton, NeverBelowTheFloor) {
    EXPECT_GE(gamma_scale_newton(3, 2, 1e-20), 1e-8);
    EXPECT_GE(gamma_scale_newton(50, 3, 0.0), 1e-8);
}

}  // namespace
}  // namespace pelun
