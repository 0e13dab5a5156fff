#include "inner/inverse_gaussian_information.hpp"

#include <cmath>

#include "family/clamps.hpp"
#include "inner/penalized_solve.hpp"
#include "linalg/blas.hpp"
#include "linalg/lapack.hpp"

namespace pelun {

// Why these terms give the derivative.
//
// β̂(ρ) zeroes the penalized score s(β, ρ) = ∂/∂β ½(D(β) + βᵀS_λβ). Its
// β-Jacobian is the observed Hessian H^N and ∂s/∂ρ₀ = λ₀S₀β, so by the
// implicit function theorem ∂β̂/∂ρ₀ = −(H^N)⁻¹λ₀S₀β̂ and the fitted linear
// predictor moves by cᵢ = xᵢᵀ∂β̂/∂ρ₀. H^N(ρ) = Σᵢ W^N_i(η̂ᵢ(ρ)) xᵢxᵢᵀ + S_λ, so
//
//   ∂ log|H^N| / ∂ρ₀ = tr((H^N)⁻¹ ∂H^N/∂ρ₀)
//                    = λ₀·tr((H^N)⁻¹S₀) + Σᵢ (xᵢᵀ(H^N)⁻¹xᵢ)·(∂W^N_i/∂ηᵢ)·cᵢ
//                    = λ₀·trace0 + Σᵢ aᵢbᵢcᵢ,
//
// which holds for an indefinite H^N too (d log|det H| = tr(H⁻¹dH)). Every
// inverse goes through the eigen-decomposition H^N = U diag(e) Uᵀ.
//
// The Newton weight is the Fisher weight F = w/(V g′²) times
// K = 1 + (y − μ)(V′/V + g″/g′). Its derivative in μ is F′K + FK′, written as
// W^N·(F′/F) + F·K′ so that it needs no division by K: a K ≤ 0 (for the
// inverse Gaussian, y ≤ μ/2) is an ordinary observation with a negative
// weight, not a special case. With the log link ∂μ/∂η = μ.

namespace {

constexpr double tiny = tiny_positive;

struct NewtonWeight {
    double fisher;  // F = w / (V g′²)
    double newton;  // W^N = F·K
};

NewtonWeight newton_weight(double y, double mu, double w) {
    const double m = at_least(mu, tiny);
    const double v = at_least(mu * mu * mu, tiny);
    const double gp = 1.0 / m;
    const double fisher = w / (v * (gp * gp));
    const double k = 1.0 + (y - mu) * (3.0 * mu * mu / v - 1.0 / m);
    return {fisher, fisher * k};
}

// ∂W^N/∂η for one observation with the inverse Gaussian's V = μ³ and log link.
double newton_weight_slope(double y, double mu, const NewtonWeight& weight) {
    const double m = at_least(mu, tiny);
    if (1.0 / m < 1e-12) return 0.0;
    const double v = at_least(mu * mu * mu, tiny);
    const double vp_v = 3.0 * mu * mu / v;   // V′/V
    const double vpp_v = 6.0 * mu / v;       // V″/V
    const double gpp_gp = -1.0 / m;          // g″/g′
    const double gppp_gp = 2.0 / (m * m);    // g‴/g′
    const double a = vp_v + gpp_gp;                                            // K = 1 + (y − μ)a
    const double a_slope = (vpp_v - vp_v * vp_v) + (gppp_gp - gpp_gp * gpp_gp);  // a′
    const double k_slope = a_slope * (y - mu) - a;                             // K′
    const double fisher_log_slope = -vp_v - 2.0 * gpp_gp;                       // F′/F
    return m * (weight.newton * fisher_log_slope + weight.fisher * k_slope);
}

}  // namespace

std::optional<ObservedInformation> inverse_gaussian_observed_information(
    const Matrix& x, std::span<const double> y, std::span<const double> w, const Matrix& s_lambda,
    const Matrix& s0, double lambda0, std::span<const double> beta, std::span<const double> mu,
    Matrix& scratch) {
    const std::size_t n = x.rows(), p = x.cols();

    ObservedInformation out;
    GradientCorrection& gc = out.gradient_correction;
    gc.b.resize(n);  // holds W^N until the slopes replace it
    for (std::size_t i = 0; i < n; ++i) {
        gc.b[i] = newton_weight(y[i], mu[i], w[i]).newton;
        if (!std::isfinite(gc.b[i])) return std::nullopt;
    }

    // H^N, exactly symmetric before the decomposition. The weights may be
    // negative, which weighted_crossproducts handles.
    Matrix h = weighted_crossproducts(x, gc.b, gc.b, scratch).xtwx;
    for (std::size_t i = 0; i < h.size(); ++i) h.data()[i] += s_lambda.data()[i];
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = i + 1; j < p; ++j) h(i, j) = h(j, i) = (h(i, j) + h(j, i)) / 2.0;
    auto eigen = symmetric_eigen(h);
    if (!eigen) return std::nullopt;
    const Vector& e = eigen->values;
    const Matrix& u = eigen->vectors;
    for (const double value : e)
        if (!std::isfinite(value) || std::abs(value) < 1e-300) return std::nullopt;

    out.log_det_h = 0.0;
    for (const double value : e) out.log_det_h += std::log(std::abs(value));

    // trace0 = Σ_k u_kᵀ S₀ u_k / e_k.
    const Matrix s0u = matmul(s0, u);
    gc.trace0 = 0.0;
    for (std::size_t k = 0; k < p; ++k) {
        double quadratic = 0.0;
        for (std::size_t j = 0; j < p; ++j) quadratic += u(j, k) * s0u(j, k);
        gc.trace0 += quadratic / e[k];
    }

    // ∂β̂/∂ρ₀ = −λ₀ U diag(1/e) Uᵀ S₀ β̂.
    const Vector s0_beta = matvec(s0, beta);
    Vector scaled = matvec_t(u, s0_beta);
    for (std::size_t k = 0; k < p; ++k) scaled[k] *= -lambda0 / e[k];
    const Vector dbeta = matvec(u, scaled);

    // Per observation: a_i = Σ_k (u_kᵀxᵢ)²/e_k, c_i = xᵢᵀ∂β̂/∂ρ₀, b_i the slope.
    const Matrix ut = transpose(u);
    gc.a.resize(n);
    gc.c.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double* xi = x.data() + i * p;
        double leverage = 0.0, change = 0.0;
        for (std::size_t k = 0; k < p; ++k) {
            const double* uk = ut.data() + k * p;
            double projection = 0.0;
            for (std::size_t j = 0; j < p; ++j) projection += uk[j] * xi[j];
            leverage += projection * projection / e[k];
            change += xi[k] * dbeta[k];
        }
        gc.a[i] = leverage;
        gc.c[i] = change;
        gc.b[i] = newton_weight_slope(y[i], mu[i], newton_weight(y[i], mu[i], w[i]));
    }
    return out;
}

}  // namespace pelun
