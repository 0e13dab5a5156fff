// Rebuilding a fitted design's model matrix at new covariates.
#pragma once

#include "design/predictor.hpp"
#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// The n_new × p model matrix [1 | blocks] of `predictor` at `x_new` (any
// strides), computed exactly as the design builder computed it, so that the
// fitting x gives back the design's matrix bit for bit. Single-smooth
// predictors read column 0 only; precondition: x_new has at least one
// column. Stored knots are validated (InvalidParameter on failure).
Result<Matrix> evaluate(const Predictor& predictor, MatrixView x_new);

}  // namespace pelun
