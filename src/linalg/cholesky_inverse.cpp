#include "linalg/cholesky_inverse.hpp"

#include <cmath>

namespace pelun {

Matrix inverse_from_cholesky(const Matrix& l) {
    const std::size_t p = l.rows();
    Matrix inverse(p, p);
    Vector column(p);
    for (std::size_t k = 0; k < p; ++k) {
        // L y = e_k: y is zero above row k.
        for (std::size_t i = 0; i < p; ++i) {
            double s = i == k ? 1.0 : 0.0;
            for (std::size_t j = k; j < i; ++j) s -= l(i, j) * column[j];
            column[i] = i < k ? 0.0 : s / l(i, i);
        }
        // Lᵀ x = y, from the last row up; only rows ≥ k are needed for the
        // lower triangle of column k.
        for (std::size_t i = p; i-- > k;) {
            double s = column[i];
            for (std::size_t j = i + 1; j < p; ++j) s -= l(j, i) * column[j];
            column[i] = s / l(i, i);
        }
        for (std::size_t i = k; i < p; ++i) inverse(i, k) = column[i];
    }
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j) inverse(i, j) = inverse(j, i);
    return inverse;
}

double log_det_from_cholesky(const Matrix& l) {
    double sum = 0.0;
    for (std::size_t k = 0; k < l.rows(); ++k) sum += std::log(l(k, k));
    return 2.0 * sum;
}

double trace_of_product(const Matrix& a, const Matrix& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += a.data()[i] * b.data()[i];
    return sum;
}

}  // namespace pelun
