#include "fit/fit_request.hpp"

#include <array>
#include <string>
#include <utility>

#include "util/format.hpp"

namespace pelun {

namespace {

struct NamedFamily {
    std::string_view name;
    FamilyKind family;
};

constexpr std::array kFamilyKinds = {
    NamedFamily{"gaussian", FamilyKind::Gaussian},
    NamedFamily{"bernoulli", FamilyKind::Bernoulli},
    NamedFamily{"binomial", FamilyKind::Bernoulli},
    NamedFamily{"poisson", FamilyKind::Poisson},
    NamedFamily{"quasipoisson", FamilyKind::QuasiPoisson},
    NamedFamily{"quasibinomial", FamilyKind::QuasiBinomial},
    NamedFamily{"gamma", FamilyKind::Gamma},
    NamedFamily{"inverse_gaussian", FamilyKind::InverseGaussian},
    NamedFamily{"inverse.gaussian", FamilyKind::InverseGaussian},
    NamedFamily{"negbin", FamilyKind::NegBin},
    NamedFamily{"nb", FamilyKind::NegBin},
    NamedFamily{"tdist", FamilyKind::TDist},
    NamedFamily{"scat", FamilyKind::TDist},
    NamedFamily{"tweedie", FamilyKind::Tweedie},
    NamedFamily{"tw", FamilyKind::Tweedie},
    NamedFamily{"ocat", FamilyKind::Ocat},
    NamedFamily{"elf", FamilyKind::Elf},
    NamedFamily{"quantile", FamilyKind::Elf},
};

bool has_shape_or_own_path(FamilyKind family) {
    switch (family) {
        case FamilyKind::NegBin:
        case FamilyKind::TDist:
        case FamilyKind::Tweedie:
        case FamilyKind::Ocat:
        case FamilyKind::Elf:
            return true;
        default:
            return false;
    }
}

Result<DesignKind> lookup_design(std::string_view name) {
    if (name == "cr") return DesignKind::Cr;
    if (name == "re") return DesignKind::Re;
    if (name == "cr_stable") return DesignKind::CrStable;
    return fail_invalid("design must be 'cr', 're', or 'cr_stable'; got " + quote_name(name));
}

// The checks each family runs before its design is built.
Result<void> check_starting_values(const FitRequest& request, SingleSmoothPlan& plan) {
    switch (plan.family) {
        case FamilyKind::NegBin:
            plan.theta = request.theta.value_or(2.0);
            // NaN passes this test on purpose; the finiteness check after the
            // design catches it.
            if (plan.theta <= 0.0)
                return fail_invalid("negbin theta must be > 0; got theta=" + format_double(plan.theta));
            break;
        case FamilyKind::TDist:
            plan.nu = request.nu.value_or(5.0);
            plan.sigma2 = request.sigma2.value_or(1.0);
            break;
        case FamilyKind::Tweedie:
            plan.tweedie_p = request.tweedie_p.value_or(1.5);
            plan.tweedie_phi = request.tweedie_phi.value_or(1.0);
            if (!(plan.tweedie_p > 1.0 && plan.tweedie_p < 2.0))
                return fail_invalid("tweedie p must be in (1, 2); got tweedie_p=" +
                                    format_double(plan.tweedie_p));
            break;
        case FamilyKind::Ocat:
            if (!request.r)
                return fail_invalid("family='ocat' requires r=K (number of ordered categories, K >= 3)");
            if (*request.r < 3) return fail_invalid("ocat requires r >= 3, got r=" + std::to_string(*request.r));
            plan.n_categories = *request.r;
            break;
        case FamilyKind::Elf:
            plan.tau = request.tau.value_or(0.5);
            plan.elf_sigma = request.elf_sigma.value_or(0.0);
            plan.elf_lambda = request.elf_lambda.value_or(0.0);
            if (!(plan.tau > 0.0 && plan.tau < 1.0))
                return fail_invalid("elf/quantile tau must be in (0, 1); got tau=" + format_double(plan.tau));
            break;
        default:
            break;
    }
    return {};
}

}  // namespace

std::optional<FamilyKind> lookup_family_name(std::string_view name) {
    for (const auto& entry : kFamilyKinds)
        if (entry.name == name) return entry.family;
    return std::nullopt;
}

std::optional<FamilyKind> lookup_additive_family_name(std::string_view name) {
    const auto family = lookup_family_name(name);
    if (!family || has_shape_or_own_path(*family)) return std::nullopt;
    return family;
}

Result<SingleSmoothPlan> plan_single_smooth_fit(const FitRequest& request) {
    const auto family = lookup_family_name(request.family_name);
    if (!family)
        return fail_invalid("unknown family " + quote_name(request.family_name) +
                            "; supported: gaussian, bernoulli, poisson, quasipoisson, quasibinomial, "
                            "gamma, inverse_gaussian, negbin, tdist, tweedie, ocat, elf");
    SingleSmoothPlan plan;
    plan.family = *family;
    if (auto checked = check_starting_values(request, plan); !checked) return fail(checked.error());

    auto design = lookup_design(request.design);
    if (!design) return fail(design.error());
    plan.design = *design;

    // Every single-smooth design reads column 0.
    if (request.x.cols() == 0)
        return fail_invalid("x must have at least one column; got x.ncols()=0");
    return plan;
}

}  // namespace pelun
