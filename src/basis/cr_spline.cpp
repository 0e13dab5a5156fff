#include "basis/cr_spline.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "linalg/blas.hpp"

namespace pelun {

namespace {

// Values closer than this to the last kept value are the same distinct value.
constexpr double distinct_tolerance = 1e-12;

// Sorts ascending with every NaN after every number. The NaNs are moved to
// the end first, so the sort itself compares numbers only (a strict weak
// order) and runs with the plain, fast comparison.
void sort_nan_last(Vector& values) {
    const auto numbers_end =
        std::partition(values.begin(), values.end(), [](double v) { return !std::isnan(v); });
    std::sort(values.begin(), numbers_end);
}

Vector knot_spacings(std::span<const double> t) {
    Vector h(t.size() - 1);
    for (std::size_t j = 0; j + 1 < t.size(); ++j) h[j] = t[j + 1] - t[j];
    return h;
}

}  // namespace

Result<Vector> validate_knots(Vector t) {
    if (t.size() < 3) return fail_invalid("CR spline needs k ≥ 3 (got " + std::to_string(t.size()) + ")");
    for (std::size_t j = 1; j < t.size(); ++j) {
        if (!(t[j] > t[j - 1])) return fail_invalid("CR spline knots must be strictly increasing");
    }
    return t;
}

Result<Vector> place_knots(VectorView x, std::size_t k) {
    // With fewer than three knots there is no spline, whatever the data.
    if (k < 3) return validate_knots(Vector(k, 0.0));

    Vector values = to_vector(x);
    sort_nan_last(values);

    // Thin in place to the distinct values, each compared with the last kept one.
    std::size_t u = 0;
    for (const double v : values) {
        if (u == 0 || std::abs(v - values[u - 1]) > distinct_tolerance) values[u++] = v;
    }

    Vector t(k);
    if (u < k) {
        const double lo = u == 0 ? 0.0 : values[0];
        const double hi = u == 0 ? 1.0 : values[u - 1];
        const double step = (hi - lo) / static_cast<double>(k - 1);
        for (std::size_t j = 0; j < k; ++j) t[j] = static_cast<double>(j) * step + lo;
    } else {
        const double last = static_cast<double>(u - 1);
        for (std::size_t j = 0; j < k; ++j) {
            const double pos = (static_cast<double>(j) / static_cast<double>(k - 1)) * last;
            const auto i = static_cast<std::size_t>(std::floor(pos));
            if (i < u - 1) {
                const double f = pos - static_cast<double>(i);
                t[j] = (1.0 - f) * values[i] + f * values[i + 1];
            } else {
                t[j] = values[u - 1];
            }
        }
    }
    return validate_knots(std::move(t));
}

Matrix cr_basis(std::span<const double> t, VectorView x) {
    const std::size_t k = t.size();
    const std::size_t intervals = k - 1;
    const Vector h = knot_spacings(t);

    // Piecewise coefficients stored interval by interval: entry [j * k + i]
    // belongs to basis function i on interval j, so a row is filled from k
    // contiguous values of each array.
    Vector a(intervals * k), b(intervals * k), c(intervals * k), d(intervals * k);
    Vector left_value(k), left_slope(k), right_value(k), right_slope(k);

    // The forward-sweep factors of the natural-spline system depend on the
    // knots only; the right-hand side changes with the basis function.
    Vector l(intervals), mu(intervals);
    l[0] = 1.0;
    mu[0] = 0.0;
    for (std::size_t m = 1; m + 1 < k; ++m) {
        l[m] = (h[m - 1] + h[m]) * 2.0 - mu[m - 1] * h[m - 1];
        mu[m] = h[m] / l[m];
    }

    Vector z(intervals), cc(k);
    for (std::size_t i = 0; i < k; ++i) {
        const auto y = [i](std::size_t j) { return j == i ? 1.0 : 0.0; };
        z[0] = 0.0;
        for (std::size_t m = 1; m + 1 < k; ++m) {
            const double alpha = (y(m + 1) - y(m)) * (3.0 / h[m]) - (y(m) - y(m - 1)) * (3.0 / h[m - 1]);
            z[m] = (alpha - h[m - 1] * z[m - 1]) / l[m];
        }
        cc[k - 1] = 0.0;
        for (std::size_t j = k - 1; j-- > 0;) cc[j] = z[j] - mu[j] * cc[j + 1];

        for (std::size_t j = 0; j < intervals; ++j) {
            a[j * k + i] = y(j);
            b[j * k + i] = (y(j + 1) - y(j)) / h[j] - ((2.0 * cc[j] + cc[j + 1]) * h[j]) / 3.0;
            c[j * k + i] = cc[j];
            d[j * k + i] = (cc[j + 1] - cc[j]) / (3.0 * h[j]);
        }

        const std::size_t last = intervals - 1;
        const double b_last = b[last * k + i], c_last = c[last * k + i], d_last = d[last * k + i];
        left_value[i] = y(0);
        left_slope[i] = b[i];
        right_value[i] = y(k - 1);
        right_slope[i] = d_last * 3.0 * h[last] * h[last] + (c_last * 2.0 * h[last] + b_last);
    }

    const std::size_t n = x.size();
    const double t_first = t[0], t_last = t[k - 1];
    Matrix out(n, k);
    for (std::size_t r = 0; r < n; ++r) {
        const double xr = x[r];
        double* row = out.data() + r * k;
        if (xr < t_first) {
            const double dx = xr - t_first;
            for (std::size_t i = 0; i < k; ++i) row[i] = left_slope[i] * dx + left_value[i];
        } else if (xr > t_last) {
            const double dx = xr - t_last;
            for (std::size_t i = 0; i < k; ++i) row[i] = right_slope[i] * dx + right_value[i];
        } else {
            std::size_t lo = 0, hi = k - 1;
            while (lo < hi - 1) {
                const std::size_t mid = (lo + hi) / 2;
                if (xr < t[mid]) {
                    hi = mid;
                } else {
                    lo = mid;
                }
            }
            const double delta = xr - t[lo];
            const double delta2 = delta * delta;
            const double delta3 = delta * delta2;
            const double* aj = a.data() + lo * k;
            const double* bj = b.data() + lo * k;
            const double* cj = c.data() + lo * k;
            const double* dj = d.data() + lo * k;
            for (std::size_t i = 0; i < k; ++i)
                row[i] = dj[i] * delta3 + ((cj[i] * delta2) + (bj[i] * delta + aj[i]));
        }
    }
    return out;
}

Matrix cr_penalty(std::span<const double> t) {
    const std::size_t k = t.size();
    const std::size_t q = k - 2;
    const Vector h = knot_spacings(t);

    // D maps knot values to the second derivatives at the interior knots
    // (up to B); B is the tridiagonal matrix of the natural-spline system.
    Matrix dmat(q, k);
    for (std::size_t m = 0; m < q; ++m) {
        dmat(m, m) = 1.0 / h[m];
        dmat(m, m + 1) = (-1.0 / h[m]) - (1.0 / h[m + 1]);
        dmat(m, m + 2) = 1.0 / h[m + 1];
    }
    Vector diag(q), off(q - 1);
    for (std::size_t m = 0; m < q; ++m) diag[m] = (h[m] + h[m + 1]) / 3.0;
    for (std::size_t m = 0; m + 1 < q; ++m) off[m] = h[m + 1] / 6.0;

    // Elimination without pivoting (B is diagonally dominant). The eliminated
    // diagonal and the multipliers are the same for every right-hand side.
    Vector w(q - 1);
    for (std::size_t m = 0; m + 1 < q; ++m) {
        w[m] = off[m] / diag[m];
        diag[m + 1] -= off[m] * w[m];
    }

    // Y = B⁻¹D, one column of D at a time.
    Matrix ymat(q, k);
    Vector r(q);
    for (std::size_t col = 0; col < k; ++col) {
        for (std::size_t m = 0; m < q; ++m) r[m] = dmat(m, col);
        for (std::size_t m = 0; m + 1 < q; ++m) r[m + 1] -= w[m] * r[m];
        ymat(q - 1, col) = r[q - 1] / diag[q - 1];
        for (std::size_t m = q - 1; m-- > 0;) ymat(m, col) = (r[m] - off[m] * ymat(m + 1, col)) / diag[m];
    }
    return matmul_tn(dmat, ymat);
}

}  // namespace pelun
