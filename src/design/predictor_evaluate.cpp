#include "design/predictor_evaluate.hpp"

#include <string>
#include <type_traits>
#include <vector>

#include "basis/cr_spline.hpp"
#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/design.hpp"
#include "design/re_design.hpp"
#include "design/tensor_design.hpp"
#include "linalg/blas.hpp"

namespace pelun {

namespace {

std::string shape_text(std::size_t rows, std::size_t cols) {
    return std::to_string(rows) + " × " + std::to_string(cols);
}

// A stored matrix whose shape does not fit the rest of its predictor can only
// come from a corrupted serialized fit; the products below would read past
// its end, so it stops the evaluation as a broken invariant.
Result<void> require_shape(const Matrix& m, const char* name, std::size_t rows, std::size_t cols) {
    if (m.rows() == rows && m.cols() == cols) return {};
    return fail(PelunError::internal("invalid stored " + std::string(name) + ": must be " +
                                     shape_text(rows, cols) + "; got " + shape_text(m.rows(), m.cols())));
}

Result<Matrix> evaluate_cr(const CrPredictor& cr, MatrixView x_new) {
    auto knots = validate_knots(cr.knots);
    if (!knots) return fail(knots.error());
    const std::size_t k = knots->size();
    if (auto shape = require_shape(cr.centring, "centring", k, k - 1); !shape) return fail(shape.error());
    return intercept_and_product(cr_basis(*knots, x_new.column(0)), cr.centring);
}

Result<Matrix> evaluate_re(const RePredictor& re, MatrixView x_new) {
    return prepend_intercept(re_indicator(re.levels, x_new.column(0)));
}

Result<Matrix> evaluate_cr_stable(const CrStablePredictor& cr, MatrixView x_new) {
    auto knots = validate_knots(cr.knots);
    if (!knots) return fail(knots.error());
    const std::size_t k = knots->size();
    if (auto shape = require_shape(cr.centring, "centring", k, k - 1); !shape) return fail(shape.error());
    if (auto shape = require_shape(cr.reparam_v, "reparam_v", k - 1, k - 1); !shape) return fail(shape.error());
    return prepend_intercept(stable_cr_basis(*knots, cr.centring, cr.reparam_v, x_new.column(0)));
}

Result<Matrix> evaluate_tensor(const TensorPredictor& t, MatrixView x_new) {
    if (t.col_a >= x_new.cols() || t.col_b >= x_new.cols())
        return fail_invalid("TensorPredictor: term reads columns (" + std::to_string(t.col_a) + ", " +
                            std::to_string(t.col_b) + ") but x has only " + std::to_string(x_new.cols()) +
                            " columns");
    auto knots_a = validate_knots(t.knots_a);
    if (!knots_a) return fail(PelunError::internal("invalid stored knots_a: " + knots_a.error().text));
    auto knots_b = validate_knots(t.knots_b);
    if (!knots_b) return fail(PelunError::internal("invalid stored knots_b: " + knots_b.error().text));
    const std::size_t ka = knots_a->size(), kb = knots_b->size(), width = ka * kb;
    if (auto shape = require_shape(t.xp_a, "xp_a", ka, ka); !shape) return fail(shape.error());
    if (auto shape = require_shape(t.xp_b, "xp_b", kb, kb); !shape) return fail(shape.error());
    if (auto shape = require_shape(t.centring, "centring", width, width - 1); !shape) return fail(shape.error());

    const Matrix product = tensor_product_basis(*knots_a, t.xp_a, x_new.column(t.col_a), *knots_b, t.xp_b,
                                                x_new.column(t.col_b));
    return prepend_intercept(matmul(product, t.centring));
}

// Column `col` of `x` as an n × 1 matrix.
Matrix column_matrix(MatrixView x, std::size_t col) {
    Matrix out(x.rows(), 1);
    const VectorView column = x.column(col);
    for (std::size_t r = 0; r < out.rows(); ++r) out.data()[r] = column[r];
    return out;
}

Result<Matrix> evaluate_additive(const AdditivePredictor& additive, MatrixView x_new) {
    const std::size_t terms = additive.term_predictors.size();
    if (additive.cols_used.size() != terms)
        return fail(PelunError::internal("invalid stored additive predictor: " + std::to_string(terms) +
                                         " term predictors but " + std::to_string(additive.cols_used.size()) +
                                         " cols_used entries"));
    std::vector<Matrix> blocks;
    blocks.reserve(terms);
    for (std::size_t i = 0; i < terms; ++i) {
        const std::vector<std::size_t>& cols = additive.cols_used[i];
        for (const std::size_t c : cols)
            if (c >= x_new.cols())
                return fail_invalid("AdditivePredictor: term " + std::to_string(i) + " expects column " +
                                    std::to_string(c) + " but x has only " + std::to_string(x_new.cols()) +
                                    " columns");
        const Predictor& term = additive.term_predictors[i];
        Result<Matrix> block;
        if (std::holds_alternative<TensorPredictor>(term.value)) {
            block = evaluate(term, x_new);  // reads its own two columns
        } else {
            if (cols.empty())
                return fail(PelunError::internal("invalid stored additive predictor: term " + std::to_string(i) +
                                                 " reads no column"));
            block = evaluate(term, column_matrix(x_new, cols[0]));
        }
        if (!block) return fail(block.error());
        blocks.push_back(std::move(*block));
    }
    // Each term's matrix starts with its own intercept, which is dropped.
    return intercept_and_blocks(x_new.rows(), blocks, 1);
}

}  // namespace

Result<Matrix> evaluate(const Predictor& predictor, MatrixView x_new) {
    return std::visit(
        [&](const auto& p) -> Result<Matrix> {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, CrPredictor>) return evaluate_cr(p, x_new);
            if constexpr (std::is_same_v<P, RePredictor>) return evaluate_re(p, x_new);
            if constexpr (std::is_same_v<P, CrStablePredictor>) return evaluate_cr_stable(p, x_new);
            if constexpr (std::is_same_v<P, TensorPredictor>) return evaluate_tensor(p, x_new);
            if constexpr (std::is_same_v<P, AdditivePredictor>) return evaluate_additive(p, x_new);
        },
        predictor.value);
}

}  // namespace pelun
