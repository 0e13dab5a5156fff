#include "inner/pirls.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "family/family.hpp"
#include "inner/closed_form.hpp"
#include "inner_test_data.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

using namespace pelun::testing;

// Each family from its textbook definition, independent of the traits: the
// mean from η, the score factor ∂ℓ/∂η = (y − μ)/(V(μ) g′(μ)), the Fisher
// weight 1/(V g′²) and the unit deviance.
struct Textbook {
    double (*mean)(double eta);
    double (*score)(double y, double mu);
    double (*fisher)(double mu);
    double (*deviance)(double y, double mu);
};

const Textbook poisson_textbook{
    [](double eta) { return std::exp(eta); },
    [](double y, double mu) { return y - mu; },
    [](double mu) { return mu; },
    [](double y, double mu) { return y > 0 ? 2.0 * (y * std::log(y / mu) - (y - mu)) : 2.0 * mu; },
};
const Textbook bernoulli_textbook{
    [](double eta) { return 1.0 / (1.0 + std::exp(-eta)); },
    [](double y, double mu) { return y - mu; },
    [](double mu) { return mu * (1.0 - mu); },
    [](double y, double mu) { return -2.0 * (y * std::log(mu) + (1.0 - y) * std::log(1.0 - mu)); },
};
const Textbook gamma_textbook{
    [](double eta) { return std::exp(eta); },
    [](double y, double mu) { return (y - mu) / mu; },
    [](double) { return 1.0; },
    [](double y, double mu) { return 2.0 * (-std::log(y / mu) + (y - mu) / mu); },
};
const Textbook inverse_gaussian_textbook{
    [](double eta) { return std::exp(eta); },
    [](double y, double mu) { return (y - mu) / (mu * mu); },
    [](double mu) { return 1.0 / mu; },
    [](double y, double mu) { return (y - mu) * (y - mu) / (y * mu * mu); },
};

struct FamilyCase {
    const char* name;
    Family family;
    const Textbook* textbook;
    std::function<Vector(const Vector& t)> response;
    bool weighted;
    std::vector<double> rho;
};

std::vector<FamilyCase> family_cases() {
    return {
        {"Poisson", poisson_log(), &poisson_textbook,
         [](const Vector& t) { return poisson_response(t, 21); }, false, {0.0, -1.0}},
        {"Poisson weighted", poisson_log(), &poisson_textbook,
         [](const Vector& t) { return poisson_response(t, 22); }, true, {3.0, 0.0}},
        {"Bernoulli", bernoulli_logit(), &bernoulli_textbook,
         [](const Vector& t) { return bernoulli_response(t, 23); }, false, {-1.0, 0.0}},
        {"Bernoulli weighted", bernoulli_logit(), &bernoulli_textbook,
         [](const Vector& t) { return bernoulli_response(t, 24); }, true, {1.0, 2.0}},
        {"Gamma", gamma_log(), &gamma_textbook,
         [](const Vector& t) { return gamma_response(t, 25); }, false, {0.0, 0.0}},
        {"Gamma weighted", gamma_log(), &gamma_textbook,
         [](const Vector& t) { return gamma_response(t, 26); }, true, {-2.0, 1.0}},
        {"InverseGaussian", inverse_gaussian_log(), &inverse_gaussian_textbook,
         [](const Vector& t) { return inverse_gaussian_response(t, 4.0, 27); }, false, {0.0, 0.0}},
        {"InverseGaussian weighted", inverse_gaussian_log(), &inverse_gaussian_textbook,
         [](const Vector& t) { return inverse_gaussian_response(t, 4.0, 28); }, true, {2.0, -1.0}},
    };
}

// At convergence β̂ zeroes the penalized score Xᵀ(w ∂ℓ/∂η) − S_λβ, which is
// the first-order condition of the penalized deviance whatever the working
// quantities were. The record's other fields are checked against the same
// textbook definitions.
TEST(Pirls, ConvergesToTheFirstOrderConditionOfEveryFamily) {
    // 2300 rows: the passes over the rows run in several blocks, the last partial.
    const SmoothProblem sp = smooth_problem(2300, 6, 20);
    for (const FamilyCase& c : family_cases()) {
        SCOPED_TRACE(c.name);
        const Vector y = c.response(sp.t);
        const Vector prior = positive_weights(y.size(), 29);
        const Vector w = c.weighted ? prior : Vector(y.size(), 1.0);
        PirlsProblem problem{.penalties = sp.penalties, .x = sp.x, .y = y, .max_iter = 200, .tol = 1e-14};
        if (c.weighted) problem.prior_weights = prior;

        auto fit = pirls(c.family, problem, c.rho);
        ASSERT_TRUE(fit.has_value()) << fit.error().text;
        EXPECT_TRUE(fit->converged);
        EXPECT_GE(fit->iterations, 2u);

        const Matrix s = dense_total_penalty(sp.penalties, c.rho);
        const Vector eta = dense_xb(sp.x, fit->beta);
        Vector weighted_score(y.size()), fisher(y.size());
        double deviance = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            const double mu = c.textbook->mean(eta[i]);
            EXPECT_NEAR(fit->eta[i], eta[i], 1e-12 * (1.0 + std::abs(eta[i])));
            EXPECT_NEAR(fit->mu[i], mu, 1e-12 * mu);
            weighted_score[i] = w[i] * c.textbook->score(y[i], mu);
            fisher[i] = w[i] * c.textbook->fisher(mu);
            deviance += w[i] * c.textbook->deviance(y[i], mu);
        }
        const Vector xt_score = dense_xtv(sp.x, weighted_score);
        Vector scale(sp.x.cols(), 1.0);  // size of the terms that cancel
        for (std::size_t i = 0; i < y.size(); ++i)
            for (std::size_t j = 0; j < scale.size(); ++j)
                scale[j] += std::abs(sp.x(i, j) * weighted_score[i]);
        for (std::size_t j = 0; j < sp.x.cols(); ++j) {
            double penalty = 0.0;
            for (std::size_t k = 0; k < sp.x.cols(); ++k) penalty += s(j, k) * fit->beta[k];
            EXPECT_NEAR(xt_score[j] - penalty, 0.0, 1e-9 * scale[j]) << "coefficient " << j;
        }
        EXPECT_NEAR(fit->deviance, deviance, 1e-10 * deviance);

        // The last iteration's weights are the Fisher weights at (nearly) the
        // final mean, and chol factors XᵀWX + S_λ with exactly those weights.
        double wrss = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            EXPECT_NEAR(fit->working_weights[i], fisher[i], 1e-6 * fisher[i]);
            const double r = fit->working_response[i] - fit->eta[i];
            wrss += fit->working_weights[i] * r * r;
        }
        EXPECT_NEAR(fit->wrss, wrss, 1e-10 * wrss);
        const Matrix h = dense_hessian(sp.x, fit->working_weights, s);
        const Matrix llt = times_own_transpose(fit->chol);
        for (std::size_t a = 0; a < h.rows(); ++a)
            for (std::size_t b = 0; b < h.cols(); ++b)
                EXPECT_NEAR(llt(a, b), h(a, b), 1e-10 * max_abs(h));

        EXPECT_EQ(fit->n_obs, y.size());
        EXPECT_EQ(fit->n_coef, sp.x.cols());
        const bool inverse_gaussian = c.family.kind == FamilyKind::InverseGaussian;
        EXPECT_EQ(fit->log_det_h.has_value(), inverse_gaussian);
        EXPECT_EQ(fit->gradient_correction.has_value(), inverse_gaussian);
    }
}

TEST(Pirls, QuasiFamiliesRunTheirParentsComputation) {
    const SmoothProblem sp = smooth_problem(200, 5, 30);
    const std::vector<double> rho = {0.5, 0.0};
    struct Pair {
        const char* name;
        Family quasi;
        Family parent;
        Vector y;
    };
    const Pair pairs[] = {
        {"QuasiPoisson", quasipoisson_log(), poisson_log(), poisson_response(sp.t, 31)},
        {"QuasiBinomial", quasibinomial_logit(), bernoulli_logit(), bernoulli_response(sp.t, 32)},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        const PirlsProblem problem{.penalties = sp.penalties, .x = sp.x, .y = pair.y};
        auto quasi = pirls(pair.quasi, problem, rho);
        auto parent = pirls(pair.parent, problem, rho);
        ASSERT_TRUE(quasi && parent);
        EXPECT_EQ(quasi->beta, parent->beta);
        EXPECT_EQ(quasi->mu, parent->mu);
        EXPECT_EQ(quasi->working_weights, parent->working_weights);
        EXPECT_EQ(quasi->chol, parent->chol);
        EXPECT_EQ(quasi->deviance, parent->deviance);
        EXPECT_EQ(quasi->iterations, parent->iterations);
        EXPECT_EQ(quasi->converged, parent->converged);
    }
}

// The identity link's working values do not depend on μ, so the second
// iteration repeats the first solve: PIRLS stops there, at the closed-form
// solution.
TEST(Pirls, IdentityLinkStopsAtTheSecondIterationOnTheClosedForm) {
    const SmoothProblem sp = smooth_problem(120, 5, 33);
    Vector y = poisson_response(sp.t, 34);
    const Vector prior = positive_weights(y.size(), 35);
    const std::vector<double> rho = {1.0, -1.0};
    const PirlsProblem problem{.penalties = sp.penalties, .x = sp.x, .y = y, .prior_weights = prior};
    auto iterated = pirls(GaussianTraits{}, problem, rho);
    auto gaussian = make_gaussian_problem(sp.penalties, sp.x, y, prior);
    ASSERT_TRUE(iterated && gaussian);
    auto closed = gaussian_closed_form(*gaussian, rho);
    ASSERT_TRUE(closed);
    EXPECT_TRUE(iterated->converged);
    EXPECT_EQ(iterated->iterations, 2u);
    for (std::size_t j = 0; j < closed->beta.size(); ++j)
        EXPECT_NEAR(iterated->beta[j], closed->beta[j], 1e-10 * (1.0 + std::abs(closed->beta[j])));
    EXPECT_NEAR(iterated->deviance, closed->deviance, 1e-10 * closed->deviance);
}

// Convergence is never declared on the first iteration, however loose the
// tolerance; an iteration limit ends the fit unconverged.
TEST(Pirls, IterationLimitsAndTheEarliestConvergence) {
    const SmoothProblem sp = smooth_problem(150, 5, 36);
    const Vector y = poisson_response(sp.t, 37);
    const std::vector<double> rho = {0.0, 0.0};
    struct LimitCase {
        const char* name;
        std::size_t max_iter;
        double tol;
        std::size_t iterations;
        bool converged;
    };
    const LimitCase cases[] = {
        {"loose tolerance", 50, 1e300, 2, true},
        {"one iteration", 1, 1e300, 1, false},
        {"two iterations, tight tolerance", 2, 0.0, 2, false},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PirlsProblem problem{
            .penalties = sp.penalties, .x = sp.x, .y = y, .max_iter = c.max_iter, .tol = c.tol};
        auto fit = pirls(poisson_log(), problem, rho);
        ASSERT_TRUE(fit.has_value());
        EXPECT_EQ(fit->iterations, c.iterations);
        EXPECT_EQ(fit->converged, c.converged);
    }
}

// Without an iteration the record holds the start: β = 0, η the family start
// (or eta_start), unit working weights, y as working response and the ridged
// factor of Xᵀ diag(w) X + S_λ.
TEST(Pirls, ZeroIterationsReturnTheStart) {
    const SmoothProblem sp = smooth_problem(90, 4, 38);
    const Vector y = poisson_response(sp.t, 39);
    const Vector prior = positive_weights(y.size(), 40);
    Vector custom_start(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) custom_start[i] = 0.5 + 0.1 * sp.t[i];
    const std::vector<double> rho = {2.0, 0.0};
    for (const bool custom : {false, true}) {
        SCOPED_TRACE(custom ? "eta_start" : "family start");
        PirlsProblem problem{.penalties = sp.penalties, .x = sp.x, .y = y, .prior_weights = prior,
                             .max_iter = 0};
        if (custom) problem.eta_start = custom_start;
        auto fit = pirls(poisson_log(), problem, rho);
        ASSERT_TRUE(fit.has_value());
        EXPECT_EQ(fit->iterations, 0u);
        EXPECT_FALSE(fit->converged);
        EXPECT_EQ(fit->beta, Vector(sp.x.cols(), 0.0));
        EXPECT_EQ(fit->working_weights, Vector(y.size(), 1.0));
        EXPECT_EQ(fit->working_response, y);
        double deviance = 0.0, wrss = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            const double eta = custom ? custom_start[i] : std::log(std::max(y[i], 0.1));
            EXPECT_DOUBLE_EQ(fit->eta[i], eta);
            EXPECT_DOUBLE_EQ(fit->mu[i], std::exp(eta));
            deviance += prior[i] * poisson_textbook.deviance(y[i], std::exp(eta));
            wrss += (y[i] - eta) * (y[i] - eta);
        }
        EXPECT_NEAR(fit->deviance, deviance, 1e-12 * deviance);
        EXPECT_NEAR(fit->wrss, wrss, 1e-12 * wrss);

        Matrix h = dense_hessian(sp.x, prior, dense_total_penalty(sp.penalties, rho));
        double largest = 1.0;
        for (std::size_t j = 0; j < h.rows(); ++j) largest = std::max(largest, std::abs(h(j, j)));
        for (std::size_t j = 0; j < h.rows(); ++j) h(j, j) += 1e-12 * largest;
        const Matrix llt = times_own_transpose(fit->chol);
        for (std::size_t a = 0; a < h.rows(); ++a)
            for (std::size_t b = 0; b < h.cols(); ++b)
                EXPECT_NEAR(llt(a, b), h(a, b), 1e-12 * max_abs(h));
    }
}

// The first step from eta_start is the textbook Fisher-scoring step from that
// predictor, not from the family start.
TEST(Pirls, EtaStartReplacesTheFamilyStart) {
    const SmoothProblem sp = smooth_problem(110, 4, 41);
    const Vector y = gamma_response(sp.t, 42);
    const std::vector<double> rho = {0.0, 0.0};
    Vector start(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) start[i] = 0.2 - 0.3 * sp.t[i];

    const Matrix s = dense_total_penalty(sp.penalties, rho);
    Vector w(y.size()), wz(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double mu = std::exp(start[i]);
        w[i] = 1.0;  // Gamma, log link: 1 / (μ² · (1/μ)²)
        wz[i] = w[i] * (start[i] + (y[i] - mu) / mu);
    }
    Matrix h = dense_hessian(sp.x, w, s);
    double largest = 1.0;
    for (std::size_t j = 0; j < h.rows(); ++j) largest = std::max(largest, std::abs(h(j, j)));
    for (std::size_t j = 0; j < h.rows(); ++j) h(j, j) += 1e-12 * largest;
    auto step = lu_solve(h, dense_xtv(sp.x, wz));
    ASSERT_TRUE(step.has_value());

    const PirlsProblem from_start{
        .penalties = sp.penalties, .x = sp.x, .y = y, .eta_start = start, .max_iter = 1};
    const PirlsProblem from_family{.penalties = sp.penalties, .x = sp.x, .y = y, .max_iter = 1};
    auto fit = pirls(gamma_log(), from_start, rho);
    auto family_fit = pirls(gamma_log(), from_family, rho);
    ASSERT_TRUE(fit && family_fit);
    double largest_gap = 0.0;
    for (std::size_t j = 0; j < step->size(); ++j) {
        EXPECT_NEAR(fit->beta[j], (*step)[j], 1e-9 * (1.0 + std::abs((*step)[j])));
        largest_gap = std::max(largest_gap, std::abs(family_fit->beta[j] - (*step)[j]));
    }
    EXPECT_GT(largest_gap, 1e-3);
}

// A count of 1e8 next to a cluster of moderate counts: the weighted
// least-squares line through them is so steep that the first full step puts
// exp(η) beyond the double range at the far end, and halving towards β = 0
// must bring it back.
TEST(Pirls, HalvingRescuesAnOverflowingFirstStep) {
    const std::size_t n = 102;
    Matrix x(n, 2);
    Vector y(n);
    for (std::size_t i = 0; i < n; ++i) {
        x(i, 0) = 1.0;
        x(i, 1) = i == 0 ? 0.0 : (i + 1 < n ? -0.01 : 1.0);
        y[i] = i == 0 ? 1e8 : (i + 1 < n ? 100.0 : 0.0);
    }
    const std::vector<Matrix> penalties = {Matrix(2, 2)};
    const std::vector<double> rho = {0.0};

    // The undamped first step from the Poisson start μ = max(y, 0.1), where
    // W = μ and z = log μ + (y − μ)/μ; solved here with the solve's ridge.
    Vector w(n), wz(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double mu = std::max(y[i], 0.1);
        w[i] = mu;
        wz[i] = w[i] * (std::log(mu) + (y[i] - mu) / mu);
    }
    Matrix h = dense_hessian(x, w, penalties[0]);
    const double ridge = 1e-12 * std::max({1.0, h(0, 0), h(1, 1)});
    h(0, 0) += ridge;
    h(1, 1) += ridge;
    auto full = lu_solve(h, dense_xtv(x, wz));
    ASSERT_TRUE(full.has_value());
    double highest = -std::numeric_limits<double>::infinity();
    for (const double eta : dense_xb(x, *full)) highest = std::max(highest, eta);
    ASSERT_GT(highest, 710.0) << "the full step must overflow exp";

    const PirlsProblem one_step{.penalties = penalties, .x = x, .y = y, .max_iter = 1};
    auto fit = pirls(poisson_log(), one_step, rho);
    ASSERT_TRUE(fit.has_value());
    EXPECT_EQ(fit->iterations, 1u);
    for (const double m : fit->mu) EXPECT_TRUE(std::isfinite(m));
    EXPECT_TRUE(std::isfinite(fit->deviance));
    // The accepted step is the full step halved a whole number of times.
    const double ratio = fit->beta[0] / (*full)[0];
    const double halvings = -std::log2(ratio);
    EXPECT_GE(halvings, 0.999);
    EXPECT_NEAR(halvings, std::round(halvings), 1e-6);
    EXPECT_NEAR(fit->beta[1], (*full)[1] * ratio, 1e-9 * std::abs((*full)[1]));
}

// A negative penalty makes XᵀWX + S_λ indefinite: inside an iteration the
// failure carries the PIRLS prefix; without an iteration the fallback factor
// fails with the bare Cholesky message.
TEST(Pirls, IndefiniteHessianErrors) {
    const SmoothProblem sp = smooth_problem(100, 4, 43);
    const Vector y = poisson_response(sp.t, 44);
    const std::size_t p = sp.x.cols();
    std::vector<Matrix> penalties = {Matrix(p, p)};
    for (std::size_t j = 1; j < p; ++j) penalties[0](j, j) = -1e6;
    const std::vector<double> rho = {0.0};
    struct ErrorCase {
        const char* name;
        std::size_t max_iter;
        const char* prefix;
    };
    const ErrorCase cases[] = {
        {"in an iteration", 50,
         "PIRLS factor: Cholesky failed: Computational failure in LAPACK subroutine: return_code = "},
        {"fallback factor", 0, "Cholesky failed: Computational failure in LAPACK subroutine: return_code = "},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PirlsProblem problem{.penalties = penalties, .x = sp.x, .y = y, .max_iter = c.max_iter};
        auto fit = pirls(poisson_log(), problem, rho);
        ASSERT_FALSE(fit.has_value());
        EXPECT_EQ(fit.error().kind, ErrorKind::SingularSystem);
        EXPECT_TRUE(fit.error().text.starts_with(c.prefix)) << fit.error().text;
    }
}

TEST(Pirls, MismatchedSizesAreRejected) {
    const SmoothProblem sp = smooth_problem(50, 3, 45);
    const Vector y = poisson_response(sp.t, 46);
    const Vector short_vector(y.size() - 1, 1.0);
    const std::vector<double> rho = {0.0, 0.0}, short_rho = {0.0};
    const std::vector<Matrix> wrong_penalty = {Matrix(2, 2)};
    const PirlsProblem cases[] = {
        {.penalties = sp.penalties, .x = sp.x, .y = short_vector},
        {.penalties = sp.penalties, .x = sp.x, .y = y, .prior_weights = short_vector},
        {.penalties = sp.penalties, .x = sp.x, .y = y, .eta_start = short_vector},
        {.penalties = wrong_penalty, .x = sp.x, .y = y},
        {.penalties = {}, .x = sp.x, .y = y},
    };
    for (const PirlsProblem& problem : cases) {
        auto fit = pirls(poisson_log(), problem, rho);
        ASSERT_FALSE(fit.has_value());
        EXPECT_EQ(fit.error().kind, ErrorKind::Linalg);
        EXPECT_EQ(fit.error().text, "Invalid shape");
    }
    const PirlsProblem valid{.penalties = sp.penalties, .x = sp.x, .y = y};
    EXPECT_FALSE(pirls(poisson_log(), valid, short_rho).has_value());
    EXPECT_TRUE(pirls(poisson_log(), valid, rho).has_value());
}

}  // namespace
}  // namespace pelun
