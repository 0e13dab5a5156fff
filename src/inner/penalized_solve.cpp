#include "inner/penalized_solve.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"

namespace pelun {

Matrix total_penalty(std::span<const Matrix> penalties, std::span<const double> rho) {
    if (penalties.empty()) return Matrix();
    assert(rho.size() >= penalties.size());
    const std::size_t p = penalties.front().rows();
    Matrix total(p, p);
    for (std::size_t j = 0; j < penalties.size(); ++j) {
        const Matrix& s = penalties[j];
        assert(s.rows() == p && s.cols() == p);
        const double lambda = std::exp(rho[j]);
        for (std::size_t k = 0; k < total.size(); ++k) total.data()[k] += lambda * s.data()[k];
    }
    return total;
}

namespace {

bool all_non_negative(std::span<const double> w) {
    for (const double v : w)
        if (!(v >= 0.0)) return false;
    return true;
}

// Rows of [X | z] scaled per block: small enough to stay in the L2 cache for
// a few dozen columns, large enough that each rank-k update runs at full speed.
constexpr std::size_t crossproduct_block_rows = 2048;

void ensure_shape(Matrix& m, std::size_t rows, std::size_t cols) {
    if (m.rows() != rows || m.cols() != cols) m = Matrix(rows, cols);
}

}  // namespace

WeightedCrossproducts weighted_crossproducts(const Matrix& x, std::span<const double> w,
                                             std::span<const double> z, Matrix& scratch) {
    const std::size_t n = x.rows(), p = x.cols();
    assert(w.size() == n && z.size() == n);
    WeightedCrossproducts out;

    if (all_non_negative(w)) {
        // Block by block, scratch = diag(√W) [X | z] for the block's rows; the
        // accumulated cross-product holds XᵀWX in the leading p × p block and
        // XᵀWz in the last column. A block stays in cache between being
        // written and being read by the rank-k update.
        const std::size_t block = std::min(n, crossproduct_block_rows);
        ensure_shape(scratch, block, p + 1);
        Matrix full(p + 1, p + 1);
        for (std::size_t first = 0; first < n; first += block) {
            const std::size_t count = std::min(block, n - first);
            for (std::size_t i = 0; i < count; ++i) {
                const double s = std::sqrt(w[first + i]);
                const double* xi = x.data() + (first + i) * p;
                double* si = scratch.data() + i * (p + 1);
                for (std::size_t k = 0; k < p; ++k) si[k] = s * xi[k];
                si[p] = s * z[first + i];
            }
            add_crossprod_lower(scratch, count, full);
        }
        mirror_lower_to_upper(full);
        out.xtwx = Matrix(p, p);
        out.xtwz.resize(p);
        for (std::size_t j = 0; j < p; ++j) {
            for (std::size_t k = 0; k < p; ++k) out.xtwx(j, k) = full(j, k);
            out.xtwz[j] = full(j, p);
        }
        return out;
    }

    // General weights: scratch holds Bᵀ = diag(W) X (row i is W_i times row i
    // of X), so B·X = scratchᵀ X and B·z = scratchᵀ z.
    ensure_shape(scratch, n, p);
    for (std::size_t i = 0; i < n; ++i) {
        const double* xi = x.data() + i * p;
        double* si = scratch.data() + i * p;
        for (std::size_t k = 0; k < p; ++k) si[k] = xi[k] * w[i];
    }
    out.xtwx = Matrix(p, p);
    gemm(Transpose::Yes, Transpose::No, 1.0, scratch, x, 0.0, out.xtwx);
    out.xtwz = matvec_t(scratch, z);
    return out;
}

WeightedCrossproducts weighted_crossproducts(const Matrix& x, std::span<const double> w,
                                             std::span<const double> z) {
    Matrix scratch;
    return weighted_crossproducts(x, w, z, scratch);
}

Vector cholesky_substitute(const Matrix& l, std::span<const double> b) {
    const std::size_t p = l.rows();
    assert(l.cols() == p && b.size() == p);
    Vector y(p);
    for (std::size_t i = 0; i < p; ++i) {
        double s = b[i];
        for (std::size_t k = 0; k < i; ++k) s -= l(i, k) * y[k];
        y[i] = s / l(i, i);
    }
    Vector beta(p);
    for (std::size_t i = p; i-- > 0;) {
        double s = y[i];
        for (std::size_t k = i + 1; k < p; ++k) s -= l(k, i) * beta[k];
        beta[i] = s / l(i, i);
    }
    return beta;
}

namespace {

std::unexpected<PelunError> cholesky_failed(const LinalgFailure& failure) {
    return fail(PelunError::singular_system("Cholesky failed: " + failure.description));
}

}  // namespace

Result<PenalizedSolution> penalized_solve(const Matrix& a, std::span<const double> b) {
    // A non-square A is reported by the factorization itself.
    if (a.is_square() && b.size() != a.rows())
        return fail(PelunError::linalg(invalid_shape_failure().description));
    auto unridged = cholesky_lower(a);
    if (!unridged) return cholesky_failed(unridged.error());

    // Ridge relative to the largest diagonal magnitude, at least 1; a NaN
    // diagonal entry loses every comparison and so is ignored.
    double scale = 1.0;
    for (std::size_t i = 0; i < a.rows(); ++i)
        if (std::abs(a(i, i)) > scale) scale = std::abs(a(i, i));
    Matrix ridged = a;
    for (std::size_t i = 0; i < a.rows(); ++i) ridged(i, i) += 1e-12 * scale;

    auto ridged_factor = cholesky_lower(ridged);
    if (!ridged_factor) return cholesky_failed(ridged_factor.error());

    return PenalizedSolution{std::move(*unridged), cholesky_substitute(*ridged_factor, b)};
}

double penalty_quadratic(std::span<const double> beta, const Matrix& s) {
    const std::size_t p = beta.size();
    assert(s.rows() == p && s.cols() == p);
    double total = 0.0;
    for (std::size_t i = 0; i < p; ++i) {
        double row = 0.0;
        for (std::size_t j = 0; j < p; ++j) row += s(i, j) * beta[j];
        total += beta[i] * row;
    }
    return total;
}

}  // namespace pelun
