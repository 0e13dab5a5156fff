// Rebuilding a fitted design's model matrix at new covariates.
#pragma once

#include "design/predictor.hpp"
#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// The n_new × p model matrix [1 | blocks] of `predictor` at `x_new` (any
// strides), computed exactly as the design builder computed it, so that the
// fitting x gives back the design's matrix bit for bit. Extra columns of
// x_new are ignored.
// - Cr, Re, CrStable read column 0 only; precondition: x_new has at least
//   one column. Invalid stored Cr and CrStable knots are InvalidParameter.
// - Tensor reads col_a and col_b: InvalidParameter "TensorPredictor: term
//   reads columns ({a}, {b}) but x has only {n} columns" when one is
//   missing; invalid stored knots are Internal ("invalid stored knots_a: …",
//   then knots_b).
// - Additive checks each term's columns in term order (InvalidParameter
//   "AdditivePredictor: term {i} expects column {c} but x has only {n}
//   columns"), evaluates a tensor term on the whole x_new and any other term
//   on its one column, and joins the blocks after one intercept.
// Stored matrices whose shapes do not fit their knots, and additive
// predictors whose cols_used does not match their terms, are Internal.
Result<Matrix> evaluate(const Predictor& predictor, MatrixView x_new);

}  // namespace pelun
