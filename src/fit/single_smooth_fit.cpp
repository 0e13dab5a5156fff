#include "fit/single_smooth_fit.hpp"

#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/re_design.hpp"
#include "fit/standard_driver.hpp"

namespace pelun {

bool single_smooth_path_available(const SingleSmoothPlan& plan) { return is_standard_family(plan.family); }

Result<Design> build_single_smooth_design(DesignKind kind, MatrixView x, std::size_t k) {
    switch (kind) {
        case DesignKind::Re: return build_re_design(x);
        case DesignKind::CrStable: return build_cr_stable_design(x, k);
        default: return build_cr_design(x, k);
    }
}

Result<FittedGam> fit_single_smooth(const FitRequest& request, const SingleSmoothPlan& plan) {
    auto design = build_single_smooth_design(plan.design, request.x, request.k);
    if (!design) return fail(design.error());
    return fit_standard_family(standard_family(plan.family), std::move(*design), request.y, request.weights);
}

}  // namespace pelun
