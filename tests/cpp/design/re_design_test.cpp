#include "design/re_design.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <variant>

namespace pelun {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

Matrix one_column(const Vector& values) {
    Matrix x(values.size(), 1);
    for (std::size_t r = 0; r < values.size(); ++r) x(r, 0) = values[r];
    return x;
}

bool is_negative_zero(double v) { return v == 0.0 && std::signbit(v); }

TEST(ReDesign, TwoLevelExample) {
    const auto design = build_re_design(one_column({2.0, 1.0, 2.0}));
    ASSERT_TRUE(design.has_value());
    const auto* re = std::get_if<RePredictor>(&design->predictor.value);
    ASSERT_NE(re, nullptr);
    EXPECT_EQ(re->levels, (std::vector<double>{1.0, 2.0}));
    EXPECT_EQ(design->x, Matrix::from_rows({{1, 0, 1}, {1, 1, 0}, {1, 0, 1}}));
    ASSERT_EQ(design->penalties.size(), 1u);
    EXPECT_EQ(design->penalties[0], Matrix::from_rows({{0, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
    EXPECT_EQ(design->penalty_ranks, (std::vector<std::size_t>{2}));
    EXPECT_EQ(design->penalty_logdets, (std::vector<double>{0.0}));
    EXPECT_EQ(design->null_space_dim, 1u);
}

TEST(ReDesign, IndicatorMatchesBruteForceLevels) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> pick(-4, 6);
    Vector values(300);
    for (double& v : values) v = 0.25 * pick(rng);
    const auto design = build_re_design(one_column(values));
    ASSERT_TRUE(design.has_value());
    const std::set<double> distinct(values.begin(), values.end());
    const std::vector<double> expected_levels(distinct.begin(), distinct.end());
    EXPECT_EQ(std::get<RePredictor>(design->predictor.value).levels, expected_levels);
    const std::size_t l = expected_levels.size();
    ASSERT_EQ(design->x.cols(), l + 1);
    for (std::size_t r = 0; r < values.size(); ++r) {
        EXPECT_EQ(design->x(r, 0), 1.0);
        for (std::size_t j = 0; j < l; ++j)
            EXPECT_EQ(design->x(r, j + 1), values[r] == expected_levels[j] ? 1.0 : 0.0);
    }
    EXPECT_EQ(design->penalty_ranks[0], l);
    EXPECT_EQ(design->null_space_dim, 1u);
}

TEST(ReDesign, NegativeZeroIsTheSameLevelAsZero) {
    const Vector values = {0.0, -0.0, 1.0, -0.0, -1.0, 0.0};
    const auto design = build_re_design(one_column(values));
    ASSERT_TRUE(design.has_value());
    const auto& levels = std::get<RePredictor>(design->predictor.value).levels;
    ASSERT_EQ(levels, (std::vector<double>{-1.0, 0.0, 1.0}));
    EXPECT_FALSE(is_negative_zero(levels[1]));
    // Every row has exactly one indicator, and both zeros share column 2.
    for (std::size_t r = 0; r < values.size(); ++r) {
        double row_sum = 0.0;
        for (std::size_t j = 1; j < design->x.cols(); ++j) row_sum += design->x(r, j);
        EXPECT_EQ(row_sum, 1.0) << "row " << r;
        if (values[r] == 0.0) {
            EXPECT_EQ(design->x(r, 2), 1.0) << "row " << r;
        }
    }
    EXPECT_EQ(design->penalty_ranks[0], 3u);
}

TEST(FindLevel, MatchesByValueWithEitherZeroAndNothingElse) {
    const std::vector<double> levels = {-2.5, 0.0, 1.0, 4.0};
    struct Lookup {
        double value;
        std::optional<std::size_t> expected;
    };
    for (const Lookup& c : {Lookup{-2.5, 0}, Lookup{0.0, 1}, Lookup{-0.0, 1}, Lookup{4.0, 3}, Lookup{1.0, 2},
                            Lookup{0.5, std::nullopt}, Lookup{5.0, std::nullopt}, Lookup{-3.0, std::nullopt},
                            Lookup{nan_value, std::nullopt},
                            Lookup{std::nextafter(1.0, 2.0), std::nullopt}}) {
        EXPECT_EQ(find_level(levels, c.value), c.expected) << "value " << c.value;
    }
    // Levels stored with a negative zero still match both zeros.
    const std::vector<double> stored = {-0.0, 3.0};
    EXPECT_EQ(find_level(stored, 0.0), std::optional<std::size_t>(0));
    EXPECT_EQ(find_level(stored, -0.0), std::optional<std::size_t>(0));
    EXPECT_EQ(find_level(std::vector<double>{}, 1.0), std::nullopt);
}

TEST(ReIndicator, UnknownValuesGiveZeroRows) {
    const std::vector<double> levels = {1.0, 2.0};
    const Vector points = {2.0, 3.0, 1.0};
    const Matrix ind = re_indicator(levels, std::span<const double>(points));
    EXPECT_EQ(ind, Matrix::from_rows({{0, 1}, {0, 0}, {1, 0}}));
}

TEST(ReTerm, ReadsAnyStridesAndTheRequestedColumn) {
    // A 40 × 3 matrix stored column by column; the term reads column 1.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 7);
    const std::size_t n = 40;
    Vector buffer(3 * n);
    for (double& v : buffer) v = pick(rng);
    const auto column_bytes = static_cast<std::ptrdiff_t>(n * sizeof(double));
    const MatrixView transposed(buffer.data(), n, 3, sizeof(double), column_bytes);
    const auto from_view = build_re_term(transposed, 1);
    const auto from_copy = build_re_term(to_matrix(transposed), 1);
    ASSERT_TRUE(from_view.has_value() && from_copy.has_value());
    EXPECT_EQ(from_view->levels, from_copy->levels);
    EXPECT_EQ(from_view->indicator, from_copy->indicator);
    for (std::size_t r = 0; r < n; ++r) {
        const auto level = find_level(from_view->levels, buffer[n + r]);
        ASSERT_TRUE(level.has_value());
        EXPECT_EQ(from_view->indicator(r, *level), 1.0);
    }
}

struct ReErrorCase {
    const char* name;
    Vector column;
    std::string message;
};
void PrintTo(const ReErrorCase& c, std::ostream* os) { *os << c.name; }

class ReDesignErrors : public ::testing::TestWithParam<ReErrorCase> {};

TEST_P(ReDesignErrors, ReturnTheInvalidParameterMessage) {
    const ReErrorCase& c = GetParam();
    const auto design = build_re_design(one_column(c.column));
    ASSERT_FALSE(design.has_value());
    EXPECT_EQ(design.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(design.error().text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReDesignErrors,
    ::testing::Values(ReErrorCase{"empty", {}, "Re basis: x is empty"},
                      ReErrorCase{"nan", {1.0, 2.0, nan_value}, "x must be finite (got x[2, 0] = NaN)"},
                      ReErrorCase{"inf", {inf_value, 2.0}, "x must be finite (got x[0, 0] = inf)"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelun
