#include "design/predictor_evaluate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "design/cr_design.hpp"
#include "design/re_design.hpp"

namespace pelun {
namespace {

Matrix uniform_column(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-2.0, 3.0);
    Matrix x(n, 1);
    for (std::size_t i = 0; i < n; ++i) x(i, 0) = u(rng);
    return x;
}

TEST(PredictorEvaluate, CrReproducesTheDesignMatrixBitForBit) {
    const Matrix x = uniform_column(200, 3);
    const auto design = build_cr_design(x, 8);
    ASSERT_TRUE(design.has_value());
    const auto rebuilt = evaluate(design->predictor, x);
    ASSERT_TRUE(rebuilt.has_value());
    EXPECT_EQ(*rebuilt, design->x);
}

TEST(PredictorEvaluate, ReReproducesTheDesignAndGivesZeroRowsForUnknownLevels) {
    const Matrix x = Matrix::from_rows({{2.0}, {-1.0}, {2.0}, {0.5}});
    const auto design = build_re_design(x);
    ASSERT_TRUE(design.has_value());
    EXPECT_EQ(*evaluate(design->predictor, x), design->x);

    const Matrix unseen = Matrix::from_rows({{7.0, 99.0}, {-1.0, 5.0}, {std::nan(""), 0.0}});
    const auto rows = evaluate(design->predictor, unseen);
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->cols(), design->x.cols());
    for (std::size_t j = 1; j < rows->cols(); ++j) {
        EXPECT_EQ((*rows)(0, j), 0.0);  // unknown level: only the intercept
        EXPECT_EQ((*rows)(2, j), 0.0);  // NaN matches nothing
    }
    EXPECT_EQ((*rows)(1, 0), 1.0);
    EXPECT_EQ((*rows)(1, 1), 1.0);  // -1 is the first level
}

TEST(PredictorEvaluate, ReadsOnlyColumnZeroAndHandlesEmptyAndStridedInput) {
    const Matrix x = uniform_column(50, 4);
    const auto design = build_cr_design(x, 6);
    ASSERT_TRUE(design.has_value());
    // Three columns, the covariate in column 0, given through a transposed view.
    Matrix wide_t(3, 50);
    for (std::size_t i = 0; i < 50; ++i) {
        wide_t(0, i) = x(i, 0);
        wide_t(1, i) = 1e9;
        wide_t(2, i) = std::nan("");
    }
    const MatrixView wide(wide_t.data(), 50, 3, sizeof(double), 50 * sizeof(double));
    EXPECT_EQ(*evaluate(design->predictor, wide), design->x);

    const auto empty = evaluate(design->predictor, Matrix(0, 1));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->rows(), 0u);
    EXPECT_EQ(empty->cols(), design->x.cols());
}

TEST(PredictorEvaluate, ExtrapolatesLinearlyOutsideTheKnots) {
    const Matrix x = uniform_column(100, 5);
    const auto design = build_cr_design(x, 5);
    ASSERT_TRUE(design.has_value());
    const Matrix far = Matrix::from_rows({{10.0}, {11.0}, {12.0}});
    const auto rows = evaluate(design->predictor, far);
    ASSERT_TRUE(rows.has_value());
    for (std::size_t j = 0; j < rows->cols(); ++j)
        EXPECT_NEAR((*rows)(1, j) - (*rows)(0, j), (*rows)(2, j) - (*rows)(1, j), 1e-9);
}

TEST(PredictorEvaluate, InvalidStoredKnotsAreReported) {
    Predictor broken{CrPredictor{{0.0, 0.0, 1.0}, Matrix(3, 2)}};
    const auto rows = evaluate(broken, Matrix(2, 1));
    ASSERT_FALSE(rows.has_value());
    EXPECT_EQ(rows.error().kind, ErrorKind::InvalidParameter);
}

}  // namespace
}  // namespace pelun
