// Small simulated problems for the inner-fit tests: a smooth design of one
// covariate built by hand, its penalties, responses of each family, and the
// dense textbook pieces the tests compare against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

#include "linalg/matrix.hpp"

namespace pelun::testing {

// X = [1 | t − ½ | cos(πjt), j = 1 … n_cos] at covariates t uniform on [0, 1].
// penalties[0] is a curvature penalty diag(0, 0, (j/n_cos)⁴) (intercept and
// slope unpenalized, as for a cubic spline); penalties[1] a ridge on the
// slope alone.
struct SmoothProblem {
    Vector t;
    Matrix x;
    std::vector<Matrix> penalties;
};

inline SmoothProblem smooth_problem(std::size_t n, std::size_t n_cos, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const std::size_t p = 2 + n_cos;
    SmoothProblem out{Vector(n), Matrix(n, p), {Matrix(p, p), Matrix(p, p)}};
    for (std::size_t i = 0; i < n; ++i) {
        const double t = uniform(rng);
        out.t[i] = t;
        out.x(i, 0) = 1.0;
        out.x(i, 1) = t - 0.5;
        for (std::size_t j = 1; j <= n_cos; ++j)
            out.x(i, 1 + j) = std::cos(std::numbers::pi * static_cast<double>(j) * t);
    }
    for (std::size_t j = 1; j <= n_cos; ++j)
        out.penalties[0](1 + j, 1 + j) = std::pow(static_cast<double>(j) / static_cast<double>(n_cos), 4);
    out.penalties[1](1, 1) = 1.0;
    return out;
}

// A smooth log-mean (or logit) curve on [0, 1].
inline double smooth_curve(double t) { return 0.6 * std::sin(2.5 * t) + 0.4 * std::cos(5.0 * t); }

inline Vector poisson_response(const Vector& t, unsigned seed) {
    std::mt19937 rng(seed);
    Vector y(t.size());
    for (std::size_t i = 0; i < t.size(); ++i)
        y[i] = std::poisson_distribution<int>(std::exp(1.0 + smooth_curve(t[i])))(rng);
    return y;
}

inline Vector bernoulli_response(const Vector& t, unsigned seed) {
    std::mt19937 rng(seed);
    Vector y(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double prob = 1.0 / (1.0 + std::exp(-2.0 * smooth_curve(t[i])));
        y[i] = std::bernoulli_distribution(prob)(rng) ? 1.0 : 0.0;
    }
    return y;
}

inline Vector gamma_response(const Vector& t, unsigned seed) {
    std::mt19937 rng(seed);
    const double shape = 3.0;
    Vector y(t.size());
    for (std::size_t i = 0; i < t.size(); ++i)
        y[i] = std::gamma_distribution<double>(shape, std::exp(smooth_curve(t[i])) / shape)(rng);
    return y;
}

// Inverse Gaussian draws with mean μ and shape κ (variance μ³/κ) by the
// transformation-with-rejection method. A small κ puts many responses below
// μ/2, where the Newton weight is negative.
inline Vector inverse_gaussian_response(const Vector& t, double kappa, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    Vector y(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double mu = std::exp(0.3 + smooth_curve(t[i]));
        const double v = normal(rng);
        const double s = v * v;
        const double root = std::sqrt(4.0 * mu * kappa * s + mu * mu * s * s);
        const double candidate = mu + mu * mu * s / (2.0 * kappa) - mu / (2.0 * kappa) * root;
        y[i] = uniform(rng) <= mu / (mu + candidate) ? candidate : mu * mu / candidate;
    }
    return y;
}

inline Vector positive_weights(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.5, 2.0);
    Vector w(n);
    for (double& v : w) v = uniform(rng);
    return w;
}

// Σ_j exp(rho[j]) S_j by plain loops.
inline Matrix dense_total_penalty(const std::vector<Matrix>& penalties, const std::vector<double>& rho) {
    const std::size_t p = penalties.front().rows();
    Matrix s(p, p);
    for (std::size_t j = 0; j < penalties.size(); ++j)
        for (std::size_t a = 0; a < p; ++a)
            for (std::size_t b = 0; b < p; ++b) s(a, b) += std::exp(rho[j]) * penalties[j](a, b);
    return s;
}

// Xᵀ diag(w) X + S by plain loops.
inline Matrix dense_hessian(const Matrix& x, const Vector& w, const Matrix& s) {
    const std::size_t n = x.rows(), p = x.cols();
    Matrix h = s;
    for (std::size_t a = 0; a < p; ++a)
        for (std::size_t b = 0; b < p; ++b)
            for (std::size_t i = 0; i < n; ++i) h(a, b) += x(i, a) * w[i] * x(i, b);
    return h;
}

inline Vector dense_xtv(const Matrix& x, const Vector& v) {
    Vector out(x.cols(), 0.0);
    for (std::size_t i = 0; i < x.rows(); ++i)
        for (std::size_t a = 0; a < x.cols(); ++a) out[a] += x(i, a) * v[i];
    return out;
}

inline Vector dense_xb(const Matrix& x, const Vector& beta) {
    Vector out(x.rows(), 0.0);
    for (std::size_t i = 0; i < x.rows(); ++i)
        for (std::size_t a = 0; a < x.cols(); ++a) out[i] += x(i, a) * beta[a];
    return out;
}

// L Lᵀ of a lower-triangular L.
inline Matrix times_own_transpose(const Matrix& l) {
    const std::size_t p = l.rows();
    Matrix out(p, p);
    for (std::size_t a = 0; a < p; ++a)
        for (std::size_t b = 0; b < p; ++b)
            for (std::size_t k = 0; k < p; ++k) out(a, b) += l(a, k) * l(b, k);
    return out;
}

inline double max_abs(const Matrix& m) {
    double out = 0.0;
    for (const double v : m.values()) out = std::max(out, std::abs(v));
    return out;
}

}  // namespace pelun::testing
