// Penalized iteratively re-weighted least squares: the coefficients of a
// penalized GLM at fixed log smoothing parameters, one instance per family.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "family/bernoulli.hpp"
#include "family/family.hpp"
#include "family/family_traits.hpp"
#include "family/gamma.hpp"
#include "family/gaussian.hpp"
#include "family/inverse_gaussian.hpp"
#include "family/poisson.hpp"
#include "inner/inner_fit_result.hpp"
#include "linalg/matrix.hpp"
#include "util/error.hpp"

namespace pelun {

// What one PIRLS fit reads. Everything is borrowed from the caller and must
// outlive the call; the same problem may be fitted at many rho.
struct PirlsProblem {
    std::span<const Matrix> penalties;  // S_1 … S_m, each p × p, m ≥ 1
    const Matrix& x;                    // n × p model matrix
    std::span<const double> y;          // response, length n (contiguous copy)
    std::optional<std::span<const double>> prior_weights = std::nullopt;  // length n; absent = ones
    // Starting linear predictor (length n); replaces the family start.
    std::optional<std::span<const double>> eta_start = std::nullopt;
    std::size_t max_iter = 50;
    double tol = 1e-9;  // relative change of the unpenalized deviance
};

// Fits β for S_λ = Σ_j exp(rho[j]) S_j (rho may be longer than the penalty
// list; extra entries are ignored).
//
// Each iteration solves (XᵀWX + S_λ) β = XᵀWz with the family's working
// values at the current mean, then halves the step towards the previous
// coefficients (at most 100 times) while the candidate is non-finite or, after
// the first iteration, raises the penalized deviance by more than a relative
// 1.5e-7. The fit has converged when the unpenalized deviance changes by less
// than `tol` relative to the previous iterate; that test is never made on the
// first iteration. Running out of iterations or of halvings is not an error:
// the record then says converged = false and holds the last accepted iterate.
//
// `chol` is the unridged factor of the last accepted solve; when no step was
// accepted it is the factor of Xᵀ diag(w) X + S_λ plus the 1e-12 relative
// ridge. The inverse Gaussian instance also fills `log_det_h` and
// `gradient_correction` (inner/inverse_gaussian_information.hpp) when they
// can be formed; every other instance leaves them empty.
//
// Errors: SingularSystem "PIRLS factor: Cholesky failed: …" when an
// iteration's penalized Hessian does not factor; SingularSystem
// "Cholesky failed: …" when the fallback factor of a fit without an accepted
// step fails; Linalg "Invalid shape" when the sizes of the problem or of rho
// do not agree.
//
// The template is defined in inner/pirls_impl.hpp and instantiated in
// pirls.cpp for the standard families; a family with traits of its own
// includes pirls_impl.hpp and adds its instance in its own source file.
template <FamilyTraits F>
Result<InnerFitResult> pirls(const F& family, const PirlsProblem& problem,
                             std::span<const double> rho);

extern template Result<InnerFitResult> pirls(const GaussianTraits&, const PirlsProblem&,
                                             std::span<const double>);
extern template Result<InnerFitResult> pirls(const PoissonTraits&, const PirlsProblem&,
                                             std::span<const double>);
extern template Result<InnerFitResult> pirls(const BernoulliTraits&, const PirlsProblem&,
                                             std::span<const double>);
extern template Result<InnerFitResult> pirls(const GammaTraits&, const PirlsProblem&,
                                             std::span<const double>);
extern template Result<InnerFitResult> pirls(const InverseGaussianTraits&, const PirlsProblem&,
                                             std::span<const double>);

// The instance of a family held as a value; the quasi families run their
// parent's instance. Precondition: has_family_traits(family.kind).
Result<InnerFitResult> pirls(const Family& family, const PirlsProblem& problem,
                             std::span<const double> rho);

}  // namespace pelun
