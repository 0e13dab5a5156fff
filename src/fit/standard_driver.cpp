#include "fit/standard_driver.hpp"

#include <cmath>
#include <span>
#include <string>

#include "family/visit_family.hpp"
#include "fit/record_assembly.hpp"
#include "fit/standard_problem.hpp"
#include "inner/penalized_solve.hpp"
#include "outer/newton_search.hpp"

namespace pelun {

namespace {

Result<void> check_data(const Family& family, const Design& design, VectorView y,
                        const std::optional<Vector>& weights) {
    const std::size_t n = design.x.rows();
    if (n != y.size())
        return fail_invalid("x and y must have the same number of rows; got x.nrows()=" + std::to_string(n) +
                            ", y.len()=" + std::to_string(y.size()));
    if (weights && weights->size() != n)
        return fail_invalid("prior_weights length must match x rows; got weights.len()=" +
                            std::to_string(weights->size()) + ", x.nrows()=" + std::to_string(n));
    return check_response(family, y);
}

double gaussian_scale(const InnerFitResult& fit, const Design& design, std::span<const double> rho) {
    const double residual_df = static_cast<double>(fit.n_obs) - static_cast<double>(design.null_space_dim);
    if (!(residual_df > 0.0)) return std::nan("");
    const double penalty = penalty_quadratic(fit.beta, total_penalty(design.penalties, rho));
    return (fit.deviance + penalty) / residual_df;
}

double fitted_scale(const Family& family, const InnerFitResult& fit, const Design& design,
                    std::span<const double> rho, std::span<const double> y,
                    std::optional<std::span<const double>> weights, double edf_total) {
    switch (scale_kind(family.kind)) {
        case ScaleKind::Fixed:
            return 1.0;
        case ScaleKind::Estimated:
            return gaussian_scale(fit, design, rho);
        default:
            return weights ? pearson_scale(family, y, fit.mu, *weights, edf_total)
                           : pearson_scale(family, y, fit.mu, edf_total);
    }
}

}  // namespace

bool is_standard_family(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Gaussian:
        case FamilyKind::Bernoulli:
        case FamilyKind::QuasiBinomial:
        case FamilyKind::Poisson:
        case FamilyKind::QuasiPoisson:
        case FamilyKind::Gamma:
        case FamilyKind::InverseGaussian:
            return true;
        default:
            return false;
    }
}

Family standard_family(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Bernoulli: return bernoulli_logit();
        case FamilyKind::QuasiBinomial: return quasibinomial_logit();
        case FamilyKind::Poisson: return poisson_log();
        case FamilyKind::QuasiPoisson: return quasipoisson_log();
        case FamilyKind::Gamma: return gamma_log();
        case FamilyKind::InverseGaussian: return inverse_gaussian_log();
        default: return gaussian_identity();
    }
}

Result<FittedGam> fit_standard_family(const Family& family, Design design, VectorView y,
                                      const std::optional<Vector>& weights) {
    if (auto checked = check_data(family, design, y, weights); !checked) return fail(checked.error());

    // The loops want the response contiguous; a strided one is copied once.
    Vector y_copy;
    std::span<const double> y_values;
    if (y.is_contiguous() || y.size() <= 1) {
        y_values = std::span<const double>(y.contiguous_data(), y.size());
    } else {
        y_copy = to_vector(y);
        y_values = y_copy;
    }
    std::optional<std::span<const double>> w_values;
    if (weights) w_values = std::span<const double>(*weights);

    auto problem = StandardProblem::make(family, design, y_values, w_values);
    if (!problem) return fail(problem.error());
    const GradientObjective score = [&](const Vector& rho) { return problem->envelope_score(rho); };
    const HessianObjective objective = [&](const Vector& rho) { return score_with_hessian(score, rho); };
    auto search = newton_search(objective, Vector(design.penalties.size(), 0.0));
    if (!search) return fail(search.error());

    auto final_fit = problem->inner_fit(search->rho);
    if (!final_fit) return fail(final_fit.error());
    FitSummaries summaries = summarise_inner_fit(*final_fit, design.x, design.penalties, search->rho);
    const double scale =
        fitted_scale(family, *final_fit, design, search->rho, y_values, w_values, summaries.edf_total);

    FittedGam record;
    record.beta = std::move(final_fit->beta);
    record.rho = search->rho;
    record.lambda.reserve(search->rho.size());
    for (const double r : search->rho) record.lambda.push_back(std::exp(r));
    record.scale = scale;
    record.edf_total = summaries.edf_total;
    record.edf_per_term = std::move(summaries.edf_per_term);
    record.n = design.x.rows();
    record.n_iters = search->iterations;
    record.converged = search->converged && final_fit->converged;
    record.reml_value = search->value;
    record.vcov = posterior_covariance(std::move(summaries.h_inverse), scale);
    record.link_kind = link_kind(family.kind);
    record.predictor = std::move(design.predictor);
    return record;
}

}  // namespace pelun
