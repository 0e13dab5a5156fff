// The design of an additive model: the terms' blocks side by side after an
// intercept, one embedded penalty per smoothing parameter, and the
// `Additive` predictor that rebuilds it.
#pragma once

#include <span>

#include "design/design.hpp"
#include "design/additive_terms.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// The design of `terms` on `x` (any strides): x = [1 | C₁ | C₂ | …] with the
// terms' blocks in term order; one p × p penalty per cr, cr_stable and re
// term and two per tensor term (first margin, then second), each with its
// rank and log pseudo-determinant; `null_space_dim` = p − Σ ranks floored
// at 0; predictor `Additive` with the terms' predictors, the columns each
// term reads and the block ranges. Every column a term reads is checked
// against x.cols() for all terms before any term is built
// ("Additive term {} reads column {} but x has only {} columns"); then the
// first error of a term builder ends the build. An empty term list fails
// with "Additive design needs at least one term (got 0)".
Result<Design> build_additive_design(std::span<const TermSpec> terms, MatrixView x);

}  // namespace pelun
