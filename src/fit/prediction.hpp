// Predictions from a fitted-model record: the model matrix at new x, the
// linear predictor, the response scale and Wald intervals.
#pragma once

#include "fit/fitted_gam.hpp"
#include "linalg/matrix.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// The model matrix of the fit at `x_new` (any strides). Fails for an x_new
// without columns, for the predictor's own errors, and when the rebuilt
// matrix does not have one column per coefficient or vcov is not p × p (a
// record read back from damaged bytes), before any product is formed.
Result<Matrix> lpmatrix(const FittedGam& fit, MatrixView x_new);

// η = X_new·β.
Result<Vector> predict_link(const FittedGam& fit, MatrixView x_new);

// μ = g⁻¹(η) element by element, without clamping (a large η under the log
// link gives inf; the logistic is evaluated in its overflow-free form).
Vector inverse_link_values(LinkKind link, Vector eta);

struct IntervalPrediction {
    Vector estimate;
    Vector lower;
    Vector upper;
};

// Wald interval η ± z·se at x_new with se² = xᵢᵀ V xᵢ (0 when that is not
// positive), on the link scale or mapped through the inverse link.
// `level` must lie in (0, 1), with (level + 1)/2 < 1.
Result<IntervalPrediction> predict_interval(const FittedGam& fit, MatrixView x_new, double level,
                                            bool response_scale);

// Wald interval for predict(x_a) − predict(x_b) on the link scale; when one
// input has a single row it is paired with every row of the other.
Result<IntervalPrediction> predict_difference(const FittedGam& fit, MatrixView x_a, MatrixView x_b,
                                              double level);

}  // namespace pelun
