// Damped Newton minimisation over log smoothing (and shape) parameters, the
// outer loop shared by every fit path.
#pragma once

#include <cstddef>
#include <functional>
#include <span>

#include "linalg/matrix.hpp"
#include "score/score_eval.hpp"
#include "util/error.hpp"

namespace pelun {

using GradientObjective = std::function<Result<ScoreEval>(const Vector&)>;
using HessianObjective = std::function<Result<ScoreWithHessian>(const Vector&)>;

// Value and gradient at ρ, and the Hessian whose column i is the central
// difference (g(ρ + h·eᵢ) − g(ρ − h·eᵢ)) / 2h with h = 1e-5, symmetrised.
// The first failing evaluation's error is returned.
Result<ScoreWithHessian> score_with_hessian(const GradientObjective& objective, const Vector& rho);

// A positive definite stand-in for a Newton Hessian: eigenvalues below 1e-8
// (and NaN ones) are raised to 1e-8. A 1 × 1 matrix has its entry raised; a
// failed eigen-decomposition falls back to raising the diagonal.
Matrix make_positive_definite(Matrix hessian);

// The largest |vᵢ|, ignoring NaN entries; 0 for an empty vector.
double max_abs(std::span<const double> v);

struct NewtonOutcome {
    Vector rho;               // last accepted point
    double value = 0.0;       // criterion there
    double grad_norm = 0.0;   // max |gᵢ| at the last loop head
    std::size_t iterations = 0;  // iterations begun (a failed line search counts)
    bool converged = false;
};

// Minimises from `rho_start`. Stops converged when the gradient max-norm is
// below 5e-7·(1 + |f|), or after the third step when the relative change of f
// is below 1e-7. Steps are capped at max-norm 5 and halved (down to 1/512)
// until f decreases by at least 1e-10·|f|; when no trial decreases f the
// search stops, converged only if the gradient is below 1e-3·(1 + |f|).
// Fails with the objective's error at the start point, and with NotConverged
// after 50 accepted steps.
Result<NewtonOutcome> newton_search(const HessianObjective& objective, Vector rho_start);

}  // namespace pelun
