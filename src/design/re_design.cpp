#include "design/re_design.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "design/covariate_check.hpp"

namespace pelun {

namespace {

// 0.0 and −0.0 compare equal but differ in bits; levels are matched by bits,
// so both are read as 0.0.
double canonical_level(double v) { return v == 0.0 ? 0.0 : v; }

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

std::optional<std::size_t> find_level(std::span<const double> levels, double value) {
    const double v = canonical_level(value);
    std::size_t lo = 0, hi = levels.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (v <= levels[mid]) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    if (lo < levels.size() && same_bits(v, canonical_level(levels[lo]))) return lo;
    return std::nullopt;
}

Matrix re_indicator(std::span<const double> levels, VectorView x) {
    const std::size_t n = x.size(), l = levels.size();
    Matrix indicator(n, l);
    for (std::size_t r = 0; r < n; ++r) {
        if (const auto level = find_level(levels, x[r])) indicator.data()[r * l + *level] = 1.0;
    }
    return indicator;
}

Result<ReTerm> build_re_term(MatrixView x, std::size_t col) {
    if (auto finite = require_finite_column(x, col); !finite) return fail(finite.error());
    const VectorView column = x.column(col);
    if (column.empty()) return fail_invalid("Re basis: x is empty");

    std::vector<double> levels(column.size());
    for (std::size_t r = 0; r < column.size(); ++r) levels[r] = canonical_level(column[r]);
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end(), same_bits), levels.end());

    Matrix indicator = re_indicator(levels, column);
    return ReTerm{std::move(levels), std::move(indicator)};
}

Result<Design> build_re_design(MatrixView x) {
    auto term = build_re_term(x, 0);
    if (!term) return fail(term.error());
    const Matrix ridge = Matrix::identity(term->levels.size());
    Predictor predictor{RePredictor{std::move(term->levels)}};
    return single_smooth_design(std::move(predictor), term->indicator, ridge);
}

}  // namespace pelun
