#include "fit/standard_problem.hpp"

namespace pelun {

StandardProblem::StandardProblem(const Family& family, const Design& design, std::span<const double> y,
                                 std::variant<GaussianProblem, PirlsProblem> inner)
    : family_(family),
      penalties_{design.penalties, design.penalty_ranks, design.penalty_logdets, design.null_space_dim},
      y_(y),
      inner_(std::move(inner)) {}

Result<StandardProblem> StandardProblem::make(const Family& family, const Design& design,
                                              std::span<const double> y,
                                              std::optional<std::span<const double>> weights) {
    if (family.kind == FamilyKind::Gaussian) {
        auto problem = make_gaussian_problem(design.penalties, design.x, y, weights);
        if (!problem) return fail(problem.error());
        return StandardProblem(family, design, y, std::move(*problem));
    }
    return StandardProblem(family, design, y,
                           PirlsProblem{design.penalties, design.x, y, weights, std::nullopt, 50, 1e-9});
}

Result<InnerFitResult> StandardProblem::inner_fit(std::span<const double> rho) const {
    if (const auto* gaussian = std::get_if<GaussianProblem>(&inner_)) return gaussian_closed_form(*gaussian, rho);
    return pirls(family_, std::get<PirlsProblem>(inner_), rho);
}

Result<ScoreEval> StandardProblem::envelope_score(std::span<const double> rho) const {
    auto fit = std::holds_alternative<GaussianProblem>(inner_)
                   ? gaussian_closed_form(std::get<GaussianProblem>(inner_), rho, ClosedFormOutput::CoefficientsOnly)
                   : inner_fit(rho);
    if (!fit) return fail(fit.error());
    return score_from_inner_fit(family_.kind, *fit, rho, penalties_, y_);
}

}  // namespace pelun
