#include "inner/closed_form.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "inner/penalized_solve.hpp"
#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace {

std::unexpected<PelunError> invalid_shape() {
    return fail(PelunError::linalg(invalid_shape_failure().description));
}

bool fits(std::span<const Matrix> penalties, const Matrix& x, std::span<const double> y,
          const std::optional<std::span<const double>>& prior_weights) {
    if (penalties.empty() || y.size() != x.rows()) return false;
    if (prior_weights && prior_weights->size() != x.rows()) return false;
    for (const Matrix& s : penalties)
        if (s.rows() != x.cols() || s.cols() != x.cols()) return false;
    return true;
}

Vector weights_or_ones(const std::optional<std::span<const double>>& weights, std::size_t n) {
    if (weights) return Vector(weights->begin(), weights->end());
    return Vector(n, 1.0);
}

}  // namespace

Result<GaussianProblem> make_gaussian_problem(std::span<const Matrix> penalties, const Matrix& x,
                                              std::span<const double> y,
                                              std::optional<std::span<const double>> prior_weights) {
    if (!fits(penalties, x, y, prior_weights)) return invalid_shape();
    const Vector w = weights_or_ones(prior_weights, x.rows());
    WeightedCrossproducts cross = weighted_crossproducts(x, w, y);
    return GaussianProblem{penalties, x, y, std::move(cross.xtwx), std::move(cross.xtwz),
                           prior_weights};
}

Result<InnerFitResult> gaussian_closed_form(const GaussianProblem& problem, std::span<const double> rho,
                                            ClosedFormOutput output) {
    const Matrix& x = problem.x;
    const std::size_t n = x.rows(), p = x.cols();
    if (!fits(problem.penalties, x, problem.y, problem.prior_weights) ||
        rho.size() < problem.penalties.size() || problem.xtwx.rows() != p ||
        problem.xtwx.cols() != p || problem.xtwy.size() != p)
        return invalid_shape();

    Matrix h = total_penalty(problem.penalties, rho);
    for (std::size_t i = 0; i < h.size(); ++i) h.data()[i] += problem.xtwx.data()[i];
    auto solved = penalized_solve(h, problem.xtwy);
    if (!solved) return fail(std::move(solved.error()));

    InnerFitResult fit;
    double rss = 0.0;
    if (output == ClosedFormOutput::CoefficientsOnly) {
        // μ block by block into a small buffer, so no n-vector is allocated
        // per criterion evaluation; the RSS is still summed in row order.
        std::array<double, matvec_block_rows> mu;
        for (std::size_t first = 0; first < n; first += mu.size()) {
            const std::size_t count = std::min(mu.size(), n - first);
            matvec_rows_into(x, first, solved->beta, std::span(mu).first(count));
            for (std::size_t i = 0; i < count; ++i) {
                const double r = problem.y[first + i] - mu[i];
                rss += (problem.prior_weights ? (*problem.prior_weights)[first + i] : 1.0) * (r * r);
            }
        }
    } else {
        fit.mu = matvec(x, solved->beta);
        fit.working_weights = weights_or_ones(problem.prior_weights, n);
        for (std::size_t i = 0; i < n; ++i) {
            const double r = problem.y[i] - fit.mu[i];
            rss += fit.working_weights[i] * (r * r);
        }
        fit.eta = fit.mu;
        fit.working_response.assign(problem.y.begin(), problem.y.end());
    }
    fit.beta = std::move(solved->beta);
    fit.chol = std::move(solved->chol);
    fit.deviance = rss;
    fit.wrss = rss;
    fit.n_obs = n;
    fit.n_coef = p;
    fit.iterations = 1;
    fit.converged = true;
    return fit;
}

}  // namespace pelun
