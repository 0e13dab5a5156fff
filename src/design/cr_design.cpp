#include "design/cr_design.hpp"

#include <utility>

#include "basis/cr_spline.hpp"
#include "design/covariate_check.hpp"
#include "design/penalty.hpp"
#include "linalg/blas.hpp"
#include "transform/centring.hpp"

namespace pelun {

Result<CrTerm> build_cr_term(MatrixView x, std::size_t col, std::size_t k) {
    if (auto finite = require_finite_column(x, col); !finite) return fail(finite.error());
    const VectorView column = x.column(col);
    auto knots = place_knots(column, k);
    if (!knots) return fail(knots.error());

    const Matrix raw_basis = cr_basis(*knots, column);
    Matrix raw_penalty = cr_penalty(*knots);

    // Scale the penalty to the basis before the constraint is applied.
    const double factor = penalty_scale_factor(raw_basis, raw_penalty);
    for (std::size_t i = 0; i < raw_penalty.size(); ++i) raw_penalty.data()[i] *= factor;

    Matrix centring = sum_to_zero_basis(column_sums(raw_basis));
    Matrix basis = matmul(raw_basis, centring);
    Matrix penalty = matmul(matmul_tn(centring, raw_penalty), centring);
    return CrTerm{std::move(*knots), std::move(centring), std::move(basis), std::move(penalty)};
}

Matrix centred_cr_basis(std::span<const double> knots, const Matrix& centring, VectorView x) {
    return matmul(cr_basis(knots, x), centring);
}

Result<Design> build_cr_design(MatrixView x, std::size_t k) {
    auto term = build_cr_term(x, 0, k);
    if (!term) return fail(term.error());
    Predictor predictor{CrPredictor{std::move(term->knots), std::move(term->centring)}};
    return single_smooth_design(std::move(predictor), term->basis, term->penalty);
}

}  // namespace pelun
