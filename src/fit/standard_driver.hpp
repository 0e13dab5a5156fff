// The fit driver of the seven standard families (Gaussian, Poisson,
// QuasiPoisson, Bernoulli, QuasiBinomial, Gamma, InverseGaussian) on a built
// design: data checks, smoothing-parameter search, final refit, record.
#pragma once

#include <optional>

#include "design/design.hpp"
#include "family/family.hpp"
#include "fit/fitted_gam.hpp"
#include "linalg/views.hpp"
#include "util/error.hpp"

namespace pelun {

// Gaussian, Bernoulli, QuasiBinomial, Poisson, QuasiPoisson, Gamma and
// InverseGaussian: the families this driver fits.
bool is_standard_family(FamilyKind kind);

// The family value of a standard family kind (no parameters).
Family standard_family(FamilyKind kind);

// Checks rows, weights and the family's response values, minimises the
// criterion over ρ from 0 by the damped Newton search, refits at the
// optimum and assembles the record; the design's predictor moves into it.
// Precondition: `family` is one of the standard families.
Result<FittedGam> fit_standard_family(const Family& family, Design design, VectorView y,
                                      const std::optional<Vector>& weights);

}  // namespace pelun
