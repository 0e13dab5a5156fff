#include "inner/inverse_gaussian_information.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "family/inverse_gaussian.hpp"
#include "inner/pirls.hpp"
#include "inner_test_data.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

using namespace pelun::testing;

// Inverse Gaussian fits tight enough for finite differences across refits.
Result<InnerFitResult> tight_fit(const SmoothProblem& sp, const Vector& y,
                                 const std::optional<Vector>& weights, const std::vector<double>& rho) {
    PirlsProblem problem{.penalties = sp.penalties, .x = sp.x, .y = y, .max_iter = 500, .tol = 1e-14};
    if (weights) problem.prior_weights = *weights;
    return pirls(InverseGaussianTraits{}, problem, rho);
}

// Textbook pieces of ½(D + βᵀS_λβ) for D = Σ w (y − μ)²/(y μ²), μ = exp(η):
// the η-derivative of ½·d is −w(y − μ)/μ², and its second derivative, the
// Newton weight, is w(1/μ + 2(y − μ)/μ²).
double half_deviance_slope(double y, double eta, double w) {
    const double mu = std::exp(eta);
    return -w * (y - mu) / (mu * mu);
}
double newton_weight(double y, double eta, double w) {
    const double mu = std::exp(eta);
    return w * (1.0 / mu + 2.0 * (y - mu) / (mu * mu));
}

Vector penalized_score(const Matrix& x, const Vector& y, const Vector& w, const Matrix& s,
                       const Vector& beta) {
    const Vector eta = dense_xb(x, beta);
    Vector slope(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) slope[i] = half_deviance_slope(y[i], eta[i], w[i]);
    Vector score = dense_xtv(x, slope);
    for (std::size_t j = 0; j < score.size(); ++j)
        for (std::size_t k = 0; k < score.size(); ++k) score[j] += s(j, k) * beta[k];
    return score;
}

// The Hessian of ½(D + βᵀS_λβ) by central differences of its gradient.
Matrix finite_difference_hessian(const Matrix& x, const Vector& y, const Vector& w, const Matrix& s,
                                 const Vector& beta) {
    const std::size_t p = beta.size();
    Matrix h(p, p);
    const double step = 1e-6;
    for (std::size_t k = 0; k < p; ++k) {
        Vector up = beta, down = beta;
        up[k] += step;
        down[k] -= step;
        const Vector g_up = penalized_score(x, y, w, s, up), g_down = penalized_score(x, y, w, s, down);
        for (std::size_t j = 0; j < p; ++j) h(j, k) = (g_up[j] - g_down[j]) / (2.0 * step);
    }
    for (std::size_t j = 0; j < p; ++j)
        for (std::size_t k = j + 1; k < p; ++k) h(j, k) = h(k, j) = (h(j, k) + h(k, j)) / 2.0;
    return h;
}

struct DerivativeCase {
    const char* name;
    double kappa;  // inverse Gaussian shape; small means many y < μ/2
    bool weighted;
    std::vector<double> rho;
};

const DerivativeCase derivative_cases[] = {
    {"moderate smoothing", 4.0, false, {0.0, 0.0}},
    {"heavy tails, light smoothing", 1.0, false, {-3.0, 1.0}},
    {"heavy tails, heavy smoothing", 1.0, false, {4.0, -2.0}},
    {"prior weights", 2.0, true, {1.0, 0.5}},
};

// ½·λ₀·trace0 + ½·Σ aᵢbᵢcᵢ against the central difference of ½·log_det_h
// over refits at ρ₀ ± h, ρ₁ fixed. The second check shows that the data term
// is not negligible, so the comparison would catch a wrong a, b or c.
TEST(InverseGaussianInformation, CorrectionIsTheDerivativeOfHalfLogDetAlongTheFit) {
    const SmoothProblem sp = smooth_problem(250, 6, 50);
    const double h = 1e-3;
    for (const DerivativeCase& c : derivative_cases) {
        SCOPED_TRACE(c.name);
        const Vector y = inverse_gaussian_response(sp.t, c.kappa, 51);
        const std::optional<Vector> weights =
            c.weighted ? std::optional<Vector>(positive_weights(y.size(), 52)) : std::nullopt;

        auto fit = tight_fit(sp, y, weights, c.rho);
        ASSERT_TRUE(fit.has_value()) << fit.error().text;
        ASSERT_TRUE(fit->log_det_h && fit->gradient_correction);
        std::size_t negative_weights = 0;
        for (std::size_t i = 0; i < y.size(); ++i) negative_weights += y[i] < fit->mu[i] / 2.0;
        if (c.kappa <= 1.0) {
            ASSERT_GT(negative_weights, 10u) << "the case must reach negative Newton weights";
        }

        const GradientCorrection& gc = *fit->gradient_correction;
        ASSERT_EQ(gc.a.size(), y.size());
        ASSERT_EQ(gc.b.size(), y.size());
        ASSERT_EQ(gc.c.size(), y.size());
        const double lambda0 = std::exp(c.rho[0]);
        double data_term = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) data_term += gc.a[i] * gc.b[i] * gc.c[i];
        const double analytic = 0.5 * lambda0 * gc.trace0 + 0.5 * data_term;

        std::vector<double> rho_up = c.rho, rho_down = c.rho;
        rho_up[0] += h;
        rho_down[0] -= h;
        auto up = tight_fit(sp, y, weights, rho_up);
        auto down = tight_fit(sp, y, weights, rho_down);
        ASSERT_TRUE(up && down && up->log_det_h && down->log_det_h);
        const double numeric = (0.5 * *up->log_det_h - 0.5 * *down->log_det_h) / (2.0 * h);

        const double tolerance = 2e-6 * (std::abs(0.5 * lambda0 * gc.trace0) + std::abs(0.5 * data_term));
        EXPECT_NEAR(analytic, numeric, tolerance);
        EXPECT_GT(std::abs(0.5 * data_term), 100.0 * tolerance);
    }
}

// Each piece on its own: log_det_h and a from a finite-difference Hessian of
// the penalized objective, b from differences of the Newton weight in η, c
// from differences of the fitted η across refits.
TEST(InverseGaussianInformation, EachTermMatchesItsDefinition) {
    const SmoothProblem sp = smooth_problem(200, 5, 53);
    const double h = 1e-4;
    for (const DerivativeCase& c : derivative_cases) {
        SCOPED_TRACE(c.name);
        const Vector y = inverse_gaussian_response(sp.t, c.kappa, 54);
        const Vector w = c.weighted ? positive_weights(y.size(), 55) : Vector(y.size(), 1.0);
        const std::optional<Vector> weights = c.weighted ? std::optional<Vector>(w) : std::nullopt;
        auto fit = tight_fit(sp, y, weights, c.rho);
        ASSERT_TRUE(fit.has_value() && fit->log_det_h && fit->gradient_correction);
        const GradientCorrection& gc = *fit->gradient_correction;

        const Matrix s = dense_total_penalty(sp.penalties, c.rho);
        const Matrix hessian = finite_difference_hessian(sp.x, y, w, s, fit->beta);
        auto eigen = symmetric_eigen(hessian);
        ASSERT_TRUE(eigen.has_value());
        double log_det = 0.0;
        for (const double e : eigen->values) log_det += std::log(std::abs(e));
        EXPECT_NEAR(*fit->log_det_h, log_det, 1e-6 * (1.0 + std::abs(log_det)));

        std::vector<double> rho_up = c.rho, rho_down = c.rho;
        rho_up[0] += h;
        rho_down[0] -= h;
        auto up = tight_fit(sp, y, weights, rho_up);
        auto down = tight_fit(sp, y, weights, rho_down);
        ASSERT_TRUE(up && down);

        const double step = 1e-5;
        for (std::size_t i = 0; i < y.size(); ++i) {
            Vector xi(sp.x.cols());
            for (std::size_t j = 0; j < xi.size(); ++j) xi[j] = sp.x(i, j);
            auto solved = lu_solve(hessian, xi);
            ASSERT_TRUE(solved.has_value());
            double leverage = 0.0;
            for (std::size_t j = 0; j < xi.size(); ++j) leverage += xi[j] * (*solved)[j];
            EXPECT_NEAR(gc.a[i], leverage, 1e-6 * (1.0 + std::abs(leverage))) << "a " << i;

            const double eta = fit->eta[i];
            const double slope = (newton_weight(y[i], eta + step, w[i]) -
                                  newton_weight(y[i], eta - step, w[i])) / (2.0 * step);
            EXPECT_NEAR(gc.b[i], slope, 1e-6 * (1.0 + std::abs(slope))) << "b " << i;

            const double change = (up->eta[i] - down->eta[i]) / (2.0 * h);
            EXPECT_NEAR(gc.c[i], change, 1e-5 * (1.0 + std::abs(change))) << "c " << i;
        }
    }
}

// The block is absent when a Newton weight is not finite or H^N is singular.
TEST(InverseGaussianInformation, AbsentWhenItCannotBeFormed) {
    const SmoothProblem sp = smooth_problem(60, 3, 56);
    const Vector y = inverse_gaussian_response(sp.t, 4.0, 57);
    const std::size_t p = sp.x.cols();
    const Vector beta(p, 0.0);
    const Vector mu(y.size(), 1.0);
    Matrix scratch;

    Vector infinite_weight(y.size(), 1.0);
    infinite_weight[7] = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(inverse_gaussian_observed_information(sp.x, y, infinite_weight, sp.penalties[0],
                                                       sp.penalties[0], 1.0, beta, mu, scratch));

    // A zero column with no penalty on it leaves a zero eigenvalue.
    Matrix x = sp.x;
    for (std::size_t i = 0; i < x.rows(); ++i) x(i, p - 1) = 0.0;
    const Matrix no_penalty(p, p);
    const Vector ones(y.size(), 1.0);
    EXPECT_FALSE(inverse_gaussian_observed_information(x, y, ones, no_penalty, no_penalty, 1.0, beta,
                                                       mu, scratch));
    EXPECT_TRUE(inverse_gaussian_observed_information(sp.x, y, ones, sp.penalties[0], sp.penalties[0],
                                                      1.0, beta, mu, scratch));
}

}  // namespace
}  // namespace pelun
