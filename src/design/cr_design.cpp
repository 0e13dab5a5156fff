#include "design/cr_design.hpp"

#include <utility>

#include "basis/cr_spline.hpp"
#include "design/covariate_check.hpp"
#include "design/penalty.hpp"
#include "linalg/blas.hpp"
#include "transform/centring.hpp"

namespace pelun {

namespace {

// Everything of a cr term but the constrained basis: the unconstrained basis
// B stays, so that callers can form B·Z where they need it.
struct CrParts {
    Vector knots;
    Matrix centring;
    Matrix raw_basis;
    Matrix penalty;
};

Result<CrParts> build_cr_parts(MatrixView x, std::size_t col, std::size_t k) {
    if (auto finite = require_finite_column(x, col); !finite) return fail(finite.error());
    const VectorView column = x.column(col);
    auto knots = place_knots(column, k);
    if (!knots) return fail(knots.error());

    Matrix raw_basis = cr_basis(*knots, column);
    Matrix raw_penalty = cr_penalty(*knots);

    // Scale the penalty to the basis before the constraint is applied.
    const double factor = penalty_scale_factor(raw_basis, raw_penalty);
    for (std::size_t i = 0; i < raw_penalty.size(); ++i) raw_penalty.data()[i] *= factor;

    Matrix centring = sum_to_zero_basis(column_sums(raw_basis));
    Matrix penalty = matmul(matmul_tn(centring, raw_penalty), centring);
    return CrParts{std::move(*knots), std::move(centring), std::move(raw_basis), std::move(penalty)};
}

}  // namespace

Result<CrTerm> build_cr_term(MatrixView x, std::size_t col, std::size_t k) {
    auto parts = build_cr_parts(x, col, k);
    if (!parts) return fail(parts.error());
    Matrix basis = matmul(parts->raw_basis, parts->centring);
    return CrTerm{std::move(parts->knots), std::move(parts->centring), std::move(basis), std::move(parts->penalty)};
}

Matrix centred_cr_basis(std::span<const double> knots, const Matrix& centring, VectorView x) {
    return matmul(cr_basis(knots, x), centring);
}

Result<Design> build_cr_design(MatrixView x, std::size_t k) {
    auto parts = build_cr_parts(x, 0, k);
    if (!parts) return fail(parts.error());
    Matrix model = intercept_and_product(parts->raw_basis, parts->centring);
    parts->raw_basis = Matrix();  // release n × k before the penalty summaries
    Predictor predictor{CrPredictor{std::move(parts->knots), std::move(parts->centring)}};
    return single_smooth_design_from_x(std::move(predictor), std::move(model), parts->penalty);
}

}  // namespace pelun
