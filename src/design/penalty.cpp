#include "design/penalty.hpp"

#include <algorithm>
#include <cmath>

#include "linalg/lapack.hpp"

namespace pelun {

double infinity_norm(const Matrix& a) {
    double norm = 0.0;
    for (std::size_t r = 0; r < a.rows(); ++r) {
        double sum = 0.0;
        for (const double v : a.row(r)) sum += std::abs(v);
        norm = std::max(norm, sum);
    }
    return norm;
}

double penalty_scale_factor(const Matrix& basis, const Matrix& penalty) {
    const double nx = infinity_norm(basis);
    const double ns = infinity_norm(penalty);
    return ns > 0.0 ? (nx * nx) / ns : 1.0;
}

Result<PenaltyRankLogdet> penalty_rank_logdet(const Matrix& s) {
    const auto eigen = symmetric_eigen(s);
    if (!eigen)
        return fail(PelunError::linalg("penalty eigendecomposition failed: " + eigen.error().description));

    double largest = 0.0;
    for (const double v : eigen->values)
        if (v > largest) largest = v;  // false for NaN
    const double threshold = std::max(largest, 1.0) * 1e-10;

    PenaltyRankLogdet out;
    for (const double v : eigen->values) {  // ascending
        if (v > threshold) {
            ++out.rank;
            out.logdet += std::log(v);
        }
    }
    return out;
}

}  // namespace pelun
