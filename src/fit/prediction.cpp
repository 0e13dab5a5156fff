#include "fit/prediction.hpp"

#include <cmath>
#include <string>

#include "design/predictor_evaluate.hpp"
#include "fit/normal_quantile.hpp"
#include "linalg/blas.hpp"
#include "util/format.hpp"

namespace pelun {

namespace {

bool reads_one_column(const Predictor& predictor) {
    return !std::holds_alternative<AdditivePredictor>(predictor.value) &&
           !std::holds_alternative<TensorPredictor>(predictor.value);
}

std::string level_message(double level) { return "level must be in (0, 1); got level=" + format_double(level); }

// z for a two-sided interval of coverage `level`.
Result<double> interval_quantile(double level) {
    if (!(level > 0.0 && level < 1.0)) return fail_invalid(level_message(level));
    const double p = (level + 1.0) * 0.5;
    // A level within rounding of 1 would ask for the quantile of 1.
    if (!(p < 1.0)) return fail_invalid(level_message(level));
    return normal_quantile(p);
}

// xᵀ V x accumulated from the first column, as a standard error.
double standard_error(const Matrix& vcov, std::span<const double> x, Vector& v_x) {
    const std::size_t p = x.size();
    for (std::size_t r = 0; r < p; ++r) {
        double s = 0.0;
        for (std::size_t c = 0; c < p; ++c) s += vcov(r, c) * x[c];
        v_x[r] = s;
    }
    double s = 0.0;
    for (std::size_t c = 0; c < p; ++c) s += x[c] * v_x[c];
    return s > 0.0 ? std::sqrt(s) : 0.0;
}

}  // namespace

Result<Matrix> lpmatrix(const FittedGam& fit, MatrixView x_new) {
    if (x_new.cols() == 0 && reads_one_column(fit.predictor))
        return fail_invalid("x_new must have at least one column; got x_new.ncols()=0");
    auto x = evaluate(fit.predictor, x_new);
    if (!x) return fail(x.error());
    const std::size_t p = fit.beta.size();
    if (x->cols() != p)
        return fail_invalid("the predictor's model matrix must have one column per coefficient; got " +
                            std::to_string(x->cols()) + " columns for " + std::to_string(p) + " coefficients");
    if (fit.vcov.rows() != p || fit.vcov.cols() != p)
        return fail_invalid("vcov must be p × p for p coefficients; got a " + std::to_string(fit.vcov.rows()) +
                            " × " + std::to_string(fit.vcov.cols()) + " vcov for " + std::to_string(p) +
                            " coefficients");
    return x;
}

Result<Vector> predict_link(const FittedGam& fit, MatrixView x_new) {
    auto x = lpmatrix(fit, x_new);
    if (!x) return fail(x.error());
    return matvec(*x, fit.beta);
}

Vector inverse_link_values(LinkKind link, Vector eta) {
    for (double& e : eta) e = inverse_link(link, e);
    return eta;
}

Result<IntervalPrediction> predict_interval(const FittedGam& fit, MatrixView x_new, double level,
                                            bool response_scale) {
    auto z = interval_quantile(level);
    if (!z) return fail(z.error());
    auto x = lpmatrix(fit, x_new);
    if (!x) return fail(x.error());
    IntervalPrediction out{matvec(*x, fit.beta), Vector(x->rows()), Vector(x->rows())};
    Vector v_x(fit.beta.size());
    for (std::size_t i = 0; i < x->rows(); ++i) {
        const double se = standard_error(fit.vcov, x->row(i), v_x);
        out.lower[i] = out.estimate[i] - *z * se;
        out.upper[i] = out.estimate[i] + *z * se;
    }
    if (response_scale) {
        out.estimate = inverse_link_values(fit.link_kind, std::move(out.estimate));
        out.lower = inverse_link_values(fit.link_kind, std::move(out.lower));
        out.upper = inverse_link_values(fit.link_kind, std::move(out.upper));
    }
    return out;
}

Result<IntervalPrediction> predict_difference(const FittedGam& fit, MatrixView x_a, MatrixView x_b,
                                              double level) {
    if (!(level > 0.0 && level < 1.0)) return fail_invalid(level_message(level));
    auto a = lpmatrix(fit, x_a);
    if (!a) return fail(a.error());
    auto b = lpmatrix(fit, x_b);
    if (!b) return fail(b.error());
    if (a->cols() != b->cols())
        return fail_invalid("predict_diff: design width mismatch (a=" + std::to_string(a->cols()) +
                            ", b=" + std::to_string(b->cols()) + ")");
    const std::size_t m = a->rows(), t = b->rows();
    std::size_t n = 0;
    if (m == t)
        n = m;
    else if (m == 1)
        n = t;
    else if (t == 1)
        n = m;
    else
        return fail_invalid("predict_diff: row counts must match or one must be 1 (broadcast); got a=" +
                            std::to_string(m) + ", b=" + std::to_string(t));
    auto z = interval_quantile(level);
    if (!z) return fail(z.error());

    const std::size_t p = a->cols();
    IntervalPrediction out{Vector(n), Vector(n), Vector(n)};
    Vector d(p), v_d(p);
    for (std::size_t i = 0; i < n; ++i) {
        const auto row_a = a->row(m == 1 ? 0 : i);
        const auto row_b = b->row(t == 1 ? 0 : i);
        double diff = 0.0;
        for (std::size_t c = 0; c < p; ++c) {
            d[c] = row_a[c] - row_b[c];
            diff += d[c] * fit.beta[c];
        }
        const double se = standard_error(fit.vcov, d, v_d);
        out.estimate[i] = diff;
        out.lower[i] = diff - *z * se;
        out.upper[i] = diff + *z * se;
    }
    return out;
}

}  // namespace pelun
