#include "inner/closed_form.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "inner_test_data.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

using namespace pelun::testing;

constexpr double minus_inf = -std::numeric_limits<double>::infinity();

Vector gaussian_response(const Vector& t, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.3);
    Vector y(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) y[i] = 2.0 + smooth_curve(t[i]) + noise(rng);
    return y;
}

struct ClosedFormCase {
    const char* name;
    bool weighted;
    std::vector<double> rho;
};

// β from the normal equations (XᵀWX + S_λ) β = XᵀWy assembled entry by entry
// and solved by LU, against the closed form; ρ = −∞ everywhere is weighted
// least squares.
TEST(GaussianClosedForm, MatchesTheDenseNormalEquations) {
    const ClosedFormCase cases[] = {
        {"unit weights", false, {0.0, 0.0}},
        {"prior weights", true, {0.0, 0.0}},
        {"strong and weak penalties", true, {4.0, -3.0}},
        {"extra rho entries ignored", false, {1.0, 2.0, 99.0}},
        {"weighted least squares", true, {minus_inf, minus_inf}},
        {"least squares", false, {minus_inf, minus_inf}},
    };
    const SmoothProblem sp = smooth_problem(150, 6, 3);
    const Vector y = gaussian_response(sp.t, 4);
    const Vector prior = positive_weights(y.size(), 5);
    for (const ClosedFormCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::span<const double>> weights =
            c.weighted ? std::optional<std::span<const double>>(prior) : std::nullopt;
        const Vector w = c.weighted ? prior : Vector(y.size(), 1.0);

        auto problem = make_gaussian_problem(sp.penalties, sp.x, y, weights);
        ASSERT_TRUE(problem.has_value());
        auto fit = gaussian_closed_form(*problem, c.rho);
        ASSERT_TRUE(fit.has_value()) << fit.error().text;

        const Matrix h = dense_hessian(sp.x, w, dense_total_penalty(sp.penalties, c.rho));
        Vector wy(y.size());
        for (std::size_t i = 0; i < y.size(); ++i) wy[i] = w[i] * y[i];
        auto expected = lu_solve(h, dense_xtv(sp.x, wy));
        ASSERT_TRUE(expected.has_value());

        // The solve's relative ridge r = 1e-12·max(1, max H_ii) moves β by at
        // most r·‖β‖/λ_min(H), to first order.
        auto eigen = symmetric_eigen(h);
        ASSERT_TRUE(eigen.has_value());
        double largest_diagonal = 1.0, largest_beta = 0.0;
        for (std::size_t j = 0; j < h.rows(); ++j) largest_diagonal = std::max(largest_diagonal, h(j, j));
        for (const double b : *expected) largest_beta = std::max(largest_beta, std::abs(b));
        const double ridge_shift = 2.0 * 1e-12 * largest_diagonal / eigen->values.front() * largest_beta;
        ASSERT_EQ(fit->beta.size(), sp.x.cols());
        for (std::size_t j = 0; j < fit->beta.size(); ++j)
            EXPECT_NEAR(fit->beta[j], (*expected)[j], ridge_shift + 1e-10 * (1.0 + std::abs((*expected)[j])))
                << j;

        const Vector mu = dense_xb(sp.x, fit->beta);
        double rss = 0.0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            EXPECT_NEAR(fit->mu[i], mu[i], 1e-12);
            rss += w[i] * (y[i] - mu[i]) * (y[i] - mu[i]);
        }
        EXPECT_EQ(fit->eta, fit->mu);
        EXPECT_NEAR(fit->deviance, rss, 1e-10 * rss);
        EXPECT_EQ(fit->wrss, fit->deviance);
        EXPECT_EQ(fit->working_weights, w);
        EXPECT_EQ(fit->working_response, y);

        const Matrix llt = times_own_transpose(fit->chol);
        for (std::size_t a = 0; a < h.rows(); ++a)
            for (std::size_t b = 0; b < h.cols(); ++b)
                EXPECT_NEAR(llt(a, b), h(a, b), 1e-10 * max_abs(h));
        for (std::size_t a = 0; a < h.rows(); ++a)
            for (std::size_t b = a + 1; b < h.cols(); ++b) EXPECT_EQ(fit->chol(a, b), 0.0);

        EXPECT_EQ(fit->n_obs, y.size());
        EXPECT_EQ(fit->n_coef, sp.x.cols());
        EXPECT_EQ(fit->iterations, 1u);
        EXPECT_TRUE(fit->converged);
        EXPECT_FALSE(fit->log_det_h.has_value());
        EXPECT_FALSE(fit->gradient_correction.has_value());
    }
}

TEST(GaussianClosedForm, RepeatedCallsOnOneProblemAreIndependent) {
    const SmoothProblem sp = smooth_problem(80, 4, 8);
    const Vector y = gaussian_response(sp.t, 9);
    auto problem = make_gaussian_problem(sp.penalties, sp.x, y);
    ASSERT_TRUE(problem.has_value());
    const std::vector<double> rho_a = {0.5, 0.0}, rho_b = {-2.0, 1.0};
    auto first = gaussian_closed_form(*problem, rho_a);
    auto other = gaussian_closed_form(*problem, rho_b);
    auto again = gaussian_closed_form(*problem, rho_a);
    ASSERT_TRUE(first && other && again);
    EXPECT_EQ(first->beta, again->beta);
    EXPECT_NE(first->beta, other->beta);
}

TEST(GaussianClosedForm, CoefficientsOnlyAgreesWithTheFullRecord) {
    const SmoothProblem sp = smooth_problem(2500, 4, 13);  // several row blocks, the last partial
    const Vector y = gaussian_response(sp.t, 14);
    Vector w(y.size());
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = 0.5 + static_cast<double>(i % 3);
    for (const bool weighted : {false, true}) {
        auto problem = make_gaussian_problem(sp.penalties, sp.x, y,
                                             weighted ? std::optional<std::span<const double>>(w) : std::nullopt);
        ASSERT_TRUE(problem.has_value());
        const std::vector<double> rho = {0.3, -1.0};
        auto full = gaussian_closed_form(*problem, rho);
        auto lean = gaussian_closed_form(*problem, rho, ClosedFormOutput::CoefficientsOnly);
        ASSERT_TRUE(full && lean);
        EXPECT_EQ(lean->beta, full->beta);
        EXPECT_EQ(lean->chol, full->chol);
        EXPECT_NEAR(lean->deviance, full->deviance, 1e-12 * full->deviance);
        EXPECT_EQ(lean->n_obs, full->n_obs);
        EXPECT_EQ(lean->n_coef, full->n_coef);
        EXPECT_TRUE(lean->mu.empty() && lean->working_weights.empty());
    }
}

TEST(GaussianClosedForm, AnIndefiniteHessianFailsWithoutAPirlsPrefix) {
    const SmoothProblem sp = smooth_problem(60, 3, 10);
    const Vector y = gaussian_response(sp.t, 11);
    const std::size_t p = sp.x.cols();
    std::vector<Matrix> penalties = {Matrix(p, p)};
    for (std::size_t j = 1; j < p; ++j) penalties[0](j, j) = -1e4;
    auto problem = make_gaussian_problem(penalties, sp.x, y);
    ASSERT_TRUE(problem.has_value());
    const std::vector<double> rho = {0.0};
    auto fit = gaussian_closed_form(*problem, rho);
    ASSERT_FALSE(fit.has_value());
    EXPECT_EQ(fit.error().kind, ErrorKind::SingularSystem);
    EXPECT_TRUE(fit.error().text.starts_with(
        "Cholesky failed: Computational failure in LAPACK subroutine: return_code = "))
        << fit.error().text;
}

TEST(GaussianClosedForm, MismatchedSizesAreRejected) {
    const SmoothProblem sp = smooth_problem(40, 3, 12);
    const Vector y = gaussian_response(sp.t, 13);
    const Vector short_y(y.begin(), y.end() - 1);
    const Vector short_w(y.size() - 1, 1.0);
    EXPECT_FALSE(make_gaussian_problem(sp.penalties, sp.x, short_y).has_value());
    EXPECT_FALSE(make_gaussian_problem(sp.penalties, sp.x, y, short_w).has_value());

    auto problem = make_gaussian_problem(sp.penalties, sp.x, y);
    ASSERT_TRUE(problem.has_value());
    const std::vector<double> one_rho = {0.0};  // two penalties
    auto fit = gaussian_closed_form(*problem, one_rho);
    ASSERT_FALSE(fit.has_value());
    EXPECT_EQ(fit.error().kind, ErrorKind::Linalg);
    EXPECT_EQ(fit.error().text, "Invalid shape");
}

}  // namespace
}  // namespace pelun
