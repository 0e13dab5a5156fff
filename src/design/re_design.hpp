// The random-effect term (one indicator column per distinct value) and the
// single-smooth `re` design built on it, with the level lookup shared with
// prediction.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "design/design.hpp"
#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

struct ReTerm {
    std::vector<double> levels;  // L distinct values, ascending
    Matrix indicator;            // n × L, a single 1 per row
};

// The term of column `col` of `x` (any strides). Zero and negative zero are
// one level (0.0), so every row matches exactly one level. Fails with
// InvalidParameter "Re basis: x is empty" for a column without rows, or for
// a non-finite value in the column. Precondition: col < x.cols().
Result<ReTerm> build_re_term(MatrixView x, std::size_t col);

// Index of the level equal to `value` (lower-bound bisection over the
// ascending `levels`, then bit-pattern equality, with −0.0 read as 0.0 on
// both sides), or nothing when no level matches (NaN never matches).
std::optional<std::size_t> find_level(std::span<const double> levels, double value);

// n × L indicator of the values of `x` against `levels`; a value without a
// level gives a zero row.
Matrix re_indicator(std::span<const double> levels, VectorView x);

// The `re` design on column 0 of `x`: x = [1 | indicator], an identity
// penalty on the level block, predictor `Re`. Fails as `build_re_term`.
// Precondition: x has at least one column.
Result<Design> build_re_design(MatrixView x);

}  // namespace pelun
