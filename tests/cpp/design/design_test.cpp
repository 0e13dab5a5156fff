#include "design/design.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <type_traits>
#include <variant>

namespace pelun {
namespace {

using PredictorVariant = decltype(Predictor::value);

// The variant order is part of the serialized form's contract.
static_assert(std::is_same_v<std::variant_alternative_t<0, PredictorVariant>, CrPredictor>);
static_assert(std::is_same_v<std::variant_alternative_t<1, PredictorVariant>, RePredictor>);
static_assert(std::is_same_v<std::variant_alternative_t<2, PredictorVariant>, CrStablePredictor>);
static_assert(std::is_same_v<std::variant_alternative_t<3, PredictorVariant>, AdditivePredictor>);
static_assert(std::is_same_v<std::variant_alternative_t<4, PredictorVariant>, TensorPredictor>);
static_assert(std::variant_size_v<PredictorVariant> == 5);

TEST(PrependIntercept, PutsAColumnOfOnesInFront) {
    const Matrix block = Matrix::from_rows({{0.5, -1.0}, {2.0, 3.0}, {-0.25, 0.0}});
    EXPECT_EQ(prepend_intercept(block), Matrix::from_rows({{1, 0.5, -1.0}, {1, 2.0, 3.0}, {1, -0.25, 0.0}}));
    EXPECT_EQ(prepend_intercept(Matrix(0, 4)).cols(), 5u);
}

TEST(EmbedPenalty, CopiesTheBlockAtItsColumnsAndLeavesZerosElsewhere) {
    const Matrix block = Matrix::from_rows({{2.0, -1.0}, {-1.0, 3.0}});
    const Matrix s = embed_penalty(block, 5, 2);
    for (std::size_t i = 0; i < 5; ++i)
        for (std::size_t j = 0; j < 5; ++j) {
            const bool inside = i >= 2 && i < 4 && j >= 2 && j < 4;
            EXPECT_EQ(s(i, j), inside ? block(i - 2, j - 2) : 0.0) << i << "," << j;
        }
}

TEST(SingleSmoothDesign, AssemblesTheModelMatrixPenaltyAndNullSpace) {
    // A rank-one block penalty on two columns: rank 1, null space {intercept, one direction}.
    const Matrix block = Matrix::from_rows({{1.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}});
    const Matrix block_penalty = Matrix::from_rows({{4.0, 4.0}, {4.0, 4.0}});
    const Predictor predictor{RePredictor{{1.0, 2.0}}};
    const auto design = single_smooth_design(predictor, block, block_penalty);
    ASSERT_TRUE(design.has_value());
    EXPECT_EQ(design->predictor, predictor);
    EXPECT_EQ(design->x, prepend_intercept(block));
    ASSERT_EQ(design->penalties.size(), 1u);
    EXPECT_EQ(design->penalties[0], embed_penalty(block_penalty, 3, 1));
    EXPECT_EQ(design->penalty_ranks, (std::vector<std::size_t>{1}));
    ASSERT_EQ(design->penalty_logdets.size(), 1u);
    EXPECT_NEAR(design->penalty_logdets[0], std::log(8.0), 1e-12);  // the one eigenvalue is 8
    EXPECT_EQ(design->null_space_dim, 2u);
}

TEST(Predictor, AdditiveOwnsAndComparesItsTermPredictors) {
    TensorPredictor tensor;
    tensor.col_a = 1;
    tensor.col_b = 2;
    tensor.knots_a = {0.0, 0.5, 1.0};
    tensor.knots_b = {0.0, 1.0, 2.0};
    tensor.xp_a = Matrix::identity(3);
    tensor.xp_b = Matrix::identity(3);
    tensor.centring = Matrix(9, 8);
    AdditivePredictor additive;
    additive.term_predictors = {Predictor{CrPredictor{{0.0, 1.0, 2.0}, Matrix(3, 2)}}, Predictor{tensor}};
    additive.cols_used = {{0}, {1, 2}};
    additive.term_col_ranges = {{1, 3}, {3, 11}};

    const Predictor original{additive};
    Predictor copy = original;  // a deep copy: the nested predictors are values
    EXPECT_EQ(copy, original);
    std::get<CrPredictor>(std::get<AdditivePredictor>(copy.value).term_predictors[0].value).knots[1] = 0.75;
    EXPECT_NE(copy, original);
    const auto& first_term = std::get<AdditivePredictor>(original.value).term_predictors[0];
    EXPECT_EQ(std::get<CrPredictor>(first_term.value).knots[1], 1.0);
    EXPECT_EQ(original.value.index(), 3u);
}

}  // namespace
}  // namespace pelun
