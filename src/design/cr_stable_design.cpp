#include "design/cr_stable_design.hpp"

#include <string>
#include <utility>

#include "design/cr_design.hpp"
#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"

namespace pelun {

Result<Matrix> stable_reparam(const Matrix& inner_penalty, std::size_t q) {
    if (inner_penalty.rows() != q || inner_penalty.cols() != q) {
        const std::string want = std::to_string(q);
        return fail_invalid("StableReparam: inner_penalty must be (" + want + ", " + want + "); got (" +
                            std::to_string(inner_penalty.rows()) + ", " + std::to_string(inner_penalty.cols()) +
                            ")");
    }
    const auto eigen = symmetric_eigen(inner_penalty);
    if (!eigen) return fail(PelunError::linalg("eigh failed in StableReparam: " + eigen.error().description));

    // The solver orders eigenvalues ascending; V takes them largest first.
    Matrix v(q, q);
    for (std::size_t i = 0; i < q; ++i) {
        const double* in = eigen->vectors.data() + i * q;
        double* out = v.data() + i * q;
        for (std::size_t j = 0; j < q; ++j) out[j] = in[q - 1 - j];
    }
    return v;
}

Result<CrStableTerm> build_cr_stable_term(MatrixView x, std::size_t col, std::size_t k) {
    auto cr = build_cr_term(x, col, k);
    if (!cr) return fail(cr.error());
    auto v = stable_reparam(cr->penalty, cr->centring.cols());
    if (!v) return fail(v.error());

    // cr->basis is centred_cr_basis(knots, centring, column), so this is
    // stable_cr_basis at the fitting points.
    Matrix basis = matmul(cr->basis, *v);
    Matrix penalty = matmul(matmul_tn(*v, cr->penalty), *v);
    return CrStableTerm{std::move(cr->knots), std::move(cr->centring), std::move(*v), std::move(basis),
                        std::move(penalty)};
}

Matrix stable_cr_basis(std::span<const double> knots, const Matrix& centring, const Matrix& reparam_v,
                       VectorView x) {
    return matmul(centred_cr_basis(knots, centring, x), reparam_v);
}

Result<Design> build_cr_stable_design(MatrixView x, std::size_t k) {
    auto term = build_cr_stable_term(x, 0, k);
    if (!term) return fail(term.error());
    Predictor predictor{
        CrStablePredictor{std::move(term->knots), std::move(term->centring), std::move(term->reparam_v)}};
    return single_smooth_design(std::move(predictor), term->basis, term->penalty);
}

}  // namespace pelun
