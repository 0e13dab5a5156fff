// The check that a covariate column holds only finite values, made before a
// term is built from it.
#pragma once

#include <cstddef>

#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// Succeeds if every value of column `col` of `x` is finite; otherwise
// InvalidParameter "x must be finite (got x[{row}, {col}] = {value})" for the
// first offending row. Precondition: col < x.cols().
Result<void> require_finite_column(MatrixView x, std::size_t col);

}  // namespace pelun
