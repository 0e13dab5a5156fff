#include "design/additive_design.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "dense_reference.hpp"
#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/re_design.hpp"
#include "design/tensor_design.hpp"

namespace pelun {
namespace {

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
using Columns = std::vector<std::vector<std::size_t>>;

// Uniform columns, except that column `levels_col` holds `levels` distinct
// values 0, 1, …, levels − 1, each appearing at least once.
Matrix mixed_covariates(std::size_t n, std::size_t cols, std::size_t levels_col, std::size_t levels, unsigned seed) {
    Matrix x = reference::uniform_covariates(n, cols, seed);
    std::mt19937 rng(seed + 100);
    std::uniform_int_distribution<std::size_t> level(0, levels - 1);
    for (std::size_t r = 0; r < n; ++r) x(r, levels_col) = static_cast<double>(r < levels ? r : level(rng));
    return x;
}

Matrix columns_of(const Matrix& x, std::size_t first, std::size_t last) {
    Matrix out(x.rows(), last - first);
    for (std::size_t r = 0; r < x.rows(); ++r)
        for (std::size_t j = first; j < last; ++j) out(r, j - first) = x(r, j);
    return out;
}

double column_sum(const Matrix& x, std::size_t j) {
    double s = 0.0;
    for (std::size_t r = 0; r < x.rows(); ++r) s += x(r, j);
    return s;
}

// Ranks and log-determinants of every penalty against Jacobi eigenvalues,
// and the floored null-space dimension.
void expect_penalty_summaries(const Design& design) {
    const std::size_t p = design.x.cols();
    ASSERT_EQ(design.penalty_ranks.size(), design.penalties.size());
    ASSERT_EQ(design.penalty_logdets.size(), design.penalties.size());
    std::size_t rank_sum = 0;
    for (std::size_t i = 0; i < design.penalties.size(); ++i) {
        const auto expected = reference::rank_logdet(design.penalties[i]);
        EXPECT_EQ(design.penalty_ranks[i], expected.rank) << "penalty " << i;
        EXPECT_NEAR(design.penalty_logdets[i], expected.logdet, 1e-8 * (1.0 + std::abs(expected.logdet)))
            << "penalty " << i;
        rank_sum += expected.rank;
    }
    EXPECT_EQ(design.null_space_dim, rank_sum < p ? p - rank_sum : 0);
}

TEST(AdditiveDesign, CrAndReTermsSideBySide) {
    const Matrix x = mixed_covariates(80, 2, 1, 3, 1);
    const std::vector<TermSpec> terms{CrTermSpec{0, 10}, ReTermSpec{1}};
    const auto design = build_additive_design(terms, x);
    ASSERT_TRUE(design.has_value()) << design.error().text;

    ASSERT_EQ(design->x.rows(), 80u);
    ASSERT_EQ(design->x.cols(), 13u);
    const auto* additive = std::get_if<AdditivePredictor>(&design->predictor.value);
    ASSERT_NE(additive, nullptr);
    EXPECT_EQ(additive->term_col_ranges, (Ranges{{1, 10}, {10, 13}}));
    EXPECT_EQ(additive->cols_used, (Columns{{0}, {1}}));

    const auto cr = build_cr_term(x, 0, 10);
    const auto re = build_re_term(x, 1);
    ASSERT_TRUE(cr.has_value() && re.has_value());
    ASSERT_EQ(additive->term_predictors.size(), 2u);
    EXPECT_EQ(additive->term_predictors[0], (Predictor{CrPredictor{cr->knots, cr->centring}}));
    EXPECT_EQ(additive->term_predictors[1], (Predictor{RePredictor{re->levels}}));

    EXPECT_EQ(columns_of(design->x, 0, 1), Matrix(80, 1, 1.0));
    EXPECT_EQ(columns_of(design->x, 1, 10), cr->basis);
    EXPECT_EQ(columns_of(design->x, 10, 13), re->indicator);

    ASSERT_EQ(design->penalties.size(), 2u);
    EXPECT_EQ(design->penalties[0], embed_penalty(cr->penalty, 13, 1));
    EXPECT_EQ(design->penalties[1], embed_penalty(Matrix::identity(3), 13, 10));
    EXPECT_EQ(design->penalty_ranks, (std::vector<std::size_t>{8, 3}));
    EXPECT_EQ(design->null_space_dim, 2u);  // the intercept and the centred linear function
    expect_penalty_summaries(*design);
}

TEST(AdditiveDesign, EveryKindOfTermInItsOwnBlock) {
    // Column 3 holds four levels.
    const Matrix x = mixed_covariates(150, 4, 3, 4, 2);
    const std::vector<TermSpec> terms{TensorTermSpec{0, 1, 5, 5}, CrStableTermSpec{2, 6}, ReTermSpec{3},
                                      CrTermSpec{1, 4}};
    const auto design = build_additive_design(terms, x);
    ASSERT_TRUE(design.has_value()) << design.error().text;
    const std::size_t p = 1 + 24 + 5 + 4 + 3;
    ASSERT_EQ(design->x.cols(), p);

    const auto* additive = std::get_if<AdditivePredictor>(&design->predictor.value);
    ASSERT_NE(additive, nullptr);
    const Ranges ranges{{1, 25}, {25, 30}, {30, 34}, {34, 37}};
    EXPECT_EQ(additive->term_col_ranges, ranges);
    EXPECT_EQ(additive->cols_used, (Columns{{0, 1}, {2}, {3}, {1}}));

    const auto tensor = build_tensor_term(x, 0, 1, 5, 5);
    const auto stable = build_cr_stable_term(x, 2, 6);
    const auto re = build_re_term(x, 3);
    const auto cr = build_cr_term(x, 1, 4);
    ASSERT_TRUE(tensor.has_value() && stable.has_value() && re.has_value() && cr.has_value());

    ASSERT_EQ(additive->term_predictors.size(), 4u);
    const auto* tp = std::get_if<TensorPredictor>(&additive->term_predictors[0].value);
    ASSERT_NE(tp, nullptr);
    EXPECT_EQ(tp->col_a, 0u);
    EXPECT_EQ(tp->col_b, 1u);
    EXPECT_EQ(tp->bs_a, MarginBasis::Cr);
    EXPECT_EQ(tp->bs_b, MarginBasis::Cr);
    EXPECT_EQ(tp->knots_a, tensor->knots_a);
    EXPECT_EQ(tp->knots_b, tensor->knots_b);
    EXPECT_EQ(tp->xp_a, Matrix::identity(5));
    EXPECT_EQ(tp->xp_b, Matrix::identity(5));
    EXPECT_EQ(tp->centring, tensor->centring);
    EXPECT_EQ(additive->term_predictors[1],
              (Predictor{CrStablePredictor{stable->knots, stable->centring, stable->reparam_v}}));
    EXPECT_EQ(additive->term_predictors[2], (Predictor{RePredictor{re->levels}}));
    EXPECT_EQ(additive->term_predictors[3], (Predictor{CrPredictor{cr->knots, cr->centring}}));

    const std::vector<const Matrix*> blocks{&tensor->basis, &stable->basis, &re->indicator, &cr->basis};
    EXPECT_EQ(columns_of(design->x, 0, 1), Matrix(150, 1, 1.0));
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(columns_of(design->x, ranges[i].first, ranges[i].second), *blocks[i]) << "term " << i;

    // Five smoothing parameters: two for the tensor term, then one per term.
    ASSERT_EQ(design->penalties.size(), 5u);
    EXPECT_EQ(design->penalties[0], embed_penalty(tensor->penalty_a, p, 1));
    EXPECT_EQ(design->penalties[1], embed_penalty(tensor->penalty_b, p, 1));
    EXPECT_EQ(design->penalties[2], embed_penalty(stable->penalty, p, 25));
    EXPECT_EQ(design->penalties[3], embed_penalty(Matrix::identity(4), p, 30));
    EXPECT_EQ(design->penalties[4], embed_penalty(cr->penalty, p, 34));
    // 15 + 15 + 4 + 4 + 2 = 40 exceeds p = 37: the null-space dimension floors at 0.
    EXPECT_EQ(design->penalty_ranks, (std::vector<std::size_t>{15, 15, 4, 4, 2}));
    EXPECT_EQ(design->null_space_dim, 0u);
    expect_penalty_summaries(*design);

    // Spline and tensor columns are centred over the rows; indicator columns count their level.
    for (std::size_t j = 1; j < p; ++j) {
        if (j >= 30 && j < 34) {
            EXPECT_GE(column_sum(design->x, j), 1.0) << j;
        } else {
            EXPECT_NEAR(column_sum(design->x, j), 0.0, 1e-10) << j;
        }
    }
}

TEST(AdditiveDesign, ATensorTermAloneOverlapsItsTwoPenalties) {
    const Matrix x = reference::uniform_covariates(120, 2, 3);
    const std::vector<TermSpec> terms{TensorTermSpec{1, 0, 5, 5}};
    const auto design = build_additive_design(terms, x);
    ASSERT_TRUE(design.has_value()) << design.error().text;
    EXPECT_EQ(design->x.cols(), 25u);
    const auto* additive = std::get_if<AdditivePredictor>(&design->predictor.value);
    ASSERT_NE(additive, nullptr);
    EXPECT_EQ(additive->cols_used, (Columns{{1, 0}}));
    EXPECT_EQ(additive->term_col_ranges, (Ranges{{1, 25}}));
    ASSERT_EQ(design->penalties.size(), 2u);
    for (const Matrix& s : design->penalties) {
        for (std::size_t j = 0; j < 25; ++j) {
            EXPECT_EQ(s(0, j), 0.0);
            EXPECT_EQ(s(j, 0), 0.0);
        }
    }
    EXPECT_EQ(design->penalty_ranks, (std::vector<std::size_t>{15, 15}));
    EXPECT_EQ(design->null_space_dim, 0u);
    expect_penalty_summaries(*design);
}

TEST(AdditiveDesign, ReadsStridedCovariates) {
    const Matrix x = mixed_covariates(60, 3, 2, 5, 4);
    Matrix stored_t(3, 60);  // column-major storage of x
    for (std::size_t r = 0; r < 60; ++r)
        for (std::size_t c = 0; c < 3; ++c) stored_t(c, r) = x(r, c);
    const MatrixView strided(stored_t.data(), 60, 3, sizeof(double), 60 * sizeof(double));
    const std::vector<TermSpec> terms{CrTermSpec{1, 6}, TensorTermSpec{0, 1, 4, 3}, ReTermSpec{2},
                                      CrStableTermSpec{0, 5}};
    const auto contiguous = build_additive_design(terms, x);
    const auto from_view = build_additive_design(terms, strided);
    ASSERT_TRUE(contiguous.has_value() && from_view.has_value());
    EXPECT_EQ(from_view->x, contiguous->x);
    EXPECT_EQ(from_view->penalties, contiguous->penalties);
    EXPECT_EQ(from_view->predictor, contiguous->predictor);
}

struct ErrorCase {
    const char* name;
    std::vector<TermSpec> terms;
    std::size_t rows;
    const char* message;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class AdditiveDesignErrors : public ::testing::TestWithParam<ErrorCase> {};

// x has three columns; column 2 is constant.
TEST_P(AdditiveDesignErrors, ReportsTheFirstFailingCheck) {
    const ErrorCase& c = GetParam();
    Matrix x = reference::uniform_covariates(c.rows, 3, 5);
    for (std::size_t r = 0; r < c.rows; ++r) x(r, 2) = 1.0;
    const auto design = build_additive_design(c.terms, x);
    ASSERT_FALSE(design.has_value());
    EXPECT_EQ(design.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(design.error().text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AdditiveDesignErrors,
    ::testing::Values(
        ErrorCase{"column_before_distinct_columns",
                  {CrTermSpec{0, 10}, TensorTermSpec{3, 3, 5, 5}},
                  40,
                  "Additive term 1 reads column 3 but x has only 3 columns"},
        ErrorCase{"all_columns_before_any_build",
                  {CrTermSpec{0, 2}, ReTermSpec{5}},
                  40,
                  "Additive term 1 reads column 5 but x has only 3 columns"},
        ErrorCase{"tensor_second_column",
                  {TensorTermSpec{0, 4, 5, 5}},
                  40,
                  "Additive term 0 reads column 4 but x has only 3 columns"},
        ErrorCase{"tensor_first_column_first",
                  {TensorTermSpec{4, 7, 5, 5}},
                  40,
                  "Additive term 0 reads column 4 but x has only 3 columns"},
        ErrorCase{"distinct_columns",
                  {CrTermSpec{0, 5}, TensorTermSpec{1, 1, 5, 5}},
                  40,
                  "Tensor term must have distinct margin columns (got col_a == col_b == 1)"},
        ErrorCase{"earlier_term_first",
                  {CrTermSpec{0, 1}, TensorTermSpec{1, 1, 5, 5}},
                  40,
                  "CR spline needs k ≥ 3 (got 1)"},
        ErrorCase{"tensor_margin_knots",
                  {CrTermSpec{0, 10}, TensorTermSpec{0, 1, 5, 2}},
                  40,
                  "CR spline needs k ≥ 3 (got 2)"},
        ErrorCase{"constant_cr_stable_column",
                  {ReTermSpec{0}, CrStableTermSpec{2, 5}},
                  40,
                  "CR spline knots must be strictly increasing"},
        ErrorCase{"empty_re_column", {CrTermSpec{0, 4}, ReTermSpec{1}}, 0, "Re basis: x is empty"},
        ErrorCase{"no_terms", {}, 40, "Additive design needs at least one term (got 0)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelun
