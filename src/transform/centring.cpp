#include "transform/centring.hpp"

#include <cmath>
#include <limits>

namespace pelun {

Vector column_sums(const Matrix& a) {
    Vector sums(a.cols(), 0.0);
    // Row by row keeps the reads contiguous.
    for (std::size_t r = 0; r < a.rows(); ++r) {
        const double* row = a.data() + r * a.cols();
        for (std::size_t j = 0; j < a.cols(); ++j) sums[j] += row[j];
    }
    return sums;
}

Matrix sum_to_zero_basis(std::span<const double> c) {
    const std::size_t k = c.size();
    if (k == 0) return Matrix();
    Matrix z(k, k - 1);
    double s = 0.0;
    for (const double v : c) s += v * v;
    const double r = std::sqrt(s);
    if (r < std::numeric_limits<double>::epsilon()) {
        for (std::size_t i = 0; i + 1 < k; ++i) z(i, i) = 1.0;
        return z;
    }

    // v = c − (∓r)e₀ with the sign chosen to avoid cancellation in v₀.
    Vector v(c.begin(), c.end());
    v[0] = c[0] >= 0.0 ? c[0] + r : c[0] - r;
    double f = 0.0;
    for (const double e : v) f += e * e;
    const double g = 2.0 / f;
    for (std::size_t m = 0; m < k; ++m) {
        const double vg = v[m] * g;
        for (std::size_t j = 0; j + 1 < k; ++j) z(m, j) = (m == j + 1 ? 1.0 : 0.0) - vg * v[j + 1];
    }
    return z;
}

}  // namespace pelun
