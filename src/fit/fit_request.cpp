#include "fit/fit_request.hpp"

#include <array>
#include <string>
#include <utility>

#include "util/format.hpp"

namespace pelun {

namespace {

struct NamedFamily {
    std::string_view name;
    FamilyName family;
};

constexpr std::array kFamilyNames = {
    NamedFamily{"gaussian", FamilyName::Gaussian},
    NamedFamily{"bernoulli", FamilyName::Bernoulli},
    NamedFamily{"binomial", FamilyName::Bernoulli},
    NamedFamily{"poisson", FamilyName::Poisson},
    NamedFamily{"quasipoisson", FamilyName::QuasiPoisson},
    NamedFamily{"quasibinomial", FamilyName::QuasiBinomial},
    NamedFamily{"gamma", FamilyName::Gamma},
    NamedFamily{"inverse_gaussian", FamilyName::InverseGaussian},
    NamedFamily{"inverse.gaussian", FamilyName::InverseGaussian},
    NamedFamily{"negbin", FamilyName::NegBin},
    NamedFamily{"nb", FamilyName::NegBin},
    NamedFamily{"tdist", FamilyName::TDist},
    NamedFamily{"scat", FamilyName::TDist},
    NamedFamily{"tweedie", FamilyName::Tweedie},
    NamedFamily{"tw", FamilyName::Tweedie},
    NamedFamily{"ocat", FamilyName::Ocat},
    NamedFamily{"elf", FamilyName::Elf},
    NamedFamily{"quantile", FamilyName::Elf},
};

bool has_shape_or_own_path(FamilyName family) {
    switch (family) {
        case FamilyName::NegBin:
        case FamilyName::TDist:
        case FamilyName::Tweedie:
        case FamilyName::Ocat:
        case FamilyName::Elf:
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
        case FamilyName::NegBin:
            plan.theta = request.theta.value_or(2.0);
            // NaN passes this test on purpose; the finiteness check after the
            // design catches it.
            if (plan.theta <= 0.0)
                return fail_invalid("negbin theta must be > 0; got theta=" + format_double(plan.theta));
            break;
        case FamilyName::TDist:
            plan.nu = request.nu.value_or(5.0);
            plan.sigma2 = request.sigma2.value_or(1.0);
            break;
        case FamilyName::Tweedie:
            plan.tweedie_p = request.tweedie_p.value_or(1.5);
            plan.tweedie_phi = request.tweedie_phi.value_or(1.0);
            if (!(plan.tweedie_p > 1.0 && plan.tweedie_p < 2.0))
                return fail_invalid("tweedie p must be in (1, 2); got tweedie_p=" +
                                    format_double(plan.tweedie_p));
            break;
        case FamilyName::Ocat:
            if (!request.r)
                return fail_invalid("family='ocat' requires r=K (number of ordered categories, K >= 3)");
            if (*request.r < 3) return fail_invalid("ocat requires r >= 3, got r=" + std::to_string(*request.r));
            plan.n_categories = *request.r;
            break;
        case FamilyName::Elf:
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

std::optional<FamilyName> lookup_family_name(std::string_view name) {
    for (const auto& entry : kFamilyNames)
        if (entry.name == name) return entry.family;
    return std::nullopt;
}

std::optional<FamilyName> lookup_additive_family_name(std::string_view name) {
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
