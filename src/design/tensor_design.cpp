#include "design/tensor_design.hpp"

#include <string>
#include <utility>

#include "basis/cr_spline.hpp"
#include "design/covariate_check.hpp"
#include "design/kronecker.hpp"
#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"
#include "transform/centring.hpp"

namespace pelun {

namespace {

// Knots of one margin after the finiteness check of its column.
Result<Vector> margin_knots(MatrixView x, std::size_t col, std::size_t k) {
    if (auto finite = require_finite_column(x, col); !finite) return fail(finite.error());
    return place_knots(x.column(col), k);
}

// Zᵀ·p·Z.
Matrix constrain(const Matrix& z, const Matrix& p) { return matmul(matmul_tn(z, p), z); }

}  // namespace

Result<Matrix> scale_to_unit_largest_eigenvalue(Matrix s) {
    const auto eigen = symmetric_eigen(s);
    if (!eigen)
        return fail(PelunError::linalg("eigh failed in tensor penalty rescale: " + eigen.error().description));
    double largest = 0.0;
    for (const double v : eigen->values)
        if (v > largest) largest = v;  // false for NaN
    if (largest > 0.0)
        for (std::size_t i = 0; i < s.size(); ++i) s.data()[i] /= largest;
    return s;
}

Matrix tensor_product_basis(std::span<const double> knots_a, const Matrix& xp_a, VectorView x_a,
                            std::span<const double> knots_b, const Matrix& xp_b, VectorView x_b) {
    const Matrix a = matmul(cr_basis(knots_a, x_a), xp_a);
    const Matrix b = matmul(cr_basis(knots_b, x_b), xp_b);
    return row_kronecker(a, b);
}

Result<TensorTerm> build_tensor_term(MatrixView x, std::size_t col_a, std::size_t col_b, std::size_t k_a,
                                     std::size_t k_b) {
    if (col_a == col_b)
        return fail_invalid("Tensor term must have distinct margin columns (got col_a == col_b == " +
                            std::to_string(col_a) + ")");
    auto knots_a = margin_knots(x, col_a, k_a);
    if (!knots_a) return fail(knots_a.error());
    auto knots_b = margin_knots(x, col_b, k_b);
    if (!knots_b) return fail(knots_b.error());

    auto penalty_a = scale_to_unit_largest_eigenvalue(cr_penalty(*knots_a));
    if (!penalty_a) return fail(penalty_a.error());
    auto penalty_b = scale_to_unit_largest_eigenvalue(cr_penalty(*knots_b));
    if (!penalty_b) return fail(penalty_b.error());

    const std::size_t ka = knots_a->size(), kb = knots_b->size();
    Matrix xp_a = Matrix::identity(ka);
    Matrix xp_b = Matrix::identity(kb);
    const Matrix t = tensor_product_basis(*knots_a, xp_a, x.column(col_a), *knots_b, xp_b, x.column(col_b));

    Matrix centring = sum_to_zero_basis(column_sums(t));
    Matrix basis = matmul(t, centring);
    Matrix full_a = constrain(centring, kron_with_identity(*penalty_a, kb));
    Matrix full_b = constrain(centring, identity_kron(ka, *penalty_b));
    return TensorTerm{std::move(*knots_a), std::move(*knots_b), std::move(xp_a),  std::move(xp_b),
                      std::move(centring), std::move(basis),    std::move(full_a), std::move(full_b)};
}

}  // namespace pelun
