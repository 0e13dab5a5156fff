// The cubic regression spline of one covariate: knot placement and checking,
// the dense basis (parameterised by the values at the knots) and its penalty.
#pragma once

#include <cstddef>
#include <span>

#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// Knots at evenly spaced quantiles of the distinct values of `x` (values
// within 1e-12 of the last kept value count as one), or evenly spaced from
// the smallest to the largest distinct value when there are fewer than k of
// them ([0, 1] for an empty column). The boundary knots are the extreme
// distinct values. `x` may have any order and stride; it is not modified.
// Returns k strictly increasing knots or the `validate_knots` error; k < 3
// always gives the "needs k ≥ 3" error. Values of `x` are expected finite:
// NaN values do not break the sort but are left out of the distinct values.
Result<Vector> place_knots(VectorView x, std::size_t k);

// Returns `t` unchanged if it has at least 3 entries, each strictly greater
// than its predecessor (NaN knots fail), otherwise InvalidParameter.
Result<Vector> validate_knots(Vector t);

// The n × k basis at the points `x` (row-major): row r holds the k basis
// functions at x[r]. Basis function i is the natural cubic interpolating
// spline equal to 1 at knot i and 0 at the others, continued beyond the
// boundary knots by its tangent line. Precondition: `t` passes
// `validate_knots`. Cost O(k² + n·k); nothing is allocated per row.
Matrix cr_basis(std::span<const double> t, VectorView x);

// The k × k roughness penalty S with βᵀSβ = ∫ f''(x)² dx over [t₀, t_{k−1}]
// for f = Σ βᵢ Bᵢ. Symmetric positive semi-definite, null space spanned by
// the constant and the linear functions. Precondition: `t` passes
// `validate_knots`.
Matrix cr_penalty(std::span<const double> t);

}  // namespace pelun
