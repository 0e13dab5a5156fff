// The fit problem of a standard family on a built design: its inner fit at
// any ρ and the criterion with its envelope gradient there.
#pragma once

#include <optional>
#include <span>
#include <variant>

#include "design/design.hpp"
#include "family/family.hpp"
#include "inner/closed_form.hpp"
#include "inner/inner_fit_result.hpp"
#include "inner/pirls.hpp"
#include "score/envelope.hpp"
#include "util/error.hpp"

namespace pelun {

// Borrows the design, the response and the weights, which must outlive it.
// Built once per fit; every evaluation starts the inner fit afresh.
class StandardProblem {
public:
    // Precondition: the sizes of y and weights match the design (checked by
    // the driver). The Gaussian problem forms its cross-products here.
    static Result<StandardProblem> make(const Family& family, const Design& design, std::span<const double> y,
                                        std::optional<std::span<const double>> weights);

    // The Gaussian closed form, or PIRLS with at most 50 iterations and
    // tolerance 1e-9.
    Result<InnerFitResult> inner_fit(std::span<const double> rho) const;

    // The criterion at rho (one inner fit; the Gaussian one without the
    // n-vectors the criterion does not read).
    Result<ScoreEval> envelope_score(std::span<const double> rho) const;

    const Family& family() const { return family_; }

private:
    StandardProblem(const Family& family, const Design& design, std::span<const double> y,
                    std::variant<GaussianProblem, PirlsProblem> inner);

    Family family_;
    PenaltySummary penalties_;
    std::span<const double> y_;
    std::variant<GaussianProblem, PirlsProblem> inner_;
};

}  // namespace pelun
