// Evaluation of the stable, tensor and additive predictors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "basis/cr_spline.hpp"
#include "dense_reference.hpp"
#include "design/additive_design.hpp"
#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/predictor_evaluate.hpp"
#include "design/tensor_design.hpp"

namespace pelun {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// Four covariate columns; column 3 holds the levels 0 … 4.
Matrix covariates(std::size_t n, unsigned seed) {
    Matrix x = reference::uniform_covariates(n, 4, seed);
    for (std::size_t r = 0; r < n; ++r) x(r, 3) = static_cast<double>(r % 5);
    return x;
}

// x with `extra` junk columns appended, stored column-major and read through
// a strided view (the storage outlives the view).
struct WideView {
    Matrix storage;
    MatrixView view;
};
WideView widened(const Matrix& x, std::size_t extra) {
    const std::size_t n = x.rows(), cols = x.cols() + extra;
    WideView out{Matrix(cols, n), {}};
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t c = 0; c < x.cols(); ++c) out.storage(c, r) = x(r, c);
        for (std::size_t c = x.cols(); c < cols; ++c) out.storage(c, r) = c % 2 == 0 ? nan_value : 1e300;
    }
    out.view = MatrixView(out.storage.data(), n, cols, sizeof(double),
                          static_cast<std::ptrdiff_t>(n * sizeof(double)));
    return out;
}

enum class Kind { CrStable, Additive };

struct ReproduceCase {
    const char* name;
    Kind kind;
    std::vector<TermSpec> terms;  // additive designs
    std::size_t k;                // cr_stable design
    std::size_t n;
};
void PrintTo(const ReproduceCase& c, std::ostream* os) { *os << c.name; }

class EvaluateAtTheFittingData : public ::testing::TestWithParam<ReproduceCase> {
protected:
    Result<Design> build(const Matrix& x) const {
        const ReproduceCase& c = GetParam();
        return c.kind == Kind::CrStable ? build_cr_stable_design(x, c.k) : build_additive_design(c.terms, x);
    }
};

TEST_P(EvaluateAtTheFittingData, ReproducesTheModelMatrixBitForBit) {
    const ReproduceCase& c = GetParam();
    const Matrix x = covariates(c.n, 7);
    const auto design = build(x);
    ASSERT_TRUE(design.has_value()) << design.error().text;

    const auto rebuilt = evaluate(design->predictor, x);
    ASSERT_TRUE(rebuilt.has_value()) << rebuilt.error().text;
    EXPECT_EQ(*rebuilt, design->x);

    // Extra columns, of any content and through any strides, are ignored.
    const WideView wide = widened(x, 3);
    const auto from_wide = evaluate(design->predictor, wide.view);
    ASSERT_TRUE(from_wide.has_value()) << from_wide.error().text;
    EXPECT_EQ(*from_wide, design->x);

    const auto empty = evaluate(design->predictor, Matrix(0, x.cols()));
    ASSERT_TRUE(empty.has_value()) << empty.error().text;
    EXPECT_EQ(empty->rows(), 0u);
    EXPECT_EQ(empty->cols(), design->x.cols());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EvaluateAtTheFittingData,
    ::testing::Values(ReproduceCase{"cr_stable_k3", Kind::CrStable, {}, 3, 30},
                      ReproduceCase{"cr_stable_k12", Kind::CrStable, {}, 12, 300},
                      ReproduceCase{"cr_and_re", Kind::Additive, {CrTermSpec{0, 10}, ReTermSpec{3}}, 0, 200},
                      ReproduceCase{"tensor_5x5", Kind::Additive, {TensorTermSpec{0, 1, 5, 5}}, 0, 150},
                      ReproduceCase{"every_kind",
                                    Kind::Additive,
                                    {TensorTermSpec{2, 0, 10, 10}, CrStableTermSpec{1, 7}, ReTermSpec{3},
                                     CrTermSpec{0, 5}, TensorTermSpec{1, 2, 3, 4}},
                                    0,
                                    500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TensorPredictor, ReproducesItsTermAndMatchesTheDirectFormulaAtNewPoints) {
    const Matrix x = covariates(120, 8);
    const auto term = build_tensor_term(x, 2, 1, 4, 5);
    ASSERT_TRUE(term.has_value()) << term.error().text;
    TensorPredictor tensor;
    tensor.col_a = 2;
    tensor.col_b = 1;
    tensor.knots_a = term->knots_a;
    tensor.knots_b = term->knots_b;
    tensor.xp_a = term->xp_a;
    tensor.xp_b = term->xp_b;
    tensor.centring = term->centring;
    const Predictor predictor{tensor};

    const auto at_fit = evaluate(predictor, x);
    ASSERT_TRUE(at_fit.has_value());
    EXPECT_EQ(*at_fit, prepend_intercept(term->basis));

    // New points, some outside the knot ranges (linear continuation).
    const Matrix fresh = Matrix::from_rows({{9.0, -2.5, 0.3}, {9.0, 1.0, 4.0}, {9.0, 3.5, -3.0}, {9.0, 0.0, 0.0}});
    const auto rows = evaluate(predictor, fresh);
    ASSERT_TRUE(rows.has_value()) << rows.error().text;
    ASSERT_EQ(rows->rows(), 4u);
    ASSERT_EQ(rows->cols(), 20u);
    Vector xa(4), xb(4);
    for (std::size_t r = 0; r < 4; ++r) {
        xa[r] = fresh(r, 2);
        xb[r] = fresh(r, 1);
    }
    const Matrix ba = cr_basis(term->knots_a, std::span<const double>(xa));
    const Matrix bb = cr_basis(term->knots_b, std::span<const double>(xb));
    Matrix t(4, 20);
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t i = 0; i < 4; ++i)
            for (std::size_t j = 0; j < 5; ++j) t(r, i * 5 + j) = ba(r, i) * bb(r, j);
    const Matrix block = reference::product(t, term->centring);
    for (std::size_t r = 0; r < 4; ++r) {
        EXPECT_EQ((*rows)(r, 0), 1.0);
        for (std::size_t j = 0; j < 19; ++j)
            EXPECT_NEAR((*rows)(r, j + 1), block(r, j), 1e-12 * (1.0 + std::abs(block(r, j))));
    }
}

TEST(AdditivePredictor, EvaluatesEachTermOnItsOwnColumns) {
    const Matrix x = covariates(90, 9);
    const std::vector<TermSpec> terms{CrTermSpec{1, 6}, ReTermSpec{3}, TensorTermSpec{0, 2, 3, 3},
                                      CrStableTermSpec{2, 5}};
    const auto design = build_additive_design(terms, x);
    ASSERT_TRUE(design.has_value()) << design.error().text;
    const auto& additive = std::get<AdditivePredictor>(design->predictor.value);

    // New points: an unseen level (7.0) and values beyond the knots.
    const Matrix fresh = Matrix::from_rows({{0.1, 8.0, -5.0, 7.0}, {2.9, -1.0, 1.0, 2.0}, {-2.0, 0.0, 2.0, 0.0}});
    const auto rows = evaluate(design->predictor, fresh);
    ASSERT_TRUE(rows.has_value()) << rows.error().text;
    ASSERT_EQ(rows->cols(), design->x.cols());
    for (std::size_t i = 0; i < terms.size(); ++i) {
        const Predictor& term = additive.term_predictors[i];
        Matrix input = fresh;
        if (!std::holds_alternative<TensorPredictor>(term.value)) {
            input = Matrix(3, 1);
            for (std::size_t r = 0; r < 3; ++r) input(r, 0) = fresh(r, additive.cols_used[i][0]);
        }
        const auto own = evaluate(term, input);
        ASSERT_TRUE(own.has_value());
        const auto [first, last] = additive.term_col_ranges[i];
        ASSERT_EQ(own->cols(), last - first + 1) << "term " << i;
        for (std::size_t r = 0; r < 3; ++r)
            for (std::size_t j = first; j < last; ++j) EXPECT_EQ((*rows)(r, j), (*own)(r, j - first + 1));
    }
    // The unseen level leaves the re block of row 0 empty.
    const auto [re_first, re_last] = additive.term_col_ranges[1];
    for (std::size_t j = re_first; j < re_last; ++j) EXPECT_EQ((*rows)(0, j), 0.0);
    for (std::size_t r = 0; r < 3; ++r) EXPECT_EQ((*rows)(r, 0), 1.0);
}

TEST(AdditivePredictor, EvaluatesNestedAdditivePredictorsOnTheirColumn) {
    const Matrix x = covariates(70, 10);
    // The outer predictor hands column 2 to the inner one, which reads its column 0.
    Matrix column2(70, 1);
    for (std::size_t r = 0; r < 70; ++r) column2(r, 0) = x(r, 2);
    const auto inner_on_2 = build_additive_design(std::vector<TermSpec>{CrTermSpec{0, 6}, CrStableTermSpec{0, 4}},
                                                  column2);
    ASSERT_TRUE(inner_on_2.has_value());
    const auto cr = build_cr_design(x, 5);
    ASSERT_TRUE(cr.has_value());

    AdditivePredictor outer;
    outer.term_predictors = {cr->predictor, inner_on_2->predictor};
    outer.cols_used = {{0}, {2}};
    outer.term_col_ranges = {{1, 5}, {5, 5 + inner_on_2->x.cols() - 1}};
    const auto rows = evaluate(Predictor{outer}, x);
    ASSERT_TRUE(rows.has_value()) << rows.error().text;
    ASSERT_EQ(rows->cols(), 5 + inner_on_2->x.cols() - 1);
    for (std::size_t r = 0; r < 70; ++r) {
        for (std::size_t j = 0; j < 5; ++j) EXPECT_EQ((*rows)(r, j), cr->x(r, j));
        for (std::size_t j = 1; j < inner_on_2->x.cols(); ++j) EXPECT_EQ((*rows)(r, 4 + j), inner_on_2->x(r, j));
    }
}

// A tensor predictor over columns (0, 3) with valid stored data.
TensorPredictor tensor_over_0_3() {
    const Matrix x = covariates(40, 11);
    const auto term = build_tensor_term(x, 0, 3, 3, 4);
    TensorPredictor t;
    t.col_a = 0;
    t.col_b = 3;
    t.knots_a = term->knots_a;
    t.knots_b = term->knots_b;
    t.xp_a = term->xp_a;
    t.xp_b = term->xp_b;
    t.centring = term->centring;
    return t;
}

struct FailureCase {
    const char* name;
    Predictor predictor;
    std::size_t cols;  // of x_new
    ErrorKind kind;
    const char* message;  // expected text, or its beginning for internal failures
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class EvaluateFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EvaluateFailures, ReportsTheFirstProblem) {
    const FailureCase& c = GetParam();
    const auto rows = evaluate(c.predictor, reference::uniform_covariates(5, c.cols, 12));
    ASSERT_FALSE(rows.has_value());
    EXPECT_EQ(rows.error().kind, c.kind);
    if (c.kind == ErrorKind::Internal) {
        EXPECT_EQ(rows.error().text.rfind(c.message, 0), 0u) << rows.error().text;
    } else {
        EXPECT_EQ(rows.error().text, c.message);
    }
}

Predictor with_tensor(void (*change)(TensorPredictor&)) {
    TensorPredictor t = tensor_over_0_3();
    change(t);
    return Predictor{t};
}

Predictor additive_with(std::vector<Predictor> terms, std::vector<std::vector<std::size_t>> cols) {
    AdditivePredictor a;
    a.term_predictors = std::move(terms);
    a.cols_used = std::move(cols);
    for (std::size_t i = 0; i < a.cols_used.size(); ++i) a.term_col_ranges.emplace_back(0, 0);
    return Predictor{a};
}

Predictor valid_cr() { return build_cr_design(covariates(30, 13), 4)->predictor; }

std::vector<FailureCase> failure_cases() {
    const Predictor tensor{tensor_over_0_3()};
    const Predictor cr = valid_cr();
    auto broken_knots_a = [](TensorPredictor& t) { t.knots_a = {0.0, 1.0, 1.0}; };
    auto broken_knots_both = [](TensorPredictor& t) {
        t.knots_a = {0.0, 1.0};
        t.knots_b = {nan_value, 1.0, 2.0, 3.0};
    };
    auto broken_knots_b = [](TensorPredictor& t) { t.knots_b = {0.0, 2.0, 1.0, 3.0}; };
    auto broken_centring = [](TensorPredictor& t) { t.centring = Matrix(11, 11); };
    auto broken_xp_b = [](TensorPredictor& t) { t.xp_b = Matrix::identity(3); };
    auto wide_knots_and_column = [](TensorPredictor& t) {
        t.knots_a = {0.0};
        t.col_a = 5;
    };
    CrStablePredictor stable =
        std::get<CrStablePredictor>(build_cr_stable_design(covariates(30, 14), 5)->predictor.value);
    stable.reparam_v = Matrix(3, 4);
    CrPredictor cr_short = std::get<CrPredictor>(cr.value);
    cr_short.centring = Matrix(3, 3);
    return {
        {"tensor_column_b", tensor, 3, ErrorKind::InvalidParameter,
         "TensorPredictor: term reads columns (0, 3) but x has only 3 columns"},
        {"additive_column_check_comes_first", additive_with({cr, tensor}, {{0}, {0, 3}}), 3,
         ErrorKind::InvalidParameter, "AdditivePredictor: term 1 expects column 3 but x has only 3 columns"},
        {"additive_single_column", additive_with({tensor, cr}, {{0, 3}, {6}}), 4, ErrorKind::InvalidParameter,
         "AdditivePredictor: term 1 expects column 6 but x has only 4 columns"},
        {"additive_terms_in_order", additive_with({cr, cr}, {{4}, {2}}), 1, ErrorKind::InvalidParameter,
         "AdditivePredictor: term 0 expects column 4 but x has only 1 columns"},
        {"column_before_knots", with_tensor(wide_knots_and_column), 4, ErrorKind::InvalidParameter,
         "TensorPredictor: term reads columns (5, 3) but x has only 4 columns"},
        {"stored_knots_a", with_tensor(broken_knots_a), 4, ErrorKind::Internal, "invalid stored knots_a"},
        {"stored_knots_a_first", with_tensor(broken_knots_both), 4, ErrorKind::Internal, "invalid stored knots_a"},
        {"stored_knots_b", with_tensor(broken_knots_b), 4, ErrorKind::Internal, "invalid stored knots_b"},
        {"stored_tensor_centring", with_tensor(broken_centring), 4, ErrorKind::Internal, "invalid stored centring"},
        {"stored_xp_b", with_tensor(broken_xp_b), 4, ErrorKind::Internal, "invalid stored xp_b"},
        {"stored_reparam_v", Predictor{stable}, 1, ErrorKind::Internal, "invalid stored reparam_v"},
        {"stored_cr_centring", Predictor{cr_short}, 1, ErrorKind::Internal, "invalid stored centring"},
        {"stored_knots_inside_additive", additive_with({cr, with_tensor(broken_knots_b)}, {{1}, {0, 3}}), 4,
         ErrorKind::Internal, "invalid stored knots_b"},
        {"cols_used_per_term", additive_with({cr, cr}, {{0}}), 2, ErrorKind::Internal,
         "invalid stored additive predictor"},
        {"term_without_column", additive_with({cr}, {{}}), 2, ErrorKind::Internal,
         "invalid stored additive predictor"},
    };
}

INSTANTIATE_TEST_SUITE_P(Cases, EvaluateFailures, ::testing::ValuesIn(failure_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelun
