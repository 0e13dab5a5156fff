// The `Design` record every fit works on (model matrix, penalties with their
// ranks and log pseudo-determinants, the predictor) and the helpers that
// assemble one from a term's block and penalty.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "design/predictor.hpp"
#include "linalg/matrix.hpp"
#include "util/error.hpp"

namespace pelun {

struct Design {
    Predictor predictor;
    // One p × p penalty per smoothing parameter; row and column 0 are zero.
    std::vector<Matrix> penalties;
    std::vector<std::size_t> penalty_ranks;
    std::vector<double> penalty_logdets;
    // n × p model matrix; column 0 is the intercept.
    Matrix x;
    // p minus the summed penalty ranks, floored at 0.
    std::size_t null_space_dim = 0;
};

// [1 | basis · transform] in one n × (q + 1) matrix, the product written in
// place by the BLAS (no intermediate n × q block).
Matrix intercept_and_product(const Matrix& basis, const Matrix& transform);

// [1 | block]: n × (w + 1) with a column of ones in front.
Matrix prepend_intercept(const Matrix& block);

// [1 | block₀ | block₁ | …], n × (1 + Σ (wᵢ − skip)), leaving out the first
// `skip` columns of every block (a term's own intercept, for instance).
// Precondition: every block has n rows and at least `skip` columns.
Matrix intercept_and_blocks(std::size_t n, std::span<const Matrix> blocks, std::size_t skip);

// A p × p zero matrix with the square `block` copied into rows and columns
// [first, first + block.rows()). Precondition: the block fits.
Matrix embed_penalty(const Matrix& block, std::size_t p, std::size_t first);

// The design of one smooth: x = [1 | block], one penalty holding
// `block_penalty` at rows and columns 1 … p−1, its rank and log
// pseudo-determinant, and the null-space dimension. Fails only if the
// penalty's eigen-decomposition fails.
Result<Design> single_smooth_design(Predictor predictor, const Matrix& block, const Matrix& block_penalty);

// The same from the finished model matrix x = [1 | block].
Result<Design> single_smooth_design_from_x(Predictor predictor, Matrix x, const Matrix& block_penalty);

}  // namespace pelun
