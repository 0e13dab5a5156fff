#include "fit/single_smooth_fit.hpp"

#include "design/cr_design.hpp"
#include "design/re_design.hpp"
#include "fit/standard_driver.hpp"

namespace pelun {

namespace {

bool is_standard(FamilyKind kind) {
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

}  // namespace

bool single_smooth_path_available(const SingleSmoothPlan& plan) {
    return is_standard(plan.family) && plan.design != DesignKind::CrStable;
}

Result<FittedGam> fit_single_smooth(const FitRequest& request, const SingleSmoothPlan& plan) {
    auto design = plan.design == DesignKind::Re ? build_re_design(request.x) : build_cr_design(request.x, request.k);
    if (!design) return fail(design.error());
    return fit_standard_family(standard_family(plan.family), std::move(*design), request.y, request.weights);
}

}  // namespace pelun
