#include "design/predictor_evaluate.hpp"

#include <type_traits>

#include "basis/cr_spline.hpp"
#include "design/cr_design.hpp"
#include "design/design.hpp"
#include "design/re_design.hpp"
#include "linalg/blas.hpp"

namespace pelun {

namespace {

Result<Matrix> evaluate_cr(const CrPredictor& cr, MatrixView x_new) {
    auto knots = validate_knots(cr.knots);
    if (!knots) return fail(knots.error());
    return prepend_intercept(centred_cr_basis(*knots, cr.centring, x_new.column(0)));
}

Result<Matrix> evaluate_re(const RePredictor& re, MatrixView x_new) {
    return prepend_intercept(re_indicator(re.levels, x_new.column(0)));
}

Result<Matrix> evaluate_cr_stable(const CrStablePredictor& cr, MatrixView x_new) {
    auto knots = validate_knots(cr.knots);
    if (!knots) return fail(knots.error());
    return prepend_intercept(matmul(centred_cr_basis(*knots, cr.centring, x_new.column(0)), cr.reparam_v));
}

}  // namespace

Result<Matrix> evaluate(const Predictor& predictor, MatrixView x_new) {
    return std::visit(
        [&](const auto& p) -> Result<Matrix> {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, CrPredictor>) return evaluate_cr(p, x_new);
            if constexpr (std::is_same_v<P, RePredictor>) return evaluate_re(p, x_new);
            if constexpr (std::is_same_v<P, CrStablePredictor>) return evaluate_cr_stable(p, x_new);
            // Additive and tensor designs are not built by any fit yet.
            return fail_invalid("additive and tensor predictors cannot be evaluated by this build of pelun");
        },
        predictor.value);
}

}  // namespace pelun
