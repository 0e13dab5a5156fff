#include "design/additive_design.hpp"

#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/penalty.hpp"
#include "design/re_design.hpp"
#include "design/tensor_design.hpp"

namespace pelun {

namespace {

// One term as built, before it is placed in the model matrix.
struct BuiltTerm {
    Predictor predictor;
    Matrix block;                  // n × w
    std::vector<Matrix> penalties;  // w × w each, in smoothing-parameter order
};

std::vector<std::size_t> columns_read(const TermSpec& term_spec) {
    return std::visit(
        [](const auto& s) -> std::vector<std::size_t> {
            if constexpr (std::is_same_v<std::decay_t<decltype(s)>, TensorTermSpec>) return {s.col_a, s.col_b};
            else return {s.col};
        },
        term_spec);
}

Result<BuiltTerm> build_term(const CrTermSpec& term_spec, MatrixView x) {
    auto term = build_cr_term(x, term_spec.col, term_spec.k);
    if (!term) return fail(term.error());
    BuiltTerm built{Predictor{CrPredictor{std::move(term->knots), std::move(term->centring)}},
                    std::move(term->basis), {}};
    built.penalties.push_back(std::move(term->penalty));
    return built;
}

Result<BuiltTerm> build_term(const CrStableTermSpec& term_spec, MatrixView x) {
    auto term = build_cr_stable_term(x, term_spec.col, term_spec.k);
    if (!term) return fail(term.error());
    BuiltTerm built{Predictor{CrStablePredictor{std::move(term->knots), std::move(term->centring),
                                                std::move(term->reparam_v)}},
                    std::move(term->basis), {}};
    built.penalties.push_back(std::move(term->penalty));
    return built;
}

Result<BuiltTerm> build_term(const ReTermSpec& term_spec, MatrixView x) {
    auto term = build_re_term(x, term_spec.col);
    if (!term) return fail(term.error());
    const std::size_t levels = term->levels.size();
    BuiltTerm built{Predictor{RePredictor{std::move(term->levels)}}, std::move(term->indicator), {}};
    built.penalties.push_back(Matrix::identity(levels));
    return built;
}

Result<BuiltTerm> build_term(const TensorTermSpec& term_spec, MatrixView x) {
    auto term = build_tensor_term(x, term_spec.col_a, term_spec.col_b, term_spec.k_a, term_spec.k_b);
    if (!term) return fail(term.error());
    TensorPredictor predictor;
    predictor.col_a = term_spec.col_a;
    predictor.col_b = term_spec.col_b;
    predictor.bs_a = MarginBasis::Cr;
    predictor.bs_b = MarginBasis::Cr;
    predictor.knots_a = std::move(term->knots_a);
    predictor.knots_b = std::move(term->knots_b);
    predictor.xp_a = std::move(term->xp_a);
    predictor.xp_b = std::move(term->xp_b);
    predictor.centring = std::move(term->centring);
    BuiltTerm built{Predictor{std::move(predictor)}, std::move(term->basis), {}};
    built.penalties.push_back(std::move(term->penalty_a));
    built.penalties.push_back(std::move(term->penalty_b));
    return built;
}

}  // namespace

Result<Design> build_additive_design(std::span<const TermSpec> terms, MatrixView x) {
    if (terms.empty()) return fail_invalid("Additive design needs at least one term (got 0)");

    std::vector<std::vector<std::size_t>> cols_used;
    cols_used.reserve(terms.size());
    for (std::size_t i = 0; i < terms.size(); ++i) {
        cols_used.push_back(columns_read(terms[i]));
        for (const std::size_t col : cols_used.back())
            if (col >= x.cols())
                return fail_invalid("Additive term " + std::to_string(i) + " reads column " + std::to_string(col) +
                                    " but x has only " + std::to_string(x.cols()) + " columns");
    }

    std::vector<BuiltTerm> built;
    built.reserve(terms.size());
    for (const TermSpec& term_spec : terms) {
        auto term = std::visit([&](const auto& s) { return build_term(s, x); }, term_spec);
        if (!term) return fail(term.error());
        built.push_back(std::move(*term));
    }

    AdditivePredictor predictor;
    predictor.cols_used = std::move(cols_used);
    std::vector<Matrix> blocks;
    blocks.reserve(built.size());
    std::size_t p = 1;
    for (BuiltTerm& term : built) {
        const std::size_t w = term.block.cols();
        predictor.term_col_ranges.emplace_back(p, p + w);
        p += w;
        blocks.push_back(std::move(term.block));
    }

    Design design;
    design.x = intercept_and_blocks(x.rows(), blocks, 0);
    blocks.clear();
    std::size_t rank_sum = 0;
    for (std::size_t i = 0; i < built.size(); ++i) {
        const std::size_t first = predictor.term_col_ranges[i].first;
        for (const Matrix& block_penalty : built[i].penalties) {
            Matrix penalty = embed_penalty(block_penalty, p, first);
            const auto summary = penalty_rank_logdet(penalty);
            if (!summary) return fail(summary.error());
            rank_sum += summary->rank;
            design.penalties.push_back(std::move(penalty));
            design.penalty_ranks.push_back(summary->rank);
            design.penalty_logdets.push_back(summary->logdet);
        }
        predictor.term_predictors.push_back(std::move(built[i].predictor));
    }
    design.null_space_dim = p > rank_sum ? p - rank_sum : 0;
    design.predictor = Predictor{std::move(predictor)};
    return design;
}

}  // namespace pelun
