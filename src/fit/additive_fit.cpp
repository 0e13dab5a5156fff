#include "fit/additive_fit.hpp"

#include "design/additive_design.hpp"
#include "fit/standard_driver.hpp"
#include "util/format.hpp"

namespace pelun {

Result<FittedGam> fit_additive_model(const AdditiveFitRequest& request) {
    const auto family = lookup_additive_family_name(request.family_name);
    if (!family) return fail_invalid("fit_additive: family " + quote_name(request.family_name) + " has no additive fit");
    auto design = build_additive_design(request.terms, request.x);
    if (!design) return fail(design.error());
    return fit_standard_family(standard_family(*family), std::move(*design), request.y, request.weights);
}

}  // namespace pelun
