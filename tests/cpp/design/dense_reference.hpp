// Textbook dense computations the design tests compare against: plain triple
// loops, the Kronecker product by its definition and cyclic Jacobi
// eigenvalues, none of which go through the BLAS or LAPACK.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>

#include "linalg/matrix.hpp"

namespace pelun::reference {

// n × cols covariates, uniform on [-2, 3).
inline Matrix uniform_covariates(std::size_t n, std::size_t cols, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-2.0, 3.0);
    Matrix x(n, cols);
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < cols; ++c) x(r, c) = u(rng);
    return x;
}

inline Matrix product(const Matrix& a, const Matrix& b) {
    Matrix c(a.rows(), b.cols());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < b.cols(); ++j) {
            double s = 0.0;
            for (std::size_t l = 0; l < a.cols(); ++l) s += a(i, l) * b(l, j);
            c(i, j) = s;
        }
    return c;
}

// aᵀ·b.
inline Matrix transpose_product(const Matrix& a, const Matrix& b) {
    Matrix c(a.cols(), b.cols());
    for (std::size_t i = 0; i < a.cols(); ++i)
        for (std::size_t j = 0; j < b.cols(); ++j) {
            double s = 0.0;
            for (std::size_t l = 0; l < a.rows(); ++l) s += a(l, i) * b(l, j);
            c(i, j) = s;
        }
    return c;
}

// a ⊗ b: entry (i·rows(b) + k, j·cols(b) + l) = a(i, j)·b(k, l).
inline Matrix kron(const Matrix& a, const Matrix& b) {
    Matrix c(a.rows() * b.rows(), a.cols() * b.cols());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < a.cols(); ++j)
            for (std::size_t k = 0; k < b.rows(); ++k)
                for (std::size_t l = 0; l < b.cols(); ++l) c(i * b.rows() + k, j * b.cols() + l) = a(i, j) * b(k, l);
    return c;
}

inline double max_abs(const Matrix& a) {
    double m = 0.0;
    for (const double v : a.values()) m = std::max(m, std::abs(v));
    return m;
}

inline double max_abs_diff(const Matrix& a, const Matrix& b) {
    double m = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a.data()[i] - b.data()[i]));
    return m;
}

// Eigenvalues of a symmetric matrix, ascending, by cyclic Jacobi rotations.
inline Vector jacobi_eigenvalues(Matrix a) {
    const std::size_t p = a.rows();
    double total = 0.0;
    for (const double v : a.values()) total += v * v;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0;
        for (std::size_t i = 0; i < p; ++i)
            for (std::size_t j = i + 1; j < p; ++j) off += a(i, j) * a(i, j);
        if (off <= 1e-32 * total) break;
        for (std::size_t i = 0; i < p; ++i)
            for (std::size_t j = i + 1; j < p; ++j) {
                const double aij = a(i, j);
                if (aij == 0.0) continue;
                const double theta = (a(j, j) - a(i, i)) / (2.0 * aij);
                const double t = std::abs(theta) > 1e150
                                     ? 0.5 / theta
                                     : std::copysign(1.0, theta) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (std::size_t r = 0; r < p; ++r) {
                    const double ari = a(r, i), arj = a(r, j);
                    a(r, i) = c * ari - s * arj;
                    a(r, j) = s * ari + c * arj;
                }
                for (std::size_t r = 0; r < p; ++r) {
                    const double air = a(i, r), ajr = a(j, r);
                    a(i, r) = c * air - s * ajr;
                    a(j, r) = s * air + c * ajr;
                }
            }
    }
    Vector values(p);
    for (std::size_t i = 0; i < p; ++i) values[i] = a(i, i);
    std::sort(values.begin(), values.end());
    return values;
}

// Rank and log pseudo-determinant from Jacobi eigenvalues: the eigenvalues
// above max(largest, 1)·1e-10 count.
struct RankLogdet {
    std::size_t rank = 0;
    double logdet = 0.0;
};
inline RankLogdet rank_logdet(const Matrix& s) {
    const Vector values = jacobi_eigenvalues(s);
    const double largest = values.empty() ? 0.0 : std::max(values.back(), 0.0);
    const double threshold = std::max(largest, 1.0) * 1e-10;
    RankLogdet out;
    for (const double v : values)
        if (v > threshold) {
            ++out.rank;
            out.logdet += std::log(v);
        }
    return out;
}

}  // namespace pelun::reference
