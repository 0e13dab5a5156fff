#include "outer/newton_search.hpp"

#include <algorithm>
#include <cmath>

#include "linalg/lapack.hpp"

namespace pelun {

namespace {

constexpr double kHessianStep = 1e-5;
constexpr double kGradientTolerance = 5e-7;
constexpr double kRelativeValueTolerance = 1e-7;
constexpr std::size_t kMaxIterations = 50;
constexpr double kMaxStep = 5.0;
constexpr double kSufficientDecrease = 1e-10;
constexpr double kShrink = 0.5;
constexpr double kSmallestStepFactor = 0.001;
constexpr double kStallTolerance = 0.001;
constexpr double kEigenFloor = 1e-8;

// max(v, floor) that also replaces NaN by the floor.
double raise_to(double v, double floor) { return v >= floor ? v : floor; }

Vector newton_direction(const Matrix& hessian, const Vector& gradient) {
    Vector negative_gradient(gradient.size());
    for (std::size_t i = 0; i < gradient.size(); ++i) negative_gradient[i] = -gradient[i];
    auto solved = lu_solve(make_positive_definite(hessian), negative_gradient);
    // A singular system falls back to steepest descent.
    return solved ? std::move(*solved) : negative_gradient;
}

}  // namespace

double max_abs(std::span<const double> v) {
    double largest = 0.0;
    for (const double x : v)
        if (std::abs(x) > largest) largest = std::abs(x);  // NaN compares false
    return largest;
}

Result<ScoreWithHessian> score_with_hessian(const GradientObjective& objective, const Vector& rho) {
    auto centre = objective(rho);
    if (!centre) return fail(std::move(centre.error()));
    const std::size_t m = rho.size();
    ScoreWithHessian out{centre->value, std::move(centre->gradient), Matrix(m, m)};
    Vector shifted = rho;
    for (std::size_t i = 0; i < m; ++i) {
        shifted[i] = rho[i] + kHessianStep;
        auto up = objective(shifted);
        if (!up) return fail(std::move(up.error()));
        shifted[i] = rho[i] - kHessianStep;
        auto down = objective(shifted);
        if (!down) return fail(std::move(down.error()));
        shifted[i] = rho[i];
        for (std::size_t r = 0; r < m; ++r)
            out.hessian(r, i) = (up->gradient[r] - down->gradient[r]) / (2.0 * kHessianStep);
    }
    for (std::size_t r = 0; r < m; ++r)
        for (std::size_t c = r + 1; c < m; ++c) {
            const double mean = 0.5 * (out.hessian(r, c) + out.hessian(c, r));
            out.hessian(r, c) = mean;
            out.hessian(c, r) = mean;
        }
    return out;
}

Matrix make_positive_definite(Matrix hessian) {
    const std::size_t m = hessian.rows();
    if (m == 0) return hessian;
    if (m == 1) {
        hessian(0, 0) = raise_to(hessian(0, 0), kEigenFloor);
        return hessian;
    }
    for (std::size_t r = 0; r < m; ++r)
        for (std::size_t c = r + 1; c < m; ++c) {
            const double mean = 0.5 * (hessian(r, c) + hessian(c, r));
            hessian(r, c) = mean;
            hessian(c, r) = mean;
        }
    const auto eigen = symmetric_eigen(hessian);
    if (!eigen) {
        for (std::size_t i = 0; i < m; ++i) hessian(i, i) = raise_to(hessian(i, i), kEigenFloor);
        return hessian;
    }
    // V · diag(λ⁺) · Vᵀ
    Matrix out(m, m);
    for (std::size_t k = 0; k < m; ++k) {
        const double lambda = raise_to(eigen->values[k], kEigenFloor);
        for (std::size_t r = 0; r < m; ++r) {
            const double scaled = lambda * eigen->vectors(r, k);
            for (std::size_t c = 0; c < m; ++c) out(r, c) += scaled * eigen->vectors(c, k);
        }
    }
    return out;
}

Result<NewtonOutcome> newton_search(const HessianObjective& objective, Vector rho_start) {
    auto start = objective(rho_start);
    if (!start) return fail(std::move(start.error()));
    ScoreWithHessian current = std::move(*start);
    Vector rho = std::move(rho_start);
    double previous_value = INFINITY;
    std::size_t k = 0;

    const auto outcome = [&](double grad_norm, bool converged) {
        return NewtonOutcome{rho, current.value, grad_norm, k, converged};
    };

    while (true) {
        const double f = current.value;
        const double grad_norm = max_abs(current.gradient);
        if (grad_norm < kGradientTolerance * (1.0 + std::abs(f))) return outcome(grad_norm, true);
        if (k > 2 && std::abs(f - previous_value) / std::max(std::abs(f), 1.0) < kRelativeValueTolerance)
            return outcome(grad_norm, true);

        Vector step = newton_direction(current.hessian, current.gradient);
        const double step_norm = max_abs(step);
        if (step_norm > kMaxStep)
            for (double& s : step) s *= kMaxStep / step_norm;
        ++k;

        const double threshold = f - kSufficientDecrease * std::abs(f);
        bool accepted = false;
        Vector trial_rho(rho.size());
        for (double alpha = 1.0; alpha >= kSmallestStepFactor; alpha *= kShrink) {
            for (std::size_t i = 0; i < rho.size(); ++i) trial_rho[i] = rho[i] + alpha * step[i];
            auto trial = objective(trial_rho);
            // Failed and non-finite trials are rejected like an increase.
            if (trial && std::isfinite(trial->value) && trial->value < threshold) {
                previous_value = f;
                rho = trial_rho;
                current = std::move(*trial);
                accepted = true;
                break;
            }
        }
        if (!accepted) return outcome(grad_norm, grad_norm < kStallTolerance * (1.0 + std::abs(f)));
        if (k == kMaxIterations) return fail(PelunError::not_converged(k, max_abs(current.gradient)));
    }
}

}  // namespace pelun
