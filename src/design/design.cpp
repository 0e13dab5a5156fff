#include "design/design.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

#include "design/penalty.hpp"
#include "linalg/blas.hpp"

namespace pelun {

Matrix prepend_intercept(const Matrix& block) {
    const std::size_t n = block.rows(), w = block.cols();
    Matrix x(n, w + 1);
    for (std::size_t r = 0; r < n; ++r) {
        double* out = x.data() + r * (w + 1);
        out[0] = 1.0;
        const double* in = block.data() + r * w;
        std::copy(in, in + w, out + 1);
    }
    return x;
}

Matrix intercept_and_blocks(std::size_t n, std::span<const Matrix> blocks, std::size_t skip) {
    std::size_t p = 1;
    for (const Matrix& block : blocks) {
        assert(block.rows() == n && block.cols() >= skip);
        p += block.cols() - skip;
    }
    Matrix x(n, p);
    for (std::size_t r = 0; r < n; ++r) x.data()[r * p] = 1.0;
    std::size_t first = 1;
    for (const Matrix& block : blocks) {
        const std::size_t w = block.cols(), kept = w - skip;
        for (std::size_t r = 0; r < n; ++r) {
            const double* in = block.data() + r * w + skip;
            std::copy(in, in + kept, x.data() + r * p + first);
        }
        first += kept;
    }
    return x;
}

Matrix embed_penalty(const Matrix& block, std::size_t p, std::size_t first) {
    assert(block.is_square() && first + block.rows() <= p);
    Matrix s(p, p);
    const std::size_t w = block.rows();
    for (std::size_t i = 0; i < w; ++i) {
        const double* in = block.data() + i * w;
        std::copy(in, in + w, s.data() + (first + i) * p + first);
    }
    return s;
}

Matrix intercept_and_product(const Matrix& basis, const Matrix& transform) {
    const std::size_t n = basis.rows();
    Matrix x(n, transform.cols() + 1);
    for (std::size_t r = 0; r < n; ++r) x(r, 0) = 1.0;
    gemm_into_columns(basis, transform, x, 1);
    return x;
}

Result<Design> single_smooth_design(Predictor predictor, const Matrix& block, const Matrix& block_penalty) {
    return single_smooth_design_from_x(std::move(predictor), prepend_intercept(block), block_penalty);
}

Result<Design> single_smooth_design_from_x(Predictor predictor, Matrix x, const Matrix& block_penalty) {
    const std::size_t p = x.cols();
    Matrix penalty = embed_penalty(block_penalty, p, 1);
    const auto summary = penalty_rank_logdet(penalty);
    if (!summary) return fail(summary.error());

    Design design;
    design.predictor = std::move(predictor);
    design.penalties.push_back(std::move(penalty));
    design.penalty_ranks.push_back(summary->rank);
    design.penalty_logdets.push_back(summary->logdet);
    design.x = std::move(x);
    design.null_space_dim = p > summary->rank ? p - summary->rank : 0;
    return design;
}

}  // namespace pelun
