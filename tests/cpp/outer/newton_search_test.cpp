#include "outer/newton_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace pelun {
namespace {

// f(ρ) = Σ cᵢ (ρᵢ − tᵢ)² + κ·(ρ₀ − t₀)⁴ with its exact gradient.
GradientObjective quartic_bowl(Vector target, Vector curvature, double quartic, int* calls = nullptr) {
    return [=](const Vector& rho) -> Result<ScoreEval> {
        if (calls) ++*calls;
        ScoreEval out{0.0, Vector(rho.size())};
        for (std::size_t i = 0; i < rho.size(); ++i) {
            const double d = rho[i] - target[i];
            out.value += curvature[i] * d * d;
            out.gradient[i] = 2.0 * curvature[i] * d;
        }
        const double d0 = rho[0] - target[0];
        out.value += quartic * d0 * d0 * d0 * d0 + 1.0;
        out.gradient[0] += 4.0 * quartic * d0 * d0 * d0;
        return out;
    };
}

HessianObjective with_hessian(GradientObjective g) {
    return [g](const Vector& rho) { return score_with_hessian(g, rho); };
}

TEST(ScoreWithHessian, CentralDifferencesOfTheGradient) {
    // f = ρ₀²ρ₁ + exp(ρ₁): Hessian [[2ρ₁, 2ρ₀], [2ρ₀, exp(ρ₁)]].
    const GradientObjective f = [](const Vector& r) -> Result<ScoreEval> {
        return ScoreEval{r[0] * r[0] * r[1] + std::exp(r[1]), {2 * r[0] * r[1], r[0] * r[0] + std::exp(r[1])}};
    };
    const auto out = score_with_hessian(f, {0.7, -0.3});
    ASSERT_TRUE(out.has_value());
    EXPECT_NEAR(out->hessian(0, 0), -0.6, 1e-8);
    EXPECT_NEAR(out->hessian(0, 1), 1.4, 1e-8);
    EXPECT_NEAR(out->hessian(1, 0), 1.4, 1e-8);
    EXPECT_NEAR(out->hessian(1, 1), std::exp(-0.3), 1e-8);
    EXPECT_EQ(out->gradient.size(), 2u);
}

TEST(ScoreWithHessian, PassesOnTheFirstFailure) {
    int calls = 0;
    const GradientObjective f = [&](const Vector& r) -> Result<ScoreEval> {
        ++calls;
        if (r[0] < 0) return fail(PelunError::singular_system("PIRLS factor: x"));
        return ScoreEval{0.0, {0.0}};
    };
    const auto out = score_with_hessian(f, {0.0});
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error().text, "PIRLS factor: x");
    EXPECT_EQ(calls, 3);
}

TEST(MakePositiveDefinite, RaisesSmallEigenvalues) {
    EXPECT_EQ(make_positive_definite(Matrix::from_rows({{-3}}))(0, 0), 1e-8);
    EXPECT_EQ(make_positive_definite(Matrix::from_rows({{std::nan("")}}))(0, 0), 1e-8);
    EXPECT_EQ(make_positive_definite(Matrix::from_rows({{4}}))(0, 0), 4);
    EXPECT_TRUE(make_positive_definite(Matrix()).empty());
    // eigenvalues 3 and -1 with eigenvectors (1, 1)/√2 and (1, -1)/√2
    const Matrix fixed = make_positive_definite(Matrix::from_rows({{1, 2}, {2, 1}}));
    const double hi = 3.0 / 2, lo = 1e-8 / 2;
    EXPECT_NEAR(fixed(0, 0), hi + lo, 1e-12);
    EXPECT_NEAR(fixed(0, 1), hi - lo, 1e-12);
    EXPECT_NEAR(fixed(1, 0), hi - lo, 1e-12);
    // an already positive definite matrix is reproduced
    const Matrix spd = make_positive_definite(Matrix::from_rows({{2, 0.5}, {0.5, 1}}));
    EXPECT_NEAR(spd(0, 0), 2, 1e-12);
    EXPECT_NEAR(spd(0, 1), 0.5, 1e-12);
    EXPECT_NEAR(spd(1, 1), 1, 1e-12);
}

TEST(MakePositiveDefinite, SymmetrisesFirst) {
    const Matrix fixed = make_positive_definite(Matrix::from_rows({{2, 1}, {0, 2}}));
    EXPECT_NEAR(fixed(0, 1), 0.5, 1e-12);
    EXPECT_NEAR(fixed(1, 0), 0.5, 1e-12);
}

TEST(NewtonSearch, FindsTheMinimumOfASmoothBowl) {
    const auto out = newton_search(with_hessian(quartic_bowl({1.5, -2.0, 0.25}, {1.0, 3.0, 0.5}, 0.2)),
                                   Vector(3, 0.0));
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->converged);
    EXPECT_NEAR(out->rho[0], 1.5, 1e-3);
    EXPECT_NEAR(out->rho[1], -2.0, 1e-6);
    EXPECT_NEAR(out->rho[2], 0.25, 1e-6);
    EXPECT_NEAR(out->value, 1.0, 1e-8);
    EXPECT_GT(out->iterations, 0u);
}

TEST(NewtonSearch, StopsAtOnceWhenTheStartIsStationary) {
    const auto out = newton_search(with_hessian(quartic_bowl({0.0}, {1.0}, 0.0)), {0.0});
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->converged);
    EXPECT_EQ(out->iterations, 0u);
    EXPECT_EQ(out->rho, Vector{0.0});
}

TEST(NewtonSearch, CapsTheStepAtMaxNormFive) {
    // A quadratic with minimum at 12: the first trial is at 5, not 12.
    std::vector<double> trials;
    const GradientObjective bowl = quartic_bowl({12.0}, {1.0}, 0.0);
    const HessianObjective recorded = [&](const Vector& rho) {
        trials.push_back(rho[0]);
        return score_with_hessian(bowl, rho);
    };
    const auto out = newton_search(recorded, {0.0});
    ASSERT_TRUE(out.has_value());
    ASSERT_GE(trials.size(), 2u);
    EXPECT_NEAR(trials[1], 5.0, 1e-9);
    EXPECT_NEAR(out->rho[0], 12.0, 1e-6);
}

TEST(NewtonSearch, TakesTheNegativeGradientStepForAnIndefiniteHessian) {
    // f = -ρ² + ρ⁴/4 near 0.1 has negative curvature; the 1×1 Hessian is raised
    // to 1e-8, so the step is -g·1e8, capped at 5.
    std::vector<double> trials;
    const GradientObjective f = [](const Vector& r) -> Result<ScoreEval> {
        return ScoreEval{-r[0] * r[0] + std::pow(r[0], 4) / 4, {-2 * r[0] + std::pow(r[0], 3)}};
    };
    const HessianObjective recorded = [&](const Vector& rho) {
        trials.push_back(rho[0]);
        return score_with_hessian(f, rho);
    };
    const auto out = newton_search(recorded, {0.1});
    ASSERT_TRUE(out.has_value());
    EXPECT_NEAR(trials[1], 5.1, 1e-9);
    EXPECT_NEAR(std::abs(out->rho[0]), std::sqrt(2.0), 1e-4);
}

TEST(NewtonSearch, LineSearchFailureKeepsThePointAndCountsTheIteration) {
    // Every trial point fails or is non-finite: ten trials, then stop.
    int trials = 0;
    const HessianObjective f = [&](const Vector& rho) -> Result<ScoreWithHessian> {
        if (rho[0] == 0.0) return ScoreWithHessian{1.0, {1.0}, Matrix::from_rows({{1.0}})};
        ++trials;
        if (trials % 3 == 0) return fail(PelunError::singular_system("trial"));
        return ScoreWithHessian{trials % 3 == 1 ? std::nan("") : INFINITY, {0.0}, Matrix(1, 1)};
    };
    const auto out = newton_search(f, {0.0});
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(trials, 10);
    EXPECT_EQ(out->rho, Vector{0.0});
    EXPECT_EQ(out->iterations, 1u);
    EXPECT_FALSE(out->converged);  // |g| = 1 is above 0.001·(1 + |f|)
    EXPECT_EQ(out->value, 1.0);
}

TEST(NewtonSearch, LineSearchFailureNearAStationaryPointCountsAsConverged) {
    const HessianObjective f = [&](const Vector& rho) -> Result<ScoreWithHessian> {
        if (rho[0] == 0.0) return ScoreWithHessian{1.0, {1e-4}, Matrix::from_rows({{1.0}})};
        return ScoreWithHessian{2.0, {0.0}, Matrix(1, 1)};
    };
    const auto out = newton_search(f, {0.0});
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->converged);
}

TEST(NewtonSearch, RelativeChangeStopNeedsThreeSteps) {
    // Each step lowers f by a relative 1e-9 but the gradient stays large: only
    // the relative-change test can stop the search, and only once k > 2.
    int step = 0;
    const HessianObjective f = [&](const Vector& rho) -> Result<ScoreWithHessian> {
        (void)rho;
        const double value = 100.0 - 1e-7 * step++;
        return ScoreWithHessian{value, {1.0}, Matrix::from_rows({{1.0}})};
    };
    const auto out = newton_search(f, {0.0});
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->converged);
    EXPECT_EQ(out->iterations, 3u);
}

TEST(NewtonSearch, FiftyStepsWithoutConvergenceIsAnError) {
    // Always improving by a relative 1e-5, gradient never small.
    int step = 0;
    const HessianObjective f = [&](const Vector&) -> Result<ScoreWithHessian> {
        const double value = 1000.0 * std::pow(0.99999, step++);
        return ScoreWithHessian{value, {0.25, -2.0}, Matrix::identity(2)};
    };
    const auto out = newton_search(f, {0.0, 0.0});
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error().kind, ErrorKind::NotConverged);
    EXPECT_EQ(out.error().iters, 50u);
    EXPECT_EQ(out.error().grad_norm, 2.0);
    EXPECT_EQ(out.error().display(), "solver did not converge after 50 iterations (last grad norm = 2.000e0)");
}

TEST(NewtonSearch, ErrorAtTheStartIsReturned) {
    const HessianObjective f = [](const Vector&) -> Result<ScoreWithHessian> {
        return fail(PelunError::singular_system("PIRLS factor: boom"));
    };
    const auto out = newton_search(f, {0.0});
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error().text, "PIRLS factor: boom");
}

TEST(MaxAbs, IgnoresNaN) {
    EXPECT_EQ(max_abs(Vector{1.0, std::nan(""), -3.0}), 3.0);
    EXPECT_EQ(max_abs(Vector{}), 0.0);
}

}  // namespace
}  // namespace pelun
