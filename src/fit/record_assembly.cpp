#include "fit/record_assembly.hpp"

#include <cmath>

#include "linalg/cholesky_inverse.hpp"

namespace pelun {

namespace {

// Rows holding at least one entry that is non-zero or NaN.
std::size_t nonzero_rows(const Matrix& s) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.rows(); ++i) {
        for (const double v : s.row(i)) {
            if (v != 0.0) {  // true for NaN as well
                ++count;
                break;
            }
        }
    }
    return count;
}

}  // namespace

FitSummaries summarise_inner_fit(const InnerFitResult& fit, const Matrix& x, std::span<const Matrix> penalties,
                                 std::span<const double> rho) {
    FitSummaries out;
    out.h_inverse = inverse_from_cholesky(fit.chol);
    // The factor is that of H = XᵀWX + S_λ with the final working weights, so
    // tr(H⁻¹XᵀWX) = p − Σ_j λ_j tr(H⁻¹S_j): no further pass over the data.
    double penalized_trace = 0.0;
    out.edf_per_term.reserve(penalties.size());
    for (std::size_t j = 0; j < penalties.size(); ++j) {
        const double trace = std::exp(rho[j]) * trace_of_product(out.h_inverse, penalties[j]);
        penalized_trace += trace;
        out.edf_per_term.push_back(static_cast<double>(nonzero_rows(penalties[j])) - trace);
    }
    out.edf_total = static_cast<double>(x.cols()) - penalized_trace;
    return out;
}

Matrix posterior_covariance(Matrix h_inverse, double scale) {
    if (scale == 1.0 || std::isnan(scale)) return h_inverse;
    for (std::size_t i = 0; i < h_inverse.size(); ++i) h_inverse.data()[i] *= scale;
    return h_inverse;
}

}  // namespace pelun
