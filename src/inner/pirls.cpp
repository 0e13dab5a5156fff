#include "inner/pirls.hpp"

#include "family/visit_family.hpp"
#include "inner/pirls_impl.hpp"
#include "linalg/lapack.hpp"

namespace pelun {
namespace pirls_detail {

Result<void> check_shapes(const PirlsProblem& problem, std::span<const double> rho) {
    const std::size_t n = problem.x.rows(), p = problem.x.cols();
    bool ok = problem.y.size() == n && !problem.penalties.empty() &&
              rho.size() >= problem.penalties.size();
    if (problem.prior_weights) ok = ok && problem.prior_weights->size() == n;
    if (problem.eta_start) ok = ok && problem.eta_start->size() == n;
    for (const Matrix& s : problem.penalties) ok = ok && s.rows() == p && s.cols() == p;
    if (!ok) return fail(PelunError::linalg(invalid_shape_failure().description));
    return {};
}

Vector prior_weights_or_ones(const std::optional<std::span<const double>>& weights, std::size_t n) {
    if (weights) return Vector(weights->begin(), weights->end());
    return Vector(n, 1.0);
}

PelunError wrap_factor_error(PelunError error) {
    if (error.kind != ErrorKind::SingularSystem) return error;
    return PelunError::singular_system("PIRLS factor: " + error.text);
}

double halving_tolerance(double pd_old) {
    constexpr double two_to_minus_26 = 1.4901161193847656e-08;
    return (std::abs(pd_old) + 0.1) * 10.0 * two_to_minus_26;
}

Result<Matrix> fallback_factor(const Matrix& x, std::span<const double> w, const Matrix& s_lambda,
                               Matrix& scratch) {
    // w stands in for the unused right-hand side.
    Matrix h = weighted_crossproducts(x, w, w, scratch).xtwx;
    for (std::size_t i = 0; i < h.size(); ++i) h.data()[i] += s_lambda.data()[i];
    // Same relative ridge as the solve; NaN diagonal entries lose every
    // comparison and so do not count.
    double scale = 1.0;
    for (std::size_t i = 0; i < h.rows(); ++i)
        if (std::abs(h(i, i)) > scale) scale = std::abs(h(i, i));
    for (std::size_t i = 0; i < h.rows(); ++i) h(i, i) += 1e-12 * scale;
    auto factor = cholesky_lower(h);
    if (!factor)
        return fail(PelunError::singular_system("Cholesky failed: " + factor.error().description));
    return std::move(*factor);
}

double weighted_residual_sum(std::span<const double> weights, std::span<const double> response,
                             std::span<const double> eta) {
    double total = 0.0;
    for (std::size_t i = 0; i < eta.size(); ++i) {
        const double r = response[i] - eta[i];
        total += weights[i] * (r * r);
    }
    return total;
}

}  // namespace pirls_detail

template Result<InnerFitResult> pirls(const GaussianTraits&, const PirlsProblem&,
                                      std::span<const double>);
template Result<InnerFitResult> pirls(const PoissonTraits&, const PirlsProblem&,
                                      std::span<const double>);
template Result<InnerFitResult> pirls(const BernoulliTraits&, const PirlsProblem&,
                                      std::span<const double>);
template Result<InnerFitResult> pirls(const GammaTraits&, const PirlsProblem&,
                                      std::span<const double>);
template Result<InnerFitResult> pirls(const InverseGaussianTraits&, const PirlsProblem&,
                                      std::span<const double>);

Result<InnerFitResult> pirls(const Family& family, const PirlsProblem& problem,
                             std::span<const double> rho) {
    return visit_family(family, [&](const auto& traits) { return pirls(traits, problem, rho); });
}

}  // namespace pelun
