#include "fit/standard_driver.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "design/cr_design.hpp"
#include "fit/standard_problem.hpp"

namespace pelun {
namespace {

struct Data {
    Matrix x;
    Vector y;
};

// y = f(x) + noise (Gaussian) or a Poisson count with log-mean f(x).
Data simulate(FamilyKind family, std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.4);
    Data d{Matrix(n, 1), Vector(n)};
    for (std::size_t i = 0; i < n; ++i) {
        const double x = u(rng);
        const double f = std::sin(2 * M_PI * x) + 0.5 * x;
        d.x(i, 0) = x;
        if (family == FamilyKind::Poisson)
            d.y[i] = static_cast<double>(std::poisson_distribution<int>(std::exp(1.0 + f))(rng));
        else
            d.y[i] = f + noise(rng);
    }
    return d;
}

TEST(StandardProblem, GaussianGradientIsTheDerivativeOfTheCriterion) {
    const Data d = simulate(FamilyKind::Gaussian, 300, 1);
    const auto design = build_cr_design(d.x, 10);
    ASSERT_TRUE(design.has_value());
    const auto problem = StandardProblem::make(gaussian_identity(), *design, d.y, std::nullopt);
    ASSERT_TRUE(problem.has_value());
    for (const double rho : {-3.0, 0.0, 2.5, 6.0}) {
        const auto at = problem->envelope_score(Vector{rho});
        const auto up = problem->envelope_score(Vector{rho + 1e-4});
        const auto down = problem->envelope_score(Vector{rho - 1e-4});
        ASSERT_TRUE(at && up && down);
        const double numeric = (up->value - down->value) / 2e-4;
        EXPECT_NEAR(at->gradient[0], numeric, 1e-5 * (1 + std::abs(numeric))) << rho;
    }
}

double criterion(const StandardProblem& problem, double rho) { return problem.envelope_score(Vector{rho})->value; }

class StandardFitOptimum : public ::testing::TestWithParam<FamilyKind> {};

TEST_P(StandardFitOptimum, ReturnsTheMinimumOfTheCriterion) {
    const FamilyKind kind = GetParam();
    const Family family = kind == FamilyKind::Poisson ? poisson_log() : gaussian_identity();
    const Data d = simulate(kind, 250, 2);
    auto design = build_cr_design(d.x, 12);
    ASSERT_TRUE(design.has_value());
    const auto problem = StandardProblem::make(family, *design, d.y, std::nullopt);
    ASSERT_TRUE(problem.has_value());

    // Brute-force minimum over a fine grid of ρ.
    double best_rho = 0.0, best_value = INFINITY;
    for (double rho = -6.0; rho <= 12.0; rho += 0.01) {
        const double v = criterion(*problem, rho);
        if (v < best_value) {
            best_value = v;
            best_rho = rho;
        }
    }
    const auto fit = fit_standard_family(family, *design, d.y, std::nullopt);  // a copy: problem borrows it
    ASSERT_TRUE(fit.has_value());
    EXPECT_TRUE(fit->converged);
    ASSERT_EQ(fit->rho.size(), 1u);
    EXPECT_NEAR(fit->rho[0], best_rho, 0.02);
    // The Gaussian envelope gradient is exact, so the search stops at the
    // minimum. For Poisson it leaves out how the working weights move with ρ,
    // so its stationary point sits slightly off the minimum of the value.
    const double slack = kind == FamilyKind::Gaussian ? 1e-9 : 1e-6 * std::abs(best_value);
    EXPECT_LE(fit->reml_value, best_value + slack);
    EXPECT_GE(criterion(*problem, fit->rho[0] + 0.05), fit->reml_value - slack);
    EXPECT_GE(criterion(*problem, fit->rho[0] - 0.05), fit->reml_value - slack);
    EXPECT_EQ(fit->reml_value, criterion(*problem, fit->rho[0]));
}

INSTANTIATE_TEST_SUITE_P(Families, StandardFitOptimum,
                         ::testing::Values(FamilyKind::Gaussian, FamilyKind::Poisson),
                         [](const auto& info) { return info.param == FamilyKind::Gaussian ? "Gaussian" : "Poisson"; });

TEST(StandardDriver, ChecksRowsWeightsAndResponseInOrder) {
    const Data d = simulate(FamilyKind::Gaussian, 20, 3);
    const auto design = build_cr_design(d.x, 5);
    ASSERT_TRUE(design.has_value());
    const Vector short_y(19, 1.0);
    EXPECT_EQ(fit_standard_family(poisson_log(), *design, short_y, Vector(3, 1.0)).error().text,
              "x and y must have the same number of rows; got x.nrows()=20, y.len()=19");
    Vector negative(20, 1.0);
    negative[7] = -2.5;
    EXPECT_EQ(fit_standard_family(poisson_log(), *design, negative, Vector(3, 1.0)).error().text,
              "prior_weights length must match x rows; got weights.len()=3, x.nrows()=20");
    EXPECT_EQ(fit_standard_family(poisson_log(), *design, negative, std::nullopt).error().text,
              "Poisson requires y ≥ 0; got y=-2.5 at row 7");
}

}  // namespace
}  // namespace pelun
