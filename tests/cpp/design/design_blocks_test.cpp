#include <gtest/gtest.h>

#include <vector>

#include "design/design.hpp"

namespace pelun {
namespace {

TEST(InterceptAndBlocks, JoinsTheBlocksAfterOneInterceptColumn) {
    const std::vector<Matrix> blocks{Matrix::from_rows({{1.5, 2.0}, {3.0, -4.0}}), Matrix::from_rows({{7.0}, {8.0}}),
                                     Matrix(2, 0), Matrix::from_rows({{-1.0, 0.25, 9.0}, {0.0, 5.0, 6.0}})};
    EXPECT_EQ(intercept_and_blocks(2, blocks, 0),
              Matrix::from_rows({{1, 1.5, 2.0, 7.0, -1.0, 0.25, 9.0}, {1, 3.0, -4.0, 8.0, 0.0, 5.0, 6.0}}));
}

TEST(InterceptAndBlocks, LeavesOutTheLeadingColumnsOfEveryBlock) {
    const std::vector<Matrix> blocks{Matrix::from_rows({{1.0, 2.0, 3.0}, {1.0, 4.0, 5.0}}),
                                     Matrix::from_rows({{1.0}, {1.0}}), Matrix::from_rows({{1.0, -6.0}, {1.0, -7.0}})};
    EXPECT_EQ(intercept_and_blocks(2, blocks, 1), Matrix::from_rows({{1, 2.0, 3.0, -6.0}, {1, 4.0, 5.0, -7.0}}));
}

TEST(InterceptAndBlocks, HandlesNoRowsAndNoBlocks) {
    const std::vector<Matrix> blocks{Matrix(0, 3), Matrix(0, 2)};
    const Matrix empty = intercept_and_blocks(0, blocks, 0);
    EXPECT_EQ(empty.rows(), 0u);
    EXPECT_EQ(empty.cols(), 6u);
    EXPECT_EQ(intercept_and_blocks(3, {}, 0), Matrix(3, 1, 1.0));
}

}  // namespace
}  // namespace pelun
