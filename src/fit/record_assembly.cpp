#include "fit/record_assembly.hpp"

#include <cmath>

#include "inner/penalized_solve.hpp"
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
    const Vector unit(x.rows(), 0.0);
    const Matrix xtwx = weighted_crossproducts(x, fit.working_weights, unit).xtwx;
    out.edf_total = trace_of_product(out.h_inverse, xtwx);
    out.edf_per_term.reserve(penalties.size());
    for (std::size_t j = 0; j < penalties.size(); ++j)
        out.edf_per_term.push_back(static_cast<double>(nonzero_rows(penalties[j])) -
                                   std::exp(rho[j]) * trace_of_product(out.h_inverse, penalties[j]));
    return out;
}

Matrix posterior_covariance(Matrix h_inverse, double scale) {
    if (scale == 1.0 || std::isnan(scale)) return h_inverse;
    for (std::size_t i = 0; i < h_inverse.size(); ++i) h_inverse.data()[i] *= scale;
    return h_inverse;
}

}  // namespace pelun
