// Penalty summaries shared by the designs: the ∞-norm scaling of a spline
// penalty and the numerical rank and log pseudo-determinant of a penalty.
#pragma once

#include <cstddef>

#include "linalg/matrix.hpp"
#include "util/error.hpp"

namespace pelun {

// The largest absolute row sum, max_r Σⱼ |a(r, j)|; 0 for a matrix without rows.
double infinity_norm(const Matrix& a);

// The factor that brings a penalty to the scale of its basis:
// ‖basis‖∞² / ‖penalty‖∞, or 1 when the penalty's norm is zero.
double penalty_scale_factor(const Matrix& basis, const Matrix& penalty);

struct PenaltyRankLogdet {
    std::size_t rank = 0;  // eigenvalues above max(largest, 1)·1e-10
    double logdet = 0.0;   // sum of the logarithms of those eigenvalues
};

// Rank and log pseudo-determinant of a symmetric matrix (only its lower
// triangle is read) from its eigenvalues; NaN eigenvalues are never counted.
// Fails with Linalg "penalty eigendecomposition failed: {}" if the
// eigen-solver fails.
Result<PenaltyRankLogdet> penalty_rank_logdet(const Matrix& s);

}  // namespace pelun
