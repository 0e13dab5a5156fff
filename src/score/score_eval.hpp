// What one evaluation of the smoothing-parameter criterion returns.
#pragma once

#include "linalg/matrix.hpp"

namespace pelun {

// Criterion value (to be minimised) and its gradient in ρ = log λ.
struct ScoreEval {
    double value = 0.0;
    Vector gradient;
};

// The same with a Hessian in ρ (finite differences of the gradient).
struct ScoreWithHessian {
    double value = 0.0;
    Vector gradient;
    Matrix hessian;
};

}  // namespace pelun
